#include "Harness.h"
#include "StoreFixture.h"

#include "app/DatabaseScan.h"
#include "app/SmallIconIndex.h"
#include "notes/NotesSessionRegistry.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// A description with the given title and views; every view name maps to its
// document count, documents are made up as needed.
QByteArray describe(const QList<QPair<QString, int>>& views,
                    const QString& title = QStringLiteral("T"), const QStringList& notFolders = {})
{
    QJsonArray viewArray;
    QJsonArray docs;
    int next = 0;
    for (const auto& [name, count] : views) {
        QJsonArray ids;
        for (int i = 0; i < count; ++i) {
            const QString id = QStringLiteral("d%1").arg(next++);
            ids.append(id);
            docs.append(QJsonObject{
                {QStringLiteral("id"), id},
                {QStringLiteral("items"),
                 QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("Subject")},
                                        {QStringLiteral("type"), QStringLiteral("text")},
                                        {QStringLiteral("values"), QJsonArray{id}}}}}});
        }
        viewArray.append(QJsonObject{{QStringLiteral("name"), name},
                                     {QStringLiteral("folder"), !notFolders.contains(name)},
                                     {QStringLiteral("documents"), ids}});
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("format"), 1},
                                     {QStringLiteral("title"), title},
                                     {QStringLiteral("views"), viewArray},
                                     {QStringLiteral("documents"), docs}})
        .toJson();
}

QStringList fixedLines(int inbox, int drafts, int sent, int follow, int junk, int trash, int tick)
{
    auto line = [tick](const char* key, const char* caption, int n) {
        return QStringLiteral("%1|%2%3)|Lotus Notes Address Book|%1|%4|%5")
            .arg(QLatin1String(key), QLatin1String(caption), QString::number(n),
                 n > 0 ? QStringLiteral("docs") : QStringLiteral("-"), QString::number(tick));
    };
    return {QStringLiteral("Lotus Notes Address Book|Notes Email Database|||docs|%1").arg(tick),
            line("Inbox", "Inbox (", inbox),
            line("Drafts", "Drafts (", drafts),
            line("Sent", "Sent (", sent),
            line("Follow-Up", "Follow Up (", follow),
            line("JunkMail", "Junk Mail (", junk),
            line("Trash", "Trash (", trash),
            QStringLiteral("Folders|Folders|Lotus Notes Address Book|Folders|-|%1").arg(tick)};
}

} // namespace

class TestScan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void browseAndCancel();
    void scanNeedsFirstPageAndPath();
    void scanOfSampleDatabase();
    void userFoldersSortNestAndNeverCollide();
    void countsAboveSixteenBits();
    void onlyHiddenFoldersAndNoViews();
    void notesProgIdPaths();
    void damagedDatabase();
    void twoScansInARow();
    void treeIsASoundItemModel();
};

void TestScan::browseAndCancel()
{
    StoreFixture fx;
    Harness h;
    const QString db = fx.buildStore(describe({{QStringLiteral("($Inbox)"), 1}}));
    h.browse(db);
    QCOMPARE(h.dialogs.fileFilters, QStringList{QStringLiteral("Notes Database (*.nsf)")});
    QCOMPARE(h.window.path, db);
    QVERIFY(h.window.scanEnabled);
    QVERIFY(h.window.toolbar[2]);
    QVERIFY(!h.window.pageEnabled[2]);
    QVERIFY(!h.window.arrows[ScanArrow::Emails]);
    QVERIFY(!h.window.arrows[ScanArrow::MailFolder]);

    h.procedures.scan.CmdScan_Click();
    QVERIFY(h.window.pageEnabled[2]);
    QVERIFY(h.window.toolbar[4]);
    QVERIFY(h.window.scanFrameVisible);

    // Cancelling empties the path and takes back what the scan allowed.
    h.browse(QString());
    QCOMPARE(h.window.path, QString());
    QVERIFY(!h.window.scanEnabled);
    QVERIFY(!h.window.toolbar[2]);
    QVERIFY(!h.window.toolbar[4]);
    QVERIFY(!h.window.pageEnabled[2]);
    QVERIFY(!h.window.scanFrameVisible);
    QVERIFY(!h.window.arrows[ScanArrow::Reading]);
}

