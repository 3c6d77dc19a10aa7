#include "EmlCheck.h"
#include "ExportHarness.h"
#include "StoreFixture.h"

#include "mail/RdoSession.h"
#include "mail/RdoSessionRegistry.h"
#include "notes/NotesSessionRegistry.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray smallMail()
{
    return readFile(QStringLiteral(TARVIK_SOURCE_DIR "/tests/app/data/small-mail.json"));
}

// The file of a folder whose name starts with the given subject stem and goes
// on with the number only.
QString fileOf(const QString& folder, const QString& stem)
{
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(stem) + QStringLiteral("[0-9]+\\.eml")));
    for (const QString& f : QDir(folder).entryList(QDir::Files)) {
        if (pattern.match(f).hasMatch())
            return folder + QLatin1Char('/') + f;
    }
    return {};
}

QStringList addresses(const QList<EmlAddress>& list)
{
    QStringList out;
    for (const EmlAddress& a : list)
        out.append(a.name.isEmpty() ? a.address
                                    : a.name + QStringLiteral(" <") + a.address + QLatin1Char('>'));
    return out;
}

} // namespace

class TestExportRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exportsTickedFoldersWithExactLog();
    void messagesCarryTheDocumentsFields();
    void selectionIsByExactName();
    void selectionIsByTreeNode();
    void foldersNeverShareASubFolder();
    void secondRunBuildsTheSameRoot();
    void sessionFailuresStopTheRun();
    void damagedDocumentsAreStillExported();
    void failuresAreCountedAndLogged();
    void attachmentsOutsideTheBody();
    void partialLossIsNeverReportedAsSuccess();
    void logThatCannotBeCreated();
    void destinationThatCannotBeWritten();
    void standardFolderBeyondSixteenBits();
    void foldersNamedWithSurroundingBlanks();
    void onlyTheRootTicked();
};

void TestExportRun::exportsTickedFoldersWithExactLog()
{
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(smallMail()));
    const QString dest = fx.path(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(dest));
    h.exportTo(dest);

    QCOMPARE(h.dialogs.folderTitles, QStringList{QStringLiteral("Select Path to Save PST File")});
    QCOMPARE(h.windows.saveWindowShows, 1);
    // Every node ticked: the root and the group node stand for no folder.
    QCOMPARE(h.context.state.gSelectedFolders.size(), h.procedures.tree.nodeCount() + 1);
    QCOMPARE(h.context.state.gSelectedFolders.first(), FolderId());

    const QStringList expected = {
        QStringLiteral("Customer Folder : Projects\\2008"),
        QStringLiteral("Customer Folder : Projects"),
        QStringLiteral("Customer Folder : A:B"),
        QStringLiteral("---------------- Starting User Folders ---------------"),
        QStringLiteral("Created : Folder[A:B]"),
        QStringLiteral("Created : Folder[Projects]"),
        QStringLiteral("\tEmail Subject : SUBJECT[Re: Budget?]"),
        QStringLiteral("Created : Folder[Projects\\2008]"),
        QStringLiteral("\tEmail Subject : SUBJECT[Budget 2008]"),
        QStringLiteral("\tAttachment : ATTACH[|<TEMP>/1/figures.xls]"),
        QStringLiteral("\tEmail Subject : SUBJECT[Minutes]"),
        QStringLiteral("\tAttachment : ATTACH[|<TEMP>/2/a.doc]"),
        QStringLiteral("Saving Emails (Inbox)..."),
        QStringLiteral("\tEmail Subject : SUBJECT[Budget 2008]"),
        QStringLiteral("\tAttachment : ATTACH[|<TEMP>/3/figures.xls]"),
        QStringLiteral("\tEmail Subject : SUBJECT[Re: Budget?]"),
        QStringLiteral("Saving Emails (Sent Items)..."),
        QStringLiteral("\tEmail Subject : SUBJECT[Minutes]"),
        QStringLiteral("\tAttachment : ATTACH[<TEMP>/4/a.doc]"),
        QStringLiteral("Saving Emails (Drafts)..."),
        QStringLiteral("\tEmail Subject : SUBJECT[Draft: plan]"),
        QStringLiteral("\tAttachment : ATTACH[<TEMP>/5/b.txt]"),
        QStringLiteral("Saving Emails (Deleted Items)..."),
        QStringLiteral("\tEmail Subject : SUBJECT[Old news]"),
        QStringLiteral("Done"),
    };
    QCOMPARE(h.logLines(), expected);
    QVERIFY(readFile(h.context.logPath).contains("Done\r\n"));

    const QString root = dest + QStringLiteral("/Ann Example - Mail/");
    QCOMPARE(h.context.state.gExportPath, root);
    const QStringList files = filesBelow(dest);
    QCOMPARE(files.size(), 8);
    const QStringList folders = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCOMPARE(folders, (QStringList{QStringLiteral("A-B"), QStringLiteral("Deleted Items"),
                                   QStringLiteral("Drafts"), QStringLiteral("Inbox"),
                                   QStringLiteral("Projects"), QStringLiteral("Projects-2008"),
                                   QStringLiteral("Sent Items")}));
    for (const auto& [folder, stem] : QList<QPair<QString, QString>>{
             {QStringLiteral("Projects"), QStringLiteral("Re Budget")},
             {QStringLiteral("Projects-2008"), QStringLiteral("Budget 2008")},
             {QStringLiteral("Projects-2008"), QStringLiteral("Minutes")},
             {QStringLiteral("Inbox"), QStringLiteral("Budget 2008")},
             {QStringLiteral("Inbox"), QStringLiteral("Re Budget")},
             {QStringLiteral("Sent Items"), QStringLiteral("Minutes")},
             {QStringLiteral("Drafts"), QStringLiteral("Draft plan")},
             {QStringLiteral("Deleted Items"), QStringLiteral("Old news")}})
        QVERIFY2(!fileOf(root + folder, stem).isEmpty(),
                 qPrintable(folder + QLatin1Char('/') + stem));

    QCOMPARE(h.summary().written, 8);
    QCOMPARE(h.summary().failed, 0);
    QCOMPARE(h.summary().attachments, 5);
    QCOMPARE(h.save.unloads, 1);
    QCOMPARE(h.save.header, QStringLiteral("Saving Emails (Deleted Items)..."));
    QVERIFY(h.save.headers.contains(
        QStringLiteral("Saving Emails (Custom Folders)... [Projects\\2008]")));
    QCOMPARE(h.save.found, QStringLiteral("1"));
    QCOMPARE(h.save.current, QStringLiteral("0/1"));

    const auto& done = h.dialogs.messages.last();
    QCOMPARE(done.text, QStringLiteral("Migration Completed Successfully !\r\n") + root +
                            QStringLiteral("\r\nAnn Example - Mail"));
    QCOMPARE(done.icon, MessageIcon::Information);
    // Extracted attachments are gone from the temporary folder.
    QCOMPARE(filesBelow(h.context.temp.pathIfMade()), QStringList{QStringLiteral("sqm.pbs")});
}

