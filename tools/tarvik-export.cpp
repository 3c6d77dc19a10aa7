// tarvik-export: exports the mail of a Notes mail database as .eml files from
// the command line, through the same scan and export run as the window.

#include "app/AppContext.h"
#include "app/HeadlessExport.h"
#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/capi/NotesApiBackend.h"
#include "notes/capi/NotesApiOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

const char description[] =
    "Exports the mail of a Lotus Notes mail database as .eml files: one file per mail,\n"
    "one sub-folder per Notes folder, under DESTINATION and a folder named after the\n"
    "database's title. The export log is written to --log FILE, or to Log.txt in the\n"
    "home folder. DATABASE is a Notes database file (.nsf), read without any Notes\n"
    "software, or a Tarvik mail store; which one is told from the file's content.\n"
    "\n"
    "The database is read directly. With --notes-api (or any other --notes- option) it is\n"
    "read through an installed Notes client or Domino server instead, with its ID; the\n"
    "ID's password comes from --notes-password-file or the environment variable\n"
    "TARVIK_NOTES_PASSWORD, never from the command line.\n"
    "\n"
    "Exit status: 0 every mail was written in full; 1 some mails, attachments, items\n"
    "or folders could not be read or written (the log names each one); 2 the export\n"
    "could not start (unreadable database, destination that cannot be written, wrong\n"
    "arguments).";

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik-export"));
    tarvik::platform::ignoreFileSizeLimitSignal();

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    const QCommandLineOption folders(
        QStringLiteral("folders"),
        QStringLiteral("Export only this folder: \"Inbox\", \"Sent\", \"Drafts\" or \"Trash\" for "
                       "a standard folder, any other name for a folder of your own by its full "
                       "name (levels separated by \\). May be repeated, or take a comma-separated "
                       "list."),
        QStringLiteral("NAME"));
    const QCommandLineOption userFolder(
        QStringLiteral("user-folder"),
        QStringLiteral("Export only this folder of your own, by its full name exactly as it is "
                       "(levels separated by \\), also where it is named like a standard folder "
                       "(\"Inbox\") or holds a comma. One name each time; may be repeated, and "
                       "combined with --folders."),
        QStringLiteral("NAME"));
    const QCommandLineOption allDocuments(
        QStringLiteral("all-documents"),
        QStringLiteral("Export every document of the database, in the order the database keeps "
                       "them, into one folder \"All Documents\": also mail kept in no folder, "
                       "mail of folders that cannot be read, and databases that are no mail "
                       "files. Alone it exports that folder only; with --folders or "
                       "--user-folder those folders too, and a mail in one of them is then "
                       "exported twice."));
    const QCommandLineOption log(QStringLiteral("log"),
                                 QStringLiteral("Write the export log to FILE."),
                                 QStringLiteral("FILE"));
    parser.addOption(folders);
    parser.addOption(userFolder);
    parser.addOption(allDocuments);
    parser.addOption(log);
    const tarvik::notes::capi::NotesApiOptions notesApi(
        tarvik::notes::capi::NotesApiOptions::Password::FromFileOrEnvironment);
    notesApi.addTo(parser);
    parser.addPositionalArgument(QStringLiteral("DATABASE"),
                                 QStringLiteral("The Notes mail database."));
    parser.addPositionalArgument(QStringLiteral("DESTINATION"),
                                 QStringLiteral("The folder to export into."));
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "tarvik-export: %s\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return tarvik::exitstatus::notStarted;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return tarvik::exitstatus::allWritten;
    }
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "tarvik-export: give the database and the destination.\n%s",
                     qPrintable(parser.helpText()));
        return tarvik::exitstatus::notStarted;
    }

    tarvik::HeadlessOptions options;
    options.database = args.at(0);
    options.destination = args.at(1);
    for (const QString& value : parser.values(folders)) {
        for (const QString& name : value.split(QLatin1Char(',')))
            options.folders.append(name);
    }
    options.userFolders = parser.values(userFolder);
    options.allDocuments = parser.isSet(allDocuments);
    options.progressBar = tarvik::platform::isTerminal(stderr);

    tarvik::AppContext context;
    if (parser.isSet(log))
        context.logPath = parser.value(log);
    try {
        if (const auto settings = notesApi.settings(parser)) {
            // Started here, so that what keeps Notes from starting is said in its own words;
            // the scan then reads through it.
            auto backend = std::make_shared<tarvik::notes::capi::NotesApiBackend>(*settings);
            backend->runtime();
            tarvik::notes::capi::installNotesApi(context.notesSessions, backend);
        }
    } catch (const tarvik::OperationError& e) {
        std::fprintf(stderr, "tarvik-export: %s\n", qPrintable(e.message()));
        return tarvik::exitstatus::notStarted;
    }
    return tarvik::runHeadlessExport(options, context, stderr);
}