void TestScan::scanNeedsFirstPageAndPath()
{
    StoreFixture fx;
    Harness h;
    h.procedures.scan.CmdScan_Click();
    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages[0].text,
             QStringLiteral("Please select a Notes database and click Start Scan to proceed."));
    QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Select Notes Database"));
    QCOMPARE(h.dialogs.messages[0].icon, MessageIcon::Information);
    QVERIFY(!h.context.state.gSession);
    QCOMPARE(h.procedures.tree.nodeCount(), 0);

    h.browse(fx.buildStore(describe({{QStringLiteral("($Inbox)"), 2}})));
    h.window.page = 2;
    h.procedures.scan.CmdScan_Click();
    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.procedures.tree.nodeCount(), 0);
    QVERIFY(!h.context.state.gSession);
}

void TestScan::scanOfSampleDatabase()
{
    StoreFixture fx;
    Harness h;
    const QString sample = fx.buildSample();
    h.browse(sample);
    h.procedures.scan.CmdScan_Click();

    // Expected counts come from the description itself.
    QFile f(QStringLiteral(TARVIK_SOURCE_DIR "/samples/sample-mail.json"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QJsonObject desc = QJsonDocument::fromJson(f.readAll()).object();
    QMap<QString, int> counts;
    for (const QJsonValue& v : desc[QStringLiteral("views")].toArray()) {
        const QJsonObject view = v.toObject();
        counts.insert(view[QStringLiteral("name")].toString(),
                      int(view[QStringLiteral("documents")].toArray().size()));
    }
    QCOMPARE(h.context.state.gDatabaseTitle, desc[QStringLiteral("title")].toString());

    const FolderTree& tree = h.procedures.tree;
    QCOMPARE(tree.node(0).key, QStringLiteral("Lotus Notes Address Book"));
    QCOMPARE(tree.node(0).icon, icon::Notesico);
    const struct {
        const char* key;
        const char* view;
        const char* caption;
        int icon;
    } standard[] = {{"Inbox", "($Inbox)", "Inbox", icon::Inbox},
                    {"Drafts", "($Drafts)", "Drafts", icon::Drafts},
                    {"Sent", "($Sent)", "Sent", icon::Outbox},
                    {"Follow-Up", "($Follow-Up)", "Follow Up", icon::FollowUp},
                    {"JunkMail", "($JunkMail)", "Junk Mail", icon::Junk},
                    {"Trash", "($Trash)", "Trash", icon::Trash}};
    for (const auto& s : standard) {
        const int i = tree.indexOfKey(QLatin1String(s.key));
        QVERIFY2(i > 0, s.key);
        const int n = counts.value(QLatin1String(s.view));
        QCOMPARE(tree.node(i).caption,
                 QStringLiteral("%1 (%2)").arg(QLatin1String(s.caption)).arg(n));
        QCOMPARE(tree.node(i).icon, s.icon);
        QCOMPARE(tree.node(i).hasDocuments, n > 0);
    }
    // Every listed folder that is not hidden has a node with its count, under
    // its parent folder; hidden views and views that are not folders have none.
    int userFolders = 0;
    for (const QJsonValue& v : desc[QStringLiteral("views")].toArray()) {
        const QJsonObject view = v.toObject();
        const QString name = view[QStringLiteral("name")].toString();
        const int i = tree.indexOfKey(name);
        if (name.startsWith(QLatin1Char('(')) || !view[QStringLiteral("folder")].toBool()) {
            QVERIFY2(i < 0, qPrintable(name));
            continue;
        }
        ++userFolders;
        QVERIFY2(i > 0, qPrintable(name));
        const FolderNode& node = tree.node(i);
        const QString leaf = name.section(QLatin1Char('\\'), -1);
        QCOMPARE(node.caption, QStringLiteral("%1 (%2)").arg(leaf).arg(counts.value(name)));
        QCOMPARE(node.folderName, name);
        QCOMPARE(node.icon, icon::Email);
        QCOMPARE(node.hasDocuments, counts.value(name) > 0);
        const QString parent = name.contains(QLatin1Char('\\'))
                                   ? name.section(QLatin1Char('\\'), 0, -2)
                                   : QStringLiteral("Folders");
        QCOMPARE(node.parentKey, parent);
    }
    QVERIFY(userFolders >= 4);
    QCOMPARE(tree.nodeCount(), 8 + userFolders);
    for (int i = 0; i < tree.nodeCount(); ++i)
        QCOMPARE(tree.node(i).tick, 1);

    QCOMPARE(h.dialogs.messages.size(), 1);
    QCOMPARE(h.dialogs.messages[0].text,
             QStringLiteral("Notes Database Scan Completed Successfully"));
    QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Scan Completed..."));
    QCOMPARE(h.window.page, 2);
    QVERIFY(h.window.pageEnabled[2]);
    QVERIFY(h.window.toolbar[4]);
    QCOMPARE(h.pump.pauses.value(0), 10);
}

void TestScan::userFoldersSortNestAndNeverCollide()
{
    StoreFixture fx;
    Harness h;
    const QString db =
        fx.buildStore(describe({{QStringLiteral("($Inbox)"), 1},
                                {QStringLiteral("alpha"), 1},
                                {QStringLiteral("Zeta"), 2},
                                {QStringLiteral("Projects\\2008"), 3},
                                {QStringLiteral("Projects"), 0},
                                {QStringLiteral("Zeta"), 0}, // listed twice: one node
                                {QStringLiteral("(Rules)"), 4},
                                {QStringLiteral("By Category"), 5},
                                {QStringLiteral("Clients\\Reports"), 1},
                                {QStringLiteral("Staff\\Reports"), 2},
                                {QStringLiteral("Clients"), 0},
                                {QStringLiteral("Archive\\Inbox"), 1},
                                {QStringLiteral("Lost\\Deep\\Child"), 1},
                                {QStringLiteral("Inbox"), 1}},
                               QStringLiteral("T"), {QStringLiteral("By Category")}));
    h.browse(db);
    h.procedures.scan.CmdScan_Click();

    QStringList expected = fixedLines(1, 0, 0, 0, 0, 0, 1);
    expected << QStringLiteral("Archive\\Inbox|Inbox (1)|Folders|Archive\\Inbox|docs|1")
             << QStringLiteral("Clients|Clients (0)|Folders|Clients|-|1")
             << QStringLiteral("Clients\\Reports|Reports (1)|Clients|Clients\\Reports|docs|1")
             << QStringLiteral("Inbox (2)|Inbox (1)|Folders|Inbox|docs|1")
             << QStringLiteral("Lost\\Deep\\Child|Child (1)|Folders|Lost\\Deep\\Child|docs|1")
             << QStringLiteral("Projects|Projects (0)|Folders|Projects|-|1")
             << QStringLiteral("Projects\\2008|2008 (3)|Projects|Projects\\2008|docs|1")
             << QStringLiteral("Staff\\Reports|Reports (2)|Folders|Staff\\Reports|docs|1")
             << QStringLiteral("Zeta|Zeta (2)|Folders|Zeta|docs|1")
             << QStringLiteral("alpha|alpha (1)|Folders|alpha|docs|1");
    QCOMPARE(h.treeLines(), expected);
    // The last folder handled is shown while the scan runs, with its leaf name.
    QVERIFY(h.window.folderCaptions.contains(QStringLiteral("2008 (3 Emails)")));
    QCOMPARE(h.window.folderCaption, QStringLiteral("alpha (1 Emails)"));
}

void TestScan::countsAboveSixteenBits()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(
        describe({{QStringLiteral("($Inbox)"), 33000}, {QStringLiteral("Big"), 40000}})));
    h.procedures.scan.CmdScan_Click();
    QCOMPARE(h.context.state.gInboxCount, 33000);
    QCOMPARE(h.procedures.tree.node(1).caption, QStringLiteral("Inbox (33000)"));
    QVERIFY(h.procedures.tree.node(1).hasDocuments);
    QCOMPARE(h.procedures.tree.node(h.procedures.tree.indexOfKey(QStringLiteral("Big"))).caption,
             QStringLiteral("Big (40000)"));
}

