#include "FaultyNotes.h"
#include "Harness.h"
#include "StoreFixture.h"

#include "app/MailFolders.h"
#include "app/MailPreview.h"
#include "app/SmallIconIndex.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QLocale>
#include <QMap>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Six mails in the standard views and a user folder, each showing which of
// its items the list should take.
const char* const kFolders = R"json({
  "format": 1, "title": "Preview",
  "views": [
    { "name": "($Inbox)", "folder": true, "documents": ["in1", "in2"] },
    { "name": "($Drafts)", "folder": true, "documents": ["dr1"] },
    { "name": "($JunkMail)", "folder": true, "documents": ["jk1"] },
    { "name": "($Sent)", "folder": true, "documents": ["in1"] },
    { "name": "Projects\\2008", "folder": true, "documents": ["in2", "in1"] },
    { "name": "Folders", "folder": true, "documents": ["dr1"] }
  ],
  "documents": [
    { "id": "in1", "size": 2560, "items": [
      { "name": "Subject", "type": "text", "values": ["  Budget 2008  "] },
      { "name": "From", "type": "names", "values": ["  CN=Ann Example/O=Acme "] },
      { "name": "SendTo", "type": "names", "values": ["CN=Bob Field/O=Acme", "CN=Cy Moe/O=Acme"] },
      { "name": "PostedDate", "type": "datetime", "values": ["2008-03-14T10:32:05+01:00"] },
      { "name": "DeliveredDate", "type": "datetime", "values": ["2008-03-15T08:00:00Z"] } ] },
    { "id": "in2", "size": 1536, "items": [
      { "name": "subject", "type": "text", "values": ["Second"] },
      { "name": "FROM", "type": "names", "values": ["carl@example.org"] },
      { "name": "PostedDate", "type": "text", "values": ["  yesterday  "] } ] },
    { "id": "dr1", "size": 511, "items": [
      { "name": "Subject", "type": "text", "values": ["Draft"] },
      { "name": "SendTo", "type": "names", "values": ["dee@example.com"] },
      { "name": "PostedDate", "type": "datetime", "values": ["2001-01-01T00:00:00Z"] },
      { "name": "$Revisions", "type": "datetime", "values": ["2008-07-01T12:00:00+02:00", "2008-07-02T12:00:00+02:00"] } ] },
    { "id": "jk1", "size": 512, "items": [
      { "name": "Subject", "type": "text", "values": ["Win!"] },
      { "name": "From", "type": "text", "values": ["spam@example.net"] },
      { "name": "PostedDate", "type": "datetime", "values": ["2001-01-01T00:00:00Z"] },
      { "name": "DeliveredDate", "type": "datetime", "values": ["2008-12-24T18:30:00+01:00"] } ] }
  ]
})json";

// A date as the list writes it in the locale the test runs in; the exact
// texts of two locales are checked by dateFollowsTheSystemLocale.
QString listed(const char* iso)
{
    const QLocale l = QLocale::system();
    return l.toString(QDateTime::fromString(QLatin1String(iso), Qt::ISODate).toLocalTime(),
                      l.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') +
                          l.timeFormat(QLocale::LongFormat));
}

} // namespace

class TestPreview : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void columnsByFolder();
    void dateFollowsTheSystemLocale();
    void nodesWithoutAView();
    void failuresKeepRowsAndShowNothing();
    void sizes_data();
    void sizes();
    void viewNames();
    void listIsASoundItemModel();
};

void TestPreview::columnsByFolder()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(kFolders));
    h.procedures.scan.CmdScan_Click();

    h.clickNode(QStringLiteral("Inbox"));
    QCOMPARE(h.listRows(),
             (QStringList{QStringLiteral("CN=Ann Example/O=Acme | Budget 2008 | 2 KB | ") +
                              listed("2008-03-14T10:32:05+01:00"),
                          QStringLiteral("carl@example.org | Second | 2 KB |   yesterday  ")}));
    QCOMPARE(h.procedures.mailList.rowCount(), 2); // shown, not waiting
    QCOMPARE(h.procedures.mailList.index(1, 0).data(role::IconIndex).toInt(), icon::Mail);
    QVERIFY(h.window.arrows[ScanArrow::Emails]);

    h.clickNode(QStringLiteral("Drafts"));
    QCOMPARE(h.listRows(), QStringList{QStringLiteral("dee@example.com | Draft | 0 KB | ") +
                                       listed("2008-07-01T12:00:00+02:00")});

    h.clickNode(QStringLiteral("JunkMail"));
    QCOMPARE(h.listRows(), QStringList{QStringLiteral("spam@example.net | Win! | 0 KB | ") +
                                       listed("2008-12-24T18:30:00+01:00")});

    h.clickNode(QStringLiteral("Sent"));
    QCOMPARE(h.listRows(),
             QStringList{QStringLiteral("CN=Bob Field/O=Acme | Budget 2008 | 2 KB | ") +
                         listed("2008-03-14T10:32:05+01:00")});

    // A user folder lists its view by full name, in view order.
    h.clickNode(QStringLiteral("Projects\\2008"));
    QCOMPARE(h.listRows(),
             (QStringList{QStringLiteral(" | Second | 2 KB |   yesterday  "),
                          QStringLiteral("CN=Bob Field/O=Acme | Budget 2008 | 2 KB | ") +
                              listed("2008-03-14T10:32:05+01:00")}));
    QVERIFY(h.dialogs.messages.size() == 1); // only the scan's
}

