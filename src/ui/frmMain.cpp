#include "ui/frmMain.h"

#include "app/FolderTree.h"
#include "app/MainProcedures.h"
#include "app/WindowCommands.h"
#include "base/AppIdentity.h"
#include "ui/Artwork.h"
#include "ui/FittedTreeView.h"
#include "ui/IconProxy.h"
#include "ui/NotesTab.h"
#include "ui/SmallIcons.h"
#include "ui/TitleBar.h"

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QTreeView>

namespace tarvik {

namespace {

constexpr int kWidth = 696;
constexpr int kHeight = 622;

// Image numbers (from 0) of the pictures the toolbar and buttons take from the
// image list.
constexpr int kHelpImage = 60;
constexpr int kLoadImage = 61;
constexpr int kOpenFileImage = 62;
constexpr int kPreviewImage = 63;
constexpr int kAboutImage = 64;

// Swallows the tool-tip requests of the widgets it watches. A tool button
// without a tool tip of its own shows its caption as one; the toolbar's
// buttons show none at all.
class NoToolTip : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        return event->type() == QEvent::ToolTip || QObject::eventFilter(watched, event);
    }
};

const QString headerStyle = QStringLiteral(
    "QHeaderView::section{color:white;font-weight:bold;padding-left:4px;border:none;"
    "border-right:1px solid #6f8fd0;"
    "background:qlineargradient(x1:0,y1:0,x2:0,y2:1,stop:0 #3a6fd0,stop:1 #0f3a8a);}");

QLabel* label(QWidget* parent, const QString& name, const QString& text, int x, int y,
              const QFont& font = art::tahoma())
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setFont(font);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLabel* picture(QWidget* parent, const QString& name, const QPixmap& pm, const QRect& place)
{
    auto* l = new QLabel(parent);
    l->setObjectName(name);
    l->setPixmap(pm);
    l->setGeometry(place);
    return l;
}

QPushButton* button(QWidget* parent, const QString& name, const QString& text, const QRect& place,
                    const QIcon& icon = {})
{
    auto* b = new QPushButton(icon, text, parent);
    b->setObjectName(name);
    b->setGeometry(place);
    return b;
}

} // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(identity::mainCaption);
    setWindowIcon(art::productIcon());
    setFont(art::tahoma());
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    m_titleBar = new TitleBar(this);
    m_titleBar->setGeometry(0, 0, kWidth, 30);

    buildBanner();
    buildMenus();
    buildToolbar();

    m_tab = new NotesTab({64, 106}, 22, this);
    m_tab->setObjectName(QStringLiteral("NotesTab"));
    m_tab->setGeometry(10, 176, 681, 417);
    buildSelectFilePage(m_tab->addPage(QStringLiteral(" Select File")));
    buildPreviewPage(
        m_tab->addPage(QStringLiteral(" Emails Preview"), smallIcons().icon(kPreviewImage)));
    // The window is designed with the preview page selected; Form_Load turns
    // to the first page.
    m_tab->selectPage(2);

    buildStatusBar();
}

frmMain::~frmMain() = default;

void frmMain::buildBanner()
{
    picture(this, QStringLiteral("Image3"), art::productLogo(QSize(60, 57)), QRect(8, 40, 60, 57));
    label(this, QStringLiteral("Label7"), identity::vendor, 79, 38, art::verdana(8.25, true));
    auto* title = label(this, QStringLiteral("Label8"), identity::applicationTitle, 78, 48,
                        art::verdana(14.25, true));
    title->setGeometry(78, 48, 339, 23);
    QPalette pal = title->palette();
    pal.setColor(QPalette::WindowText, art::darkBlue());
    title->setPalette(pal);
    label(this, QStringLiteral("Label9"),
          QStringLiteral("Migrate Lotus Notes Emails to Outlook Express"), 80, 72);
    auto* rule = new GradientRule(this);
    rule->setObjectName(QStringLiteral("Image2"));
    rule->setGeometry(-8, 100, 713, 2);
}