void TestScan::onlyHiddenFoldersAndNoViews()
{
    StoreFixture fx;
    {
        Harness h;
        h.browse(fx.buildStore(
            describe({{QStringLiteral("($Trash)"), 2}, {QStringLiteral("(Hidden)"), 1}})));
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.treeLines(), fixedLines(0, 0, 0, 0, 0, 2, 1));
        QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Scan Completed..."));
    }
    {
        Harness h;
        h.browse(fx.buildStore(describe({})));
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.dialogs.messages.size(), 1);
        QCOMPARE(h.dialogs.messages[0].text,
                 QStringLiteral("No Data Found in NSF file or NSF file is encrypted"));
        QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Quenbry"));
        QCOMPARE(h.dialogs.messages[0].icon, MessageIcon::None);
        QVERIFY(!h.window.scanFrameVisible);
        QVERIFY(!h.context.state.gSession);
        QVERIFY(!h.window.pageEnabled[2]);
        // The tree keeps what the fill built, unticked.
        QCOMPARE(h.treeLines(), fixedLines(0, 0, 0, 0, 0, 0, 0));
    }
}

void TestScan::notesProgIdPaths()
{
    StoreFixture fx;
    const QString db =
        fx.buildStore(describe({{QStringLiteral("($Inbox)"), 3}, {QStringLiteral("Work"), 1}}));
    auto localStore = [] {
        notes::NotesSessionRegistry r = notes::NotesSessionRegistry::withDefaults();
        return r;
    };
    {
        // Only the second ProgID answers: the scan works all the same.
        Harness h;
        notes::NotesSessionRegistry defaults = localStore();
        h.context.notesSessions.removeFactory(notes::NotesSessionRegistry::dominoProgId);
        h.context.notesSessions.setFactory(notes::NotesSessionRegistry::notesProgId, [&defaults] {
            return defaults.create(notes::NotesSessionRegistry::dominoProgId);
        });
        h.browse(db);
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.procedures.tree.nodeCount(), 9);
        QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Scan Completed..."));
    }
    {
        // Neither answers: the Notes message, the frame stays, the tree is untouched.
        Harness h;
        h.context.notesSessions.removeFactory(notes::NotesSessionRegistry::dominoProgId);
        h.browse(db);
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.dialogs.messages.size(), 1);
        QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Notes Not Installed/Configured"));
        QCOMPARE(h.dialogs.messages[0].icon, MessageIcon::Information);
        const QStringList lines = h.dialogs.messages[0].text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 8);
        QCOMPARE(lines[0], QStringLiteral("Lotus Notes NOT INSTALLED or CONFIGURED Properly."));
        QCOMPARE(lines[1], QString());
        QCOMPARE(lines[6], QString());
        QVERIFY(lines[5].startsWith(QStringLiteral("Please contact our technical team at ")));
        QVERIFY(lines[5].endsWith(QStringLiteral(" for further assistance.")));
        QCOMPARE(lines[7], QStringLiteral("Make sure you logged in under same user account through "
                                          "which Notes is installed."));
        QVERIFY(!h.context.notesSessions.hasFactory(notes::NotesSessionRegistry::notesProgId));
        QVERIFY(h.window.scanFrameVisible);
        QCOMPARE(h.procedures.tree.nodeCount(), 0);
        QCOMPARE(h.window.page, 1);
    }
}