void TestPreview::dateFollowsTheSystemLocale()
{
    // CTest runs this in the C locale and in German (tst_preview_de); dates in
    // and out of summer time, written in other zones than this one (Berlin).
    const QMap<QString, QStringList> expected = {
        {QStringLiteral("C"),
         {QStringLiteral("14 Mar 2008 10:32:05 CET"), QStringLiteral("1 Jul 2008 12:00:00 CEST"),
          QStringLiteral("2 Jan 2001 00:30:00 CET"), QStringLiteral("not a date"),
          QStringLiteral("3.5")}},
        {QStringLiteral("de_DE"),
         {QStringLiteral("14.03.08 10:32:05 CET"), QStringLiteral("01.07.08 12:00:00 CEST"),
          QStringLiteral("02.01.01 00:30:00 CET"), QStringLiteral("not a date"),
          QStringLiteral("3.5")}}};
    const QString locale = QLocale::system().name();
    if (!expected.contains(locale))
        QSKIP(qPrintable(QStringLiteral("no texts for the locale ") + locale));

    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(R"json({ "format": 1, "title": "Dates",
      "views": [ { "name": "Dated", "folder": true, "documents": ["w", "s", "u", "t", "n"] } ],
      "documents": [
        { "id": "w", "items": [ { "name": "PostedDate", "type": "datetime", "values": ["2008-03-14T10:32:05+01:00"] } ] },
        { "id": "s", "items": [ { "name": "PostedDate", "type": "datetime", "values": ["2008-07-01T06:00:00-04:00"] } ] },
        { "id": "u", "items": [ { "name": "PostedDate", "type": "datetime", "values": ["2001-01-01T23:30:00Z"] } ] },
        { "id": "t", "items": [ { "name": "PostedDate", "type": "text", "values": ["not a date"] } ] },
        { "id": "n", "items": [ { "name": "PostedDate", "type": "number", "values": [3.5] } ] } ] })json"));
    h.procedures.scan.CmdScan_Click();
    h.clickNode(QStringLiteral("Dated"));
    QStringList dates;
    for (int r = 0; r < h.procedures.mailList.count(); ++r)
        dates.append(h.procedures.mailList.cell(r, MailList::Date));
    QCOMPARE(dates, expected.value(locale));
}

void TestPreview::nodesWithoutAView()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(kFolders));
    h.procedures.scan.CmdScan_Click();
    h.clickNode(QStringLiteral("Inbox"));
    QCOMPARE(h.procedures.mailList.count(), 2);

    h.clickNode(QStringLiteral("Lotus Notes Address Book"));
    QCOMPARE(h.procedures.mailList.count(), 0);
    h.clickNode(QStringLiteral("Trash")); // the database has no such view
    QCOMPARE(h.procedures.mailList.count(), 0);
    // The "Folders" node lists nothing, though a user folder has that name;
    // that folder's own node lists its mail.
    h.clickNode(QStringLiteral("Folders"));
    QCOMPARE(h.procedures.mailList.count(), 0);
    h.clickNode(QStringLiteral("Folders (2)"));
    QCOMPARE(h.procedures.mailList.count(), 1);
    QCOMPARE(h.procedures.mailList.cell(0, MailList::Subject), QStringLiteral("Draft"));
    // No node selected: nothing happens, the list stays as it was.
    h.clickNode(QStringLiteral("Inbox"));
    h.window.selectedNode = -1;
    h.procedures.preview.ContactsTreeView_Click();
    QCOMPARE(h.procedures.mailList.count(), 2);
    QCOMPARE(h.dialogs.messages.size(), 1);
}

