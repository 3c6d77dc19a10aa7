#include "base/Platform.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

// The services Qt gives alike on every system.
namespace tarvik::platform {

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

bool startHelpViewer(const QString& helpFile, const QStringList& viewers)
{
    const QString file = QFileInfo(helpFile).absoluteFilePath();
    for (const QString& viewer : viewers) {
        const QString program = QStandardPaths::findExecutable(viewer);
        if (!program.isEmpty() && QProcess::startDetached(program, {file}))
            return true;
    }
    return false;
}

} // namespace tarvik::platform
