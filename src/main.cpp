#include "shell/AppIdentity.h"
#include "shell/ui/Artwork.h"
#include "shell/ui/PlatformUi.h"
#include "shell/ui/StartUp.h"
#include "shell/ui/frmMain.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(tarvik::identity::projectName);
    QApplication::setApplicationDisplayName(tarvik::identity::applicationTitle);
    QApplication::setWindowIcon(tarvik::art::productIcon());
    tarvik::platform::loadApplicationFonts();
    QApplication::setFont(tarvik::art::tahoma());

    tarvik::StartUp startUp([] { return std::make_unique<tarvik::frmMain>(); });
    startUp.start();
    return app.exec();
}
