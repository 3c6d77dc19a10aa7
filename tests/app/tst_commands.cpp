#include "Harness.h"
#include "StoreFixture.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// What a command did that the user can see, as one line per effect.
QStringList effects(const Harness& h)
{
    QStringList out;
    for (const FakeDialogs::Shown& m : h.dialogs.messages)
        out.append(QStringLiteral("message:") + m.title);
    for (const QString& filter : h.dialogs.fileFilters)
        out.append(QStringLiteral("open:") + filter);
    for (const QString& title : h.dialogs.folderTitles)
        out.append(QStringLiteral("folder:") + title);
    for (const QString& path : h.help.shown)
        out.append(QStringLiteral("help:") + path);
    for (int i = 0; i < h.windows.aboutShows; ++i)
        out.append(QStringLiteral("about"));
    for (int i = 0; i < h.windows.saveWindowShows; ++i)
        out.append(QStringLiteral("save"));
    for (int i = 0; i < h.windows.quits; ++i)
        out.append(QStringLiteral("quit"));
    return out;
}

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void openRoutesChooseTheDatabaseAlike_data();
    void openRoutesChooseTheDatabaseAlike();
    void openWithOtherIndexDoesNothing();
    void exitAsksAndNoKeepsEverything();
    void toolbarIndexesReachTheirHandlers_data();
    void toolbarIndexesReachTheirHandlers();
    void toolbarScanAndExportAfterAScan();
    void helpFileBesideTheProgram_data();
    void helpFileBesideTheProgram();
    void aboutOnEveryRequest();
};

void TestCommands::openRoutesChooseTheDatabaseAlike_data()
{
    QTest::addColumn<int>("route");
    QTest::newRow("Browse button") << 0;
    QTest::newRow("File > Open") << 1;
    QTest::newRow("toolbar Open") << 2;
}

void TestCommands::openRoutesChooseTheDatabaseAlike()
{
    QFETCH(int, route);
    const QString path = QStringLiteral("/data/mail/kestrel.nsf");
    Harness h;
    h.dialogs.fileAnswers = {path};
    switch (route) {
    case 0:
        h.procedures.scan.CmdBrowse_Click();
        break;
    case 1:
        h.procedures.commands.mnuOpen_Click(0);
        break;
    case 2:
        h.procedures.commands.NotesToolBar_ButtonClick(1, QStringLiteral("Open"));
        break;
    }
    QCOMPARE(effects(h), QStringList{QStringLiteral("open:Notes Database (*.nsf)")});
    QCOMPARE(h.window.path, path);
    QVERIFY(h.window.scanEnabled);
    QVERIFY(h.window.toolbar[2]);
    QVERIFY(!h.window.pageEnabled[2]);
}

void TestCommands::openWithOtherIndexDoesNothing()
{
    Harness h;
    h.window.path = QStringLiteral("/data/mail/kestrel.nsf");
    h.dialogs.fileAnswers = {QStringLiteral("/elsewhere.nsf")};
    for (int index : {1, -1, 32767})
        h.procedures.commands.mnuOpen_Click(index);
    QCOMPARE(effects(h), QStringList());
    QCOMPARE(h.window.path, QStringLiteral("/data/mail/kestrel.nsf"));
}

void TestCommands::exitAsksAndNoKeepsEverything()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildSample());
    h.procedures.scan.CmdScan_Click();
    h.procedures.tree.setTick(h.procedures.tree.indexOfKey(QStringLiteral("Trash")), 0);
    const QString path = h.window.path;
    const QStringList tree = h.treeLines();
    const int page = h.window.page;
    QVERIFY(tree.size() > 8);
    h.dialogs.messages.clear();
    h.dialogs.fileFilters.clear();

    h.dialogs.answers = {MessageAnswer::No};
    h.procedures.commands.mnuExit_Click();
    QCOMPARE(h.dialogs.messages.size(), 1);
    const FakeDialogs::Shown& asked = h.dialogs.messages[0];
    QCOMPARE(asked.text, QStringLiteral("Are you sure you want to close the software"));
    QCOMPARE(asked.title, QStringLiteral("Veridane Haldrix"));
    QCOMPARE(asked.buttons, MessageButtons::YesNo);
    QCOMPARE(asked.icon, MessageIcon::Information);
    QCOMPARE(h.windows.quits, 0);
    QCOMPARE(h.window.path, path);
    QCOMPARE(h.treeLines(), tree);
    QCOMPARE(h.window.page, page);

    h.dialogs.answers = {MessageAnswer::Yes};
    h.procedures.commands.mnuExit_Click();
    QCOMPARE(h.dialogs.messages.size(), 2);
    QCOMPARE(h.windows.quits, 1);
}

