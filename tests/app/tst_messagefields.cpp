#include "StoreFixture.h"

#include "app/AppState.h"
#include "app/MessageFields.h"
#include "base/TempFolder.h"
#include "notes/NotesObjects.h"
#include "notes/NotesSessionRegistry.h"

#include <QFile>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// One document with the given items (JSON array text), in the Inbox.
QByteArray oneDocument(const char* items)
{
    return QByteArray(R"json({ "format": 1, "title": "F",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["d"] } ],
      "documents": [ { "id": "d", "items": )json") +
           items + "} ] }";
}

struct Read {
    MessageFields fields;
    QString cc, bcc, attachList;
    QStringList extracted; // file contents, in list order
};

Read readFields(StoreFixture& fx, const QByteArray& json)
{
    const auto registry = notes::NotesSessionRegistry::withDefaults();
    const auto session = registry.create(notes::NotesSessionRegistry::dominoProgId);
    const auto doc = session->GetDatabase(QString(), fx.buildStore(json))
                         ->GetView(QStringLiteral("($Inbox)"))
                         ->GetFirstDocument();
    AppState state;
    state.gCC = QStringLiteral("previous cc");
    state.gAttachList = QStringLiteral("|previous");
    TempFolder temp;
    MessageFieldReader reader(state, temp);
    Read r;
    reader.readSubject(*doc, r.fields);
    reader.readRest(*doc, r.fields);
    r.cc = state.gCC;
    r.bcc = state.gBCC;
    r.attachList = state.gAttachList;
    for (const QString& path : state.gAttachList.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        QFile f(path);
        r.extracted.append(f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll())
                                                       : QStringLiteral("<none>"));
    }
    return r;
}

} // namespace

class TestMessageFields : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void internetFormPreferredNotesFormAsFallback();
    void oneOrTwoValuesCountAsOne();
    void missingItemsGiveEmptyFields();
    void everyAttachmentOnceBodyFirst();
    void shorterNotesListAndUnreadableItems();
};

void TestMessageFields::internetFormPreferredNotesFormAsFallback()
{
    StoreFixture fx;
    const Read r = readFields(fx, oneDocument(R"json([
      { "name": "Subject", "type": "text", "values": [" s "] },
      { "name": "From", "type": "names", "values": ["CN=Ann/O=Acme"] },
      { "name": "INetFrom", "type": "text", "values": ["."] },
      { "name": "SendTo", "type": "names", "values": ["N1", "N2", "N3"] },
      { "name": "InetSendTo", "type": "text", "values": ["p1", ".", "p3"] },
      { "name": "CopyTo", "type": "names", "values": ["N1", "N2", "N3"] },
      { "name": "InetCopyTo", "type": "text", "values": ["p1", ".", "p3"] },
      { "name": "BlindCopyTo", "type": "names", "values": ["B1"] },
      { "name": "InetBlindCopyTo", "type": "text", "values": ["."] },
      { "name": "PostedDate", "type": "datetime", "values": ["2008-03-14T10:32:05+01:00"] },
      { "name": "Body", "type": "text", "values": ["body"] } ])json"));
    QCOMPARE(r.fields.subject, QStringLiteral(" s "));
    QCOMPARE(r.fields.from, QStringLiteral("CN=Ann/O=Acme")); // "." keeps the Notes name
    QCOMPARE(r.fields.to, QStringLiteral("p1;.;p3"));         // "." stays in the To list
    QCOMPARE(r.cc, QStringLiteral("p1;N2;p3"));               // and is replaced in CC
    QCOMPARE(r.bcc, QStringLiteral("B1"));
    QCOMPARE(r.fields.date, QStringLiteral("2008-03-14 10:32:05 +01:00"));
    QCOMPARE(r.fields.body, QStringLiteral("body"));
    QVERIFY(!r.fields.hasEmbedded);
    QCOMPARE(r.attachList, QString()); // nothing of the previous document
}

void TestMessageFields::oneOrTwoValuesCountAsOne()
{
    StoreFixture fx;
    const Read r = readFields(fx, oneDocument(R"json([
      { "name": "SendTo", "type": "names", "values": ["N1", "N2"] },
      { "name": "InetSendTo", "type": "text", "values": [".", "p2"] },
      { "name": "InetCopyTo", "type": "text", "values": ["p1", "p2"] },
      { "name": "CopyTo", "type": "names", "values": ["N1", "N2"] },
      { "name": "INetFrom", "type": "text", "values": ["a@example.com"] } ])json"));
    QCOMPARE(r.fields.to, QStringLiteral("N1")); // "." first: the Notes list, first value only
    QCOMPARE(r.cc, QStringLiteral("p1"));
    QCOMPARE(r.fields.from, QStringLiteral("a@example.com"));
}

void TestMessageFields::missingItemsGiveEmptyFields()
{
    StoreFixture fx;
    const Read r = readFields(fx, oneDocument(R"json([
      { "name": "CopyTo", "type": "names", "values": ["N1", "N2", "N3"] } ])json"));
    QCOMPARE(r.fields.subject, QString());
    QCOMPARE(r.fields.from, QString());
    QCOMPARE(r.fields.to, QString());
    QCOMPARE(r.cc, QString()); // Notes names alone give no CC
    QCOMPARE(r.bcc, QString());
    QCOMPARE(r.fields.date, QString());
    QVERIFY(r.fields.unreadable.isEmpty());
}