void TestScan::damagedDatabase()
{
    StoreFixture fx;
    const QString good =
        fx.buildStore(describe({{QStringLiteral("($Inbox)"), 2}, {QStringLiteral("Work"), 1}}));
    const QString damaged = fx.path(QStringLiteral("damaged.nsf"));
    {
        QFile f(damaged);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("This is not a mail database at all.\n");
    }
    {
        // The first ProgID skips the failing open: no views can be read.
        Harness h;
        h.browse(good);
        h.procedures.scan.CmdScan_Click();
        QVERIFY(h.procedures.tree.indexOfKey(QStringLiteral("Work")) > 0);
        h.browse(damaged); // from the preview page, as File > Open allows
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.dialogs.messages.last().text,
                 QStringLiteral("No Data Found in NSF file or NSF file is encrypted"));
        // Nothing of the database scanned before stands in for the damaged one.
        QCOMPARE(h.procedures.tree.indexOfKey(QStringLiteral("Work")), -1);
        QVERIFY(h.context.state.gDatabaseTitle.isEmpty());
        QVERIFY(!h.window.pageEnabled[2]);
    }
    {
        // The second ProgID guards: the first failure ends the scan.
        Harness h;
        notes::NotesSessionRegistry defaults = notes::NotesSessionRegistry::withDefaults();
        h.context.notesSessions.removeFactory(notes::NotesSessionRegistry::dominoProgId);
        h.context.notesSessions.setFactory(notes::NotesSessionRegistry::notesProgId, [&defaults] {
            return defaults.create(notes::NotesSessionRegistry::dominoProgId);
        });
        h.browse(damaged);
        h.procedures.scan.CmdScan_Click();
        QCOMPARE(h.dialogs.messages.size(), 1);
        QCOMPARE(h.dialogs.messages[0].title, QStringLiteral("Notes Not Installed/Configured"));
        QCOMPARE(h.treeLines(), fixedLines(0, 0, 0, 0, 0, 0, 0));
        QVERIFY(h.window.scanFrameVisible);
    }
}