void TestExportRun::messagesCarryTheDocumentsFields()
{
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(smallMail()));
    const QString dest = fx.path(QStringLiteral("out"));
    h.exportTo(dest);
    const QString root = dest + QStringLiteral("/Ann Example - Mail/");

    const EmlReport m1 =
        checkEml(fileOf(root + QStringLiteral("Inbox"), QStringLiteral("Budget 2008")));
    QVERIFY2(m1.ok(), qPrintable(m1.error + m1.defects.join(QLatin1Char('\n'))));
    QCOMPARE(addresses(m1.from), QStringList{QStringLiteral("ann@example.com")});
    // "." entries of the Internet list stay out; CC takes the Notes name there.
    QCOMPARE(addresses(m1.to),
             (QStringList{QStringLiteral("bob@example.com"), QStringLiteral("dee@example.com")}));
    QCOMPARE(m1.cc.size(), 3);
    QCOMPARE(m1.cc[0].address, QStringLiteral("p1@example.com"));
    QCOMPARE(m1.cc[1].name, QStringLiteral("N2/Acme"));
    QVERIFY(m1.cc[1].address.endsWith(QStringLiteral(".invalid")));
    QCOMPARE(m1.cc[2].address, QStringLiteral("p3@example.com"));
    QCOMPARE(m1.subject, QStringLiteral("Budget 2008"));
    QCOMPARE(m1.dateEpoch,
             QDateTime::fromString(QStringLiteral("2008-03-14T10:32:05+01:00"), Qt::ISODate)
                 .toSecsSinceEpoch());
    QCOMPARE(m1.body->trimmed(), QStringLiteral("Hello Bob,\nthe figures are attached."));
    QCOMPARE(m1.attachments.size(), 1); // the OLE object is not a file attachment
    QCOMPARE(m1.attachments[0].fileName, QStringLiteral("figures.xls"));
    QCOMPARE(m1.attachments[0].data, QByteArray("cells"));

    const EmlReport m2 =
        checkEml(fileOf(root + QStringLiteral("Inbox"), QStringLiteral("Re Budget")));
    QVERIFY(m2.ok());
    // "." in INetFrom keeps the Notes name; two Internet values count as one.
    QCOMPARE(m2.from.size(), 1);
    QCOMPARE(m2.from[0].name, QStringLiteral("Bob Field/Acme"));
    QCOMPARE(addresses(m2.to), QStringList{QStringLiteral("ann@example.com")});
    QCOMPARE(m2.bcc.size(), 1);
    QCOMPARE(m2.bcc[0].name, QStringLiteral("Secret Sam/Acme"));
    QCOMPARE(m2.subject,
             QStringLiteral("Re: Budget?")); // the file name lost ":" and "?", not the subject
    QVERIFY(m2.attachments.isEmpty());

    // Deleted mail takes the first value of From and SendTo as they stand.
    const EmlReport m5 =
        checkEml(fileOf(root + QStringLiteral("Deleted Items"), QStringLiteral("Old news")));
    QVERIFY(m5.ok());
    QCOMPARE(m5.from[0].name, QStringLiteral("Old Friend/Acme"));
    QCOMPARE(m5.to.size(), 1);
    QCOMPARE(m5.to[0].name, QStringLiteral("Ann Example/Acme"));

    // A draft without a date is dated on the day of the export.
    const EmlReport m4 =
        checkEml(fileOf(root + QStringLiteral("Drafts"), QStringLiteral("Draft plan")));
    QVERIFY(m4.ok());
    QVERIFY(m4.dateEpoch.has_value());
    QCOMPARE(QDateTime::fromSecsSinceEpoch(*m4.dateEpoch).date(), QDate::currentDate());
    QCOMPARE(m4.attachments.size(), 1);
    QCOMPARE(m4.attachments[0].data, QByteArray("plan"));
}

