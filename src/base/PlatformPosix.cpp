#include "base/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

namespace tarvik::platform {

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

void setError(QString* errorText, int err)
{
    if (errorText)
        *errorText = errnoText(err);
}

} // namespace

QChar separator()
{
    return QDir::separator();
}

QString systemTempFolder()
{
    QString t = QDir::tempPath();
    while (t.size() > 1 && t.endsWith(QLatin1Char('/')))
        t.chop(1);
    return QDir::toNativeSeparators(t);
}

QString makePrivateTempFolder()
{
    QByteArray templ = QFile::encodeName(QDir::fromNativeSeparators(systemTempFolder()) +
                                         QStringLiteral("/tarvik-XXXXXX"));
    // mkdtemp creates the folder with mode 0700 under a name nobody could
    // have prepared in advance.
    if (!::mkdtemp(templ.data()))
        return {};
    return QDir::toNativeSeparators(QFile::decodeName(templ));
}

void removeFolderTree(const QString& path)
{
    if (path.isEmpty())
        return;
    QDir(path).removeRecursively();
}

bool createFolderPath(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QString p = QDir::fromNativeSeparators(path);
    QFileInfo fi(p);
    if (fi.isDir())
        return true;
    if (!QDir().mkpath(p))
        return false;
    return QFileInfo(p).isDir();
}

QString defaultLogPath()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\Log.txt");
#else
    return QDir::toNativeSeparators(QDir::homePath() + QStringLiteral("/Log.txt"));
#endif
}

int openForWriteNoFollow(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    // O_NONBLOCK keeps a named pipe at path from blocking the open; anything but a
    // regular file is then refused.
    const int fd = ::open(p.constData(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        setError(errorText, errno);
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (errorText)
            *errorText = QStringLiteral("not a regular file");
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool writeFileContent(const QString& path, const QByteArray& content, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    const int fd =
        ::open(p.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) {
        setError(errorText, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (errorText)
            *errorText = QStringLiteral("not a regular file");
        return false;
    }
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            setError(errorText, n < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        done += n;
    }
    if (::ftruncate(fd, off_t(content.size())) != 0) {
        setError(errorText, errno);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        setError(errorText, errno);
        return false;
    }
    return true;
}

int createNewFile(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    const int fd =
        ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        setError(errorText, errno);
    return fd;
}

int createAnonymousFile(const QString& folder, QString* errorText)
{
#if defined(__linux__) && defined(O_TMPFILE)
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(folder));
    const int fd = ::open(p.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0)
        setError(errorText, errno);
    return fd;
#else
    Q_UNUSED(folder);
    if (errorText)
        *errorText = QStringLiteral("not supported");
    return -1;
#endif
}

bool linkAnonymousFile(int fd, const QString& path, QString* errorText)
{
#if defined(__linux__)
    // Through /proc, which needs no privilege, unlike AT_EMPTY_PATH.
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(fd);
    const QByteArray target = QFile::encodeName(QDir::fromNativeSeparators(path));
    if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) ==
        0)
        return true;
    setError(errorText, errno);
    return false;
#else
    Q_UNUSED(fd);
    Q_UNUSED(path);
    if (errorText)
        *errorText = QStringLiteral("not supported");
    return false;
#endif
}

bool moveNoReplace(const QString& from, const QString& to, QString* errorText)
{
    const QByteArray f = QFile::encodeName(QDir::fromNativeSeparators(from));
    const QByteArray t = QFile::encodeName(QDir::fromNativeSeparators(to));
#if defined(__linux__) && defined(SYS_renameat2)
    // RENAME_NOREPLACE (1): atomic, and refuses an existing target.
    if (::syscall(SYS_renameat2, AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), 1u) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) {
        setError(errorText, errno);
        return false;
    }
#endif
    // File systems without renameat2: a hard link also refuses an existing target.
    if (::link(f.constData(), t.constData()) != 0) {
        setError(errorText, errno);
        return false;
    }
    ::unlink(f.constData());
    return true;
}

