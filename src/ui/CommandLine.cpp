#include "ui/CommandLine.h"

#include <QDir>

namespace tarvik {

CommandLine readCommandLine(const QStringList& arguments, const QString& currentFolder)
{
    CommandLine line;
    QStringList files;
    bool optionsEnded = false;
    for (const QString& arg : arguments) {
        if (!optionsEnded && arg == QStringLiteral("--")) {
            optionsEnded = true;
        } else if (!optionsEnded &&
                   (arg == QStringLiteral("-h") || arg == QStringLiteral("--help"))) {
            line.usageAsked = true;
        } else if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg.size() > 1) {
            if (line.error.isEmpty())
                line.error = QStringLiteral("unknown option %1").arg(arg);
        } else {
            files.append(arg);
        }
    }
    if (!line.error.isEmpty())
        return line;
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
        "  -h, --help  show this text and end\n"
        "  --          every argument after it is a file name\n"
        "\n"
        "Qt's own options (-platform, -style, ...) are accepted as well.\n");
}

} // namespace tarvik