void TestExportRun::selectionIsByExactName()
{
    StoreFixture fx;
    const QByteArray db = R"json({ "format": 1, "title": "Sel",
      "views": [
        { "name": "($Inbox)", "folder": true, "documents": ["a"] },
        { "name": "($Sent)", "folder": true, "documents": ["a"] },
        { "name": "Old Inbox", "folder": true, "documents": ["a"] },
        { "name": "Projects", "folder": true, "documents": ["a"] },
        { "name": "Projects 2008", "folder": true, "documents": ["a"] },
        { "name": "($Follow-Up)", "folder": true, "documents": ["a"] },
        { "name": "($JunkMail)", "folder": true, "documents": ["a"] } ],
      "documents": [ { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["x"] } ] } ] })json";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(db));
    // Only user folders ticked, the first of them before any other ticked node.
    h.untick({QStringLiteral("Lotus Notes Address Book"), QStringLiteral("Inbox"),
              QStringLiteral("Drafts"), QStringLiteral("Sent"), QStringLiteral("Trash"),
              QStringLiteral("Folders"), QStringLiteral("Projects")});
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.context.state.gSelectedFolders.first(),
             (FolderId{FolderKind::Standard, QStringLiteral("Follow-Up")}));
    const QString root = fx.path(QStringLiteral("out/Sel/"));
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("Old Inbox"), QStringLiteral("Projects 2008")}));
    QCOMPARE(h.summary().written, 2);

    // A user folder that is the very first ticked node is exported too.
    ExportHarness first(fx.path(QStringLiteral("Log2.txt")));
    first.scan(fx.buildStore(db));
    for (int i = 0; i < first.procedures.tree.nodeCount(); ++i)
        first.procedures.tree.setTick(i, first.procedures.tree.node(i).key ==
                                             QLatin1String("Projects"));
    first.exportTo(fx.path(QStringLiteral("out2")));
    QCOMPARE(first.context.state.gSelectedFolders.first(),
             (FolderId{FolderKind::User, QStringLiteral("Projects")}));
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out2/Sel"))).size(), 1);
    QVERIFY(filesBelow(fx.path(QStringLiteral("out2/Sel")))[0].startsWith(
        QStringLiteral("Projects/x")));
}

namespace {

// The standard Inbox and user folders named "Inbox" and "Folders", one mail each.
const QByteArray kLookAlikes = R"json({ "format": 1, "title": "Alike",
  "views": [
    { "name": "($Inbox)", "folder": true, "documents": ["s"] },
    { "name": "Inbox", "folder": true, "documents": ["u1"] },
    { "name": "Folders", "folder": true, "documents": ["u2"] } ],
  "documents": [
    { "id": "s", "items": [ { "name": "Subject", "type": "text", "values": ["standard"] } ] },
    { "id": "u1", "items": [ { "name": "Subject", "type": "text", "values": ["user inbox"] } ] },
    { "id": "u2", "items": [ { "name": "Subject", "type": "text", "values": ["user folders"] } ] } ] })json";

// Exports with exactly the nodes of the given keys ticked; the files below the
// export root as "sub-folder/subject".
QStringList exportTicked(ExportHarness& h, StoreFixture& fx, const QStringList& keys,
                         const QString& out)
{
    h.scan(fx.buildStore(kLookAlikes));
    for (int i = 0; i < h.procedures.tree.nodeCount(); ++i)
        h.procedures.tree.setTick(i, keys.contains(h.procedures.tree.node(i).key) ? 1 : 0);
    h.exportTo(fx.path(out));
    QStringList files;
    for (const QString& f : filesBelow(fx.path(out + QStringLiteral("/Alike"))))
        files.append(f.left(f.lastIndexOf(QRegularExpression(QStringLiteral("[0-9]+\\.eml$")))));
    return files;
}

} // namespace

