#include "ui/CommandLine.h"

#include <QCommandLineParser>
#include <QDir>

namespace tarvik {

CommandLine readCommandLine(const QStringList& arguments, const QString& currentFolder,
                            const MoreOptions& moreOptions)
{
    QCommandLineParser parser;
    // Not addHelpOption: that one also takes -? and --help-all, which the usage does not offer.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text and end."));
    parser.addOption(help);
    if (moreOptions)
        moreOptions(parser);

    CommandLine line;
    // The parser wants the program's name first; it goes on past an unknown option, so
    // --help is seen wherever it stands.
    const bool parsed = parser.parse(QStringList{QStringLiteral("tarvik")} + arguments);
    line.usageAsked = parser.isSet(help);
    if (!parsed) {
        line.error = parser.errorText();
        return line;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        line.error = QStringLiteral("one database at a time, not %1").arg(files.size());
        return line;
    }
    if (files.size() == 1) {
        if (files.first().isEmpty()) {
            line.error = QStringLiteral("the database's name is empty");
            return line;
        }
        const QString absolute = QDir(currentFolder).absoluteFilePath(files.first());
        line.database = QDir::toNativeSeparators(QDir::cleanPath(absolute));
    }
    return line;
}

QString commandLineUsage()
{
    return QStringLiteral(
        "Usage: tarvik [FILE.nsf]\n"
        "Starts Tarvik, the Lotus Notes mail migration program. With FILE.nsf the main\n"
        "window opens with that Notes database chosen, as after Browse; nothing is read\n"
        "until Start Scan is pressed.\n"
        "\n"
        "  -h, --help              show this text and end\n"
        "  --notes-api             read through the installed Notes client or Domino\n"
        "                          server (its C API) instead of directly\n"
        "  --notes-program FOLDER  its program folder (implies --notes-api)\n"
        "  --notes-ini FILE        the notes.ini Notes starts with (implies --notes-api)\n"
        "  --notes-id FILE         the Notes ID to read with (implies --notes-api)\n"
        "  --                      every argument after it is a file name\n"
        "\n"
        "Qt's own options (-platform, -style, ...) are accepted as well.\n");
}

} // namespace tarvik
