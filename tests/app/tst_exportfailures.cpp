#include "ExportHarness.h"
#include "FaultyNotes.h"
#include "StoreFixture.h"

#include "app/HeadlessExport.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Two user folders and the Inbox, three mails each (subjects "A1 mail" ...).
const QByteArray kThreeFolders = R"json({ "format": 1, "title": "Broken",
  "views": [
    { "name": "($Inbox)", "folder": true, "documents": ["i1", "i2", "i3"] },
    { "name": "Alpha", "folder": true, "documents": ["a1", "a2", "a3"] },
    { "name": "Beta", "folder": true, "documents": ["b1", "b2", "b3"] } ],
  "documents": [
    { "id": "i1", "items": [ { "name": "Subject", "type": "text", "values": ["I1 mail"] } ] },
    { "id": "i2", "items": [ { "name": "Subject", "type": "text", "values": ["I2 mail"] } ] },
    { "id": "i3", "items": [ { "name": "Subject", "type": "text", "values": ["I3 mail"] } ] },
    { "id": "a1", "items": [ { "name": "Subject", "type": "text", "values": ["A1 mail"] } ] },
    { "id": "a2", "items": [ { "name": "Subject", "type": "text", "values": ["A2 mail"] } ] },
    { "id": "a3", "items": [ { "name": "Subject", "type": "text", "values": ["A3 mail"] } ] },
    { "id": "b1", "items": [ { "name": "Subject", "type": "text", "values": ["B1 mail"] } ] },
    { "id": "b2", "items": [ { "name": "Subject", "type": "text", "values": ["B2 mail"] } ] },
    { "id": "b3", "items": [ { "name": "Subject", "type": "text", "values": ["B3 mail"] } ] } ] })json";

const QString kReason = QStringLiteral("Notes error: the view's index is damaged");

// What the export did with a back-end that fails as faults says: through the
// window's procedures, and through tarvik-export's (in this process).
struct Outcome {
    QStringList log;
    ExportRun::Summary summary;
    QString box;
    MessageIcon icon = MessageIcon::None;
    int unloads = 0;
    int status = -1;     // tarvik-export's exit status
    QString printed;     // and what it printed
    QStringList written; // files below the export root, as "folder/subject"
};

QStringList writtenBelow(const QString& root)
{
    QStringList out;
    for (QString f : filesBelow(root))
        out.append(f.remove(QRegularExpression(QStringLiteral(" mail[0-9]+\\.eml$"))));
    return out;
}

Outcome exportWithFaults(StoreFixture& fx, const NotesFaults& faults, const QString& name)
{
    const QString db = fx.buildStore(kThreeFolders);
    Outcome o;
    {
        ExportHarness h(fx.path(name + QStringLiteral(".log")));
        auto shared = std::make_shared<NotesFaults>(faults);
        installFaultyNotes(h.context, shared);
        h.scan(db);
        h.exportTo(fx.path(name));
        o.log = h.logLines();
        o.summary = h.summary();
        o.box = h.dialogs.messages.last().text;
        o.icon = h.dialogs.messages.last().icon;
        o.unloads = h.save.unloads;
        o.written = writtenBelow(fx.path(name + QStringLiteral("/Broken")));
    }
    AppContext context;
    context.logPath = fx.path(name + QStringLiteral("-headless.log"));
    installFaultyNotes(context, std::make_shared<NotesFaults>(faults));
    HeadlessOptions options;
    options.database = db;
    options.destination = fx.path(name + QStringLiteral("-headless"));
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> err(std::tmpfile(), &std::fclose);
    o.status = runHeadlessExport(options, context, err.get());
    QFile f;
    if (f.open(err.get(), QIODevice::ReadOnly) && f.seek(0))
        o.printed = QString::fromLocal8Bit(f.readAll());
    return o;
}

} // namespace

class TestExportFailures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void nextDocumentFailsInTheMiddle();
    void nextDocumentFailsAfterTheLast();
    void firstDocumentFails();
    void unreadableFolderIsShownAndCountedAsFailed();
    void partiallyReadFolderIsNeverComplete();
    void databaseGoesAwayDuringTheExport();
    void databaseGoneBeforeTheExport();
};