void TestExportRun::selectionIsByTreeNode()
{
    StoreFixture fx;
    {
        // Only the user folder "Inbox" (keyed "Inbox (2)" in the tree).
        ExportHarness h(fx.path(QStringLiteral("Log1.txt")));
        QCOMPARE(exportTicked(h, fx, {QStringLiteral("Inbox (2)")}, QStringLiteral("out1")),
                 QStringList{QStringLiteral("Inbox (2)/user inbox")});
        QCOMPARE(
            h.logLines(),
            (QStringList{QStringLiteral("Customer Folder : Inbox"),
                         QStringLiteral("---------------- Starting User Folders ---------------"),
                         QStringLiteral("Created : Folder[Inbox]"),
                         QStringLiteral("Folder Renamed : Folder[Inbox] is written to [Inbox "
                                        "(2)], since [Inbox] holds the standard folder Inbox"),
                         QStringLiteral("\tEmail Subject : SUBJECT[user inbox]"),
                         QStringLiteral("Done")}));
    }
    {
        // The standard Inbox and the "Folders" group node: no user folder.
        ExportHarness h(fx.path(QStringLiteral("Log2.txt")));
        QCOMPARE(exportTicked(h, fx, {QStringLiteral("Inbox"), QStringLiteral("Folders")},
                              QStringLiteral("out2")),
                 QStringList{QStringLiteral("Inbox/standard")});
        QCOMPARE(h.summary().written, 1);
    }
    {
        // The user folder "Folders" alone, and everything: each folder once, in
        // a sub-folder of its own.
        ExportHarness h(fx.path(QStringLiteral("Log3.txt")));
        QCOMPARE(exportTicked(h, fx, {QStringLiteral("Folders (2)")}, QStringLiteral("out3")),
                 QStringList{QStringLiteral("Folders/user folders")});
        ExportHarness all(fx.path(QStringLiteral("Log4.txt")));
        QCOMPARE(exportTicked(all, fx,
                              {QStringLiteral("Lotus Notes Address Book"), QStringLiteral("Inbox"),
                               QStringLiteral("Folders"), QStringLiteral("Inbox (2)"),
                               QStringLiteral("Folders (2)")},
                              QStringLiteral("out4")),
                 (QStringList{QStringLiteral("Folders/user folders"),
                              QStringLiteral("Inbox (2)/user inbox"),
                              QStringLiteral("Inbox/standard")}));
        QCOMPARE(all.summary().written, 3);
        QVERIFY(all.dialogs.messages.last().text.startsWith(
            QStringLiteral("Migration Completed Successfully !")));
    }
}

void TestExportRun::foldersNeverShareASubFolder()
{
    // Names that become one sub-folder after cleaning, or that differ only in
    // case, and names that take the standard folders' sub-folders.
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(R"json({ "format": 1, "title": "Clash",
      "views": [
        { "name": "($Sent)", "folder": true, "documents": ["a"] },
        { "name": "A:B", "folder": true, "documents": ["a"] },
        { "name": "A-B", "folder": true, "documents": ["a"] },
        { "name": "A*B", "folder": true, "documents": ["a"] },
        { "name": "a-b", "folder": true, "documents": ["a"] },
        { "name": "Sent Items", "folder": true, "documents": ["a"] },
        { "name": "deleted items", "folder": true, "documents": ["a"] },
        { "name": "Drafts (2)", "folder": true, "documents": ["a"] },
        { "name": "Drafts", "folder": true, "documents": ["a"] } ],
      "documents": [ { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["m"] } ] } ] })json"));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 9);
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out/Clash"))).size(), 9);
    // In name order: "A*B" and "A-B" come before "A:B", "a-b" after them. The
    // ticked standard folders without views get their empty sub-folders.
    QDir clash(fx.path(QStringLiteral("out/Clash")));
    clash.setSorting(QDir::Name);
    QCOMPARE(clash.entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("A-B"), QStringLiteral("A-B (2)"),
                          QStringLiteral("A-B (3)"), QStringLiteral("Deleted Items"),
                          QStringLiteral("Drafts"), QStringLiteral("Drafts (2)"),
                          QStringLiteral("Drafts (2) (2)"), QStringLiteral("Inbox"),
                          QStringLiteral("Sent Items"), QStringLiteral("Sent Items (2)"),
                          QStringLiteral("a-b (4)"), QStringLiteral("deleted items (2)")}));
    const QStringList renamed = h.logLines().filter(QStringLiteral("Folder Renamed"));
    QCOMPARE(
        renamed,
        (QStringList{QStringLiteral("Folder Renamed : Folder[A-B] is written to [A-B (2)], since "
                                    "[A-B] holds Folder[A*B]"),
                     QStringLiteral("Folder Renamed : Folder[A:B] is written to [A-B (3)], since "
                                    "[A-B] holds Folder[A*B]"),
                     QStringLiteral("Folder Renamed : Folder[Drafts] is written to [Drafts (2)], "
                                    "since [Drafts] holds the standard folder Drafts"),
                     QStringLiteral("Folder Renamed : Folder[Drafts (2)] is written to [Drafts (2) "
                                    "(2)], since [Drafts (2)] holds Folder[Drafts]"),
                     QStringLiteral("Folder Renamed : Folder[Sent Items] is written to [Sent Items "
                                    "(2)], since [Sent Items] holds the standard folder Sent"),
                     QStringLiteral("Folder Renamed : Folder[a-b] is written to [a-b (4)], since "
                                    "[a-b] holds Folder[A*B]"),
                     QStringLiteral("Folder Renamed : Folder[deleted items] is written to [deleted "
                                    "items (2)], since [deleted items] holds the standard folder "
                                    "Trash")}));

    // A folder keeps its sub-folder when it is exported on its own.
    ExportHarness one(fx.path(QStringLiteral("Log2.txt")));
    one.scan(fx.buildStore(R"json({ "format": 1, "title": "Clash",
      "views": [
        { "name": "A:B", "folder": true, "documents": ["a"] },
        { "name": "A-B", "folder": true, "documents": ["a"] } ],
      "documents": [ { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["m"] } ] } ] })json"));
    one.untick({QStringLiteral("A-B")});
    one.exportTo(fx.path(QStringLiteral("out2")));
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out2/Clash"))).size(), 1);
    QVERIFY(filesBelow(fx.path(QStringLiteral("out2/Clash")))[0].startsWith(
        QStringLiteral("A-B (2)/m")));
}