void TestPreview::failuresKeepRowsAndShowNothing()
{
    StoreFixture fx;
    Harness h;
    h.browse(fx.buildStore(R"json({
      "format": 1, "title": "Damaged",
      "views": [ { "name": "Mixed", "folder": true, "documents": ["a", "b", "c"] } ],
      "documents": [
        { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["one"] } ] },
        { "id": "b", "items": [ { "name": "Subject", "type": "text", "values": ["two"], "unreadable": true } ] },
        { "id": "c", "items": [ { "name": "Subject", "type": "text", "values": ["three"] } ] }
      ]})json"));
    h.procedures.scan.CmdScan_Click();
    h.clickNode(QStringLiteral("Mixed"));
    QCOMPARE(h.procedures.mailList.count(), 1);
    QCOMPARE(h.procedures.mailList.cell(0, MailList::Subject), QStringLiteral("one"));
    QCOMPARE(h.procedures.mailList.rowCount(), 1);
    QCOMPARE(h.dialogs.messages.size(), 1);
    QVERIFY(h.pump.repaints > 0);

    // A view whose walk fails after its first mail keeps that row; one whose
    // first mail cannot be had lists nothing; neither says anything.
    auto faults = std::make_shared<NotesFaults>();
    faults->view = QStringLiteral("Mixed");
    faults->nextFailsAfter = 1;
    Harness broken;
    installFaultyNotes(broken.context, faults);
    broken.browse(h.window.path);
    broken.procedures.scan.CmdScan_Click();
    broken.clickNode(QStringLiteral("Mixed"));
    QCOMPARE(broken.listRows(), QStringList{QStringLiteral(" | one | 0 KB | ")});
    faults->firstFails = true;
    broken.clickNode(QStringLiteral("Mixed"));
    QCOMPARE(broken.procedures.mailList.count(), 0);
    QCOMPARE(broken.dialogs.messages.size(), 1);

    // A preview after the database went away: empty list, no message.
    QFile::remove(h.window.path);
    h.clickNode(QStringLiteral("Mixed"));
    QCOMPARE(h.procedures.mailList.count(), 0);
    QCOMPARE(h.dialogs.messages.size(), 1);
}

void TestPreview::sizes_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("300") << qint64(300) << QStringLiteral("0 KB");
    QTest::newRow("511") << qint64(511) << QStringLiteral("0 KB");
    QTest::newRow("512 half to even 0") << qint64(512) << QStringLiteral("0 KB");
    QTest::newRow("1536 half to even 2") << qint64(1536) << QStringLiteral("2 KB");
    QTest::newRow("2560 half to even 2") << qint64(2560) << QStringLiteral("2 KB");
    QTest::newRow("3584 half to even 4") << qint64(3584) << QStringLiteral("4 KB");
    QTest::newRow("large, no grouping") << qint64(5368709120) << QStringLiteral("5242880 KB");
}

void TestPreview::sizes()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, shown);
    QCOMPARE(sizeInKilobytes(bytes), shown);
}

void TestPreview::viewNames()
{
    auto standard = [](const char* id) {
        return FolderId{FolderKind::Standard, QLatin1String(id)};
    };
    auto user = [](const char* name) {
        return FolderId{FolderKind::User, QLatin1String(name)};
    };
    QCOMPARE(viewNameOfFolder(standard("Inbox")), QStringLiteral("($Inbox)"));
    QCOMPARE(viewNameOfFolder(standard("Follow-Up")), QStringLiteral("($Follow-Up)"));
    QCOMPARE(viewNameOfFolder(standard("JunkMail")), QStringLiteral("($JunkMail)"));
    QCOMPARE(viewNameOfFolder(user("Inbox")), QStringLiteral("Inbox"));
    QCOMPARE(viewNameOfFolder(user(" Projects\\2008 ")), QStringLiteral(" Projects\\2008 "));
    QCOMPARE(viewNameOfFolder(FolderId{FolderKind::None, QStringLiteral("Folders")}), QString());
    QCOMPARE(viewNameOfFolder(FolderId()), QString());
}

void TestPreview::listIsASoundItemModel()
{
    // Qt's own checks of an item model, run on every change the list goes
    // through: fills, refills, clears, icons set on shown and waiting rows.
    StoreFixture fx;
    Harness h;
    MailList& list = h.procedures.mailList;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    h.browse(fx.buildStore(kFolders));
    h.procedures.scan.CmdScan_Click();
    for (const char* key :
         {"Inbox", "Projects\\2008", "Lotus Notes Address Book", "Drafts", "Inbox", "Trash"})
        h.clickNode(QLatin1String(key));
    list.addRow(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d"));
    list.addRow(QStringLiteral("e"), QStringLiteral("f"), QStringLiteral("g"), QStringLiteral("h"));
    list.setRowIcon(1, icon::Mail); // waiting
    QCOMPARE(list.rowCount(), 0);
    list.showAddedRows();
    QCOMPARE(list.rowCount(), 2);
    list.setRowIcon(0, icon::Mail); // shown
    QCOMPARE(list.index(0, MailList::FromTo).data(role::IconIndex).toInt(), icon::Mail);
    QCOMPARE(list.index(1, MailList::Date).data().toString(), QStringLiteral("h"));
    QCOMPARE(list.headerData(MailList::Size, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Size"));
    list.clear();
    QCOMPARE(list.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestPreview)
#include "tst_preview.moc"
