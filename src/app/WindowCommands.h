#pragma once

#include <QString>

namespace tarvik {

class AppWindowsPort;
class DatabaseScan;
class DialogPort;
class ExportSetup;
class HelpViewerPort;

// The main window's menus and toolbar: choose, scan and export forward to the
// buttons' procedures; help, about and exit are handled here.
class WindowCommands {
public:
    WindowCommands(DatabaseScan& scan, ExportSetup& exportSetup, DialogPort& dialogs,
                   AppWindowsPort& windows, HelpViewerPort& help);

    // File > Open... and Ctrl+O; index is the menu item's array index (0).
    void mnuOpen_Click(int index);
    // File > Exit: asks, and ends the application on Yes.
    void mnuExit_Click();
    // Help > Contents; the index is not examined.
    void mnuHelp_Click(int index);
    // Help > About...; the index is not examined.
    void mnuAbout_Click(int index);
    // A toolbar button by its index counted from 1; sText is not examined.
    void NotesToolBar_ButtonClick(int btnIndex, const QString& sText);

    // The help file: in the program's folder, or in the data folder installed
    // beside it where the guide is there instead (install::findHelpFile).
    QString helpFilePath() const;

private:
    void showHelpContents();

    DatabaseScan& m_scan;
    ExportSetup& m_exportSetup;
    DialogPort& m_dialogs;
    AppWindowsPort& m_windows;
    HelpViewerPort& m_help;
};

} // namespace tarvik