void TestScan::twoScansInARow()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(describe(
        {{QStringLiteral("($Sent)"), 2}, {QStringLiteral("A"), 1}, {QStringLiteral("A\\B"), 1}})));
    h.procedures.scan.CmdScan_Click();
    const QStringList first = h.treeLines();
    for (int i = 0; i < h.procedures.tree.nodeCount(); i += 2)
        h.procedures.tree.setTick(i, 0);
    h.window.page = 1;
    h.procedures.scan.CmdScan_Click();
    QCOMPARE(h.treeLines(), first);
    QCOMPARE(h.procedures.tree.nodeCount(), 10);
}

void TestScan::treeIsASoundItemModel()
{
    // Qt's own checks of an item model, run on every change the tree goes
    // through: scans that fill it deep and wide, ticks from the view, a scan
    // that empties it, a scan of the sample.
    StoreFixture fx;
    Harness h;
    QAbstractItemModelTester tester(&h.procedures.tree,
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    h.browse(fx.buildStore(describe({{QStringLiteral("($Inbox)"), 2},
                                     {QStringLiteral("A"), 1},
                                     {QStringLiteral("A\\B"), 1},
                                     {QStringLiteral("A\\B\\C"), 1},
                                     {QStringLiteral("Lost\\Deep\\Child"), 0},
                                     {QStringLiteral("Inbox"), 1},
                                     {QStringLiteral("Z"), 3}})));
    h.procedures.scan.CmdScan_Click();
    FolderTree& tree = h.procedures.tree;
    const QModelIndex c = tree.modelIndexOfNode(tree.indexOfKey(QStringLiteral("A\\B\\C")));
    QVERIFY(c.isValid());
    QCOMPARE(c.data().toString(), QStringLiteral("C (1)"));
    QCOMPARE(c.parent().parent().data().toString(), QStringLiteral("A (1)"));
    QVERIFY(tree.setData(c, Qt::Unchecked, Qt::CheckStateRole));
    QCOMPARE(tree.node(tree.indexOfKey(QStringLiteral("A\\B\\C"))).tick, 0);
    QVERIFY(!tree.setData(c, QStringLiteral("renamed"), Qt::EditRole));

    h.browse(fx.buildStore(describe({})));
    h.procedures.scan.CmdScan_Click(); // no views: the fixed nodes only
    QCOMPARE(tree.nodeCount(), 8);
    h.browse(fx.buildSample());
    h.procedures.scan.CmdScan_Click();
    QVERIFY(tree.nodeCount() > 8);
    tree.clear();
    QCOMPARE(tree.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestScan)
#include "tst_scan.moc"
