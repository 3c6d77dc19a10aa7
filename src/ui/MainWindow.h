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
};

} // namespace tarvik
