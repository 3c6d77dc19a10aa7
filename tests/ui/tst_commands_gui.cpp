#include "ScriptedWindow.h"
#include "StoreFixture.h"

#include "app/AppContext.h"
#include "app/FolderTree.h"
#include "app/MainProcedures.h"
#include "base/Platform.h"
#include "ui/DesktopServices.h"
#include "ui/MainWindow.h"
#include "ui/QtPorts.h"
#include "ui/frmAbout.h"
#include "ui/frmMain.h"
#include "ui/frmSave.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// The real window with the procedures behind it and scripted dialogs.
struct Window : ScriptedWindow {
    explicit Window(AppContext& context) : ScriptedWindow(context)
    {
        windows.folder = QStringLiteral("/opt/tarvik");
        Form_Load();
        show();
    }
    QAction* menuItem(const char* name) { return findChild<QAction*>(QLatin1String(name)); }
    QToolButton* toolButton(int index)
    {
        auto* bar = findChild<QToolBar*>(QStringLiteral("NotesToolBar"));
        return qobject_cast<QToolButton*>(bar->widgetForAction(toolbarButton(index)));
    }
    // Everything the commands can open, one entry per opening.
    int opened() const
    {
        return int(dialogs.messages.size() + dialogs.fileFilters.size() +
                   dialogs.folderTitles.size() + help.shown.size()) +
               windows.aboutShows + windows.saveWindowShows + windows.quits;
    }
};

// Runs check on the modal window that action opens, while it is open. A
// window that a failed check left open is closed (a question answered No).
template <class Check>
void whileModal(QAction* action, Check check)
{
    QTimer::singleShot(0, action, [check] {
        QPointer<QWidget> modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        check(modal.data());
        if (modal && modal->isVisible()) {
            if (auto* box = qobject_cast<QMessageBox*>(modal.data()))
                box->button(QMessageBox::No)->click();
            else
                modal->close();
        }
    });
    action->trigger();
}

} // namespace

class TestCommandsGui : public QObject {
    Q_OBJECT

public Q_SLOTS:
    void openUrl(const QUrl& url) { m_openedUrls.append(url); }

private Q_SLOTS:
    void menusShortcutAndToolbarReachTheCommands();
    void disabledToolbarButtonsDoNothing();
    void titleBarCloseAsksNothing();
    void helpViewerChoices_data();
    void helpViewerChoices();
    void aboutWindowIsModalAndNew();
    void exportWindowIsModal();
    void exitQuestionNo();
    // Ends the application's event loops for good: keep it last.
    void exitQuestionYesEndsTheRun();

private:
    QList<QUrl> m_openedUrls;
};

void TestCommandsGui::menusShortcutAndToolbarReachTheCommands()
{
    AppContext context;
    Window w(context);
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    // Four ways to choose the database, each one file dialog.
    w.dialogs.fileAnswers = {QStringLiteral("/a.nsf"), QStringLiteral("/b.nsf"),
                             QStringLiteral("/c.nsf"), QStringLiteral("/d.nsf")};
    w.menuItem("mnuOpen")->trigger();
    QCOMPARE(w.databasePath(), QStringLiteral("/a.nsf"));
    QTest::keyClick(&w, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(w.databasePath(), QStringLiteral("/b.nsf"));
    QTest::mouseClick(w.toolButton(1), Qt::LeftButton);
    QCOMPARE(w.databasePath(), QStringLiteral("/c.nsf"));
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdBrowse")), Qt::LeftButton);
    QCOMPARE(w.databasePath(), QStringLiteral("/d.nsf"));
    QCOMPARE(w.dialogs.fileFilters.size(), 4);
    QCOMPARE(w.opened(), 4);

    w.menuItem("mnuHelp")->trigger();
    QTest::mouseClick(w.toolButton(6), Qt::LeftButton);
    const QString help = QStringLiteral("/opt/tarvik/Help.chm");
    QCOMPARE(w.help.shown, (QStringList{help, help}));

    w.menuItem("mnuAbout")->trigger();
    QCOMPARE(w.windows.aboutShows, 1);

    w.dialogs.answers = {MessageAnswer::No};
    w.menuItem("mnuExit")->trigger();
    QCOMPARE(w.dialogs.messages.size(), 1);
    QCOMPARE(w.windows.quits, 0);
    w.dialogs.answers = {MessageAnswer::Yes};
    w.menuItem("mnuExit")->trigger();
    QCOMPARE(w.windows.quits, 1);
    QCOMPARE(w.opened(), 4 + 2 + 1 + 2 + 1);
}

void TestCommandsGui::disabledToolbarButtonsDoNothing()
{
    StoreFixture fx;
    AppContext context;
    Window w(context);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.toolbarButton(3)->isSeparator());
    QVERIFY(w.toolbarButton(5)->isSeparator());

    for (int index : {2, 4}) {
        QVERIFY(!w.toolbarButton(index)->isEnabled());
        QTest::mouseClick(w.toolButton(index), Qt::LeftButton);
        w.toolbarButton(index)->trigger();
    }
    QCOMPARE(w.opened(), 0);

    // Enabled by a chosen path and by a scan, the same buttons act.
    w.dialogs.fileAnswers = {fx.buildSample()};
    QTest::mouseClick(w.toolButton(1), Qt::LeftButton);
    QVERIFY(w.toolbarButton(2)->isEnabled());
    QTest::mouseClick(w.toolButton(2), Qt::LeftButton);
    QVERIFY(w.procedures.tree.nodeCount() > 8);
    QCOMPARE(w.selectedPage(), 2);
    QVERIFY(w.toolbarButton(4)->isEnabled());
    QTest::mouseClick(w.toolButton(4), Qt::LeftButton);
    QCOMPARE(w.dialogs.folderTitles, QStringList{QStringLiteral("Select Path to Save PST File")});
    // And the Start Conversion button does the same.
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdStartConversion")),
                      Qt::LeftButton);
    QCOMPARE(w.dialogs.folderTitles.size(), 2);
}

