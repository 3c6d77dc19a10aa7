#include "StoreFixture.h"

#include "app/AppState.h"
#include "app/MessageFields.h"
#include "base/OperationError.h"
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

std::shared_ptr<notes::NotesDocument> storeDocument(StoreFixture& fx, const QByteArray& json)
{
    const auto registry = notes::NotesSessionRegistry::withDefaults();
    const auto session = registry.create(notes::NotesSessionRegistry::dominoProgId);
    return session->GetDatabase(QString(), fx.buildStore(json))
        ->GetView(QStringLiteral("($Inbox)"))
        ->GetFirstDocument();
}

Read readFields(const std::shared_ptr<notes::NotesDocument>& doc)
{
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

Read readFields(StoreFixture& fx, const QByteArray& json)
{
    return readFields(storeDocument(fx, json));
}

// A document of the store whose calls below the fields fail as asked.
class FailingDocument : public notes::NotesDocument {
public:
    explicit FailingDocument(std::shared_ptr<notes::NotesDocument> inner)
        : m_inner(std::move(inner))
    {}

    bool hasEmbeddedFails = false;
    bool itemsFail = false;
    // The document's own objects: one whose name cannot be read, then the store's.
    bool objectNameFails = false;

    notes::NotesValueArray GetItemValue(const QString& name) override
    {
        return m_inner->GetItemValue(name);
    }
    bool hasitem(const QString& name) override { return m_inner->hasitem(name); }
    qint64 Size() override { return m_inner->Size(); }
    bool HasEmbedded() override
    {
        if (hasEmbeddedFails)
            throw OperationError(QStringLiteral("embedded objects gone"));
        return m_inner->HasEmbedded();
    }
    std::shared_ptr<notes::NotesItem> GetFirstItem(const QString& name) override
    {
        return m_inner->GetFirstItem(name);
    }
    QList<std::shared_ptr<notes::NotesItem>> Items() override
    {
        if (itemsFail)
            throw OperationError(QStringLiteral("item list gone"));
        return m_inner->Items();
    }
    std::optional<notes::NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        std::optional<notes::NotesEmbeddedObjectList> objects = m_inner->EmbeddedObjects();
        if (objectNameFails) {
            objects = objects.value_or(notes::NotesEmbeddedObjectList());
            objects->prepend(std::make_shared<NamelessObject>());
        }
        return objects;
    }

private:
    class NamelessObject : public notes::NotesEmbeddedObject {
    public:
        int Type() const override { return notes::objecttype::attachment; }
        QString Name() const override { throw OperationError(QStringLiteral("name gone")); }
        void ExtractFile(const QString&) override {}
    };

    std::shared_ptr<notes::NotesDocument> m_inner;
};

QStringList partsNamed(const QStringList& failures)
{
    QStringList parts;
    for (const QString& f : failures)
        parts.append(f.section(QStringLiteral(": "), 0, 0));
    return parts;
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
    void eachFailureIsRecordedUnderItsPart();
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

void TestMessageFields::eachFailureIsRecordedUnderItsPart()
{
    StoreFixture fx;
    {
        // Items read as fields: an unreadable item is named with the store's reason,
        // and its field is empty.
        const Read r = readFields(fx, oneDocument(R"json([
          { "name": "InetCopyTo", "type": "text", "values": ["p"], "unreadable": true },
          { "name": "SendTo", "type": "names", "values": ["N"], "unreadable": true },
          { "name": "InetSendTo", "type": "text", "values": ["p"], "unreadable": true },
          { "name": "INetFrom", "type": "text", "values": ["p"], "unreadable": true },
          { "name": "From", "type": "names", "values": ["CN=Ann"] } ])json"));
        QCOMPARE(partsNamed(r.fields.unreadable),
                 (QStringList{QStringLiteral("InetCopyTo"), QStringLiteral("SendTo"),
                              QStringLiteral("InetSendTo"), QStringLiteral("INetFrom")}));
        QCOMPARE(r.fields.unreadable[1],
                 QStringLiteral("SendTo: The item \"SendTo\" cannot be read: it is damaged or "
                                "encrypted"));
        QCOMPARE(r.fields.to, QString());
        QCOMPARE(r.cc, QString());
        QCOMPARE(r.fields.from, QStringLiteral("CN=Ann"));
        QCOMPARE(r.fields.lostAttachments, QStringList());
    }
    const QByteArray withAttachment = oneDocument(R"json([
      { "name": "Subject", "type": "text", "values": ["s"] } ],
      "attachments": [ { "name": "kept.txt", "content_text": "k" } ])json");
    {
        // Where attachments may have been: the item list and an object's name.
        auto doc = std::make_shared<FailingDocument>(storeDocument(fx, withAttachment));
        doc->itemsFail = true;
        doc->objectNameFails = true;
        const Read r = readFields(doc);
        QCOMPARE(r.fields.lostAttachments, (QStringList{QStringLiteral("items: item list gone"),
                                                        QStringLiteral("attachment: name gone")}));
        QCOMPARE(r.extracted, QStringList{QStringLiteral("k")});
        QCOMPARE(r.fields.unreadable, QStringList());
    }
    {
        // Whether the document has attachments at all.
        auto doc = std::make_shared<FailingDocument>(storeDocument(fx, withAttachment));
        doc->hasEmbeddedFails = true;
        const Read r = readFields(doc);
        QVERIFY(!r.fields.hasEmbedded);
        QCOMPARE(r.fields.lostAttachments,
                 QStringList{QStringLiteral("attachments: embedded objects gone")});
        QCOMPARE(r.extracted, QStringList());
        QCOMPARE(r.fields.subject, QStringLiteral("s"));
    }
}

QTEST_GUILESS_MAIN(TestMessageFields)
#include "tst_messagefields.moc"
