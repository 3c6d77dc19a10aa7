#include "app/WindowCommands.h"

#include "app/DatabaseScan.h"
#include "app/ExportSetup.h"
#include "app/InstallLayout.h"
#include "app/Ports.h"

namespace tarvik {

WindowCommands::WindowCommands(DatabaseScan& scan, ExportSetup& exportSetup, DialogPort& dialogs,
                               AppWindowsPort& windows, HelpViewerPort& help)
    : m_scan(scan), m_exportSetup(exportSetup), m_dialogs(dialogs), m_windows(windows), m_help(help)
{}

void WindowCommands::mnuOpen_Click(int index)
{
    if (index == 0)
        m_scan.CmdBrowse_Click();
}

void WindowCommands::mnuExit_Click()
{
    const MessageAnswer answer = m_dialogs.showMessage(
        QStringLiteral("Are you sure you want to close the software"),
        QStringLiteral("Veridane Haldrix"), MessageButtons::YesNo, MessageIcon::Information);
    if (answer == MessageAnswer::Yes)
        m_windows.quitApplication();
}

void WindowCommands::mnuHelp_Click(int index)
{
    Q_UNUSED(index);
    showHelpContents();
}

void WindowCommands::mnuAbout_Click(int index)
{
    Q_UNUSED(index);
    m_windows.showAbout();
}

void WindowCommands::NotesToolBar_ButtonClick(int btnIndex, const QString& sText)
{
    Q_UNUSED(sText);
    switch (btnIndex) {
    case 1:
        m_scan.CmdBrowse_Click();
        break;
    case 2:
        m_scan.CmdScan_Click();
        break;
    case 4:
        m_exportSetup.CmdStartConversion_Click();
        break;
    case 6:
        showHelpContents();
        break;
    default: // the separators
        break;
    }
}

QString WindowCommands::helpFilePath() const
{
    return install::findHelpFile(m_windows.programFolder());
}

void WindowCommands::showHelpContents()
{
    // The viewer says nothing when the file is missing or cannot be shown, and
    // neither does the program.
    m_help.showHelp(helpFilePath());
}

} // namespace tarvik
