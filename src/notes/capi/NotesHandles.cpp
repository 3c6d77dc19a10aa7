#include "notes/capi/NotesHandles.h"

#include "base/OperationError.h"

#include <QDir>

namespace tarvik::notes::capi {

DatabaseHandle::DatabaseHandle(RuntimePtr runtime, const QString& path)
    : m_runtime(std::move(runtime)), m_path(path)
{
    const QByteArray name = m_runtime->toLmbcs(QDir::toNativeSeparators(path));
    if (name.size() >= MAXPATH)
        throw OperationError(
            QStringLiteral("Notes cannot open \"%1\": its path is longer than Notes takes (%2 "
                           "bytes)")
                .arg(path)
                .arg(MAXPATH - 1));
    DBHANDLE handle = NULLHANDLE;
    const STATUS status = m_runtime->api().NSFDbOpen(name.constData(), &handle);
    m_runtime->check(status, QStringLiteral("Notes cannot open the database \"%1\"").arg(path));
    m_handle = handle;
}

DatabaseHandle::~DatabaseHandle()
{
    try {
        if (m_handle != NULLHANDLE)
            m_runtime->api().NSFDbClose(m_handle);
    } catch (...) {
    }
}

NoteHandle::NoteHandle(std::shared_ptr<DatabaseHandle> db, NOTEID id, DWORD flags)
    : m_db(std::move(db)), m_id(id)
{
    NOTEHANDLE handle = NULLHANDLE;
    const STATUS status = runtime().api().NSFNoteOpenExt(m_db->get(), id, flags, &handle);
    runtime().check(status, QStringLiteral("Notes cannot open the document 0x%1").arg(id, 0, 16));
    m_handle = handle;
}

NoteHandle::~NoteHandle()
{
    try {
        if (m_handle != NULLHANDLE)
            runtime().api().NSFNoteClose(m_handle);
    } catch (...) {
    }
}

MemoryHandle::~MemoryHandle()
{
    try {
        if (m_handle != NULLHANDLE)
            m_runtime.api().OSMemFree(m_handle);
    } catch (...) {
    }
}

LockedMemory::LockedMemory(NotesRuntime& runtime, DHANDLE handle, BLOCK offset)
    : m_runtime(runtime), m_handle(handle)
{
    if (handle == NULLHANDLE)
        throw OperationError(QStringLiteral("Notes gave no memory where it gave a value"));
    const char* base = static_cast<const char*>(runtime.api().OSLockObject(handle));
    if (!base)
        throw OperationError(QStringLiteral("Notes could not lock a value in memory"));
    m_data = base + offset;
}

LockedMemory::~LockedMemory()
{
    try {
        m_runtime.api().OSUnlockObject(m_handle);
    } catch (...) {
    }
}

CollectionHandle::CollectionHandle(DatabaseHandle& db, NOTEID viewNoteId, WORD flags)
    : m_runtime(db.runtime())
{
    HCOLLECTION handle = 0;
    const STATUS status =
        m_runtime.api().NIFOpenCollection(db.get(), db.get(), viewNoteId, flags, NULLHANDLE,
                                          &handle, nullptr, nullptr, nullptr, nullptr);
    m_runtime.check(status, QStringLiteral("Notes cannot open the view"));
    m_handle = handle;
    m_open = true;
}

CollectionHandle::~CollectionHandle()
{
    try {
        if (m_open)
            m_runtime.api().NIFCloseCollection(m_handle);
    } catch (...) {
    }
}

MimeStreamHandle::MimeStreamHandle(NoteHandle& note, const QByteArray& itemName)
    : m_runtime(note.runtime())
{
    QByteArray name = itemName;
    MIMEHANDLE handle = nullptr;
    const STATUS status = m_runtime.api().MIMEStreamOpen(
        note.get(), name.data(), WORD(name.size()),
        MIME_STREAM_OPEN_READ | MIME_STREAM_INCLUDE_HEADERS, &handle);
    m_runtime.check(status, QStringLiteral("Notes cannot read the MIME item \"%1\"")
                                .arg(QString::fromLatin1(itemName)));
    if (!handle)
        throw OperationError(QStringLiteral("Notes gave no MIME stream for the item \"%1\"")
                                 .arg(QString::fromLatin1(itemName)));
    m_handle = handle;
}

MimeStreamHandle::~MimeStreamHandle()
{
    try {
        if (m_handle)
            m_runtime.api().MIMEStreamClose(m_handle);
    } catch (...) {
    }
}

std::size_t MimeStreamHandle::read(char* buffer, std::size_t capacity)
{
    if (m_ended || capacity < 2)
        return 0;
    // The maximum counts a terminating NUL too.
    const unsigned int max = unsigned(std::min<std::size_t>(capacity, 1u << 20));
    unsigned int length = 0;
    const int result = m_runtime.api().MIMEStreamRead(reinterpret_cast<unsigned char*>(buffer),
                                                      &length, max, m_handle);
    if (result == MIME_STREAM_IO)
        throw OperationError(QStringLiteral("Notes could not read the MIME stream"));
    if (result == MIME_STREAM_EOS)
        m_ended = true;
    else if (result != MIME_STREAM_SUCCESS)
        throw OperationError(
            QStringLiteral("Notes gave an unknown answer (%1) reading the MIME stream")
                .arg(result));
    if (length > max)
        throw OperationError(QStringLiteral("Notes read more than the buffer holds"));
    // A read that gives nothing without saying the stream ended would never end.
    if (length == 0 && !m_ended)
        m_ended = true;
    return length;
}

void readCollection(
    NotesRuntime& runtime, HCOLLECTION collection, DWORD mask,
    const std::function<void(const char* buffer, WORD length, DWORD count)>& entries)
{
    COLLECTIONPOSITION position{};
    position.Level = 0;
    position.Tumbler[0] = 0;
    for (;;) {
        MemoryHandle buffer(runtime);
        WORD length = 0;
        DWORD skipped = 0;
        DWORD returned = 0;
        WORD signal = 0;
        // Each call goes on after the entry the last one ended on.
        const STATUS status = runtime.api().NIFReadEntries(
            collection, &position, NAVIGATE_NEXT, 1, NAVIGATE_NEXT, MAXDWORD, mask, buffer.out(),
            &length, &skipped, &returned, &signal);
        runtime.check(status, QStringLiteral("Notes cannot read the view's entries"));
        if (buffer.get() != NULLHANDLE && returned > 0) {
            LockedMemory data(runtime, buffer.get());
            entries(data.data(), length, returned);
        }
        if (!(signal & SIGNAL_MORE_TO_DO))
            break;
        if (returned == 0)
            throw OperationError(
                QStringLiteral("Notes said the view has more entries but gave none"));
    }
}

} // namespace tarvik::notes::capi