void frmMain::buildMenus()
{
    const SmallIcons& icons = smallIcons();
    m_menuBar = new QMenuBar(this);
    m_menuBar->setObjectName(QStringLiteral("MenuTop"));
    m_menuBar->setNativeMenuBar(false);
    m_menuBar->setGeometry(0, 102, 713, 25);

    QMenu* file = m_menuBar->addMenu(QStringLiteral("&File "));
    file->setObjectName(QStringLiteral("mnuFileTop"));
    m_mnuOpen = file->addAction(icons.icon(kOpenFileImage), QStringLiteral("&Open..."));
    m_mnuOpen->setObjectName(QStringLiteral("mnuOpen"));
    m_mnuOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    m_mnuOpen->setShortcutContext(Qt::WindowShortcut);
    addAction(m_mnuOpen); // the shortcut works while the menu is closed
    QAction* sep = file->addSeparator();
    sep->setObjectName(QStringLiteral("mnuSep1"));
    m_mnuExit = file->addAction(art::productIcon(), QStringLiteral("E&xit"));
    m_mnuExit->setObjectName(QStringLiteral("mnuExit"));

    QMenu* help = m_menuBar->addMenu(QStringLiteral("&Help "));
    help->setObjectName(QStringLiteral("mnuHelpTop"));
    m_mnuHelp = help->addAction(icons.icon(kHelpImage), QStringLiteral("Contents"));
    m_mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    m_mnuAbout = help->addAction(icons.icon(kAboutImage), QStringLiteral("&About..."));
    m_mnuAbout->setObjectName(QStringLiteral("mnuAbout"));
}

void frmMain::buildToolbar()
{
    const SmallIcons& icons = smallIcons();
    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("NotesToolBar"));
    m_toolBar->setGeometry(0, 126, 713, 41);
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);

    auto* noToolTip = new NoToolTip(m_toolBar);
    auto add = [this, noToolTip](const QIcon& icon, const QString& caption, int index) {
        QAction* a = m_toolBar->addAction(icon, caption);
        a->setObjectName(QStringLiteral("NotesToolBarButton%1").arg(index));
        m_toolBar->widgetForAction(a)->installEventFilter(noToolTip);
        m_toolbarButtons.append(a);
    };
    auto separator = [this](int index) {
        QAction* a = m_toolBar->addSeparator();
        a->setObjectName(QStringLiteral("NotesToolBarButton%1").arg(index));
        m_toolbarButtons.append(a);
    };
    add(QIcon(art::folder()), QStringLiteral("Open"), 1);
    add(icons.icon(kPreviewImage), QStringLiteral("Scan"), 2);
    separator(3);
    add(icons.icon(kLoadImage), QStringLiteral("Export"), 4);
    separator(5);
    add(icons.icon(kHelpImage), QStringLiteral("Help"), 6);
    m_toolbarButtons.at(1)->setEnabled(false);
    m_toolbarButtons.at(3)->setEnabled(false);
}

void frmMain::buildStatusBar()
{
    m_statusBar = new QStatusBar(this);
    m_statusBar->setObjectName(QStringLiteral("StatusBar"));
    m_statusBar->setGeometry(0, 595, kWidth, 27);
    m_statusBar->setSizeGripEnabled(true);
    m_statusBar->setStyleSheet(
        QStringLiteral("QStatusBar{background:rgb(234,234,227);}"
                       "QStatusBar::item{border:none;border-right:1px solid #a0a09a;}"));
    auto panel = [this](int width, const QString& text, const QString& style) {
        auto* l = new QLabel(text, m_statusBar);
        l->setFixedWidth(width);
        l->setStyleSheet(style);
        m_statusBar->addWidget(l);
        return l;
    };
    panel(150, QStringLiteral("Veridane Software"), QStringLiteral("font-weight:bold;"))
        ->setObjectName(QStringLiteral("StatusBarPanel1"));
    panel(200, QStringLiteral("Email: ") + identity::supportEmail, QString())
        ->setObjectName(QStringLiteral("StatusBarPanel2"));
    panel(400, identity::webAddress, QStringLiteral("font-weight:bold;color:blue;"))
        ->setObjectName(QStringLiteral("StatusBarPanel3"));
}