void TestCommandsGui::titleBarCloseAsksNothing()
{
    AppContext context;
    Window w(context);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseClick(w.findChild<QToolButton*>(QStringLiteral("TitleBarClose")), Qt::LeftButton);
    QVERIFY(!w.isVisible());
    QCOMPARE(w.opened(), 0);
}

void TestCommandsGui::helpViewerChoices_data()
{
    QTest::addColumn<bool>("chm");
    QTest::addColumn<bool>("viewer");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QString>("expected"); // "viewer", a file opened by URL, or ""
    QTest::newRow("viewer") << true << true << true << QStringLiteral("viewer");
    QTest::newRow("no viewer: HTML guide")
        << true << false << true << QStringLiteral("help/index.html");
    QTest::newRow("no viewer, no HTML: default handler")
        << true << false << false << QStringLiteral("Help.chm");
    QTest::newRow("no compiled file: HTML guide")
        << false << true << true << QStringLiteral("help/index.html");
    QTest::newRow("nothing there") << false << true << false << QString();
}

void TestCommandsGui::helpViewerChoices()
{
    QFETCH(bool, chm);
    QFETCH(bool, viewer);
    QFETCH(bool, html);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    const QString folder = dir.path() + QStringLiteral("/program folder");
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/help")));
    const QString helpFile = folder + QStringLiteral("/Help.chm");
    auto write = [](const QString& path, const QByteArray& bytes) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    };
    if (chm)
        QVERIFY(write(helpFile, "ITSF"));
    if (html)
        QVERIFY(write(folder + QStringLiteral("/help/index.html"), "<html></html>"));
    // A viewer that writes down what it was asked to show.
    const QString script = dir.path() + QStringLiteral("/viewer");
    const QString record = dir.path() + QStringLiteral("/viewer.args");
    QVERIFY(write(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args.part\"\n"
                          "mv \"$0.args.part\" \"$0.args\"\n"));
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));

    m_openedUrls.clear();
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    // The system's own start of a viewer, offered a missing one first; every start
    // that succeeds is noted.
    QStringList started;
    const QStringList viewers{dir.path() + QStringLiteral("/missing-viewer"),
                              viewer ? script : QString()};
    DesktopHelpViewer help([&started, &viewers](const QString& file) {
        const bool ok = platform::startHelpViewer(file, viewers);
        if (ok)
            started.append(file);
        return ok;
    });
    help.showHelp(helpFile);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));

    if (expected == QLatin1String("viewer")) {
        QCOMPARE(started, QStringList{helpFile});
        // The viewer really ran, with the file.
        QTRY_VERIFY(QFile::exists(record));
        QFile f(record);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), helpFile.toUtf8() + '\n');
        QCOMPARE(m_openedUrls, QList<QUrl>());
        return;
    }
    QCOMPARE(started, QStringList());
    if (expected.isEmpty())
        QCOMPARE(m_openedUrls, QList<QUrl>());
    else
        QCOMPARE(m_openedUrls,
                 QList<QUrl>{QUrl::fromLocalFile(folder + QLatin1Char('/') + expected)});
}

