#pragma once

#include <QString>

// The small interfaces through which the procedures reach the screen. The
// windows implement them with Qt; tests and the headless exporter supply their
// own, so every path runs without a screen.
namespace tarvik {

enum class MessageIcon { None, Information, Warning, Critical };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

// Message boxes and the file and folder pickers.
class DialogPort {
public:
    virtual ~DialogPort() = default;
    virtual MessageAnswer showMessage(const QString& text, const QString& title,
                                      MessageButtons buttons, MessageIcon icon) = 0;
    // A file-open dialog with the given filter ("Label (*.ext)"); "" when cancelled.
    virtual QString openFile(const QString& filter) = 0;
    // A folder picker showing title; "" when cancelled. No trailing separator is added.
    virtual QString browseForFolder(const QString& title) = 0;
};

// The short waits of the procedures and the repaints during long work. Neither
// lets user input through: the work runs on the user-interface thread and the
// window must not take commands while it runs.
class EventPump {
public:
    virtual ~EventPump() = default;
    // Waits the given time, keeping the window painted.
    virtual void pause(int milliseconds) = 0;
    // Lets the window repaint what changed.
    virtual void repaint() = 0;
};

// The viewer of the help file.
class HelpViewerPort {
public:
    virtual ~HelpViewerPort() = default;
    virtual void showHelp(const QString& helpFilePath) = 0;
};

// The application's other windows and its end.
class AppWindowsPort {
public:
    virtual ~AppWindowsPort() = default;
    // Shows the export window modally over the main window; returns when it is closed.
    virtual void showSaveWindow() = 0;
    // Shows the about window modally, anew on each call.
    virtual void showAbout() = 0;
    // Ends the application at once: every window closes, nothing more runs.
    virtual void quitApplication() = 0;
    // The folder that holds the program.
    virtual QString programFolder() const = 0;
};

} // namespace tarvik
