#pragma once

#include <QString>

namespace tarvik {

// The scan-progress pictures inside the scan frame.
enum class ScanArrow { Reading, Emails, MailFolder };

// What the procedures behind the main window need of its controls. Pages and
// toolbar buttons are numbered from 1, as the user sees them.
class MainWindowPort {
public:
    virtual ~MainWindowPort() = default;

    virtual QString databasePath() const = 0;
    virtual void setDatabasePath(const QString& path) = 0;

    virtual int selectedPage() const = 0;
    virtual void selectPage(int page) = 0;
    virtual void setPageEnabled(int page, bool enabled) = 0;

    virtual void setScanFrameVisible(bool visible) = 0;
    virtual void setArrowVisible(ScanArrow arrow, bool visible) = 0;
    virtual void setFolderNameCaption(const QString& caption) = 0;

    virtual void setScanButtonEnabled(bool enabled) = 0;
    virtual void setBrowseButtonEnabled(bool enabled) = 0;
    virtual void setToolbarButtonEnabled(int index, bool enabled) = 0;

    // The folder-tree node the user selected (counted from 0 in the order the
    // nodes were added), or -1 when none is.
    virtual int selectedTreeNode() const = 0;
};

} // namespace tarvik
