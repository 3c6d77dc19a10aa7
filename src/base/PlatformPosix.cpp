#include "base/Platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/syscall.h>
#endif

// The services of Platform.h on POSIX systems (Linux first: O_TMPFILE, renameat2
// and syncfs where it has them).
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

QString defaultLogPath()
{
    return QDir::toNativeSeparators(QDir::homePath() + QStringLiteral("/Log.txt"));
}

namespace {

// Opens a regular file for writing without following a link at path; anything but
// a regular file is refused.
FileDescriptor openRegularForWrite(const QString& path, int flags, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    // O_NONBLOCK keeps a named pipe at path from blocking the open.
    FileDescriptor fd(::open(
        p.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | flags, 0600));
    if (!fd) {
        setError(errorText, errno);
        return {};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        if (errorText)
            *errorText = QStringLiteral("not a regular file");
        return {};
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return fd;
}

} // namespace

FileDescriptor openForWriteNoFollow(const QString& path, QString* errorText)
{
    return openRegularForWrite(path, O_TRUNC, errorText);
}

FileDescriptor openForRead(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    FileDescriptor fd(::open(p.constData(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        setError(errorText, errno);
    return fd;
}

bool writeFileContent(const QString& path, const QByteArray& content, QString* errorText)
{
    FileDescriptor fd = openRegularForWrite(path, 0, errorText);
    if (!fd)
        return false;
    qsizetype done = 0;
    while (done < content.size()) {
        const ssize_t n =
            ::write(fd.get(), content.constData() + done, size_t(content.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            setError(errorText, n < 0 ? errno : ENOSPC);
            return false;
        }
        done += n;
    }
    if (::ftruncate(fd.get(), off_t(content.size())) != 0) {
        setError(errorText, errno);
        return false;
    }
    // An error reported at close counts as a failed write.
    if (::close(fd.release()) != 0) {
        setError(errorText, errno);
        return false;
    }
    return true;
}

FileDescriptor createNewFile(const QString& path, QString* errorText)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    FileDescriptor fd(
        ::open(p.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd)
        setError(errorText, errno);
    return fd;
}

FileDescriptor createAnonymousFile(const QString& folder, QString* errorText)
{
#if defined(__linux__) && defined(O_TMPFILE)
    // The file gets its name through /proc (linkAnonymousFile): without /proc
    // (some containers) it could never get one.
    static const bool procFds = QFileInfo::exists(QStringLiteral("/proc/self/fd"));
    if (procFds) {
        const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(folder));
        FileDescriptor fd(::open(p.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644));
        if (!fd)
            setError(errorText, errno);
        return fd;
    }
#else
    Q_UNUSED(folder);
#endif
    if (errorText)
        *errorText = QStringLiteral("not supported");
    return {};
}

bool linkAnonymousFile(const FileDescriptor& file, const QString& path, QString* errorText)
{
#if defined(__linux__)
    // Through /proc, which needs no privilege, unlike AT_EMPTY_PATH.
    const QByteArray source = "/proc/self/fd/" + QByteArray::number(file.get());
    const QByteArray target = QFile::encodeName(QDir::fromNativeSeparators(path));
    if (::linkat(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), AT_SYMLINK_FOLLOW) ==
        0)
        return true;
    setError(errorText, errno);
    return false;
#else
    Q_UNUSED(file);
    Q_UNUSED(path);
    if (errorText)
        *errorText = QStringLiteral("not supported");
    return false;
#endif
}

void keepFreedMemoryForReuse()
{
#if defined(__GLIBC__)
    // Without these, freeing a block at the top of the heap gives memory back
    // and the next message's buffers ask for it again (brk), and every block
    // past 128 KiB is mapped and unmapped anew; each costs a system call and,
    // with other threads in the process, a flush of every processor's mappings.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
#endif
}

bool nameIsTaken(const QString& path)
{
    const QByteArray p = QFile::encodeName(QDir::fromNativeSeparators(path));
    struct stat st {};
    return ::lstat(p.constData(), &st) == 0;
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
    const FileDescriptor fd(::open(p.constData(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!fd) {
        setError(errorText, errno);
        return false;
    }
#if defined(__linux__)
    const bool ok = ::syncfs(fd.get()) == 0;
#else
    ::sync();
    const bool ok = true;
#endif
    if (!ok)
        setError(errorText, errno);
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
    // Measured in the bytes the file system gets: QFile::encodeName writes a
    // lone surrogate as U+FFFD (3 bytes), where toUtf8() writes "?" (1 byte).
    return QFile::encodeName(name).size();
}

QString adjustNameForSystem(const QString& name)
{
    QString n = name;
    // A leading dot hides a file from the user's file manager.
    if (n.startsWith(QLatin1Char('.')))
        n[0] = QLatin1Char('_');
    return n;
}

bool isTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

QStringList helpViewers()
{
    return {QStringLiteral("xchm"), QStringLiteral("kchmviewer")};
}

QStringList looseFontFiles()
{
    QStringList found;
    for (const char* file :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        const QString path = QString::fromLatin1(file);
        if (QFileInfo::exists(path))
            found.append(path);
    }
    return found;
}

} // namespace tarvik::platform
