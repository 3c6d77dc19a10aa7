#pragma once

#include <QString>

namespace tarvik {

// What the export run needs of the export window's controls.
class SaveWindowPort {
public:
    virtual ~SaveWindowPort() = default;
    virtual void setHeader(const QString& text) = 0;     // the current phase
    virtual void setProcessing(const QString& text) = 0; // the mail being exported
    virtual void setFound(const QString& text) = 0;      // mails in the folder
    virtual void setCurrent(const QString& text) = 0;    // position in the folder
    virtual void setSubjectLabelVisible(bool visible) = 0;
    // Closes the export window; control returns to the main window.
    virtual void unload() = 0;
};

// Follows the run mail by mail, for progress shown outside the window.
class ExportObserver {
public:
    virtual ~ExportObserver() = default;
    virtual void folderStarted(const QString& folderName, qint64 documents) = 0;
    virtual void mailDone(bool written) = 0;
};

} // namespace tarvik
