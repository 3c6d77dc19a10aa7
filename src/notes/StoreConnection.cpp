#include "notes/StoreConnection.h"

#include "base/OperationError.h"
#include "notes/StoreFormat.h"

#include <QFile>
#include <QSet>

namespace tarvik::notes {

namespace {

constexpr const char* querySql[] = {
    "SELECT id, name, is_folder, entry_count FROM views ORDER BY id",
    "SELECT id, name, is_folder, entry_count FROM views WHERE name = ?1 ORDER BY id LIMIT 1",
    // CROSS JOIN keeps the entries as the outer loop: one step along the view's key.
    // An entry whose document is missing (a damaged store) is passed over.
    "SELECT e.position, d.id, d.size, d.has_embedded, d.first_item, d.item_count "
    "FROM view_entries AS e "
    "CROSS JOIN documents AS d ON d.id = e.document_id "
    // A walk keeps the statement open and steps it for each next document.
    "WHERE e.view_id = ?1 AND e.position > ?2 ORDER BY e.position",
    // A document's items are stored one after the other: one step along the table.
    "SELECT seq, name, type, unreadable, value_count, value_data FROM items "
    "WHERE id >= ?1 AND id < ?1 + ?2 AND document_id = ?3 ORDER BY id",
    "SELECT id, name, type, unreadable, repeat_count, length(content) FROM embedded_objects "
    "WHERE document_id = ?1 AND item_seq = ?2 ORDER BY seq",
    "SELECT id, name, type, unreadable, repeat_count, length(content) FROM embedded_objects "
    "WHERE document_id = ?1 AND item_seq IS NULL ORDER BY seq",
    // Every document by its id, for AllDocuments: the id is its position, too.
    "SELECT id, id, size, has_embedded, first_item, item_count FROM documents "
    "WHERE id > ?1 ORDER BY id",
    "SELECT count(*) FROM documents",
};

constexpr int headerSize = 100;

quint32 bigEndian(const char* p, int bytes)
{
    quint32 v = 0;
    for (int i = 0; i < bytes; ++i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

// Turns off SQLite's memory statistics, which take a global mutex at every
// allocation, before SQLite starts; nothing here reads them. Too late when the
// process has used SQLite already (the store builder in the same process): the
// statistics then stay on, which changes nothing but the speed.
void configureSqliteOnce()
{
    static const bool configured = [] {
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        return true;
    }();
    (void)configured;
}

} // namespace

StoreConnection::StoreConnection(const QString& path, const platform::FileIdentity& identity)
    : m_path(path), m_identity(identity)
{
    checkHeader();
    configureSqliteOnce();
    sqlite3* raw = nullptr;
    // No mutex on the connection: one thread at a time uses it (see the header).
    const int rc = sqlite3_open_v2(
        QFile::encodeName(path).constData(), &raw,
        SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE, nullptr);
    m_db.reset(raw);
    if (rc != SQLITE_OK)
        fail(rc);
    sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(m_db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_exec(
        m_db.get(),
        "PRAGMA query_only = 1; PRAGMA cell_size_check = 1; PRAGMA locking_mode = EXCLUSIVE",
        nullptr, nullptr, nullptr);
    checkSchema();
}

// Looks at the file's first bytes before SQLite does, so that an empty file, a file
// of another kind, a cut-off store or one in write-ahead-log mode (which SQLite would
// want to write beside) is refused with a clear message and never touched.
void StoreConnection::checkHeader() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(
            QStringLiteral("\"%1\" cannot be read: %2").arg(m_path, file.errorString()));
    const QByteArray header = file.read(headerSize);
    if (header.isEmpty() && m_identity.size == 0)
        throw OperationError(
            QStringLiteral("\"%1\" is empty, not a Tarvik mail store").arg(m_path));
    if (header.size() < headerSize || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        throw OperationError(QStringLiteral("\"%1\" is not a Tarvik mail store").arg(m_path));
    const char* h = header.constData();
    if (h[18] != 1 || h[19] != 1)
        throw OperationError(QStringLiteral("\"%1\" is not a Tarvik mail store").arg(m_path));
    qint64 pageSize = bigEndian(h + 16, 2);
    if (pageSize == 1)
        pageSize = 65536;
    const qint64 pageCount = bigEndian(h + 28, 4);
    const bool countValid = bigEndian(h + 24, 4) == bigEndian(h + 92, 4);
    if (pageSize < 512 || (countValid && m_identity.size < pageSize * pageCount))
        throw OperationError(QStringLiteral("\"%1\" is truncated or damaged").arg(m_path));
}

void StoreConnection::checkSchema()
{
    QSet<QString> tables;
    {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v2(
            m_db.get(), "SELECT name FROM sqlite_schema WHERE type = 'table'", -1, &raw, nullptr);
        sqlite::Statement stmt(raw);
        if (rc != SQLITE_OK)
            fail(rc);
        while (step(stmt.get()))
            tables.insert(sqlite::columnText(stmt.get(), 0));
    }
    for (const char* name : store::requiredTables) {
        if (!tables.contains(QLatin1String(name)))
            throw OperationError(QStringLiteral("\"%1\" is not a Tarvik mail store").arg(m_path));
    }

    QString format, version;
    {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v2(
            m_db.get(),
            "SELECT key, value FROM meta WHERE key IN ('format', 'schema_version', 'title')", -1,
            &raw, nullptr);
        sqlite::Statement stmt(raw);
        if (rc != SQLITE_OK)
            fail(rc);
        while (step(stmt.get())) {
            const QString key = sqlite::columnText(stmt.get(), 0);
            const QString value = sqlite::columnText(stmt.get(), 1);
            if (key == u"format")
                format = value;
            else if (key == u"schema_version")
                version = value;
            else
                m_title = value;
        }
    }
    if (format != QLatin1String(store::formatMarker))
        throw OperationError(QStringLiteral("\"%1\" is not a Tarvik mail store").arg(m_path));
    bool ok = false;
    const qint64 v = version.toLongLong(&ok);
    if (ok && v > store::schemaVersion)
        throw OperationError(
            QStringLiteral("\"%1\" was made by a newer version (schema %2)").arg(m_path).arg(v));
    if (!ok || v < store::schemaVersion)
        throw OperationError(
            QStringLiteral("\"%1\" has an unknown schema version (%2)").arg(m_path, version));
}

sqlite3_stmt* StoreConnection::statement(Query query)
{
    auto& slot = m_statements[static_cast<size_t>(query)];
    if (!slot) {
        sqlite3_stmt* raw = nullptr;
        const int rc = sqlite3_prepare_v3(m_db.get(), querySql[static_cast<size_t>(query)], -1,
                                          SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
        slot.reset(raw);
        if (rc != SQLITE_OK)
            fail(rc);
    }
    return slot.get();
}

sqlite::Statement StoreConnection::prepare(Query query) const
{
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v3(m_db.get(), querySql[static_cast<size_t>(query)], -1,
                                      SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    sqlite::Statement stmt(raw);
    if (rc != SQLITE_OK)
        fail(rc);
    return stmt;
}

bool StoreConnection::step(sqlite3_stmt* stmt) const
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail(rc);
}

void StoreConnection::fail(int rc) const
{
    const QString detail = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db.get()))
                                : QString::fromUtf8(sqlite3_errstr(rc));
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
        throw OperationError(QStringLiteral("\"%1\" is not a Tarvik mail store").arg(m_path));
    case SQLITE_CORRUPT:
    case SQLITE_FORMAT:
        failDamaged(detail);
    case SQLITE_IOERR:
        if (rc == SQLITE_IOERR_SHORT_READ)
            failDamaged(detail);
        break;
    case SQLITE_ERROR:
        // A table or column the query needs is missing or of another shape.
        failDamaged(detail);
    default:
        break;
    }
    throw OperationError(QStringLiteral("\"%1\" cannot be read: %2").arg(m_path, detail));
}

void StoreConnection::failDamaged(const QString& what) const
{
    throw OperationError(QStringLiteral("\"%1\" is damaged: %2").arg(m_path, what));
}

} // namespace tarvik::notes
