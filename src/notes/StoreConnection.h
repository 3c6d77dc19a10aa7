#pragma once

#include "base/Platform.h"
#include "notes/SqliteHandles.h"

#include <QString>

#include <array>

namespace tarvik::notes {

// One read-only connection to a store file, with the statements the back-end runs
// on it prepared once and kept. Views, documents, items and embedded objects share
// it, so it lives as long as any of them. SQLite guards it with no mutex of its own:
// it is used by one thread at a time.
class StoreConnection {
public:
    enum class Query {
        ViewList,
        ViewByName,
        NextEntry,
        Items,
        ObjectsOfItem,
        ObjectsOfDocument,
        NextDocument,
        DocumentCount
    };

    // Opens the store at path (canonical, a regular file whose identity was just
    // taken) and checks that it is a store this version reads. Throws OperationError.
    StoreConnection(const QString& path, const platform::FileIdentity& identity);

    const QString& path() const { return m_path; }
    const QString& title() const { return m_title; }
    const platform::FileIdentity& identity() const { return m_identity; }
    sqlite3* handle() const { return m_db.get(); }

    // The prepared statement of a query, reset and ready to be bound.
    sqlite3_stmt* statement(Query query);
    // A statement of a query of the caller's own, for a walk that stays open between
    // calls while other statements run.
    sqlite::Statement prepare(Query query) const;

    // Steps stmt: true for a row, false at the end; throws for an error.
    bool step(sqlite3_stmt* stmt) const;

    // Throws the OperationError for SQLite result code rc.
    [[noreturn]] void fail(int rc) const;
    // Throws the OperationError for damage found in the store's data.
    [[noreturn]] void failDamaged(const QString& what) const;

private:
    void checkHeader() const;
    void checkSchema();

    QString m_path;
    platform::FileIdentity m_identity;
    QString m_title;
    sqlite::Database m_db; // before the statements, which must be finalized first
    std::array<sqlite::Statement, 8> m_statements;
};

} // namespace tarvik::notes
