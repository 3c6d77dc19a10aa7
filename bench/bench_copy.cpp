// The baseline of the export benchmark: writes every file below SOURCE again
// below TARGET, the same bytes under the same relative paths, syncs the file
// system once at the end as the export does, and prints the seconds it took.
// What the export does beyond this is its own cost.

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "Usage: bench_copy SOURCE TARGET\n");
        return 2;
    }
    const QString source = QFile::decodeName(argv[1]);
    const QString target = QFile::decodeName(argv[2]);
    QElapsedTimer clock;
    clock.start();
    qint64 files = 0;
    qint64 bytes = 0;
    QDirIterator it(source, QDir::Files, QDirIterator::Subdirectories);
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    while (it.hasNext()) {
        const QString from = it.next();
        const QString to = target + QLatin1Char('/') + QDir(source).relativeFilePath(from);
        QDir().mkpath(QFileInfo(to).path());
        QFile in(from);
        QFile out(to);
        if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "cannot copy %s\n", qPrintable(from));
            return 1;
        }
        for (qint64 n; (n = in.read(buffer.data(), buffer.size())) > 0;) {
            if (out.write(buffer.constData(), n) != n)
                return 1;
            bytes += n;
        }
        ++files;
    }
    // The export ends with one sync of the destination's file system, so the
    // mails are on the disk when it says it is done: the baseline does the same.
    const int fd = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0 || ::syncfs(fd) != 0)
        return 1;
    ::close(fd);
    std::printf("baseline %.3f s %lld files %lld bytes\n", clock.elapsed() / 1000.0,
                static_cast<long long>(files), static_cast<long long>(bytes));
    return 0;
}
