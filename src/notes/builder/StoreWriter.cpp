#include "notes/builder/StoreWriter.h"

#include "base/OperationError.h"

#include <QFile>

namespace tarvik::notes {

StoreWriter::StoreWriter(const QString& file, const QString& shownName) : m_shownName(shownName)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK)
        fail();
    // The file is private until it is renamed into place, and removed when anything
    // fails, so it needs no rollback journal; one sync at the commit makes it durable
    // before the rename. 16 KiB pages hold a typical mail's items in one page read.
    exec("PRAGMA page_size = 16384; PRAGMA journal_mode = OFF; PRAGMA synchronous = FULL; "
         "PRAGMA locking_mode = EXCLUSIVE; PRAGMA cache_size = -16384");
    exec(store::tablesSql);
    exec("BEGIN");
    m_document = prepare("INSERT INTO documents(id, size, has_embedded, first_item, "
                         "item_count) VALUES(?1, ?2, ?3, ?4, ?5)");
    m_item = prepare("INSERT INTO items(id, document_id, seq, name, folded_name, type, "
                     "unreadable, value_count, value_data) "
                     "VALUES(?9, ?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    m_object = prepare("INSERT INTO embedded_objects(document_id, item_seq, seq, name, "
                       "type, unreadable, repeat_count, content) "
                       "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    m_view = prepare("INSERT INTO views(id, name, is_folder, entry_count) "
                     "VALUES(?1, ?2, ?3, ?4)");
    m_entry = prepare("INSERT INTO view_entries(view_id, position, document_id) "
                      "VALUES(?1, ?2, ?3)");
    m_meta = prepare("INSERT INTO meta(key, value) VALUES(?1, ?2)");
}

void StoreWriter::addDocument(qint64 id, const DocumentRecord& doc)
{
    sqlite3_stmt* s = m_document.get();
    sqlite3_bind_int64(s, 1, id);
    sqlite3_bind_int64(s, 2, doc.size ? *doc.size : doc.computedSize());
    sqlite3_bind_int(s, 3, doc.objects.isEmpty() ? 0 : 1);
    sqlite3_bind_int64(s, 4, m_nextItemId);
    sqlite3_bind_int64(s, 5, doc.items.size());
    run(s);
    for (qsizetype i = 0; i < doc.items.size(); ++i) {
        const ItemRecord& item = doc.items[i];
        s = m_item.get();
        sqlite3_bind_int64(s, 1, id);
        sqlite3_bind_int64(s, 2, i);
        sqlite::bindText(s, 3, item.name);
        sqlite::bindText(s, 4, item.name.toCaseFolded());
        sqlite3_bind_int(s, 5, item.type);
        sqlite3_bind_int(s, 6, item.unreadable ? 1 : 0);
        sqlite3_bind_int64(s, 7, item.values.count());
        sqlite::bindBlob(s, 8, item.values.data());
        sqlite3_bind_int64(s, 9, m_nextItemId++);
        run(s);
    }
    for (const ObjectRecord& object : doc.objects) {
        s = m_object.get();
        sqlite3_bind_int64(s, 1, id);
        if (object.itemSeq >= 0)
            sqlite3_bind_int(s, 2, object.itemSeq);
        else
            sqlite3_bind_null(s, 2);
        sqlite3_bind_int(s, 3, object.seq);
        sqlite::bindText(s, 4, object.name);
        sqlite3_bind_int(s, 5, object.type);
        sqlite3_bind_int(s, 6, object.unreadable ? 1 : 0);
        sqlite3_bind_int64(s, 7, object.repeat);
        sqlite::bindBlob(s, 8, object.content);
        run(s);
    }
}

void StoreWriter::addView(qint64 id, const QString& name, bool folder,
                          const QList<qint64>& documents)
{
    sqlite3_stmt* s = m_view.get();
    sqlite3_bind_int64(s, 1, id);
    sqlite::bindText(s, 2, name);
    sqlite3_bind_int(s, 3, folder ? 1 : 0);
    sqlite3_bind_int64(s, 4, documents.size());
    run(s);
    for (qsizetype i = 0; i < documents.size(); ++i) {
        s = m_entry.get();
        sqlite3_bind_int64(s, 1, id);
        sqlite3_bind_int64(s, 2, i);
        sqlite3_bind_int64(s, 3, documents[i]);
        run(s);
    }
}

void StoreWriter::finish(const QString& title)
{
    addMeta(QStringLiteral("format"), QLatin1String(store::formatMarker));
    addMeta(QStringLiteral("schema_version"), QString::number(store::schemaVersion));
    addMeta(QStringLiteral("title"), title);
    exec(store::indexesSql);
    exec("COMMIT");
    m_document.reset();
    m_item.reset();
    m_object.reset();
    m_view.reset();
    m_entry.reset();
    m_meta.reset();
    if (sqlite3_close(m_db.get()) != SQLITE_OK)
        fail();
    m_db.release();
}

void StoreWriter::addMeta(const QString& key, const QString& value)
{
    sqlite3_stmt* s = m_meta.get();
    sqlite::bindText(s, 1, key);
    sqlite::bindText(s, 2, value);
    run(s);
}

void StoreWriter::exec(const char* sql)
{
    if (sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail();
}

sqlite::Statement StoreWriter::prepare(const char* sql)
{
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v3(m_db.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    sqlite::Statement stmt(raw);
    if (rc != SQLITE_OK)
        fail();
    return stmt;
}

void StoreWriter::run(sqlite3_stmt* s)
{
    sqlite::StatementUse use(s);
    if (sqlite3_step(s) != SQLITE_DONE)
        fail();
}

void StoreWriter::fail() const
{
    const QString why =
        m_db ? QString::fromUtf8(sqlite3_errmsg(m_db.get())) : QStringLiteral("out of memory");
    throw OperationError(QStringLiteral("Cannot write \"%1\": %2").arg(m_shownName, why));
}

} // namespace tarvik::notes
