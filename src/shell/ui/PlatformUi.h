#pragma once

#include "shell/Ports.h"

#include <QString>

class QWidget;

// Desktop services of this platform that only the windows need: the fonts the
// windows were designed with and the viewer for the compiled help file.
namespace tarvik::platform {

// Makes the designed faces available where the system has them only as loose
// files (a free Tahoma ships with Wine's fonts but is not registered with
// fontconfig). Missing files are passed over quietly.
void loadApplicationFonts();

// Opens the help file with the system's help viewer or, where none is
// installed, with the default handler. The guide's HTML version beside it is
// the fallback when nothing can show a compiled help file. Results are ignored.
class DesktopHelpViewer : public HelpViewerPort {
public:
    void showHelp(const QString& helpFilePath) override;
};

} // namespace tarvik::platform
