#include "Waits.h"

#include "app/SmallIconIndex.h"
#include "ui/NotesTab.h"
#include "ui/SmallIcons.h"
#include "ui/StartUp.h"
#include "ui/frmMain.h"
#include "ui/frmSplash.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTableView>
#include <QTest>
#include <QToolBar>
#include <QToolTip>
#include <QTreeView>

using namespace tarvik;
using tarvik::test::waitPastTicks;

namespace {

// Records the order of the splash's hand-over calls.
class RecordingHost : public SplashHost {
public:
    void showMainWindow() override { calls.append(QStringLiteral("show")); }
    void unloadSplash() override { calls.append(QStringLiteral("unload")); }
    QStringList calls;
};

template <class T>
T* child(QWidget* w, const char* name)
{
    return w->findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mainWindowInitialState();
    void mainWindowControlsAndPlaces();
    void mainWindowMenusToolbarAndStatusBar();
    void mainWindowLists();
    void scanCaptionIsPaintedWhole();
    void smallIcons();
    void timerHandOverShowsThenUnloads();
    void keyHandOverUnloadsThenShows();
    void keysWithoutCharacterAndClicksDoNotEndSplash();
    void keyBeforeFirstTick();
    void keyDuringPauseHandsOverOnce();
};

void TestWindows::mainWindowInitialState()
{
    frmMain w;
    QCOMPARE(w.selectedPage(), 2); // as designed, before the load step
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    QCOMPARE(w.objectName(), QStringLiteral("frmMain"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Veridane Quenbry v1.0 Build 1608"));
    QCOMPARE(w.size(), QSize(696, 622));
    QCOMPARE(w.minimumSize(), w.maximumSize()); // not resizable
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));

    QCOMPARE(w.selectedPage(), 1);
    QVERIFY(w.notesTab()->isPageEnabled(1));
    QVERIFY(w.notesTab()->isPageEnabled(2));
    QVERIFY(child<QWidget>(&w, "ScanFrame")->isHidden());
    QVERIFY(!child<QPushButton>(&w, "CmdScan")->isEnabled());
    QVERIFY(child<QPushButton>(&w, "CmdBrowse")->isEnabled());
    QVERIFY(!w.toolbarButton(2)->isEnabled());
    QVERIFY(!w.toolbarButton(4)->isEnabled());
    QVERIFY(w.toolbarButton(1)->isEnabled());
    QVERIFY(w.toolbarButton(6)->isEnabled());

    auto* path = child<QLineEdit>(&w, "txtNotesDatabaseFile");
    QVERIFY(path->text().isEmpty());
    QVERIFY(path->isReadOnly());
    path->setFocus();
    QTest::keyClicks(path, QStringLiteral("typed"));
    QVERIFY(path->text().isEmpty()); // set only through Browse

    // Inside the hidden frame: the reading arrow is hidden, the others are not.
    QVERIFY(child<QLabel>(&w, "ImgReadingArrow")->isHidden());
    QVERIFY(!child<QLabel>(&w, "ImgEmailsArrow")->isHidden());
    QVERIFY(!child<QLabel>(&w, "ImgMailFolderArrow")->isHidden());
    QVERIFY(child<QLabel>(&w, "LblFolderName")->text().isEmpty());
    QCOMPARE(w.contactsTreeView()->model()->rowCount(), 0);
    QCOMPARE(w.mailList()->model()->rowCount(), 0);

    // The preview page can be opened before any scan and is empty.
    w.selectPage(2);
    QVERIFY(w.contactsTreeView()->isVisible());
    QCOMPARE(w.contactsTreeView()->model()->rowCount(), 0);
}

void TestWindows::mainWindowControlsAndPlaces()
{
    frmMain w;
    w.Form_Load();
    struct Expect {
        const char* name;
        QRect place;
        const char* text;
    };
    const Expect expected[] = {
        {"TitleBar", {0, 0, 696, 30}, nullptr},
        {"Image3", {8, 40, 60, 57}, nullptr},
        {"Label8", {78, 48, 339, 23}, "Quenbry"},
        {"Image2", {-8, 100, 713, 2}, nullptr},
        {"MenuTop", {0, 102, 713, 25}, nullptr},
        {"NotesToolBar", {0, 126, 713, 41}, nullptr},
        {"NotesTab", {10, 176, 681, 417}, nullptr},
        {"StatusBar", {0, 595, 696, 27}, nullptr},
        {"txtNotesDatabaseFile", {16, 64, 417, 25}, ""},
        {"CmdBrowse", {448, 64, 105, 25}, "Browse..."},
        {"CmdScan", {568, 64, 105, 25}, "Start Scan"},
        {"ScanFrame", {16, 120, 649, 233}, nullptr},
        {"LblSupportedVersions",
         {33, 384, 296, 17},
         "Supports Lotus Notes Database 8.0, 7.0, 6.5, 6.0, 5.0"},
        {"Image1", {16, 385, 16, 16}, nullptr},
        {"ImgReadingArrow", {16, 24, 10, 16}, nullptr},
        {"ImgEmailsArrow", {16, 48, 10, 16}, nullptr},
        {"ImgMailFolderArrow", {48, 77, 16, 16}, nullptr},
        {"ContactsTreeView", {16, 64, 185, 297}, nullptr},
        {"MailList", {208, 64, 457, 297}, nullptr},
        {"CmdStartConversion", {280, 379, 121, 25}, "Start Conversion"},
    };
    for (const Expect& e : expected) {
        QWidget* c = child<QWidget>(&w, e.name);
        QVERIFY2(c, e.name);
        QCOMPARE(c->geometry(), e.place);
        if (!e.text)
            continue;
        const QString text = QString::fromUtf8(e.text);
        if (auto* l = qobject_cast<QLabel*>(c))
            QCOMPARE(l->text(), text);
        else if (auto* b = qobject_cast<QPushButton*>(c))
            QCOMPARE(b->text(), text);
        else if (auto* t = qobject_cast<QLineEdit*>(c))
            QCOMPARE(t->text(), text);
    }
    const struct {
        const char* name;
        QPoint at;
        const char* text;
    } labels[] = {
        {"Label7", {79, 38}, "Veridane"},
        {"Label9", {80, 72}, "Migrate Lotus Notes Emails to Outlook Express"},
        {"Label3", {16, 48}, "Select Lotus Notes Database (.nsf)"},
        {"Label10", {40, 24}, "Reading Lotus Notes Mailbox..."},
        {"Label1", {40, 48}, "Scanning Mails..."},
        {"Label2", {72, 77}, "Scanning Folder..."},
        {"LblFolderName", {72, 104}, ""},
    };
    for (const auto& l : labels) {
        auto* c = child<QLabel>(&w, l.name);
        QVERIFY2(c, l.name);
        QCOMPARE(c->pos(), l.at);
        QCOMPARE(c->text(), QString::fromUtf8(l.text));
    }
    // Labels inside the scan frame belong to it, not to the page.
    QCOMPARE(child<QLabel>(&w, "Label10")->parentWidget()->objectName(),
             QStringLiteral("ScanFrame"));
    QCOMPARE(qobject_cast<GradientFrame*>(child<QWidget>(&w, "ScanFrame"))->caption(),
             QStringLiteral(" Scan Details"));

    QCOMPARE(w.notesTab()->tabBar()->tabText(0), QStringLiteral(" Select File"));
    QCOMPARE(w.notesTab()->tabBar()->tabText(1), QStringLiteral(" Emails Preview"));
    QCOMPARE(w.notesTab()->tabBar()->tabRect(0).height(), 22);
    QVERIFY(!w.notesTab()->tabBar()->tabIcon(1).isNull());

    QCOMPARE(w.font().family(), QFont(QStringLiteral("Tahoma")).family());
    QCOMPARE(w.font().pointSizeF(), 8.25);
    const QFont title = child<QLabel>(&w, "Label8")->font();
    QVERIFY(title.bold());
    QCOMPARE(title.pointSizeF(), 14.25);
    QCOMPARE(child<QLabel>(&w, "Label8")->palette().color(QPalette::WindowText), QColor(0, 0, 128));
}

void TestWindows::mainWindowMenusToolbarAndStatusBar()
{
    frmMain w;
    auto* bar = child<QMenuBar>(&w, "MenuTop");
    const QList<QAction*> tops = bar->actions();
    QCOMPARE(tops.size(), 2);
    QCOMPARE(tops.at(0)->text(), QStringLiteral("&File "));
    QCOMPARE(tops.at(1)->text(), QStringLiteral("&Help "));
    QCOMPARE(tops.at(0)->menu()->objectName(), QStringLiteral("mnuFileTop"));
    QCOMPARE(tops.at(1)->menu()->objectName(), QStringLiteral("mnuHelpTop"));

    const QList<QAction*> file = tops.at(0)->menu()->actions();
    QCOMPARE(file.size(), 3);
    QCOMPARE(file.at(0)->objectName(), QStringLiteral("mnuOpen"));
    QCOMPARE(file.at(0)->text(), QStringLiteral("&Open..."));
    QCOMPARE(file.at(0)->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QVERIFY(!file.at(0)->icon().isNull());
    QVERIFY(file.at(1)->isSeparator());
    QCOMPARE(file.at(1)->objectName(), QStringLiteral("mnuSep1"));
    QCOMPARE(file.at(2)->objectName(), QStringLiteral("mnuExit"));
    QCOMPARE(file.at(2)->text(), QStringLiteral("E&xit"));

    const QList<QAction*> help = tops.at(1)->menu()->actions();
    QCOMPARE(help.size(), 2);
    QCOMPARE(help.at(0)->objectName(), QStringLiteral("mnuHelp"));
    QCOMPARE(help.at(0)->text(), QStringLiteral("Contents"));
    QCOMPARE(help.at(1)->objectName(), QStringLiteral("mnuAbout"));
    QCOMPARE(help.at(1)->text(), QStringLiteral("&About..."));

    const QStringList captions = {
        QStringLiteral("Open"),   QString(), QStringLiteral("Scan"), QString(),
        QStringLiteral("Export"), QString(), QStringLiteral("Help")};
    QCOMPARE(w.toolbarButton(1)->text(), QStringLiteral("Open"));
    QCOMPARE(w.toolbarButton(2)->text(), QStringLiteral("Scan"));
    QVERIFY(w.toolbarButton(3)->isSeparator());
    QCOMPARE(w.toolbarButton(4)->text(), QStringLiteral("Export"));
    QVERIFY(w.toolbarButton(5)->isSeparator());
    QCOMPARE(w.toolbarButton(6)->text(), QStringLiteral("Help"));
    QCOMPARE(w.toolbarButton(7), nullptr);
    // No button shows a tool tip, not even its caption when asked for one.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* toolBar = child<QToolBar>(&w, "NotesToolBar");
    for (int i : {1, 2, 4, 6}) {
        QVERIFY(!w.toolbarButton(i)->icon().isNull());
        QWidget* button = toolBar->widgetForAction(w.toolbarButton(i));
        QVERIFY(button);
        const QPoint centre = button->rect().center();
        QHelpEvent ask(QEvent::ToolTip, centre, button->mapToGlobal(centre));
        QApplication::sendEvent(button, &ask);
        QVERIFY2(!QToolTip::isVisible(), qPrintable(QToolTip::text()));
    }
    QCOMPARE(child<QToolBar>(&w, "NotesToolBar")->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);

    auto* p1 = child<QLabel>(&w, "StatusBarPanel1");
    auto* p2 = child<QLabel>(&w, "StatusBarPanel2");
    auto* p3 = child<QLabel>(&w, "StatusBarPanel3");
    QCOMPARE(p1->text(), QStringLiteral("Veridane Software"));
    QVERIFY(p2->text().startsWith(QStringLiteral("Email: ")));
    QVERIFY(p2->text().endsWith(QStringLiteral(".example.com")));
    QVERIFY(p3->text().contains(QStringLiteral("example.com")));
    QCOMPARE(p1->width(), 150);
    QCOMPARE(p2->width(), 200);
    QCOMPARE(p3->width(), 400);
    QVERIFY(child<QStatusBar>(&w, "StatusBar")->isSizeGripEnabled());
}

void TestWindows::mainWindowLists()
{
    frmMain w;
    QTableView* list = w.mailList();
    const QStringList headers = {QStringLiteral("From/To"), QStringLiteral("Subject"),
                                 QStringLiteral("Size"), QStringLiteral("Date")};
    const int widths[] = {150, 240, 52, 150};
    for (int c = 0; c < 4; ++c) {
        QCOMPARE(list->model()->headerData(c, Qt::Horizontal).toString(), headers.at(c));
        QCOMPARE(list->columnWidth(c), widths[c]);
    }
    QCOMPARE(list->model()->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).toInt() &
                 Qt::AlignRight,
             int(Qt::AlignRight));
    QVERIFY(list->showGrid());
    QVERIFY(list->alternatingRowColors());
    QCOMPARE(list->verticalHeader()->defaultSectionSize(), 21);
    QCOMPARE(list->iconSize(), QSize(16, 16));
    QCOMPARE(w.contactsTreeView()->model()->headerData(0, Qt::Horizontal).toString(),
             QStringLiteral("Notes Database"));
    QCOMPARE(w.contactsTreeView()->frameShape(), QFrame::NoFrame);
}

void TestWindows::scanCaptionIsPaintedWhole()
{
    frmMain w;
    w.Form_Load();
    w.setScanFrameVisible(true);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto* caption = child<QLabel>(&w, "LblFolderName");
    // What the window has painted (its backing store) of the caption's place,
    // against the caption as it is now.
    auto paintedWhole = [&] {
        const QRect place(caption->mapTo(&w, QPoint(0, 0)), caption->size());
        const QImage painted =
            w.screen()->grabWindow(w.winId()).toImage().copy(place).convertToFormat(
                QImage::Format_RGB32);
        const QImage now = w.grab(place).toImage().convertToFormat(QImage::Format_RGB32);
        return painted == now;
    };

    // Every paint of the caption is at its text's size: never a text cut short or
    // drawn in the place of the one before.
    struct PaintWatch : QObject {
        bool eventFilter(QObject* watched, QEvent* event) override
        {
            auto* label = static_cast<QLabel*>(watched);
            if (event->type() == QEvent::Paint) {
                ++paints;
                if (label->size() != label->sizeHint())
                    misfits.append(label->text());
            }
            return false;
        }
        int paints = 0;
        QStringList misfits;
    } watch;
    caption->installEventFilter(&watch);

    // Many changes between two paints, as a scan makes them: the last one is
    // painted, at its text's size.
    const QStringList captions = {QStringLiteral("A"), QStringLiteral("Projects (12 Emails)"),
                                  QStringLiteral("B (1 Emails)"),
                                  QStringLiteral("A much longer folder name than before (123456 "
                                                 "Emails)")};
    for (const QString& text : captions) {
        w.setFolderNameCaption(text);
        QCOMPARE(caption->text(), text);
    }
    QCoreApplication::processEvents();
    QCOMPARE(caption->size(), caption->sizeHint());
    QVERIFY(paintedWhole());

    // Then a shorter one, alone.
    w.setFolderNameCaption(QStringLiteral("Inbox (3 Emails)"));
    QCoreApplication::processEvents();
    QCOMPARE(caption->size(), caption->sizeHint());
    QVERIFY(paintedWhole());
    QVERIFY(watch.paints >= 2);
    QCOMPARE(watch.misfits, QStringList());
}

void TestWindows::smallIcons()
{
    const SmallIcons& icons = tarvik::smallIcons();
    QCOMPARE(icons.count(), 72);
    for (int i = 0; i < icons.count(); ++i)
        QCOMPARE(icons.pixmap(i).size(), QSize(16, 16));
    const struct {
        int number;
        const char* key;
    } keys[] = {{1, "Notesico"}, {54, "Contact"}, {55, "264"},      {56, "tasks"},
                {57, "mail"},    {58, "cal"},     {59, "contacts"}, {60, "journal"},
                {61, "Help"},    {62, "Load"},    {63, "OpenFile"}, {64, "Preview"},
                {65, "Abouts"},  {66, "drafts"},  {67, "trash"},    {68, "inbox"},
                {69, "junk"},    {70, "outbox"},  {71, "email"},    {72, "follow-up"}};
    for (const auto& k : keys)
        QCOMPARE(icons.indexOf(QString::fromLatin1(k.key)), k.number - 1);
    QVERIFY(icons.key(1).isEmpty());
    QCOMPARE(icons.key(icon::Inbox), QStringLiteral("inbox"));
    QCOMPARE(icons.key(icon::Mail), QStringLiteral("mail"));

    // The pictures the tree and list show must be told apart.
    const int used[] = {icon::Notesico, icon::Inbox, icon::Drafts, icon::Outbox, icon::FollowUp,
                        icon::Junk,     icon::Trash, icon::Email,  icon::Mail};
    for (int a : used)
        for (int b : used)
            if (a != b)
                QVERIFY2(icons.pixmap(a).toImage() != icons.pixmap(b).toImage(),
                         qPrintable(icons.key(a) + QLatin1Char('/') + icons.key(b)));
}

void TestWindows::timerHandOverShowsThenUnloads()
{
    RecordingHost host;
    int paused = 0;
    frmSplash splash(host, 4000, [&](int ms) {
        paused = ms;
        QCOMPARE(host.calls.size(), 0);
    });
    QCOMPARE(splash.size(), QSize(541, 209));
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(splash.timer().interval(), 10);
    splash.show();
    QVERIFY(splash.timer().isActive());
    QTRY_COMPARE(host.calls.size(), 2);
    QCOMPARE(paused, 4000);
    QCOMPARE(host.calls, (QStringList{QStringLiteral("show"), QStringLiteral("unload")}));
    QVERIFY(!splash.timer().isActive());
    QVERIFY(waitPastTicks(splash.timer(), 3));
    QCOMPARE(host.calls.size(), 2); // runs once
}

void TestWindows::keyHandOverUnloadsThenShows()
{
    RecordingHost host;
    frmSplash splash(host, 4000, [](int) {});
    splash.timer().stop();
    QTest::keyClick(&splash, Qt::Key_A);
    QCOMPARE(host.calls, (QStringList{QStringLiteral("unload"), QStringLiteral("show")}));
    host.calls.clear();
    QTest::keyClick(&splash, Qt::Key_Return); // Enter produces a character code too
    QCOMPARE(host.calls.size(), 2);
}

void TestWindows::keysWithoutCharacterAndClicksDoNotEndSplash()
{
    RecordingHost host;
    frmSplash splash(host, 4000, [](int) {});
    splash.show();
    splash.timer().stop();
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_F1, Qt::Key_Shift, Qt::Key_Control, Qt::Key_PageDown})
        QTest::keyClick(&splash, key);
    QTest::mouseClick(&splash, Qt::LeftButton);
    QTest::mouseClick(&splash, Qt::RightButton);
    QVERIFY(host.calls.isEmpty());
}

