#pragma once

#include "notes/NotesObjects.h"

#include <QList>
#include <QString>

#include <memory>

// The Notes back-end over a local store file: a mail database kept in one SQLite
// file (docs/local-store.md), opened read-only. A session and everything it gives are
// used by one thread at a time: SQLite guards the connection with no mutex.
namespace tarvik::notes {

class StoreConnection;

// Keeps the store files of a process open, one shared connection per file (by its
// canonical path), because callers open the database again before every count,
// folder and preview. A file that has changed or been replaced since it was opened
// is opened anew. Holds the few most recently used files.
class StoreConnectionCache {
public:
    explicit StoreConnectionCache(int capacity = 4);
    ~StoreConnectionCache();
    StoreConnectionCache(const StoreConnectionCache&) = delete;
    StoreConnectionCache& operator=(const StoreConnectionCache&) = delete;

    // The connection to the store at path. Throws OperationError naming the file when
    // it cannot be opened or is not a store this version reads.
    std::shared_ptr<StoreConnection> open(const QString& path);

    // How many times a store file has been opened so far.
    qint64 filesOpened() const { return m_filesOpened; }

private:
    struct Entry {
        QString canonicalPath;
        std::shared_ptr<StoreConnection> connection;
    };
    QList<Entry> m_entries; // most recently used first
    int m_capacity;
    qint64 m_filesOpened = 0;
};

// The session of the local-store back-end.
class LocalStoreSession : public NotesSession {
public:
    explicit LocalStoreSession(
        std::shared_ptr<StoreConnectionCache> cache = std::make_shared<StoreConnectionCache>());

    // server must be "" (local); path names the store file.
    std::shared_ptr<NotesDatabase> GetDatabase(const QString& server, const QString& path) override;

    const std::shared_ptr<StoreConnectionCache>& cache() const { return m_cache; }

private:
    std::shared_ptr<StoreConnectionCache> m_cache;
};

} // namespace tarvik::notes
