#pragma once

#include "notes/capi/NotesRuntime.h"

#include <QString>

#include <functional>
#include <memory>

// Owners of the handles Notes gives out. Each keeps the runtime alive and closes, frees or
// unlocks what it owns when it goes; a failure there is not reported (nothing could be done
// about it), and nothing is thrown from a destructor.
namespace tarvik::notes::capi {

using RuntimePtr = std::shared_ptr<NotesRuntime>;

// A database opened with NSFDbOpen.
class DatabaseHandle {
public:
    // Throws OperationError naming the file when Notes cannot open it.
    DatabaseHandle(RuntimePtr runtime, const QString& path);
    ~DatabaseHandle();
    DatabaseHandle(const DatabaseHandle&) = delete;
    DatabaseHandle& operator=(const DatabaseHandle&) = delete;

    DBHANDLE get() const { return m_handle; }
    const QString& path() const { return m_path; }
    NotesRuntime& runtime() const { return *m_runtime; }
    const RuntimePtr& runtimePtr() const { return m_runtime; }

private:
    RuntimePtr m_runtime;
    QString m_path;
    DBHANDLE m_handle = NULLHANDLE;
};

// A note opened with NSFNoteOpenExt; keeps its database open.
class NoteHandle {
public:
    // Throws OperationError when Notes cannot open the note.
    NoteHandle(std::shared_ptr<DatabaseHandle> db, NOTEID id, DWORD flags);
    ~NoteHandle();
    NoteHandle(const NoteHandle&) = delete;
    NoteHandle& operator=(const NoteHandle&) = delete;

    NOTEHANDLE get() const { return m_handle; }
    NOTEID id() const { return m_id; }
    NotesRuntime& runtime() const { return m_db->runtime(); }
    const std::shared_ptr<DatabaseHandle>& database() const { return m_db; }

private:
    std::shared_ptr<DatabaseHandle> m_db;
    NOTEID m_id;
    NOTEHANDLE m_handle = NULLHANDLE;
};

// Memory Notes allocated for us (NIFReadEntries' and ConvertItemToText's buffers), freed
// with OSMemFree.
class MemoryHandle {
public:
    explicit MemoryHandle(NotesRuntime& runtime, DHANDLE handle = NULLHANDLE)
        : m_runtime(runtime), m_handle(handle)
    {}
    ~MemoryHandle();
    MemoryHandle(const MemoryHandle&) = delete;
    MemoryHandle& operator=(const MemoryHandle&) = delete;

    DHANDLE get() const { return m_handle; }
    DHANDLE* out() { return &m_handle; }

private:
    NotesRuntime& m_runtime;
    DHANDLE m_handle;
};

// A memory object locked with OSLockObject while the object lives. For a BLOCKID, the
// data begins `block` bytes into the pool (the OSLockBlock macro).
class LockedMemory {
public:
    LockedMemory(NotesRuntime& runtime, DHANDLE handle, BLOCK offset = 0);
    LockedMemory(NotesRuntime& runtime, const BLOCKID& block)
        : LockedMemory(runtime, block.pool, block.block)
    {}
    ~LockedMemory();
    LockedMemory(const LockedMemory&) = delete;
    LockedMemory& operator=(const LockedMemory&) = delete;

    const char* data() const { return m_data; }

private:
    NotesRuntime& m_runtime;
    DHANDLE m_handle;
    const char* m_data = nullptr;
};

// A collection opened with NIFOpenCollection.
class CollectionHandle {
public:
    // Throws OperationError when Notes cannot open it.
    CollectionHandle(DatabaseHandle& db, NOTEID viewNoteId, WORD flags);
    ~CollectionHandle();
    CollectionHandle(const CollectionHandle&) = delete;
    CollectionHandle& operator=(const CollectionHandle&) = delete;

    HCOLLECTION get() const { return m_handle; }

private:
    NotesRuntime& m_runtime;
    HCOLLECTION m_handle = 0;
    bool m_open = false;
};

// A MIME stream opened for reading with MIMEStreamOpen.
class MimeStreamHandle {
public:
    // Throws OperationError when Notes cannot serialise the item.
    MimeStreamHandle(NoteHandle& note, const QByteArray& itemName);
    ~MimeStreamHandle();
    MimeStreamHandle(const MimeStreamHandle&) = delete;
    MimeStreamHandle& operator=(const MimeStreamHandle&) = delete;

    // Up to capacity bytes; 0 at the end. Throws OperationError when Notes reports an error.
    std::size_t read(char* buffer, std::size_t capacity);

private:
    NotesRuntime& m_runtime;
    MIMEHANDLE m_handle = nullptr;
    bool m_ended = false;
};

// Every entry of a collection from its start, in its order, read in as many calls of
// NIFReadEntries as the buffers need; each call's buffer goes to `entries` with the number of
// entries in it. Throws OperationError when Notes reports an error.
void readCollection(
    NotesRuntime& runtime, HCOLLECTION collection, DWORD mask,
    const std::function<void(const char* buffer, WORD length, DWORD count)>& entries);

} // namespace tarvik::notes::capi