void TestWindows::keyBeforeFirstTick()
{
    StartUp startUp([] { return std::make_unique<frmMain>(); }, 4000,
                    [](int) { QFAIL("the timer must not run after the key ended the splash"); });
    startUp.start();
    QTest::keyClick(startUp.splash(), Qt::Key_X);
    QVERIFY(startUp.mainWindow());
    QVERIFY(startUp.mainWindow()->isVisible());
    QCOMPARE(startUp.mainWindow()->selectedPage(), 1);
    QVERIFY(!startUp.splash()->isVisible());
    QVERIFY(waitPastTicks(startUp.splash()->timer(), 3));
    QCOMPARE(startUp.mainWindowShows(), 1);
    QCOMPARE(startUp.splashUnloads(), 1);
}

void TestWindows::keyDuringPauseHandsOverOnce()
{
    bool pauseEnded = false;
    bool handedOverDuringPause = false;
    std::unique_ptr<StartUp> startUp;
    startUp = std::make_unique<StartUp>([] { return std::make_unique<frmMain>(); }, 300,
                                        [&](int ms) {
                                            // The pause keeps the splash painted and lets a
                                            // character key through.
                                            QTimer::singleShot(50, [&] {
                                                QVERIFY(startUp->splash()->isVisible());
                                                QTest::keyClick(startUp->splash(), Qt::Key_Space);
                                                handedOverDuringPause =
                                                    !pauseEnded && startUp->mainWindow() &&
                                                    startUp->mainWindow()->isVisible() &&
                                                    !startUp->splash()->isVisible();
                                            });
                                            frmSplash::eventLoopPause()(ms);
                                            pauseEnded = true;
                                        });
    startUp->start();
    QTRY_VERIFY(pauseEnded);
    QVERIFY(handedOverDuringPause);
    QVERIFY(waitPastTicks(startUp->splash()->timer(), 3));
    // The rest of the timer's step found the work done and changed nothing.
    QCOMPARE(startUp->mainWindowShows(), 1);
    QCOMPARE(startUp->splashUnloads(), 1);
    QVERIFY(startUp->mainWindow()->isVisible());
    QVERIFY(!startUp->splash()->isVisible());
    QCOMPARE(startUp->mainWindow()->selectedPage(), 1);
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
