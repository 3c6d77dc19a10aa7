#include "ui/PlatformUi.h"

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

DesktopHelpViewer::DesktopHelpViewer(QStringList viewers, Starter start)
    : m_viewers(std::move(viewers)), m_start(std::move(start))
{
    if (!m_start)
        m_start = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
}

QStringList DesktopHelpViewer::defaultViewers()
{
#ifdef Q_OS_WIN
    return {QStringLiteral("hh")};
#else
    return {QStringLiteral("xchm"), QStringLiteral("kchmviewer")};
#endif
}

void DesktopHelpViewer::showHelp(const QString& helpFilePath)
{
    const QFileInfo help(helpFilePath);
    const QString html = help.absolutePath() + QStringLiteral("/help/index.html");
    if (help.isFile()) {
        for (const QString& viewer : m_viewers) {
            const QString exe = QStandardPaths::findExecutable(viewer);
            if (!exe.isEmpty() && m_start(exe, {help.absoluteFilePath()}))
                return;
        }
    }
    // The guide's HTML pages serve where the compiled file cannot be shown,
    // and where it was not built.
    if (QFileInfo(html).isFile()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(html));
        return;
    }
    if (help.isFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(help.absoluteFilePath()));
}

} // namespace tarvik::platform