void TestMessageFields::everyAttachmentOnceBodyFirst()
{
    StoreFixture fx;
    {
        // Body's file attachments in their order, then those of the other
        // rich-text items in item order (a second Body item among them), then
        // the document's own; OLE objects and links are no file attachments.
        const Read r = readFields(fx, oneDocument(R"json([
          { "name": "Notes", "type": "richtext", "values": ["n"], "embedded": [
            { "name": "n.txt", "content_text": "N" } ] },
          { "name": "Body", "type": "richtext", "values": ["b"], "embedded": [
            { "name": "a.txt", "content_text": "A" },
            { "name": "ole", "type": 1453, "content_text": "O" },
            { "name": "link", "type": 1452, "content_text": "L" },
            { "name": "a.txt", "content_text": "second A" } ] },
          { "name": "Subject", "type": "text", "values": ["s"] },
          { "name": "body", "type": "richtext", "values": ["more"], "embedded": [
            { "name": "c.txt", "content_text": "C" } ] } ],
          "attachments": [ { "name": "loose.txt", "content_text": "loose" },
                           { "name": "../x.txt", "content_text": "X" } ])json"));
        QVERIFY(r.fields.hasEmbedded);
        QCOMPARE(r.extracted,
                 (QStringList{QStringLiteral("A"), QStringLiteral("second A"), QStringLiteral("N"),
                              QStringLiteral("C"), QStringLiteral("loose"), QStringLiteral("X")}));
        QStringList names;
        for (const ExtractedAttachment& a : r.fields.attachments)
            names.append(a.displayName);
        QCOMPARE(names, (QStringList{QStringLiteral("a.txt"), QStringLiteral("a.txt"),
                                     QStringLiteral("n.txt"), QStringLiteral("c.txt"),
                                     QStringLiteral("loose.txt"), QStringLiteral("../x.txt")}));
        // Each in a folder of its own, under a safe file name.
        QVERIFY(r.fields.attachments[0].path != r.fields.attachments[1].path);
        QVERIFY(r.fields.attachments[5].path.endsWith(QStringLiteral("/6/x.txt")));
        QVERIFY(r.attachList.startsWith(QLatin1Char('|')));
        QVERIFY(r.fields.lostAttachments.isEmpty());
    }
    {
        // A plain-text Body: the document's own attachment is taken all the same.
        const Read r = readFields(fx, oneDocument(R"json([
          { "name": "Body", "type": "text", "values": ["b"] } ],
          "attachments": [ { "name": "loose.txt", "content_text": "x" } ])json"));
        QVERIFY(r.fields.hasEmbedded);
        QCOMPARE(r.extracted, QStringList{QStringLiteral("x")});
        QVERIFY(r.fields.lostAttachments.isEmpty());
    }
    {
        // An item that cannot be read may have held attachments: said once. A
        // field item that cannot be read is told as such, not as an attachment.
        const Read r = readFields(fx, oneDocument(R"json([
          { "name": "From", "type": "text", "values": ["x"], "unreadable": true },
          { "name": "Extra", "type": "richtext", "values": ["e"], "unreadable": true,
            "embedded": [ { "name": "e.txt", "content_text": "E" } ] } ],
          "attachments": [ { "name": "ok.txt", "content_text": "ok" } ])json"));
        QCOMPARE(r.extracted, QStringList{QStringLiteral("ok")});
        QCOMPARE(r.fields.unreadable.size(), 1);
        QCOMPARE(r.fields.lostAttachments.size(), 1);
        QVERIFY(r.fields.lostAttachments[0].startsWith(
            QStringLiteral("Extra: The item \"Extra\" cannot be read")));
    }
}

void TestMessageFields::shorterNotesListAndUnreadableItems()
{
    StoreFixture fx;
    const Read r = readFields(fx, oneDocument(R"json([
      { "name": "InetCopyTo", "type": "text", "values": ["p1", ".", "."] },
      { "name": "CopyTo", "type": "names", "values": ["N1", "N2"] },
      { "name": "From", "type": "text", "values": ["x"], "unreadable": true },
      { "name": "Body", "type": "richtext", "values": ["b"], "embedded": [
        { "name": "bad.bin", "content_text": "x", "unreadable": true } ] } ])json"));
    QCOMPARE(r.cc, QStringLiteral("p1;N2;"));
    QCOMPARE(r.fields.from, QString());
    QCOMPARE(r.fields.unreadable.size(), 1);
    QVERIFY(r.fields.unreadable[0].startsWith(QStringLiteral("From: ")));
    QCOMPARE(r.fields.attachments.size(), 1);
    QVERIFY(!r.fields.attachments[0].failure.isEmpty());
    QCOMPARE(r.extracted, QStringList{QStringLiteral("<none>")});
}

QTEST_GUILESS_MAIN(TestMessageFields)
#include "tst_messagefields.moc"