void TestExportFailures::nextDocumentFailsInTheMiddle()
{
    StoreFixture fx;
    NotesFaults faults;
    faults.view = QStringLiteral("Alpha");
    faults.nextFailsAfter = 1;
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    // The folder's first mail is written, the other two are counted as lost,
    // and the export goes on with the next folder.
    QCOMPARE(o.written, (QStringList{QStringLiteral("Alpha/A1"), QStringLiteral("Beta/B1"),
                                     QStringLiteral("Beta/B2"), QStringLiteral("Beta/B3"),
                                     QStringLiteral("Inbox/I1"), QStringLiteral("Inbox/I2"),
                                     QStringLiteral("Inbox/I3")}));
    const int at = int(o.log.indexOf(QStringLiteral("\tEmail Subject : SUBJECT[A1 mail]")));
    QVERIFY(at > 0);
    QCOMPARE(o.log.mid(at + 1, 2),
             (QStringList{QStringLiteral("Folder Incomplete : Folder[Alpha] : 2 of its 3 documents "
                                         "could not be read: ") +
                              kReason,
                          QStringLiteral("Created : Folder[Beta]")}));
    QCOMPARE(o.log.last(), QStringLiteral("Done"));
    QCOMPARE(o.summary.written, 7);
    QCOMPARE(o.summary.failed, 2);
    QCOMPARE(o.summary.foldersFailed, 1);
    QCOMPARE(o.icon, MessageIcon::Warning);
    QVERIFY(o.box.startsWith(QStringLiteral("Migration completed with errors.\r\n7 mails were "
                                            "written, 2 could not be written.\r\n")));
    QVERIFY(o.box.contains(QStringLiteral("\r\n1 folders could not be exported completely.")));
    QCOMPARE(o.unloads, 1);
    QCOMPARE(o.status, 1);
    QVERIFY(o.printed.contains(QStringLiteral(
        "3 folders, 7 mails written, 2 mails failed, 0 attachments (0 not saved, 0 incomplete), 0 "
        "mails incomplete, 1 folders not exported completely")));
}

void TestExportFailures::nextDocumentFailsAfterTheLast()
{
    // Every counted mail is written, but the view could not be read to its
    // end: more mails may have been there. Not a clean run.
    StoreFixture fx;
    NotesFaults faults;
    faults.view = QStringLiteral("($Inbox)");
    faults.nextFailsAfter = 3;
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    QCOMPARE(o.written.size(), 9);
    QVERIFY(o.log.contains(
        QStringLiteral(
            "Folder Incomplete : Folder[Inbox] : 0 of its 3 documents could not be read: ") +
        kReason));
    QCOMPARE(o.summary.written, 9);
    QCOMPARE(o.summary.failed, 0);
    QCOMPARE(o.summary.foldersFailed, 1);
    QCOMPARE(o.icon, MessageIcon::Warning);
    QVERIFY(o.box.contains(QStringLiteral("9 mails were written, 0 could not be written.")));
    QVERIFY(o.box.contains(QStringLiteral("1 folders could not be exported completely.")));
    QCOMPARE(o.status, 1);
}

void TestExportFailures::firstDocumentFails()
{
    StoreFixture fx;
    NotesFaults faults;
    faults.view = QStringLiteral("Beta");
    faults.firstFails = true;
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    // Beta is given up with its reason; nothing of it is written; the rest is.
    QCOMPARE(o.written.size(), 6);
    QVERIFY(o.written.filter(QStringLiteral("Beta/")).isEmpty());
    const int at = int(o.log.indexOf(QStringLiteral("Created : Folder[Beta]")));
    QVERIFY(at > 0);
    QCOMPARE(o.log.at(at + 1), QStringLiteral("Folder Not Exported : Folder[Beta] : ") + kReason);
    QCOMPARE(o.log.at(at + 2), QStringLiteral("Saving Emails (Inbox)..."));
    QCOMPARE(o.summary.written, 6);
    QCOMPARE(o.summary.failed, 0);
    QCOMPARE(o.summary.foldersFailed, 1);
    QCOMPARE(o.icon, MessageIcon::Warning);
    QVERIFY(o.box.contains(QStringLiteral("1 folders could not be exported completely.")));
    QVERIFY(!o.box.contains(QStringLiteral("Completed Successfully")));
    QCOMPARE(o.status, 1);
    QVERIFY(o.printed.contains(QStringLiteral("1 folders not exported completely")));
}

void TestExportFailures::unreadableFolderIsShownAndCountedAsFailed()
{
    StoreFixture fx;
    NotesFaults faults;
    faults.view = QStringLiteral("Beta");
    faults.unreadable = true;
    {
        // The tree never shows it as an empty folder: its caption says it cannot be read,
        // and its tip says why; the others keep their counts.
        ExportHarness h(fx.path(QStringLiteral("scan.log")));
        installFaultyNotes(h.context, std::make_shared<NotesFaults>(faults));
        h.scan(fx.buildStore(kThreeFolders));
        const FolderTree& tree = h.procedures.tree;
        const int beta = tree.indexOfKey(QStringLiteral("Beta"));
        QVERIFY(beta >= 0);
        QCOMPARE(tree.node(beta).caption, QStringLiteral("Beta (cannot be read)"));
        const QModelIndex at = tree.modelIndexOfNode(beta);
        QCOMPARE(tree.data(at, Qt::ToolTipRole).toString(),
                 QStringLiteral("The mails of this folder cannot be read from the database: ") +
                     kReason);
        const int alpha = tree.indexOfKey(QStringLiteral("Alpha"));
        QCOMPARE(tree.node(alpha).caption, QStringLiteral("Alpha (3)"));
        QVERIFY(!tree.data(tree.modelIndexOfNode(alpha), Qt::ToolTipRole).isValid());
    }
    // The export names it and counts it as a folder not exported.
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    QCOMPARE(o.written.size(), 6);
    QVERIFY(o.log.contains(QStringLiteral("Folder Not Exported : Folder[Beta] : ") + kReason));
    QCOMPARE(o.summary.foldersFailed, 1);
    QCOMPARE(o.status, 1);
}

