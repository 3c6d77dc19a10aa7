#include "StoreFixture.h"
#include "ToolRun.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

using namespace tarvik::test;

namespace {

struct Result {
    int status = -1;
    QString err;
};

Result exportWith(const QStringList& args)
{
    const ToolRun run = runTool(builtTool("tarvik-export"), args);
    return {run.exitCode, run.errorText()};
}

int emlFilesBelow(const QString& folder)
{
    int n = 0;
    QDirIterator it(folder, {QStringLiteral("*.eml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++n;
    }
    return n;
}

} // namespace

class TestHeadless : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exportsTheSampleDatabase();
    void exportsNamedFoldersOnly();
    void namesStandardAndUserFoldersApart();
    void reportsWhatCouldNotBeWritten();
    void refusesToStart();
};

void TestHeadless::exportsTheSampleDatabase()
{
    StoreFixture fx;
    const QString log = fx.path(QStringLiteral("Log.txt"));
    const Result r = exportWith(
        {QStringLiteral("--log"), log, fx.buildSample(), fx.path(QStringLiteral("out"))});
    // Two documents keep an attachment outside their Body item, which is not
    // exported: said in the log and in the exit status.
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QStringLiteral("Notes Database Scan Completed Successfully\n")));
    QVERIFY(r.err.contains(QStringLiteral("Migration completed with errors.\n")));
    QVERIFY(r.err.contains(QStringLiteral("2 attachments could not be saved.\n")));
    QVERIFY(r.err.contains(QStringLiteral("55 mails written, 0 mails failed")));
    QVERIFY(!r.err.contains(QLatin1Char('\r')));
    QCOMPARE(emlFilesBelow(fx.path(QStringLiteral("out"))), 55);
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.endsWith("Done\r\n"));
    QVERIFY(text.contains("\tAttachment Not Saved : SUBJECT[Lab notebook scan] in Folder[Inbox] : "
                          "attachments: the document's embedded objects are not in its Body "
                          "item\r\n"));
}

void TestHeadless::exportsNamedFoldersOnly()
{
    StoreFixture fx;
    const QString db = fx.buildSample();
    const Result r = exportWith(
        {QStringLiteral("--log"), fx.path(QStringLiteral("Log.txt")), QStringLiteral("--folders"),
         QStringLiteral("Inbox,Projects\\2008"), QStringLiteral("--folders"),
         QStringLiteral("Follow-Up"), db, fx.path(QStringLiteral("out"))});
    QCOMPARE(r.status, 1); // the Inbox's attachment outside a Body item
    const QString root = fx.path(QStringLiteral("out/Mira Kestrel - Mail"));
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("Inbox"), QStringLiteral("Projects-2008")}));
    QCOMPARE(emlFilesBelow(root), 21 + 5);

    const Result unknown = exportWith({QStringLiteral("--log"), fx.path(QStringLiteral("Log2.txt")),
                                       QStringLiteral("--folders"), QStringLiteral("Nowhere"), db,
                                       fx.path(QStringLiteral("out2"))});
    QCOMPARE(unknown.status, 2);
    QVERIFY(unknown.err.contains(QStringLiteral("no folder \"Nowhere\"")));
    QVERIFY(unknown.err.contains(QStringLiteral("Projects\\Archive")));
    QCOMPARE(emlFilesBelow(fx.path(QStringLiteral("out2"))), 0);
}

