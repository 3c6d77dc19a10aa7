#pragma once

#include "app/MainProcedures.h"
#include "app/Ports.h"
#include "ui/DesktopServices.h"
#include "ui/QtPorts.h"
#include "ui/frmMain.h"

namespace tarvik {

struct AppContext;

// The main window of the running program: frmMain with the procedures behind
// it, the Qt dialogs they use, and the other windows they open.
class MainWindow : public frmMain, public AppWindowsPort {
    Q_OBJECT

public:
    explicit MainWindow(AppContext& context, QWidget* parent = nullptr);

    // The database named when the program started ("" for none). The load step
    // chooses it as Browse chooses a picked file; nothing is scanned.
    void setStartDatabase(const QString& path) { m_startDatabase = path; }
    void Form_Load() override;

    // AppWindowsPort
    void showSaveWindow() override;
    void showAbout() override;
    void quitApplication() override;
    QString programFolder() const override;

    MainProcedures& procedures() { return m_procedures; }

private:
    QtDialogs m_dialogs;
    QtEventPump m_pump;
    DesktopHelpViewer m_help;
    MainProcedures m_procedures;
    QString m_startDatabase;
};

} // namespace tarvik