void frmMain::buildSelectFilePage(QWidget* page)
{
    const SmallIcons& icons = smallIcons();
    label(page, QStringLiteral("Label3"), QStringLiteral("Select Lotus Notes Database (.nsf)"), 16,
          48);
    m_path = new QLineEdit(page);
    m_path->setObjectName(QStringLiteral("txtNotesDatabaseFile"));
    m_path->setGeometry(16, 64, 417, 25);
    m_path->setReadOnly(true);
    m_browse = button(page, QStringLiteral("CmdBrowse"), QStringLiteral("Browse..."),
                      QRect(448, 64, 105, 25), icons.icon(kOpenFileImage));
    m_scan = button(page, QStringLiteral("CmdScan"), QStringLiteral("Start Scan"),
                    QRect(568, 64, 105, 25), icons.icon(kPreviewImage));
    m_scan->setEnabled(false);

    m_scanFrame = new GradientFrame(QStringLiteral(" Scan Details"), page);
    m_scanFrame->setObjectName(QStringLiteral("ScanFrame"));
    m_scanFrame->setGeometry(16, 120, 649, 233);
    m_readingArrow = picture(m_scanFrame, QStringLiteral("ImgReadingArrow"), art::arrow(),
                             QRect(16, 24, 10, 16));
    m_readingArrow->setVisible(false);
    label(m_scanFrame, QStringLiteral("Label10"), QStringLiteral("Reading Lotus Notes Mailbox..."),
          40, 24);
    m_emailsArrow =
        picture(m_scanFrame, QStringLiteral("ImgEmailsArrow"), art::arrow(), QRect(16, 48, 10, 16));
    label(m_scanFrame, QStringLiteral("Label1"), QStringLiteral("Scanning Mails..."), 40, 48);
    m_mailFolderArrow = picture(m_scanFrame, QStringLiteral("ImgMailFolderArrow"), art::folder(),
                                QRect(48, 77, 16, 16));
    label(m_scanFrame, QStringLiteral("Label2"), QStringLiteral("Scanning Folder..."), 72, 77);
    m_folderName = label(m_scanFrame, QStringLiteral("LblFolderName"), QString(), 72, 104);
    m_scanFrame->setVisible(false);

    label(page, QStringLiteral("LblSupportedVersions"),
          QStringLiteral("Supports Lotus Notes Database 8.0, 7.0, 6.5, 6.0, 5.0"), 33, 384)
        ->setGeometry(33, 384, 296, 17);
    picture(page, QStringLiteral("Image1"), art::database(), QRect(16, 385, 16, 16));
}

void frmMain::buildPreviewPage(QWidget* page)
{
    m_treeModel = new QStandardItemModel(0, 1, this);
    m_treeModel->setHorizontalHeaderLabels({QStringLiteral("Notes Database")});
    // Long folder names widen the column and the tree scrolls sideways.
    m_tree = new FittedTreeView(page);
    m_tree->setObjectName(QStringLiteral("ContactsTreeView"));
    m_tree->setGeometry(16, 64, 185, 297);
    m_tree->setModel(m_treeModel);
    m_tree->setFrameShape(QFrame::NoFrame);
    m_tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tree->setIconSize(QSize(16, 16));
    m_tree->header()->setStyleSheet(headerStyle);

    m_listModel = new QStandardItemModel(0, 4, this);
    m_listModel->setHorizontalHeaderLabels({QStringLiteral("From/To"), QStringLiteral("Subject"),
                                            QStringLiteral("Size"), QStringLiteral("Date")});
    m_listModel->setHeaderData(2, Qt::Horizontal, int(Qt::AlignRight | Qt::AlignVCenter),
                               Qt::TextAlignmentRole);
    m_mailList = new QTableView(page);
    m_mailList->setObjectName(QStringLiteral("MailList"));
    m_mailList->setGeometry(208, 64, 457, 297);
    m_mailList->setModel(m_listModel);
    m_mailList->setFont(art::msSansSerif());
    m_mailList->setShowGrid(true);
    m_mailList->setAlternatingRowColors(true);
    m_mailList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_mailList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_mailList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_mailList->setWordWrap(false);
    m_mailList->setIconSize(QSize(16, 16));
    m_mailList->verticalHeader()->hide();
    m_mailList->verticalHeader()->setMinimumSectionSize(1);
    m_mailList->verticalHeader()->setDefaultSectionSize(21);
    m_mailList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_mailList->horizontalHeader()->setStyleSheet(headerStyle);
    m_mailList->horizontalHeader()->setHighlightSections(false);
    const int widths[] = {150, 240, 52, 150};
    for (int c = 0; c < 4; ++c)
        m_mailList->setColumnWidth(c, widths[c]);

    m_startConversion = button(page, QStringLiteral("CmdStartConversion"),
                               QStringLiteral("Start Conversion"), QRect(280, 379, 121, 25));
    auto* line = new QFrame(page);
    line->setObjectName(QStringLiteral("Line1"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setStyleSheet(QStringLiteral("color:#a0a0a0;"));
    line->setGeometry(16, 368, 649, 1);
}

void frmMain::Form_Load()
{
    m_titleBar->attach(this, true);
    m_titleBar->setMaximizeDisabled(true);
    m_tab->selectPage(1);
}

QString frmMain::databasePath() const
{
    return m_path->text();
}

void frmMain::setDatabasePath(const QString& path)
{
    m_path->setText(path);
}

int frmMain::selectedPage() const
{
    return m_tab->selectedPage();
}

void frmMain::selectPage(int page)
{
    m_tab->selectPage(page);
}

void frmMain::setPageEnabled(int page, bool enabled)
{
    m_tab->setPageEnabled(page, enabled);
}

void frmMain::setScanFrameVisible(bool visible)
{
    m_scanFrame->setVisible(visible);
}

void frmMain::setArrowVisible(ScanArrow arrow, bool visible)
{
    switch (arrow) {
    case ScanArrow::Reading:
        m_readingArrow->setVisible(visible);
        break;
    case ScanArrow::Emails:
        m_emailsArrow->setVisible(visible);
        break;
    case ScanArrow::MailFolder:
        m_mailFolderArrow->setVisible(visible);
        break;
    }
}

void frmMain::setFolderNameCaption(const QString& caption)
{
    m_folderName->setText(caption);
    // The scan changes the caption twice per folder, the window is painted at most
    // every 40 ms meanwhile, and measuring a text takes longer than counting a
    // folder's mails: the label takes its text's size once before it is next
    // painted (a queued call comes before the window's paint request), not at every
    // change.
    if (!m_folderNameFitPending) {
        m_folderNameFitPending = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_folderNameFitPending = false;
                m_folderName->adjustSize();
            },
            Qt::QueuedConnection);
    }
}

