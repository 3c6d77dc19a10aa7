#include "ui/MainWindow.h"

#include "app/AppContext.h"
#include "ui/frmAbout.h"
#include "ui/frmSave.h"

#include <QApplication>

namespace tarvik {

MainWindow::MainWindow(AppContext& context, QWidget* parent)
    : frmMain(parent), m_dialogs(this),
      m_procedures(context, *this, m_dialogs, m_pump, *this, m_help)
{
    connectProcedures(m_procedures);
}

void MainWindow::Form_Load()
{
    frmMain::Form_Load();
    if (!m_startDatabase.isEmpty())
        m_procedures.scan.chooseDatabase(m_startDatabase);
}

void MainWindow::showSaveWindow()
{
    frmSave save(m_procedures.context, m_dialogs, m_pump, databasePath(), this);
    save.exec();
}

void MainWindow::showAbout()
{
    // A new window for every request; it is gone once closed.
    frmAbout about(this);
    about.exec();
}

void MainWindow::quitApplication()
{
    // The event loop ends as soon as the current handler returns; the
    // windows close with it and nothing is asked or saved.
    QApplication::exit(0);
}

QString MainWindow::programFolder() const
{
    return QApplication::applicationDirPath();
}

} // namespace tarvik