void TestCommandsGui::aboutWindowIsModalAndNew()
{
    AppContext context;
    MainWindow w(context);
    w.Form_Load();
    w.move(164, 73);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction* about = w.findChild<QAction*>(QStringLiteral("mnuAbout"));

    QList<QPointer<QWidget>> shown;
    for (int round = 0; round < 2; ++round) {
        whileModal(about, [&](QWidget* modal) {
            shown.append(modal);
            QVERIFY(qobject_cast<frmAbout*>(modal));
            QCOMPARE(modal->windowTitle(), QStringLiteral("About - Veridane Quenbry"));
            QCOMPARE(modal->size(), QSize(541, 209));
            QCOMPARE(modal->minimumSize(), modal->maximumSize());
            const Qt::WindowFlags flags = modal->windowFlags();
            QCOMPARE(flags & Qt::WindowType_Mask, Qt::Dialog);
            QVERIFY(flags & Qt::WindowCloseButtonHint);
            QVERIFY(!(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
            QCOMPARE(modal->windowModality(), Qt::ApplicationModal);
            QCOMPARE(modal->parentWidget(), &w);
            const QPoint offset = modal->frameGeometry().center() - w.frameGeometry().center();
            QVERIFY2(offset.manhattanLength() <= 2, qPrintable(QStringLiteral("%1 %2 / %3 %4")
                                                                   .arg(modal->geometry().x())
                                                                   .arg(modal->geometry().y())
                                                                   .arg(w.frameGeometry().x())
                                                                   .arg(w.frameGeometry().y())));
            // Escape does not close it; its close button does.
            QTest::keyClick(modal, Qt::Key_Escape);
            QVERIFY(modal->isVisible());
            modal->close();
        });
        // Closed and gone before the next request.
        QCOMPARE(shown.size(), round + 1);
        QVERIFY(shown.last().isNull());
    }
}

void TestCommandsGui::exportWindowIsModal()
{
    AppContext context;
    MainWindow w(context);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QAction open(&w);
    connect(&open, &QAction::triggered, &w, [&w] { w.showSaveWindow(); });
    bool seen = false;
    whileModal(&open, [&](QWidget* modal) {
        seen = true;
        QVERIFY(qobject_cast<frmSave*>(modal));
        QCOMPARE(modal->windowTitle(), QStringLiteral("Export to Outlook Express .EML format"));
        QCOMPARE(modal->parentWidget(), &w);
        const QPoint offset = modal->frameGeometry().center() - w.frameGeometry().center();
        QVERIFY(offset.manhattanLength() <= 2);
    });
    QVERIFY(seen);
}

void TestCommandsGui::exitQuestionNo()
{
    AppContext context;
    MainWindow w(context);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setDatabasePath(QStringLiteral("/data/kestrel.nsf"));

    bool asked = false;
    whileModal(w.findChild<QAction*>(QStringLiteral("mnuExit")), [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        asked = true;
        QCOMPARE(box->text(), QStringLiteral("Are you sure you want to close the software"));
        QCOMPARE(box->windowTitle(), QStringLiteral("Veridane Haldrix"));
        QCOMPARE(box->icon(), QMessageBox::Information);
        QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QVERIFY(!(box->windowFlags() & Qt::WindowCloseButtonHint));
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    QVERIFY(asked);
    QVERIFY(w.isVisible());
    QCOMPARE(w.databasePath(), QStringLiteral("/data/kestrel.nsf"));
    // The run goes on: an event loop still runs to its own end.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, [&loop] { loop.exit(7); });
    QCOMPARE(loop.exec(), 7);
}

void TestCommandsGui::exitQuestionYesEndsTheRun()
{
    AppContext context;
    MainWindow w(context);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    whileModal(w.findChild<QAction*>(QStringLiteral("mnuExit")), [](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    // The application is ending: no event loop runs any more.
    QEventLoop loop;
    QTimer::singleShot(10, &loop, [&loop] { loop.exit(7); });
    QVERIFY(loop.exec() != 7);
}

QTEST_MAIN(TestCommandsGui)
#include "tst_commands_gui.moc"
