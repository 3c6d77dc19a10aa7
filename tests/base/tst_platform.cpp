#include "base/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarvik;
using platform::FileDescriptor;

namespace {

bool isOpenDescriptor(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1 || errno != EBADF;
}

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool writeAll(const FileDescriptor& fd, const QByteArray& bytes)
{
    return ::write(fd.get(), bytes.constData(), size_t(bytes.size())) == bytes.size();
}

} // namespace

// The file services of the POSIX platform, on a real file system.
class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void descriptorIsClosedOnceByItsLastOwner();
    void duplicateWritesToTheSameFile();
    void newFileRefusesEveryExistingName();
    void fileContentIsReplacedInPlaceAndNeverThroughALink();
    void anonymousFileTakesItsNameOnlyWhenLinked();
    void terminalIsToldFromAFile();
};

void TestPlatform::descriptorIsClosedOnceByItsLastOwner()
{
    QTemporaryDir dir;
    int raw = -1;
    {
        FileDescriptor first = platform::createNewFile(dir.filePath(QStringLiteral("a")));
        QVERIFY(first);
        raw = first.get();
        FileDescriptor second(std::move(first));
        QVERIFY(!first);
        QCOMPARE(second.get(), raw);
        FileDescriptor third;
        third = std::move(second);
        QVERIFY(!second);
        QVERIFY(isOpenDescriptor(raw));
    }
    QVERIFY(!isOpenDescriptor(raw));

    // Taking another descriptor closes the one held; handing it over keeps it open.
    FileDescriptor held = platform::openForRead(dir.filePath(QStringLiteral("a")));
    const int old = held.get();
    held = platform::createNewFile(dir.filePath(QStringLiteral("b")));
    QVERIFY(held);
    QVERIFY(held.get() != old);
    QVERIFY(!isOpenDescriptor(old));
    const int handed = held.release();
    QVERIFY(!held);
    QVERIFY(isOpenDescriptor(handed));
    ::close(handed);
}

void TestPlatform::duplicateWritesToTheSameFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("shared"));
    FileDescriptor fd = platform::createNewFile(path);
    FileDescriptor copy = fd.duplicate();
    QVERIFY(copy);
    QVERIFY(copy.get() != fd.get());
    QVERIFY(::fcntl(copy.get(), F_GETFD) & FD_CLOEXEC);
    QVERIFY(writeAll(fd, "one "));
    fd = {};
    QVERIFY(writeAll(copy, "two"));
    copy = {};
    QCOMPARE(contentOf(path), QByteArray("one two"));
    QVERIFY(!FileDescriptor().duplicate());
}

void TestPlatform::newFileRefusesEveryExistingName()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("file"));
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    QVERIFY(platform::createNewFile(file));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
    for (const QString& taken : {file, dangling}) {
        QString error;
        QVERIFY2(!platform::createNewFile(taken, &error), qPrintable(taken));
        QVERIFY(!error.isEmpty());
    }
    // Nothing was made where the link points.
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("nowhere"))));

    QString error;
    QVERIFY(!platform::openForRead(dir.filePath(QStringLiteral("missing")), &error));
    QCOMPARE(error, QString::fromLocal8Bit(std::strerror(ENOENT)));
}

void TestPlatform::fileContentIsReplacedInPlaceAndNeverThroughALink()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("header"));
    QVERIFY(platform::writeFileContent(path, "a longer first content"));
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &before), 0);
    QVERIFY(platform::writeFileContent(path, "short"));
    QCOMPARE(contentOf(path), QByteArray("short"));
    struct stat after {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &after), 0);
    QCOMPARE(after.st_ino, before.st_ino);

    const QString target = dir.filePath(QStringLiteral("target"));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(platform::writeFileContent(target, "untouched"));
    QVERIFY(QFile::link(target, link));
    QString error;
    QVERIFY(!platform::writeFileContent(link, "through the link", &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!platform::openForWriteNoFollow(link));
    QCOMPARE(contentOf(target), QByteArray("untouched"));

    // A named pipe is refused without blocking, with or without a reader.
    const QString pipe = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    QVERIFY(!platform::openForWriteNoFollow(pipe));
    const FileDescriptor reader(::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK));
    QVERIFY(reader);
    QVERIFY(!platform::openForWriteNoFollow(pipe, &error));
    QCOMPARE(error, QStringLiteral("not a regular file"));
    QVERIFY(!platform::writeFileContent(pipe, "x", &error));
    QCOMPARE(error, QStringLiteral("not a regular file"));
}

void TestPlatform::anonymousFileTakesItsNameOnlyWhenLinked()
{
    QTemporaryDir dir;
    QString error;
    FileDescriptor fd = platform::createAnonymousFile(dir.path(), &error);
    if (!fd)
        QSKIP(qPrintable(QStringLiteral("no files without a name here: ") + error));
    QVERIFY(writeAll(fd, "message"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
    const QString taken = dir.filePath(QStringLiteral("taken"));
    QVERIFY(platform::writeFileContent(taken, "first"));
    QVERIFY(!platform::linkAnonymousFile(fd, taken, &error));
    QCOMPARE(contentOf(taken), QByteArray("first"));
    const QString named = dir.filePath(QStringLiteral("named.eml"));
    QVERIFY(platform::linkAnonymousFile(fd, named, &error));
    QCOMPARE(contentOf(named), QByteArray("message"));
}

void TestPlatform::terminalIsToldFromAFile()
{
    QTemporaryDir dir;
    std::FILE* file =
        std::fopen(QFile::encodeName(dir.filePath(QStringLiteral("f"))).constData(), "w");
    QVERIFY(file);
    QVERIFY(!platform::isTerminal(file));
    std::fclose(file);

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        QSKIP("no pseudo-terminal here");
    std::FILE* terminal = std::fopen(::ptsname(master), "w");
    QVERIFY(terminal);
    QVERIFY(platform::isTerminal(terminal));
    std::fclose(terminal);
    ::close(master);
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
