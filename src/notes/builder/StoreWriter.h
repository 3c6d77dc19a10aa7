#pragma once

#include "notes/NotesObjects.h"
#include "notes/SqliteHandles.h"
#include "notes/StoreFormat.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The rows of a store as the store builder writes them (docs/local-store.md).
namespace tarvik::notes {

// One item of a document, its values packed as the items table keeps them.
struct ItemRecord {
    QString name;
    int type = 0;
    bool unreadable = false;
    store::ValuePacker values;
};

// One embedded object, in a rich-text item or among the document's attachments.
struct ObjectRecord {
    int itemSeq = -1; // -1: an attachment of the document, in no item
    int seq = 0;
    QString name;
    int type = objecttype::attachment;
    bool unreadable = false;
    qint64 repeat = 1;
    QByteArray content;
};

// One document with everything the store keeps of it.
struct DocumentRecord {
    QList<ItemRecord> items;
    QList<ObjectRecord> objects;
    std::optional<qint64> size;

    // The size when the description gives none: the bytes of every item's name and
    // packed values and of every object's name and (repeated) content.
    qint64 computedSize() const
    {
        qint64 total = 0;
        for (const ItemRecord& item : items)
            total += item.name.toUtf8().size() + item.values.data().size();
        for (const ObjectRecord& object : objects)
            total += object.name.toUtf8().size() + object.content.size() * object.repeat;
        return total;
    }
};

// Writes the rows of a store into a new SQLite file, all in one transaction. Every
// failure throws OperationError naming shownName (the file the store is meant for).
class StoreWriter {
public:
    // Opens file (which exists and is empty), creates the tables and begins.
    StoreWriter(const QString& file, const QString& shownName);
    StoreWriter(const StoreWriter&) = delete;
    StoreWriter& operator=(const StoreWriter&) = delete;

    // Document ids and view ids count from 1 in description order.
    void addDocument(qint64 id, const DocumentRecord& doc);
    void addView(qint64 id, const QString& name, bool folder, const QList<qint64>& documents);
    // Writes the meta rows and the indexes, commits and closes the file.
    void finish(const QString& title);

private:
    void addMeta(const QString& key, const QString& value);
    void exec(const char* sql);
    sqlite::Statement prepare(const char* sql);
    void run(sqlite3_stmt* s);
    [[noreturn]] void fail() const;

    QString m_shownName;
    sqlite::Database m_db; // before the statements, which must be finalized first
    sqlite::Statement m_document, m_item, m_object, m_view, m_entry, m_meta;
    qint64 m_nextItemId = 1;
};

} // namespace tarvik::notes
