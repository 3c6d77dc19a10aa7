#pragma once

#include "base/OperationError.h"
#include "notes/NotesValue.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// The Notes automation classes as the rest of the program reads a mail database
// through them. Every operation may throw tarvik::OperationError with a readable
// message; the caller's failure style decides what that means. The names are the
// Notes names, so code that reads a database reads like the automation calls it
// stands for.
namespace tarvik::notes {

// Item type numbers as Notes reports them.
namespace itemtype {
constexpr int richText = 1;
constexpr int number = 768;
constexpr int dateTime = 1024;
constexpr int names = 1074;
constexpr int text = 1280;
} // namespace itemtype

// Embedded object type numbers.
namespace objecttype {
constexpr int link = 1452;
constexpr int ole = 1453;
constexpr int attachment = 1454;
} // namespace objecttype

// A file attachment, OLE object or object link stored in a document.
class NotesEmbeddedObject {
public:
    virtual ~NotesEmbeddedObject() = default;
    virtual int Type() const = 0;
    virtual QString Name() const = 0;
    // Writes the object's bytes to path (created or truncated; a link at path is
    // not followed). A failure leaves no partial file behind.
    virtual void ExtractFile(const QString& path) = 0;

    // A file whose stored bytes are fewer than the size the database records for it.
    struct ShortFile {
        qint64 written = 0;
        qint64 recorded = 0;
    };
    // ExtractFile, telling also when the database holds fewer bytes of the object than it
    // records: the file then keeps every byte there is, and the caller says it is incomplete.
    virtual std::optional<ShortFile> ExtractFileChecked(const QString& path)
    {
        ExtractFile(path);
        return std::nullopt;
    }
};

using NotesEmbeddedObjectList = QList<std::shared_ptr<NotesEmbeddedObject>>;

// One item of a document, as GetFirstItem gives it.
class NotesItem {
public:
    virtual ~NotesItem() = default;
    virtual QString Name() const = 0;
    virtual int Type() = 0;
    // The item's embedded objects in order; nothing ("not an array") when the item
    // holds none, as for every item that is not rich text.
    virtual std::optional<NotesEmbeddedObjectList> EmbeddedObjects() = 0;
};

// One document (one mail). Item names are looked up without regard to case.
class NotesDocument {
public:
    virtual ~NotesDocument() = default;
    // False for a document that cannot be read at all (its note in the database is damaged);
    // every other read of it then throws, saying why.
    virtual bool IsValid() { return true; }
    // The item's values. A document without such an item gives one empty text value
    // and does not fail; an item that cannot be read throws.
    virtual NotesValueArray GetItemValue(const QString& name) = 0;
    virtual bool hasitem(const QString& name) = 0;
    virtual qint64 Size() = 0;
    virtual bool HasEmbedded() = 0;
    // The first item of the name, or nullptr.
    virtual std::shared_ptr<NotesItem> GetFirstItem(const QString& name) = 0;
    // Every item of the document, in item order (several may share a name).
    virtual QList<std::shared_ptr<NotesItem>> Items() = 0;
    // The embedded objects that belong to the document itself and to none of
    // its items: file attachments that no rich-text item shows. Nothing ("not
    // an array") when it has none. An object given here is in no item's
    // EmbeddedObjects, and the other way round.
    virtual std::optional<NotesEmbeddedObjectList> EmbeddedObjects() = 0;
};

// What AllEntries gives: the entries of a view, of which callers read the count.
class NotesViewEntryCollection {
public:
    explicit NotesViewEntryCollection(qint64 count = 0) : m_count(count) {}
    qint64 Count() const { return m_count; }

private:
    qint64 m_count;
};

// How completely a view's documents could be read. A back-end that reads the database file
// itself finds them in what the file stores of the view, which may be damaged or keep no order.
struct NotesViewReading {
    // Documents of the view, or their places, could not be read: the view gives those it
    // could (the ones whose place is unknown after the others).
    bool partial = false;
    // The database keeps no order for the view: its documents come in the order they were
    // added to the database.
    bool orderUnknown = false;
    // What could not be read, one readable sentence each; empty when the view is complete.
    QStringList problems;
};

// A view or folder of a database and its documents in order.
class NotesView {
public:
    virtual ~NotesView() = default;
    virtual QString Name() = 0;
    virtual bool isfolder() = 0;
    // Throws when the view's documents cannot be read at all.
    virtual NotesViewEntryCollection AllEntries() = 0;
    // How completely AllEntries and the walk below give the view's documents. Throws as
    // AllEntries does.
    virtual NotesViewReading reading() { return {}; }
    // The first document, or nullptr for an empty view.
    virtual std::shared_ptr<NotesDocument> GetFirstDocument() = 0;
    // The document after current, or nullptr after the last one. Throws for a
    // document that this view did not give.
    virtual std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) = 0;
};

using NotesViewList = QList<std::shared_ptr<NotesView>>;

// Documents of a database in an order of its own, as AllDocuments gives them.
class NotesDocumentCollection {
public:
    virtual ~NotesDocumentCollection() = default;
    virtual qint64 Count() = 0;
    // The first document, or nullptr when there is none.
    virtual std::shared_ptr<NotesDocument> GetFirstDocument() = 0;
    // The document after current, or nullptr after the last one. Throws for a document
    // that this collection did not give.
    virtual std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) = 0;
};

// An open mail database.
class NotesDatabase {
public:
    virtual ~NotesDatabase() = default;
    virtual QString Title() = 0;
    // Every view and folder in the database's order; nothing ("no array") for a
    // database without views or whose views cannot be read.
    virtual std::optional<NotesViewList> Views() = 0;
    // The view of exactly this name (the first of two with one name), or nullptr.
    virtual std::shared_ptr<NotesView> GetView(const QString& name) = 0;
    // Every document of the database (no design notes, no profiles) in the order they were
    // added to it. Throws where the back-end cannot list them.
    virtual std::shared_ptr<NotesDocumentCollection> AllDocuments()
    {
        throw OperationError(QStringLiteral("This database cannot list all its documents"));
    }
};

// The entry point: opens databases.
class NotesSession {
public:
    virtual ~NotesSession() = default;
    // server "" opens path as a local database file.
    virtual std::shared_ptr<NotesDatabase> GetDatabase(const QString& server,
                                                       const QString& path) = 0;
};

} // namespace tarvik::notes
