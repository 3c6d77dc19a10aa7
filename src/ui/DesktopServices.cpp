#include "ui/DesktopServices.h"

#include "base/Platform.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QFontDatabase>
#include <QUrl>

namespace tarvik {

void loadApplicationFonts()
{
    for (const QString& file : platform::looseFontFiles())
        QFontDatabase::addApplicationFont(file);
}

DesktopHelpViewer::DesktopHelpViewer(Starter start) : m_start(std::move(start))
{
    if (!m_start)
        m_start = [](const QString& helpFile) {
            return platform::startHelpViewer(helpFile);
        };
}

void DesktopHelpViewer::showHelp(const QString& helpFilePath)
{
    const QFileInfo help(helpFilePath);
    const QString html = help.absolutePath() + QStringLiteral("/help/index.html");
    if (help.isFile() && m_start(help.absoluteFilePath()))
        return;
    // The guide's HTML pages serve where the compiled file cannot be shown,
    // and where it was not built.
    if (QFileInfo(html).isFile()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(html));
        return;
    }
    if (help.isFile())
        QDesktopServices::openUrl(QUrl::fromLocalFile(help.absoluteFilePath()));
}

} // namespace tarvik