void TestExportRun::secondRunBuildsTheSameRoot()
{
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.presses = 2;
    h.scan(fx.buildStore(smallMail()));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.context.state.gExportPath, fx.path(QStringLiteral("out/Ann Example - Mail/")));
    QCOMPARE(QDir(fx.path(QStringLiteral("out"))).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("Ann Example - Mail")});
    QVERIFY(
        !QFileInfo::exists(fx.path(QStringLiteral("out/Ann Example - Mail/Ann Example - Mail"))));
    // Both runs' mails are there, none overwritten.
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out"))).size(), 16);
}

void TestExportRun::sessionFailuresStopTheRun()
{
    StoreFixture fx;
    const QString db = fx.buildStore(smallMail());
    {
        // No Notes session at all.
        ExportHarness h(fx.path(QStringLiteral("Log1.txt")));
        h.scan(db);
        h.context.notesSessions.removeFactory(notes::NotesSessionRegistry::dominoProgId);
        h.exportTo(fx.path(QStringLiteral("out1")));
        QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Notes Not Installed/Configured"));
        QCOMPARE(h.logLines(), QStringList());
        QCOMPARE(h.save.unloads, 0);
        QVERIFY(!h.summary().started);
        QVERIFY(!QFileInfo::exists(fx.path(QStringLiteral("out1/Ann Example - Mail"))));
    }
    {
        // The second ProgID answers: noted in the log.
        ExportHarness h(fx.path(QStringLiteral("Log2.txt")));
        h.scan(db);
        notes::NotesSessionRegistry local = notes::NotesSessionRegistry::withDefaults();
        h.context.notesSessions.removeFactory(notes::NotesSessionRegistry::dominoProgId);
        h.context.notesSessions.setFactory(notes::NotesSessionRegistry::notesProgId, [&local] {
            return local.create(notes::NotesSessionRegistry::dominoProgId);
        });
        h.exportTo(fx.path(QStringLiteral("out2")));
        QCOMPARE(h.logLines().first(), QStringLiteral("Lotus Notes Found"));
        QCOMPARE(h.logLines().last(), QStringLiteral("Done"));
        QCOMPARE(h.summary().written, 8);
    }
    for (bool logonFails : {false, true}) {
        // The mail writer cannot be created, or cannot log on.
        ExportHarness h(fx.path(QStringLiteral("Log3.txt")));
        h.scan(db);
        if (logonFails) {
            h.context.rdoSessions.setFactory(mail::rdoSessionProgId, [] {
                mail::RdoSessionOptions options;
                options.logonError = QStringLiteral("No mail profile");
                return std::make_shared<mail::RdoSession>(options);
            });
        } else {
            h.context.rdoSessions.removeFactory(mail::rdoSessionProgId);
        }
        h.exportTo(fx.path(QStringLiteral("out3")));
        QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Error in Conversion"));
        QVERIFY(h.dialogs.messages.last().text.startsWith(
            QStringLiteral("Error occured during conversion...")));
        QCOMPARE(h.save.unloads, 0);
        QVERIFY(!h.logLines().contains(QStringLiteral("Done")));
        QCOMPARE(filesBelow(fx.path(QStringLiteral("out3"))), QStringList());
    }
}