std::optional<FileIdentity> fileIdentity(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    struct stat st {};
    if (p.isEmpty() || ::stat(p.constData(), &st) != 0) {
        setError(errorText, p.isEmpty() ? ENOENT : errno);
        return std::nullopt;
    }
    FileIdentity id;
    id.kind = S_ISREG(st.st_mode)   ? FileIdentity::Kind::Regular
              : S_ISDIR(st.st_mode) ? FileIdentity::Kind::Folder
                                    : FileIdentity::Kind::Other;
    id.device = static_cast<quint64>(st.st_dev);
    id.inode = static_cast<quint64>(st.st_ino);
    id.size = static_cast<qint64>(st.st_size);
    id.modifiedNs = static_cast<qint64>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

std::optional<int> localUtcOffset(qint64 secondsSinceEpoch)
{
    // localtime_r, unlike a conversion that calls tzset() first, does not look at the
    // zone file again each time.
    const auto t = static_cast<time_t>(secondsSinceEpoch);
    struct tm local {};
    if (static_cast<qint64>(t) != secondsSinceEpoch || !::localtime_r(&t, &local))
        return std::nullopt;
    return static_cast<int>(local.tm_gmtoff);
}

namespace {

// A signal handler can use nothing but what it finds in static storage, so the one
// path to remove lives here, written only while the handlers are not installed.
char interruptPath[4096];
struct sigaction previousActions[3];
constexpr int interruptSignals[3] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeAndRaise(int sig)
{
    ::unlink(interruptPath);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

} // namespace

InterruptsHeld::InterruptsHeld()
{
    static_assert(sizeof(sigset_t) <= sizeof(m_previous));
    sigset_t held;
    sigemptyset(&held);
    for (int signal : interruptSignals)
        sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, reinterpret_cast<sigset_t*>(m_previous));
}

InterruptsHeld::~InterruptsHeld()
{
    ::sigprocmask(SIG_SETMASK, reinterpret_cast<const sigset_t*>(m_previous), nullptr);
}

RemoveOnInterrupt::RemoveOnInterrupt(const QString& path)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    // A path too long for the buffer is not armed rather than cut to another name.
    const qsizetype n = p.size() < qsizetype(sizeof(interruptPath)) ? p.size() : 0;
    std::memcpy(interruptPath, p.constData(), static_cast<size_t>(n));
    interruptPath[n] = 0;
    struct sigaction sa {};
    sa.sa_handler = removeAndRaise;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < 3; ++i)
        ::sigaction(interruptSignals[i], &sa, &previousActions[i]);
}

RemoveOnInterrupt::~RemoveOnInterrupt()
{
    for (int i = 0; i < 3; ++i)
        ::sigaction(interruptSignals[i], &previousActions[i], nullptr);
    interruptPath[0] = 0;
}

bool syncFileSystem(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    const int fd = ::open(p.constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0) {
        setError(errorText, errno);
        return false;
    }
#if defined(__linux__)
    const bool ok = ::syncfs(fd) == 0;
#else
    ::sync();
    const bool ok = true;
#endif
    if (!ok)
        setError(errorText, errno);
    ::close(fd);
    return ok;
}

void ignoreFileSizeLimitSignal()
{
#ifdef SIGXFSZ
    ::signal(SIGXFSZ, SIG_IGN);
#endif
}

qsizetype nameLength(const QString& name)
{
#ifdef Q_OS_WIN
    return name.size();
#else
    // Measured in the bytes the file system gets: QFile::encodeName writes a
    // lone surrogate as U+FFFD (3 bytes), where toUtf8() writes "?" (1 byte).
    return QFile::encodeName(name).size();
#endif
}

QString adjustNameForSystem(const QString& name)
{
    QString n = name;
#ifdef Q_OS_WIN
    while (n.endsWith(QLatin1Char('.')) || n.endsWith(QLatin1Char(' ')))
        n[n.size() - 1] = QLatin1Char('_');
    static const QStringList reserved = {
        QStringLiteral("CON"),  QStringLiteral("PRN"),  QStringLiteral("AUX"),
        QStringLiteral("NUL"),  QStringLiteral("COM1"), QStringLiteral("COM2"),
        QStringLiteral("COM3"), QStringLiteral("COM4"), QStringLiteral("COM5"),
        QStringLiteral("COM6"), QStringLiteral("COM7"), QStringLiteral("COM8"),
        QStringLiteral("COM9"), QStringLiteral("LPT1"), QStringLiteral("LPT2"),
        QStringLiteral("LPT3"), QStringLiteral("LPT4"), QStringLiteral("LPT5"),
        QStringLiteral("LPT6"), QStringLiteral("LPT7"), QStringLiteral("LPT8"),
        QStringLiteral("LPT9")};
    const QString stem = n.section(QLatin1Char('.'), 0, 0).trimmed();
    if (reserved.contains(stem, Qt::CaseInsensitive))
        n.prepend(QLatin1Char('_'));
#else
    // A leading dot hides a file from the user's file manager.
    if (n.startsWith(QLatin1Char('.')))
        n[0] = QLatin1Char('_');
#endif
    return n;
}

} // namespace tarvik::platform
