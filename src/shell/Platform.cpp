#include "shell/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    const int fd =
        ::open(p.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        setError(errorText, errno);
    return fd;
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

} // namespace tarvik::platform