void TestExportRun::damagedDocumentsAreStillExported()
{
    StoreFixture fx;
    // The first Inbox document cannot be read at all; the second one can.
    const QByteArray db = R"json({ "format": 1, "title": "Damaged",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["bad", "good"] } ],
      "documents": [
        { "id": "bad", "items": [
          { "name": "Subject", "type": "text", "values": ["lost"], "unreadable": true },
          { "name": "From", "type": "text", "values": ["x@example.com"], "unreadable": true },
          { "name": "Body", "type": "richtext", "values": ["b"], "unreadable": true,
            "embedded": [ { "name": "f.txt", "content_text": "f" } ] } ] },
        { "id": "good", "items": [
          { "name": "Subject", "type": "text", "values": ["kept"] },
          { "name": "From", "type": "text", "values": ["good@example.com"] } ] } ] })json";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(db));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 2);
    const QString inbox = fx.path(QStringLiteral("out/Damaged/Inbox"));
    const QStringList files = QDir(inbox).entryList(QDir::Files);
    QCOMPARE(files.size(), 2);
    // The damaged mail has empty fields, never the other mail's.
    QString nameless;
    for (const QString& f : files)
        if (!f.startsWith(QStringLiteral("kept")))
            nameless = inbox + QLatin1Char('/') + f;
    const EmlReport r = checkEml(nameless);
    QVERIFY(r.ok());
    QCOMPARE(r.subject.value_or(QString()), QString());
    QVERIFY(r.from.isEmpty());
    const QStringList log = h.logLines();
    QCOMPARE(
        log.filter(QStringLiteral("\tItem Not Read : SUBJECT[] in Folder[Inbox] : ")),
        (QStringList{QStringLiteral("\tItem Not Read : SUBJECT[] in Folder[Inbox] : Subject: The "
                                    "item \"Subject\" cannot be read: it is damaged or encrypted"),
                     QStringLiteral("\tItem Not Read : SUBJECT[] in Folder[Inbox] : From: The "
                                    "item \"From\" cannot be read: it is damaged or encrypted"),
                     QStringLiteral("\tItem Not Read : SUBJECT[] in Folder[Inbox] : Body: The "
                                    "item \"Body\" cannot be read: it is damaged or encrypted")}));
    QCOMPARE(log.filter(QStringLiteral("Attachment Not Saved")).size(), 1);
    QCOMPARE(h.dialogs.messages.last().icon, MessageIcon::Warning);
}

void TestExportRun::failuresAreCountedAndLogged()
{
    StoreFixture fx;
    const QByteArray db = R"json({ "format": 1, "title": "Fail",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["a", "b"] },
                 { "name": "Gone", "folder": true, "documents": ["a"] } ],
      "documents": [
        { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["with attachment"] },
          { "name": "Body", "type": "richtext", "values": ["b"],
            "embedded": [ { "name": "ok.txt", "content_text": "ok" },
                          { "name": "broken.bin", "content_text": "x", "unreadable": true } ] } ] },
        { "id": "b", "items": [ { "name": "Subject", "type": "text", "values": ["plain"] } ] } ] })json";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(db));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 3);
    QCOMPARE(h.summary().attachmentsDropped, 2); // once in Gone, once in Inbox
    const QStringList dropped = h.logLines().filter(QStringLiteral("Attachment Not Saved"));
    QCOMPARE(dropped.size(), 2);
    QVERIFY(dropped[0].contains(
        QStringLiteral("SUBJECT[with attachment] in Folder[Gone] : broken.bin: ")));
    const auto& box = h.dialogs.messages.last();
    QCOMPARE(box.icon, MessageIcon::Warning);
    QVERIFY(box.text.contains(QStringLiteral("3 mails were written, 0 could not be written.")));
    QVERIFY(box.text.contains(QStringLiteral("2 attachments could not be saved.")));
    QVERIFY(!box.text.contains(QStringLiteral("Completed Successfully")));
    const EmlReport r = checkEml(
        fileOf(fx.path(QStringLiteral("out/Fail/Inbox")), QStringLiteral("with attachment")));
    QCOMPARE(r.attachments.size(), 1);
    QCOMPARE(r.attachments[0].fileName, QStringLiteral("ok.txt"));
}

void TestExportRun::attachmentsOutsideTheBody()
{
    // Files in the Body, in another rich-text item and in no item at all, and a
    // plain-text Body beside a loose file: every one goes into the message,
    // Body's first, each once; the run is as clean as any other.
    StoreFixture fx;
    const QByteArray db = R"json({ "format": 1, "title": "Outside",
      "views": [ { "name": "($Sent)", "folder": true, "documents": ["a", "b"] } ],
      "documents": [
        { "id": "a", "items": [
          { "name": "Subject", "type": "text", "values": ["all three"] },
          { "name": "Notes", "type": "richtext", "values": ["n"], "embedded": [
            { "name": "notes.txt", "content_text": "second" } ] },
          { "name": "Body", "type": "richtext", "values": ["b"], "embedded": [
            { "name": "body.txt", "content_text": "first" } ] } ],
          "attachments": [ { "name": "report.pdf", "content_text": "%PDF third" } ] },
        { "id": "b", "items": [
          { "name": "Subject", "type": "text", "values": ["loose"] },
          { "name": "Body", "type": "text", "values": ["plain"] } ],
          "attachments": [ { "name": "body.txt", "content_text": "only" } ] } ] })json";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(db));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 2);
    QCOMPARE(h.summary().attachments, 4);
    QCOMPARE(h.summary().attachmentsDropped, 0);
    QVERIFY(h.summary().clean());
    QCOMPARE(h.dialogs.messages.last().icon, MessageIcon::Information);
    QVERIFY(h.dialogs.messages.last().text.startsWith(
        QStringLiteral("Migration Completed Successfully !")));
    const QStringList log = h.logLines();
    QVERIFY(log.filter(QStringLiteral("Not Saved")).isEmpty());
    // Sent Items: the list without its leading "|".
    QVERIFY(log.contains(QStringLiteral("\tAttachment : ATTACH[<TEMP>/1/body.txt|<TEMP>/2/"
                                        "notes.txt|<TEMP>/3/report.pdf]")));

    const QString sent = fx.path(QStringLiteral("out/Outside/Sent Items"));
    const EmlReport all = checkEml(fileOf(sent, QStringLiteral("all three")));
    QVERIFY(all.ok());
    QStringList files;
    for (const EmlAttachment& a : all.attachments)
        files.append(a.fileName + QLatin1Char('=') + QString::fromUtf8(a.data.value_or("?")));
    QCOMPARE(files,
             (QStringList{QStringLiteral("body.txt=first"), QStringLiteral("notes.txt=second"),
                          QStringLiteral("report.pdf=%PDF third")}));
    const EmlReport loose = checkEml(fileOf(sent, QStringLiteral("loose")));
    QCOMPARE(loose.attachments.size(), 1);
    QCOMPARE(loose.attachments[0].data, QByteArray("only"));
    QCOMPARE(loose.body->trimmed(), QStringLiteral("plain"));
}

