#pragma once

#include "notes/NotesObjects.h"

#include <memory>

namespace tarvik::notes {

class NsfFileCache;
class StoreConnectionCache;

// The session that answers for the program's own back-ends: it opens a database file by what
// the file is, whatever its name. A Notes database file (it starts 1A 00) is read by the .nsf
// back-end, a local store (an SQLite file) by the local-store back-end; any other file is a
// database that cannot be opened. Sessions made with the same caches share the open files.
class DatabaseFileSession : public NotesSession {
public:
    DatabaseFileSession(std::shared_ptr<StoreConnectionCache> stores,
                        std::shared_ptr<NsfFileCache> nsfFiles);

    // server must be "" (local). Throws OperationError naming the file when it cannot be
    // opened or is neither kind.
    std::shared_ptr<NotesDatabase> GetDatabase(const QString& server, const QString& path) override;

    const std::shared_ptr<StoreConnectionCache>& stores() const { return m_stores; }
    const std::shared_ptr<NsfFileCache>& nsfFiles() const { return m_nsfFiles; }

private:
    std::shared_ptr<StoreConnectionCache> m_stores;
    std::shared_ptr<NsfFileCache> m_nsfFiles;
};

} // namespace tarvik::notes