void frmMain::setScanButtonEnabled(bool enabled)
{
    m_scan->setEnabled(enabled);
}

void frmMain::setBrowseButtonEnabled(bool enabled)
{
    m_browse->setEnabled(enabled);
}

void frmMain::setToolbarButtonEnabled(int index, bool enabled)
{
    if (QAction* a = toolbarButton(index))
        a->setEnabled(enabled);
}

int frmMain::selectedTreeNode() const
{
    const QModelIndex current = m_tree->currentIndex();
    const QVariant node = current.isValid() ? current.data(role::NodeIndex) : QVariant();
    return node.isValid() ? node.toInt() : -1;
}

void frmMain::connectProcedures(MainProcedures& procedures)
{
    auto* treeProxy = new IconProxy(this);
    treeProxy->setSourceModel(&procedures.tree);
    m_tree->setModel(treeProxy);
    // Every folder is shown as soon as it is added.
    connect(treeProxy, &QAbstractItemModel::rowsInserted, m_tree,
            [this](const QModelIndex& parent) { m_tree->expand(parent); });

    auto* listProxy = new IconProxy(this);
    listProxy->setSourceModel(&procedures.mailList);
    m_mailList->setModel(listProxy);
    const int widths[] = {150, 240, 52, 150};
    for (int c = 0; c < 4; ++c)
        m_mailList->setColumnWidth(c, widths[c]);

    connect(m_browse, &QPushButton::clicked, this,
            [&procedures] { procedures.scan.CmdBrowse_Click(); });
    connect(m_scan, &QPushButton::clicked, this,
            [&procedures] { procedures.scan.CmdScan_Click(); });
    connect(m_tree, &QTreeView::clicked, this,
            [&procedures] { procedures.preview.ContactsTreeView_Click(); });
    connect(m_startConversion, &QPushButton::clicked, this,
            [&procedures] { procedures.exportSetup.CmdStartConversion_Click(); });
    connectCommands(procedures.commands);
}

void frmMain::connectCommands(WindowCommands& commands)
{
    // The menu items are single members of menu arrays; each passes its index.
    connect(m_mnuOpen, &QAction::triggered, this, [&commands] { commands.mnuOpen_Click(0); });
    connect(m_mnuExit, &QAction::triggered, this, [&commands] { commands.mnuExit_Click(); });
    connect(m_mnuHelp, &QAction::triggered, this, [&commands] { commands.mnuHelp_Click(0); });
    connect(m_mnuAbout, &QAction::triggered, this, [&commands] { commands.mnuAbout_Click(1); });
    // A disabled button triggers nothing, so Scan and Export act only once
    // the scan has enabled them.
    for (int index = 1; index <= m_toolbarButtons.size(); ++index) {
        QAction* button = m_toolbarButtons.at(index - 1);
        if (button->isSeparator())
            continue;
        connect(button, &QAction::triggered, this, [&commands, index, button] {
            commands.NotesToolBar_ButtonClick(index, button->text());
        });
    }
}

QAction* frmMain::toolbarButton(int index) const
{
    return index >= 1 && index <= m_toolbarButtons.size() ? m_toolbarButtons.at(index - 1)
                                                          : nullptr;
}

} // namespace tarvik
