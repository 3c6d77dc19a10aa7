#pragma once

#include <QByteArray>
#include <QString>

#include <sqlite3.h>

#include <memory>

// Owning handles for SQLite objects, so no code path closes them by hand.
namespace tarvik::notes::sqlite {

struct DatabaseCloser {
    void operator()(sqlite3* db) const noexcept { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

struct BlobCloser {
    void operator()(sqlite3_blob* blob) const noexcept { sqlite3_blob_close(blob); }
};
using Blob = std::unique_ptr<sqlite3_blob, BlobCloser>;

// Borrows a cached statement for one operation and makes it ready for the next
// one when the operation ends, however it ends.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* stmt) : m_stmt(stmt) {}
    ~StatementUse()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;
    sqlite3_stmt* get() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt;
};

inline int bindText(sqlite3_stmt* stmt, int index, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return sqlite3_bind_text64(stmt, index, utf8.constData(), sqlite3_uint64(utf8.size()),
                               SQLITE_TRANSIENT, SQLITE_UTF8);
}

inline int bindBlob(sqlite3_stmt* stmt, int index, const QByteArray& bytes)
{
    // A zero-length blob is still a blob, not NULL.
    return sqlite3_bind_blob64(stmt, index, bytes.isEmpty() ? "" : bytes.constData(),
                               sqlite3_uint64(bytes.size()), SQLITE_TRANSIENT);
}

inline QString columnText(sqlite3_stmt* stmt, int column)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return QString::fromUtf8(p, sqlite3_column_bytes(stmt, column));
}

inline QByteArray columnBlob(sqlite3_stmt* stmt, int column)
{
    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, column));
    return QByteArray(p, sqlite3_column_bytes(stmt, column));
}

} // namespace tarvik::notes::sqlite