void TestExportRun::partialLossIsNeverReportedAsSuccess()
{
    StoreFixture fx;
    // A date the writer cannot read, an item that cannot be read, and a
    // subject that would start log lines of its own.
    const QByteArray db = R"json({ "format": 1, "title": "Partial",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["a", "b", "c"] } ],
      "documents": [
        { "id": "a", "items": [ { "name": "Subject", "type": "text",
            "values": ["one\r\n\tEmail Not Saved : SUBJECT[x] in Folder[Inbox] : fake"] } ] },
        { "id": "b", "items": [ { "name": "Subject", "type": "text", "values": ["old"] },
          { "name": "PostedDate", "type": "datetime", "values": ["1850-06-01T12:00:00Z"] } ] },
        { "id": "c", "items": [ { "name": "Subject", "type": "text", "values": ["three"] },
          { "name": "Body", "type": "text", "values": ["b"], "unreadable": true } ] } ] })json";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(db));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 3);
    QCOMPARE(h.summary().failed, 0);
    QCOMPARE(h.summary().incomplete, 2);
    QCOMPARE(h.summary().foldersFailed, 0);
    QVERIFY(!h.summary().clean());

    const QStringList log = h.logLines();
    QCOMPARE(log.filter(QStringLiteral("Email Not Saved")),
             QStringList{QStringLiteral("\tEmail Subject : SUBJECT[one  \tEmail Not Saved : "
                                        "SUBJECT[x] in Folder[Inbox] : fake]")});
    QCOMPARE(log.filter(QStringLiteral("Field Not Set")).size(), 2); // sent and received time
    QVERIFY(log.filter(QStringLiteral("Field Not Set"))[0].startsWith(
        QStringLiteral("\tField Not Set : SUBJECT[old] in Folder[Inbox] : ")));
    QCOMPARE(log.filter(QStringLiteral("Item Not Read : SUBJECT[three]")).size(), 1);

    const auto& box = h.dialogs.messages.last();
    QCOMPARE(box.icon, MessageIcon::Warning);
    QVERIFY(box.text.contains(
        QStringLiteral("2 mails were written without parts that could not be read or set.")));
    QVERIFY(!box.text.contains(QStringLiteral("Completed Successfully")));
}

void TestExportRun::logThatCannotBeCreated()
{
    StoreFixture fx;
    QFile blocker(fx.path(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ExportHarness h(fx.path(QStringLiteral("file/Log.txt")));
    h.scan(fx.buildStore(smallMail()));
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 8);
    const auto& box = h.dialogs.messages.last();
    QVERIFY(box.text.contains(QStringLiteral("The export log ") +
                              fx.path(QStringLiteral("file/Log.txt")) +
                              QStringLiteral(" could not be written")));
    QCOMPARE(box.icon, MessageIcon::Warning);
}

void TestExportRun::destinationThatCannotBeWritten()
{
    StoreFixture fx;
    QFile blocker(fx.path(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(smallMail()));
    h.exportTo(fx.path(QStringLiteral("file")));
    QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Error in Conversion"));
    QVERIFY(h.dialogs.messages.last().text.contains(fx.path(QStringLiteral("file"))));
    QVERIFY(!h.summary().started);
    QCOMPARE(h.save.unloads, 0);
}

void TestExportRun::standardFolderBeyondSixteenBits()
{
    // 32,770 documents in the Inbox: every one is handed to the builder. The
    // Inbox's sub-folder is blocked by a file, so the writes fail fast and
    // each mail is counted and logged as not written.
    StoreFixture fx;
    const int n = 32770;
    QByteArray json =
        R"json({ "format": 1, "title": "Big", "views": [ { "name": "($Inbox)", "folder": true, "documents": [)json";
    QByteArray docs;
    for (int i = 0; i < n; ++i) {
        json += (i ? ",\"d" : "\"d") + QByteArray::number(i) + '"';
        docs += (i ? "," : "") + QByteArray(R"json({ "id": "d)json") + QByteArray::number(i) +
                R"json(", "items": [] })json";
    }
    json += "] } ], \"documents\": [" + docs + "] }";
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(json));
    QVERIFY(QDir().mkpath(fx.path(QStringLiteral("out/Big"))));
    QFile blocker(fx.path(QStringLiteral("out/Big/Inbox")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().failed, n);
    const QStringList log = h.logLines();
    QCOMPARE(log.filter(QStringLiteral("\tEmail Subject : SUBJECT[]")).size(), n);
    QCOMPARE(log.filter(QStringLiteral("\tEmail Not Saved : SUBJECT[] in Folder[Inbox]")).size(),
             n);
    QCOMPARE(h.save.current, QStringLiteral("32769/32770"));
    QVERIFY(h.dialogs.messages.last().text.contains(
        QStringLiteral("0 mails were written, 32770 could not be written.")));
}