void TestHeadless::namesStandardAndUserFoldersApart()
{
    // The standard Inbox and user folders named "Inbox", "Folders" and one
    // whose name holds a comma, one mail each.
    StoreFixture fx;
    const QString db = fx.buildStore(R"json({ "format": 1, "title": "Alike",
      "views": [
        { "name": "($Inbox)", "folder": true, "documents": ["s"] },
        { "name": "Inbox", "folder": true, "documents": ["u1"] },
        { "name": "Folders", "folder": true, "documents": ["u2"] },
        { "name": "Bills, 2008", "folder": true, "documents": ["u3"] } ],
      "documents": [
        { "id": "s", "items": [ { "name": "Subject", "type": "text", "values": ["standard"] } ] },
        { "id": "u1", "items": [ { "name": "Subject", "type": "text", "values": ["user inbox"] } ] },
        { "id": "u2", "items": [ { "name": "Subject", "type": "text", "values": ["user folders"] } ] },
        { "id": "u3", "items": [ { "name": "Subject", "type": "text", "values": ["bills"] } ] } ] })json");
    int run = 0;
    // The sub-folders written and what each holds.
    auto exported = [&](const QStringList& selection) {
        const QString out = fx.path(QStringLiteral("out%1").arg(++run));
        const Result r =
            exportWith(QStringList{QStringLiteral("--log"), fx.path(QStringLiteral("Log.txt"))} +
                       selection + QStringList{db, out});
        QStringList files;
        QDirIterator it(out + QStringLiteral("/Alike"), QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo f(it.next());
            files.append(f.dir().dirName() + QLatin1Char('/') +
                         f.fileName().remove(QRegularExpression(QStringLiteral("[0-9]+\\.eml$"))));
        }
        files.sort();
        return qMakePair(r.status, files);
    };
    using Outcome = QPair<int, QStringList>;
    QCOMPARE(exported({QStringLiteral("--folders"), QStringLiteral("Inbox")}),
             Outcome(0, {QStringLiteral("Inbox/standard")}));
    QCOMPARE(exported({QStringLiteral("--user-folder"), QStringLiteral("Inbox")}),
             Outcome(0, {QStringLiteral("Inbox (2)/user inbox")}));
    QCOMPARE(exported({QStringLiteral("--folders"), QStringLiteral("Folders")}),
             Outcome(0, {QStringLiteral("Folders/user folders")}));
    QCOMPARE(exported({QStringLiteral("--user-folder"), QStringLiteral("Bills, 2008"),
                       QStringLiteral("--folders"), QStringLiteral("Inbox")}),
             Outcome(0, {QStringLiteral("Bills, 2008/bills"), QStringLiteral("Inbox/standard")}));
    // Every folder: four sub-folders, none shared.
    QCOMPARE(
        exported({}).second,
        (QStringList{QStringLiteral("Bills, 2008/bills"), QStringLiteral("Folders/user folders"),
                     QStringLiteral("Inbox (2)/user inbox"), QStringLiteral("Inbox/standard")}));
    // A standard identifier is no name of a user folder.
    const Result wrong = exportWith({QStringLiteral("--log"), fx.path(QStringLiteral("Log.txt")),
                                     QStringLiteral("--user-folder"), QStringLiteral("Sent"), db,
                                     fx.path(QStringLiteral("out-wrong"))});
    QCOMPARE(wrong.status, 2);
    QVERIFY(wrong.err.contains(QStringLiteral("no folder \"Sent\"")));

    const ToolRun help = runTool(builtTool("tarvik-export"), {QStringLiteral("--help")});
    QVERIFY(help.output.contains("--user-folder <NAME>"));
}

void TestHeadless::reportsWhatCouldNotBeWritten()
{
    StoreFixture fx;
    const QString db = fx.buildStore(R"json({ "format": 1, "title": "T",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["a"] } ],
      "documents": [ { "id": "a", "items": [
        { "name": "Subject", "type": "text", "values": ["s"] },
        { "name": "Body", "type": "richtext", "values": ["b"],
          "embedded": [ { "name": "x.bin", "content_text": "x", "unreadable": true } ] } ] } ] })json");
    const QString log = fx.path(QStringLiteral("Log.txt"));
    const Result r = exportWith({QStringLiteral("--log"), log, db, fx.path(QStringLiteral("out"))});
    QCOMPARE(r.status, 1);
    QVERIFY(r.err.contains(QStringLiteral("1 attachments could not be saved.")));
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("Attachment Not Saved : SUBJECT[s] in Folder[Inbox] : x.bin: "));
}

void TestHeadless::refusesToStart()
{
    StoreFixture fx;
    const QString db = fx.buildSample();
    const QString log = fx.path(QStringLiteral("Log.txt"));
    QFile plain(fx.path(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.write("not a database");
    plain.close();

    const QList<QStringList> cases = {
        {QStringLiteral("--log"), log, fx.path(QStringLiteral("missing.nsf")),
         fx.path(QStringLiteral("o1"))},
        {QStringLiteral("--log"), log, fx.path(QStringLiteral("plain")),
         fx.path(QStringLiteral("o2"))},
        {QStringLiteral("--log"), log, db, fx.path(QStringLiteral("plain/out"))},
        {QStringLiteral("--log"), log, db, fx.path(QStringLiteral("plain"))},
        {QStringLiteral("--log"), log, db},
        {QStringLiteral("--bogus"), db, fx.path(QStringLiteral("o3"))},
    };
    for (const QStringList& args : cases) {
        const Result r = exportWith(args);
        QVERIFY2(r.status == 2, qPrintable(args.join(QLatin1Char(' ')) + QStringLiteral(" -> ") +
                                           QString::number(r.status) + QLatin1Char(' ') + r.err));
        QVERIFY(!r.err.isEmpty());
    }
    QCOMPARE(emlFilesBelow(fx.folder()), 0);
    QCOMPARE(exportWith({QStringLiteral("--help")}).status, 0);
}

QTEST_GUILESS_MAIN(TestHeadless)
#include "tst_headless.moc"
