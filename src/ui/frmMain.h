#pragma once

#include "app/MainWindowPort.h"

#include <QWidget>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QStandardItemModel;
class QStatusBar;
class QTableView;
class QToolBar;
class QTreeView;

namespace tarvik {

class GradientFrame;
class MainProcedures;
class NotesTab;
class TitleBar;
class WindowCommands;

// The main window: banner, menus, toolbar, the two pages and the status bar.
// It holds no logic of its own; the procedures reach its controls through
// MainWindowPort.
class frmMain : public QWidget, public MainWindowPort {
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Prepares the window before it is first shown: the drawn title bar takes
    // over the frame and the " Select File" page is selected.
    virtual void Form_Load();

    // MainWindowPort
    QString databasePath() const override;
    void setDatabasePath(const QString& path) override;
    int selectedPage() const override;
    void selectPage(int page) override;
    void setPageEnabled(int page, bool enabled) override;
    void setScanFrameVisible(bool visible) override;
    void setArrowVisible(ScanArrow arrow, bool visible) override;
    void setFolderNameCaption(const QString& caption) override;
    void setScanButtonEnabled(bool enabled) override;
    void setBrowseButtonEnabled(bool enabled) override;
    void setToolbarButtonEnabled(int index, bool enabled) override;
    int selectedTreeNode() const override;

    // Shows the procedures' folder tree and mail list and forwards the
    // window's events, menus and toolbar to them.
    void connectProcedures(MainProcedures& procedures);

    // The toolbar's button by its index counted from 1 (3 and 5 are separators).
    QAction* toolbarButton(int index) const;
    NotesTab* notesTab() const { return m_tab; }
    QTreeView* contactsTreeView() const { return m_tree; }
    QTableView* mailList() const { return m_mailList; }

private:
    void buildBanner();
    void buildMenus();
    void buildToolbar();
    void buildStatusBar();
    void buildSelectFilePage(QWidget* page);
    void buildPreviewPage(QWidget* page);
    void connectCommands(WindowCommands& commands);

    TitleBar* m_titleBar = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QAction* m_mnuOpen = nullptr;
    QAction* m_mnuExit = nullptr;
    QAction* m_mnuHelp = nullptr;
    QAction* m_mnuAbout = nullptr;
    QToolBar* m_toolBar = nullptr;
    QList<QAction*> m_toolbarButtons;
    NotesTab* m_tab = nullptr;
    QStatusBar* m_statusBar = nullptr;

    QLineEdit* m_path = nullptr;
    QPushButton* m_browse = nullptr;
    QPushButton* m_scan = nullptr;
    GradientFrame* m_scanFrame = nullptr;
    QLabel* m_readingArrow = nullptr;
    QLabel* m_emailsArrow = nullptr;
    QLabel* m_mailFolderArrow = nullptr;
    QLabel* m_folderName = nullptr;
    bool m_folderNameFitPending = false;

    QTreeView* m_tree = nullptr;
    QTableView* m_mailList = nullptr;
    QStandardItemModel* m_treeModel = nullptr;
    QStandardItemModel* m_listModel = nullptr;
    QPushButton* m_startConversion = nullptr;
};

} // namespace tarvik