void TestExportRun::foldersNamedWithSurroundingBlanks()
{
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(R"json({ "format": 1, "title": "B",
      "views": [ { "name": "Projects", "folder": true, "documents": ["a"] },
                 { "name": "Projects ", "folder": true, "documents": ["b", "c"] },
                 { "name": "   ", "folder": true, "documents": ["d"] } ],
      "documents": [
        { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["a"] } ] },
        { "id": "b", "items": [ { "name": "Subject", "type": "text", "values": ["b"] } ] },
        { "id": "c", "items": [ { "name": "Subject", "type": "text", "values": ["c"] } ] },
        { "id": "d", "items": [ { "name": "Subject", "type": "text", "values": ["d"] } ] } ] })json"));
    // Each view is counted and listed by its own, exact name.
    QCOMPARE(
        h.procedures.tree.node(h.procedures.tree.indexOfKey(QStringLiteral("Projects "))).caption,
        QStringLiteral("Projects  (2)"));
    h.clickNode(QStringLiteral("Projects "));
    QCOMPARE(h.procedures.mailList.count(), 2);
    h.clickNode(QStringLiteral("   "));
    QCOMPARE(h.procedures.mailList.count(), 1);
    // All four mails are exported, each folder into its own sub-folder; blank
    // names never write into the root itself.
    h.exportTo(fx.path(QStringLiteral("out")));
    QCOMPARE(h.summary().written, 4);
    QCOMPARE(h.summary().failed, 0);
    QCOMPARE(QDir(fx.path(QStringLiteral("out/B"))).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(fx.path(QStringLiteral("out/B/Projects"))).entryList(QDir::Files).size(), 1);
    QCOMPARE(QDir(fx.path(QStringLiteral("out/B/Projects (2)"))).entryList(QDir::Files).size(), 2);
    QCOMPARE(QDir(fx.path(QStringLiteral("out/B/-"))).entryList(QDir::Files).size(), 1);
    QVERIFY(h.logLines().contains(QStringLiteral(
        "Folder Renamed : Folder[Projects ] is written to [Projects (2)], since [Projects] holds "
        "Folder[Projects]")));
}

void TestExportRun::onlyTheRootTicked()
{
    StoreFixture fx;
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(smallMail()));
    for (int i = 1; i < h.procedures.tree.nodeCount(); ++i)
        h.procedures.tree.setTick(i, 0);
    h.exportTo(fx.path(QStringLiteral("out")));
    // No message about an empty choice: the root counts as ticked. Nothing but
    // the root is written, and the run still completes.
    QCOMPARE(h.windows.saveWindowShows, 1);
    QCOMPARE(h.logLines(),
             (QStringList{QStringLiteral("---------------- Starting User Folders ---------------"),
                          QStringLiteral("Done")}));
    QCOMPARE(filesBelow(fx.path(QStringLiteral("out"))), QStringList());
    QVERIFY(QFileInfo(fx.path(QStringLiteral("out/Ann Example - Mail"))).isDir());
    QCOMPARE(QDir(fx.path(QStringLiteral("out/Ann Example - Mail")))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(h.dialogs.messages.last().text.startsWith(
        QStringLiteral("Migration Completed Successfully !")));

    // Nothing ticked at all: the choice is refused before any folder is asked for.
    h.procedures.tree.setTick(0, 0);
    h.exportTo(fx.path(QStringLiteral("out2")));
    QCOMPARE(h.dialogs.messages.last().text, QStringLiteral("Please Select Folders to Export"));
    QCOMPARE(h.dialogs.messages.last().title, QStringLiteral("Export to Outlook Express"));
    QCOMPARE(h.windows.saveWindowShows, 1);
    QCOMPARE(h.dialogs.folderTitles.size(), 1);
}

QTEST_GUILESS_MAIN(TestExportRun)
#include "tst_exportrun.moc"