void TestCommands::toolbarIndexesReachTheirHandlers_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("1 Open") << 1 << QStringList{QStringLiteral("open:Notes Database (*.nsf)")};
    // Without a path the scan and the export set-up stop at their own checks.
    QTest::newRow("2 Scan") << 2 << QStringList{QStringLiteral("message:Select Notes Database")};
    QTest::newRow("3 separator") << 3 << QStringList();
    QTest::newRow("4 Export") << 4
                              << QStringList{QStringLiteral("message:Export to Outlook Express")};
    QTest::newRow("5 separator") << 5 << QStringList();
    QTest::newRow("6 Help") << 6 << QStringList{QStringLiteral("help:/opt/tarvik/Help.chm")};
    QTest::newRow("0") << 0 << QStringList();
    QTest::newRow("7") << 7 << QStringList();
}

void TestCommands::toolbarIndexesReachTheirHandlers()
{
    QFETCH(int, index);
    QFETCH(QStringList, expected);
    Harness h;
    h.windows.folder = QStringLiteral("/opt/tarvik");
    h.procedures.commands.NotesToolBar_ButtonClick(index, QStringLiteral("ignored"));
    QCOMPARE(effects(h), expected);
}

void TestCommands::toolbarScanAndExportAfterAScan()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildSample());
    h.procedures.commands.NotesToolBar_ButtonClick(2, QStringLiteral("Scan"));
    QVERIFY(h.procedures.tree.nodeCount() > 8);
    QCOMPARE(h.window.page, 2);
    QVERIFY(h.window.toolbar[4]);

    h.dialogs.messages.clear();
    h.dialogs.fileFilters.clear();
    h.dialogs.folderAnswers = {QStringLiteral("/tmp/out")};
    h.procedures.commands.NotesToolBar_ButtonClick(4, QStringLiteral("Export"));
    QCOMPARE(effects(h), (QStringList{QStringLiteral("folder:Select Path to Save PST File"),
                                      QStringLiteral("save")}));
    QCOMPARE(h.context.state.gExportPath, QStringLiteral("/tmp/out"));
    QVERIFY(h.context.state.gSelectedFolders.contains(
        FolderId{FolderKind::Standard, QStringLiteral("Inbox")}));
}

void TestCommands::helpFileBesideTheProgram_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << QStringLiteral("/opt/tarvik")
                            << QStringLiteral("/opt/tarvik/Help.chm");
    QTest::newRow("root") << QStringLiteral("/") << QStringLiteral("/Help.chm");
    QTest::newRow("blanks") << QStringLiteral("/home/a b/Tarvik 1.0")
                            << QStringLiteral("/home/a b/Tarvik 1.0/Help.chm");
}

void TestCommands::helpFileBesideTheProgram()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    Harness h;
    h.windows.folder = folder;
    // The menu's index is not examined.
    h.procedures.commands.mnuHelp_Click(0);
    h.procedures.commands.mnuHelp_Click(3);
    QCOMPARE(h.help.shown, (QStringList{expected, expected}));
    QCOMPARE(h.dialogs.messages.size(), 0);
}

void TestCommands::aboutOnEveryRequest()
{
    Harness h;
    h.procedures.commands.mnuAbout_Click(1);
    h.procedures.commands.mnuAbout_Click(0);
    QCOMPARE(effects(h), (QStringList{QStringLiteral("about"), QStringLiteral("about")}));
}

QTEST_GUILESS_MAIN(TestCommands)
#include "tst_commands.moc"
