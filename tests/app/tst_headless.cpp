#include "StoreFixture.h"
#include "ToolRun.h"

#include "app/AppContext.h"
#include "app/HeadlessExport.h"
#include "notes/LocalStore.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <memory>

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
    void exportsEveryDocumentOfTheSample();
    void namesStandardAndUserFoldersApart();
    void progressLineEndsBeforeMessages();
    void reportsWhatCouldNotBeWritten();
    void refusesToStart();
};

void TestHeadless::exportsTheSampleDatabase()
{
    StoreFixture fx;
    const QString log = fx.path(QStringLiteral("Log.txt"));
    const QString out = fx.path(QStringLiteral("mail"));
    const Result r = exportWith({QStringLiteral("--log"), log, fx.buildSample(), out});
    // Every mail and every attachment, those outside a Body item included.
    QCOMPARE(r.status, 0);
    QVERIFY(!r.err.contains(QLatin1Char('\r')));
    QCOMPARE(emlFilesBelow(out), 55);
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY(text.endsWith("Done\r\n"));
    QVERIFY(!text.contains("Not Saved"));
    QVERIFY(
        text.contains("\tEmail Subject : SUBJECT[Lab notebook scan]\r\n\tAttachment : ATTACH[|"));

    // The README shows what it prints (but for the progress line of a terminal,
    // the path and the time).
    QFile readme(QStringLiteral(TARVIK_SOURCE_DIR "/README.md"));
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString md = QString::fromUtf8(readme.readAll());
    const QString command = QStringLiteral(
        "build/tarvik-export --log out.log build/samples/sample-mail.nsf /tmp/mail\n```\n\n```\n");
    const qsizetype start = md.indexOf(command);
    QVERIFY(start > 0);
    const qsizetype from = start + command.size();
    QStringList shown = md.mid(from, md.indexOf(QStringLiteral("```"), from) - from)
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    shown.removeIf([](const QString& line) { return line.startsWith(QLatin1Char('[')); });
    const QRegularExpression seconds(QStringLiteral("[0-9]+\\.[0-9] s\\."));
    QString printed = r.err;
    printed.replace(out, QStringLiteral("/tmp/mail")).replace(seconds, QStringLiteral("T s."));
    QCOMPARE(printed.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             shown.join(QLatin1Char('\n'))
                 .replace(seconds, QStringLiteral("T s."))
                 .split(QLatin1Char('\n')));
}

void TestHeadless::exportsNamedFoldersOnly()
{
    StoreFixture fx;
    const QString db = fx.buildSample();
    const Result r = exportWith(
        {QStringLiteral("--log"), fx.path(QStringLiteral("Log.txt")), QStringLiteral("--folders"),
         QStringLiteral("Inbox,Projects\\2008"), QStringLiteral("--folders"),
         QStringLiteral("Follow-Up"), db, fx.path(QStringLiteral("out"))});
    QCOMPARE(r.status, 0);
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

void TestHeadless::exportsEveryDocumentOfTheSample()
{
    // --all-documents alone: every document of the store once, in one folder, whatever
    // folders it is in (the rule in no mail folder too), and nothing else.
    StoreFixture fx;
    const QString db = fx.buildSample();
    const QString log = fx.path(QStringLiteral("Log.txt"));
    const Result r = exportWith({QStringLiteral("--all-documents"), QStringLiteral("--log"), log,
                                 db, fx.path(QStringLiteral("out"))});
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QString root = fx.path(QStringLiteral("out/Mira Kestrel - Mail"));
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("All Documents")});
    const qint64 documents =
        tarvik::notes::LocalStoreSession().GetDatabase({}, db)->AllDocuments()->Count();
    QCOMPARE(documents, 60);
    QCOMPARE(qint64(emlFilesBelow(root)), documents);
    QFile f(log);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QCOMPARE(qint64(text.count("\tEmail Subject : SUBJECT[")), documents);
    QVERIFY(!text.contains("Not Saved"));
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

void TestHeadless::progressLineEndsBeforeMessages()
{
    StoreFixture fx;
    tarvik::AppContext context;
    context.logPath = fx.path(QStringLiteral("Log.txt"));
    tarvik::HeadlessOptions options;
    options.database = fx.buildSample();
    options.destination = fx.path(QStringLiteral("out"));
    options.progressBar = true;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), &std::fclose);
    QVERIFY(err);
    QCOMPARE(tarvik::runHeadlessExport(options, context, err.get()), 0);
    QFile f;
    QVERIFY(f.open(err.get(), QIODevice::ReadOnly));
    QVERIFY(f.seek(0));
    const QByteArray text = f.readAll();
    // The bar is redrawn in place, reaches the end, and the completion
    // message starts on a line of its own.
    QVERIFY(text.contains("\r[##############################] 55/55 mails, 0 failed, "));
    QVERIFY(text.contains("\nMigration Completed Successfully !\n"));
    QCOMPARE(text.count("Migration Completed"), 1);
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
