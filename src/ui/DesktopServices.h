#pragma once

#include "app/Ports.h"

#include <QString>

#include <functional>

// What the windows ask of the desktop: the fonts they were designed with, and a
// viewer for the user's guide.
namespace tarvik {

// Makes the designed faces available where the system has them only as loose
// files (platform::looseFontFiles). Missing files are passed over quietly.
void loadApplicationFonts();

// Shows the help file with a viewer for compiled help files or, where none is
// installed, the HTML version of the guide from the "help" folder beside it,
// or else the file with the system's default handler. Starts the viewer and
// returns without waiting. Nothing is said when the file is missing or no
// program can show it.
class DesktopHelpViewer : public HelpViewerPort {
public:
    // Starts a viewer of the compiled help file without waiting for it; true when
    // one started.
    using Starter = std::function<bool(const QString& helpFile)>;

    // start: platform::startHelpViewer with this system's viewers when empty.
    explicit DesktopHelpViewer(Starter start = {});

    void showHelp(const QString& helpFilePath) override;

private:
    Starter m_start;
};

} // namespace tarvik
