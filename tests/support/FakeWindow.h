#pragma once

#include "app/MainWindowPort.h"
#include "app/Ports.h"

#include <QList>
#include <QMap>
#include <QStringList>

#include <functional>

namespace tarvik::test {

// The main window's controls as plain values, in their state at start.
class FakeMainWindow : public MainWindowPort {
public:
    QString databasePath() const override { return path; }
    void setDatabasePath(const QString& p) override { path = p; }
    int selectedPage() const override { return page; }
    void selectPage(int p) override { page = p; }
    void setPageEnabled(int p, bool enabled) override
    {
        pageEnabled[p] = enabled;
        // As the tab control does, disabling the selected page selects the other.
        if (!enabled && page == p)
            page = p == 1 ? 2 : 1;
    }
    void setScanFrameVisible(bool visible) override { scanFrameVisible = visible; }
    void setArrowVisible(ScanArrow arrow, bool visible) override { arrows[arrow] = visible; }
    void setFolderNameCaption(const QString& caption) override
    {
        folderCaption = caption;
        folderCaptions.append(caption);
    }
    void setScanButtonEnabled(bool enabled) override { scanEnabled = enabled; }
    void setBrowseButtonEnabled(bool enabled) override { browseEnabled = enabled; }
    void setToolbarButtonEnabled(int index, bool enabled) override { toolbar[index] = enabled; }
    int selectedTreeNode() const override { return selectedNode; }

    QString path;
    int page = 1;
    QMap<int, bool> pageEnabled{{1, true}, {2, true}};
    bool scanFrameVisible = false;
    QMap<ScanArrow, bool> arrows{
        {ScanArrow::Reading, false}, {ScanArrow::Emails, true}, {ScanArrow::MailFolder, true}};
    QString folderCaption;
    QStringList folderCaptions;
    bool scanEnabled = false;
    bool browseEnabled = true;
    QMap<int, bool> toolbar{{1, true}, {2, false}, {4, false}, {6, true}};
    int selectedNode = -1;
};

// Counts the waits and repaints the procedures ask for.
class FakeEventPump : public EventPump {
public:
    void pause(int milliseconds) override { pauses.append(milliseconds); }
    void repaint() override { ++repaints; }

    QList<int> pauses;
    int repaints = 0;
};

// Records the other windows the procedures open and the end of the application.
class FakeAppWindows : public AppWindowsPort {
public:
    void showSaveWindow() override
    {
        ++saveWindowShows;
        if (onShowSaveWindow)
            onShowSaveWindow();
    }
    void showAbout() override { ++aboutShows; }
    void quitApplication() override { ++quits; }
    QString programFolder() const override { return folder; }

    int saveWindowShows = 0;
    int aboutShows = 0;
    int quits = 0;
    QString folder;
    std::function<void()> onShowSaveWindow;
};

// Records the help files asked for.
class FakeHelpViewer : public HelpViewerPort {
public:
    void showHelp(const QString& path) override { shown.append(path); }
    QStringList shown;
};

} // namespace tarvik::test
