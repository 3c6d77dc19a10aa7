#include "app/AppContext.h"
#include "base/AppIdentity.h"
#include "ui/Artwork.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/NotesApiChoice.h"
#include "ui/StartUp.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    tarvik::platform::ignoreFileSizeLimitSignal();
    QApplication::setApplicationName(tarvik::identity::projectName);
    QApplication::setWindowIcon(tarvik::art::productIcon());
    tarvik::loadApplicationFonts();
    QApplication::setFont(tarvik::art::tahoma());

    tarvik::AppContext context;
    tarvik::chooseNotesApi(context, QApplication::arguments());
    tarvik::StartUp startUp([&context] { return std::make_unique<tarvik::MainWindow>(context); });
    startUp.start();
    return app.exec();
}
