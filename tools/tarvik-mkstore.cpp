// tarvik-mkstore: builds a local store file (a Notes mail database for Tarvik's
// back-end) from a store description.

#include "base/OperationError.h"
#include "notes/builder/StoreBuilder.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int exitOk = 0;
constexpr int exitFaults = 1;
constexpr int exitUsage = 2;

const char usage[] =
    "Usage: tarvik-mkstore [--force] DESCRIPTION.json OUTPUT\n"
    "Builds the mail store OUTPUT from the store description DESCRIPTION.json.\n"
    "\n"
    "  --force   replace OUTPUT if it exists\n"
    "  --help    show this text\n"
    "\n"
    "Exit status: 0 built, 1 the description has faults (each is reported with its\n"
    "place), 2 wrong usage or a file that cannot be read or written.\n";

void printLine(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char** argv)
{
    using tarvik::notes::StoreBuilder;
    bool force = false;
    QStringList paths;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (!optionsEnded && arg == "--help") {
            std::fputs(usage, stdout);
            return exitOk;
        }
        if (!optionsEnded && arg == "--force") {
            force = true;
        } else if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && arg.startsWith('-') && arg.size() > 1) {
            printLine(QStringLiteral("tarvik-mkstore: unknown option %1")
                          .arg(QString::fromLocal8Bit(arg)));
            std::fputs(usage, stderr);
            return exitUsage;
        } else {
            paths.append(QFile::decodeName(arg));
        }
    }
    if (paths.size() != 2) {
        std::fputs(usage, stderr);
        return exitUsage;
    }
    const QString& description = paths[0];
    const QString& output = paths[1];
    const QFileInfo out(output);
    if (!force && (out.exists() || out.isSymLink())) {
        printLine(
            QStringLiteral("tarvik-mkstore: \"%1\" already exists (use --force to replace it)")
                .arg(output));
        return exitUsage;
    }
    try {
        const auto result = StoreBuilder::buildFile(description, output,
                                                    force ? StoreBuilder::Existing::Replace
                                                          : StoreBuilder::Existing::Refuse);
        for (const QString& fault : result.faults)
            printLine(description + QStringLiteral(": ") + fault);
        return result.ok() ? exitOk : exitFaults;
    } catch (const tarvik::OperationError& e) {
        printLine(QStringLiteral("tarvik-mkstore: ") + e.message());
        return exitUsage;
    }
}
