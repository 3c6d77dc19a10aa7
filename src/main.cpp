#include "shell/AppContext.h"
#include "shell/AppIdentity.h"
#include "shell/ui/Artwork.h"
#include "shell/ui/MainWindow.h"
#include "shell/ui/PlatformUi.h"
#include "shell/ui/StartUp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    tarvik::platform::ignoreFileSizeLimitSignal();
    QApplication::setApplicationName(tarvik::identity::projectName);
    QApplication::setWindowIcon(tarvik::art::productIcon());
    tarvik::platform::loadApplicationFonts();
    QApplication::setFont(tarvik::art::tahoma());

    tarvik::AppContext context;
    tarvik::StartUp startUp([&context] { return std::make_unique<tarvik::MainWindow>(context); });
    startUp.start();
    return app.exec();
}