void TestExportFailures::partiallyReadFolderIsNeverComplete()
{
    StoreFixture fx;
    NotesFaults faults;
    faults.view = QStringLiteral("Alpha");
    faults.partialProblems = {QStringLiteral("2 entries of its index point to no document"),
                              QStringLiteral("its index is older than the documents")};
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    // What could be read is written; each problem is logged before the folder's mails, and
    // the run does not call itself successful.
    QCOMPARE(o.written.size(), 9);
    const int at = int(o.log.indexOf(QStringLiteral("Created : Folder[Alpha]")));
    QVERIFY(at > 0);
    QCOMPARE(o.log.mid(at + 1, 3),
             (QStringList{QStringLiteral("Folder Partially Read : Folder[Alpha] : 2 entries of "
                                         "its index point to no document"),
                          QStringLiteral("Folder Partially Read : Folder[Alpha] : its index is "
                                         "older than the documents"),
                          QStringLiteral("\tEmail Subject : SUBJECT[A1 mail]")}));
    QCOMPARE(o.summary.written, 9);
    QCOMPARE(o.summary.foldersFailed, 1);
    QVERIFY(!o.box.contains(QStringLiteral("Completed Successfully")));
    QCOMPARE(o.status, 1);
}

void TestExportFailures::databaseGoesAwayDuringTheExport()
{
    // Gone once Alpha is being read: Beta and every ticked standard folder
    // after it are given up, each named in the log.
    StoreFixture fx;
    NotesFaults faults;
    faults.databaseGoneAfter = QStringLiteral("Alpha");
    const Outcome o = exportWithFaults(fx, faults, QStringLiteral("out"));
    QCOMPARE(o.written, (QStringList{QStringLiteral("Alpha/A1"), QStringLiteral("Alpha/A2"),
                                     QStringLiteral("Alpha/A3")}));
    const QStringList given = o.log.filter(QStringLiteral("Folder Not Exported"));
    const QString gone = QStringLiteral("] : \"") + fx.path(QStringLiteral("store-1.nsf")) +
                         QStringLiteral("\" cannot be opened: the database has gone away");
    QCOMPARE(given,
             (QStringList{QStringLiteral("Folder Not Exported : Folder[Beta") + gone,
                          QStringLiteral("Folder Not Exported : Folder[Inbox") + gone,
                          QStringLiteral("Folder Not Exported : Folder[Sent Items") + gone,
                          QStringLiteral("Folder Not Exported : Folder[Drafts") + gone,
                          QStringLiteral("Folder Not Exported : Folder[Deleted Items") + gone}));
    QCOMPARE(o.log.last(), QStringLiteral("Done"));
    QCOMPARE(o.summary.written, 3);
    QCOMPARE(o.summary.foldersFailed, 5);
    QCOMPARE(o.icon, MessageIcon::Warning);
    QVERIFY(o.box.contains(QStringLiteral("5 folders could not be exported completely.")));
    QCOMPARE(o.unloads, 1);
    QCOMPARE(o.status, 1);
}

void TestExportFailures::databaseGoneBeforeTheExport()
{
    // The database file is removed between the scan and the export: the
    // export does not start, says why, and leaves the window open.
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    const QString db = fx.buildStore(kThreeFolders);
    h.scan(db);
    QVERIFY(QFile::remove(db));
    h.exportTo(fx.path(QStringLiteral("out")));
    const auto& box = h.dialogs.messages.last();
    QCOMPARE(box.title, QStringLiteral("Error in Conversion"));
    QCOMPARE(box.text, QStringLiteral("Error occured during conversion...\r\n\r\n\"") + db +
                           QStringLiteral("\" cannot be opened: No such file or directory"));
    QVERIFY(!h.summary().started);
    QCOMPARE(h.save.unloads, 0);
    QVERIFY(!h.logLines().contains(QStringLiteral("Done")));
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out"))), QStringList());
}

QTEST_GUILESS_MAIN(TestExportFailures)
#include "tst_exportfailures.moc"
