#include "shell/ui/PlatformUi.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace tarvik::platform {

void loadApplicationFonts()
{
#ifndef Q_OS_WIN
    static const char* const files[] = {
        "/usr/share/wine/fonts/tahoma.ttf",
        "/usr/share/wine/fonts/tahomabd.ttf",
    };
    for (const char* file : files) {
        const QString path = QString::fromLatin1(file);
        if (QFileInfo::exists(path))
            QFontDatabase::addApplicationFont(path);
    }
#endif
}

void DesktopHelpViewer::showHelp(const QString& helpFilePath)
{
    const QFileInfo help(helpFilePath);
    if (!help.exists())
        return;
    // Linux help viewers for .chm files; the first one installed is used.
    static const char* const viewers[] = {"xchm", "kchmviewer", "chmsee"};
    for (const char* viewer : viewers) {
        const QString exe = QStandardPaths::findExecutable(QString::fromLatin1(viewer));
        if (!exe.isEmpty() && QProcess::startDetached(exe, {help.absoluteFilePath()}))
            return;
    }
    const QString html = help.absolutePath() + QStringLiteral("/help/index.html");
    if (QFileInfo::exists(html))
        QDesktopServices::openUrl(QUrl::fromLocalFile(html));
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(help.absoluteFilePath()));
}

} // namespace tarvik::platform
