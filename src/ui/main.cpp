#include "app/AppContext.h"
#include "base/AppIdentity.h"
#include "notes/capi/NotesApiOptions.h"
#include "ui/Artwork.h"
#include "ui/CommandLine.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/NotesApiChoice.h"
#include "ui/StartUp.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>

#include <cstdio>

int main(int argc, char** argv)
{
    // The usage is shown before Qt starts, so that it needs no screen.
    QStringList given;
    for (int i = 1; i < argc; ++i)
        given.append(QString::fromLocal8Bit(argv[i]));
    // The options of reading through an installed Notes are read by chooseNotesApi.
    const tarvik::MoreOptions notesOptions = [](QCommandLineParser& parser) {
        tarvik::notes::capi::NotesApiOptions(tarvik::notes::capi::NotesApiOptions::Password::None)
            .addTo(parser);
    };
    if (tarvik::readCommandLine(given, QString(), notesOptions).usageAsked) {
        std::fputs(qPrintable(tarvik::commandLineUsage()), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    // Without the options QApplication took for itself.
    const tarvik::CommandLine line = tarvik::readCommandLine(QApplication::arguments().mid(1),
                                                             QDir::currentPath(), notesOptions);
    if (!line.error.isEmpty()) {
        std::fprintf(stderr, "tarvik: %s\n%s", qPrintable(line.error),
                     qPrintable(tarvik::commandLineUsage()));
        return 2;
    }
    tarvik::platform::ignoreFileSizeLimitSignal();
    QApplication::setApplicationName(tarvik::identity::projectName);
    // The desktop entry's name, by which the desktop knows the window's icon and menu entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.example.veridane.tarvik"));
    QApplication::setWindowIcon(tarvik::art::productIcon());
    tarvik::loadApplicationFonts();
    QApplication::setFont(tarvik::art::tahoma());

    tarvik::AppContext context;
    tarvik::chooseNotesApi(context, QApplication::arguments());
    tarvik::StartUp startUp([&context, &line] {
        auto window = std::make_unique<tarvik::MainWindow>(context);
        window->setStartDatabase(line.database);
        return window;
    });
    startUp.start();
    return app.exec();
}
