#include "shell/AppContext.h"
#include "shell/AppIdentity.h"
#include "shell/MainProcedures.h"
#include "shell/ui/Artwork.h"
#include "shell/ui/PlatformUi.h"
#include "shell/ui/QtPorts.h"
#include "shell/ui/StartUp.h"
#include "shell/ui/frmMain.h"

#include <QApplication>

namespace {

// The main window with the procedures behind it; both live as long as the window.
class MainWindow : public tarvik::frmMain {
public:
    explicit MainWindow(tarvik::AppContext& context)
        : m_dialogs(this), m_procedures(context, *this, m_dialogs, m_pump)
    {
        connectProcedures(m_procedures);
    }

private:
    tarvik::QtDialogs m_dialogs;
    tarvik::QtEventPump m_pump;
    tarvik::MainProcedures m_procedures;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(tarvik::identity::projectName);
    QApplication::setWindowIcon(tarvik::art::productIcon());
    tarvik::platform::loadApplicationFonts();
    QApplication::setFont(tarvik::art::tahoma());

    tarvik::AppContext context;
    tarvik::StartUp startUp([&context] { return std::make_unique<MainWindow>(context); });
    startUp.start();
    return app.exec();
}
