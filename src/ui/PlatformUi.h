#pragma once

#include "app/Ports.h"

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Desktop services of this platform that only the windows need: the fonts the
// windows were designed with and the viewer for the compiled help file.
namespace tarvik::platform {

// Makes the designed faces available where the system has them only as loose
// files (a free Tahoma ships with Wine's fonts but is not registered with
// fontconfig). Missing files are passed over quietly.
void loadApplicationFonts();

// Shows the help file with a viewer for compiled help files or, where none is
// installed, the HTML version of the guide from the "help" folder beside it,
// or else the file with the system's default handler. Starts the viewer and
// returns without waiting. Nothing is said when the file is missing or no
// program can show it.
class DesktopHelpViewer : public HelpViewerPort {
public:
    // Starts a program with arguments without waiting for it; true when it started.
    using Starter = std::function<bool(const QString& program, const QStringList& arguments)>;

    // viewers: the help viewers' program names (or paths), the first one
    // found is used. start starts it (QProcess::startDetached when empty).
    explicit DesktopHelpViewer(QStringList viewers = defaultViewers(), Starter start = {});

    void showHelp(const QString& helpFilePath) override;

    // The compiled-help viewers of this system.
    static QStringList defaultViewers();

private:
    QStringList m_viewers;
    Starter m_start;
};

} // namespace tarvik::platform
