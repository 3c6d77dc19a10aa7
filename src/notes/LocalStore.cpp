#include "notes/LocalStore.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/StoreConnection.h"
#include "notes/StoreFormat.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

namespace tarvik::notes {

namespace {

using Query = StoreConnection::Query;
using ConnectionPtr = std::shared_ptr<StoreConnection>;

// Objects that are read in one piece are written in batches of at least this size;
// larger ones are streamed in chunks of it, once per repetition.
constexpr qint64 chunkSize = 256 * 1024;
constexpr qint64 keepInMemoryLimit = 1024 * 1024;

class LocalEmbeddedObject final : public NotesEmbeddedObject {
public:
    LocalEmbeddedObject(ConnectionPtr connection, sqlite3_int64 rowId, QString name, int type,
                        bool unreadable, qint64 repeat)
        : m_connection(std::move(connection)), m_rowId(rowId), m_name(std::move(name)),
          m_type(type), m_unreadable(unreadable), m_repeat(repeat)
    {}

    int Type() const override { return m_type; }
    QString Name() const override { return m_name; }
    void ExtractFile(const QString& path) override;

private:
    void writeContent(QFile& out, const QString& path);
    [[noreturn]] void failWrite(const QFile& out, const QString& path) const
    {
        throw OperationError(
            QStringLiteral("Cannot write \"%1\": %2").arg(path, out.errorString()));
    }

    ConnectionPtr m_connection;
    sqlite3_int64 m_rowId;
    QString m_name;
    int m_type;
    bool m_unreadable;
    qint64 m_repeat;
};

void LocalEmbeddedObject::ExtractFile(const QString& path)
{
    if (m_unreadable)
        throw OperationError(
            QStringLiteral("The embedded object \"%1\" cannot be read: it is damaged or encrypted")
                .arg(m_name));
    // Writing over the store being read would destroy the database.
    const auto target = platform::fileIdentity(path);
    const auto& store = m_connection->identity();
    if (target && target->device == store.device && target->inode == store.inode)
        throw OperationError(
            QStringLiteral("Cannot write \"%1\": it is the mail store being read").arg(path));
    QString why;
    platform::FileDescriptor fd = platform::openForWriteNoFollow(path, &why);
    if (!fd)
        throw OperationError(QStringLiteral("Cannot write \"%1\": %2").arg(path, why));
    QFile out;
    try {
        if (!out.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            failWrite(out, path);
        fd.release(); // out closes it now
        writeContent(out, path);
        out.close(); // flushes; a failing flush shows in error()
        if (out.error() != QFileDevice::NoError)
            failWrite(out, path);
    } catch (...) {
        out.close();
        QFile::remove(path);
        throw;
    }
}

void LocalEmbeddedObject::writeContent(QFile& out, const QString& path)
{
    sqlite3_blob* raw = nullptr;
    const int rc = sqlite3_blob_open(m_connection->handle(), "main", "embedded_objects", "content",
                                     m_rowId, 0, &raw);
    sqlite::Blob blob(raw);
    if (rc != SQLITE_OK)
        m_connection->fail(rc);
    const qint64 length = sqlite3_blob_bytes(blob.get());
    if (length == 0 || m_repeat <= 0)
        return;

    auto read = [&](QByteArray& buffer, qint64 offset, qint64 n) {
        buffer.resize(n);
        const int r = sqlite3_blob_read(blob.get(), buffer.data(), int(n), int(offset));
        if (r != SQLITE_OK)
            m_connection->fail(r);
    };
    auto write = [&](const QByteArray& bytes) {
        // A short write (a disk that is nearly full) is tried again, so the
        // failure that follows carries the system's reason.
        for (qint64 done = 0; done < bytes.size();) {
            const qint64 n = out.write(bytes.constData() + done, bytes.size() - done);
            if (n <= 0)
                failWrite(out, path);
            done += n;
        }
    };

    QByteArray buffer;
    if (length <= keepInMemoryLimit) {
        read(buffer, 0, length);
        // Many copies of a small object go out in batches, not one write per copy.
        const qint64 perBatch = std::max<qint64>(1, chunkSize / length);
        qint64 left = m_repeat;
        if (left >= perBatch && perBatch > 1) {
            const QByteArray batch = buffer.repeated(perBatch);
            for (; left >= perBatch; left -= perBatch)
                write(batch);
        }
        for (; left > 0; --left)
            write(buffer);
        return;
    }
    for (qint64 r = 0; r < m_repeat; ++r) {
        for (qint64 offset = 0; offset < length; offset += chunkSize) {
            read(buffer, offset, std::min(chunkSize, length - offset));
            write(buffer);
        }
    }
}

// The objects a statement of ObjectsOfItem or ObjectsOfDocument lists, in order;
// nothing when there are none.
std::optional<NotesEmbeddedObjectList> readObjects(const ConnectionPtr& connection, sqlite3_stmt* s)
{
    NotesEmbeddedObjectList objects;
    while (connection->step(s)) {
        objects.append(std::make_shared<LocalEmbeddedObject>(
            connection, sqlite3_column_int64(s, 0), sqlite::columnText(s, 1),
            sqlite3_column_int(s, 2), sqlite3_column_int(s, 3) != 0, sqlite3_column_int64(s, 4)));
    }
    if (objects.isEmpty())
        return std::nullopt;
    return objects;
}

// One item as the items table holds it; its values are unpacked when they are read.
// Its name and packed values are bytes of the document's buffer.
struct StoredItem {
    int seq = 0;
    int type = 0;
    bool unreadable = false;
    bool asciiName = false;
    qint64 valueCount = 0;
    qsizetype nameOffset = 0;
    qsizetype nameLength = 0;
    qsizetype valueOffset = 0;
    qsizetype valueLength = 0;
};

bool isAscii(const char* p, qsizetype n)
{
    for (qsizetype i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    return true;
}

bool isAscii(const QString& s)
{
    for (const QChar c : s) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

char foldAscii(char16_t c)
{
    return char(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c);
}

// Whether the ASCII bytes name what the ASCII text names, regardless of case: what
// QString::compare without case says for such names.
bool equalAsciiIgnoringCase(const char* bytes, qsizetype length, const QString& text)
{
    if (length != text.size())
        return false;
    const QChar* t = text.constData();
    for (qsizetype i = 0; i < length; ++i) {
        if (foldAscii(char16_t(static_cast<unsigned char>(bytes[i]))) != foldAscii(t[i].unicode()))
            return false;
    }
    return true;
}

QString unreadableItem(const QString& name)
{
    return QStringLiteral("The item \"%1\" cannot be read: it is damaged or encrypted").arg(name);
}

class LocalItem final : public NotesItem {
public:
    LocalItem(ConnectionPtr connection, sqlite3_int64 documentId, const StoredItem& item,
              QString name)
        : m_connection(std::move(connection)), m_documentId(documentId), m_seq(item.seq),
          m_name(std::move(name)), m_type(item.type), m_unreadable(item.unreadable)
    {}

    QString Name() const override { return m_name; }

    int Type() override
    {
        if (m_unreadable)
            throw OperationError(unreadableItem(m_name));
        return m_type;
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        if (m_unreadable)
            throw OperationError(unreadableItem(m_name));
        if (m_type != itemtype::richText)
            return std::nullopt;
        sqlite::StatementUse use(m_connection->statement(Query::ObjectsOfItem));
        sqlite3_stmt* s = use.get();
        sqlite3_bind_int64(s, 1, m_documentId);
        sqlite3_bind_int(s, 2, m_seq);
        return readObjects(m_connection, s);
    }

private:
    ConnectionPtr m_connection;
    sqlite3_int64 m_documentId;
    int m_seq;
    QString m_name;
    int m_type;
    bool m_unreadable;
};

class LocalDocument final : public NotesDocument {
public:
    // From a row of the NextEntry query, or of the NextDocument query with no view.
    LocalDocument(ConnectionPtr connection, std::optional<sqlite3_int64> viewId, sqlite3_stmt* row)
        : m_connection(std::move(connection)), m_viewId(viewId),
          m_position(sqlite3_column_int64(row, 0)), m_documentId(sqlite3_column_int64(row, 1)),
          m_size(sqlite3_column_int64(row, 2)), m_hasEmbedded(sqlite3_column_int(row, 3) != 0),
          m_firstItem(sqlite3_column_int64(row, 4)), m_itemCount(sqlite3_column_int64(row, 5))
    {}

    NotesValueArray GetItemValue(const QString& name) override
    {
        const StoredItem* item = find(name);
        if (!item)
            return NotesValueArray({NotesValue()});
        if (item->unreadable)
            throw OperationError(unreadableItem(nameOf(*item)));
        auto values = store::unpackValues(
            item->type, item->valueCount,
            QByteArrayView(m_bytes.data() + item->valueOffset, item->valueLength));
        if (!values)
            m_connection->failDamaged(
                QStringLiteral("the item \"%1\" is damaged").arg(nameOf(*item)));
        return NotesValueArray(std::move(*values));
    }

    bool hasitem(const QString& name) override { return find(name) != nullptr; }
    qint64 Size() override { return m_size; }
    bool HasEmbedded() override { return m_hasEmbedded; }

    std::shared_ptr<NotesItem> GetFirstItem(const QString& name) override
    {
        const StoredItem* item = find(name);
        if (!item)
            return nullptr;
        return std::make_shared<LocalItem>(m_connection, m_documentId, *item, nameOf(*item));
    }

    QList<std::shared_ptr<NotesItem>> Items() override
    {
        if (!m_items)
            loadItems();
        QList<std::shared_ptr<NotesItem>> items;
        items.reserve(m_items->size());
        for (const StoredItem& item : std::as_const(*m_items))
            items.append(
                std::make_shared<LocalItem>(m_connection, m_documentId, item, nameOf(item)));
        return items;
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        sqlite::StatementUse use(m_connection->statement(Query::ObjectsOfDocument));
        sqlite3_bind_int64(use.get(), 1, m_documentId);
        return readObjects(m_connection, use.get());
    }

    const StoreConnection* connection() const { return m_connection.get(); }
    // The view that gave the document; nothing when AllDocuments gave it.
    std::optional<sqlite3_int64> viewId() const { return m_viewId; }
    sqlite3_int64 position() const { return m_position; }

private:
    // All items of the document come in one query, on the first look at any of them;
    // their names and packed values go into one buffer.
    void loadItems()
    {
        sqlite::StatementUse use(m_connection->statement(Query::Items));
        sqlite3_stmt* s = use.get();
        sqlite3_bind_int64(s, 1, m_firstItem);
        sqlite3_bind_int64(s, 2, m_itemCount);
        sqlite3_bind_int64(s, 3, m_documentId);
        QList<StoredItem> items;
        items.reserve(qsizetype(std::clamp<qint64>(m_itemCount, 0, 64)));
        std::string bytes;
        bytes.reserve(4096);
        // Where the n bytes at p went in the buffer.
        auto keep = [&bytes](const char* p, int n) {
            const auto at = qsizetype(bytes.size());
            if (n > 0)
                bytes.append(p, size_t(n));
            return at;
        };
        while (m_connection->step(s)) {
            StoredItem item;
            item.seq = sqlite3_column_int(s, 0);
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
            item.nameLength = sqlite3_column_bytes(s, 1);
            item.nameOffset = keep(name, int(item.nameLength));
            item.asciiName = isAscii(name, item.nameLength);
            item.type = sqlite3_column_int(s, 2);
            item.unreadable = sqlite3_column_int(s, 3) != 0;
            item.valueCount = sqlite3_column_int64(s, 4);
            const auto* value = static_cast<const char*>(sqlite3_column_blob(s, 5));
            item.valueLength = sqlite3_column_bytes(s, 5);
            item.valueOffset = keep(value, int(item.valueLength));
            items.append(item);
        }
        m_bytes = std::move(bytes);
        m_items = std::move(items);
    }

    QString nameOf(const StoredItem& item) const
    {
        return QString::fromUtf8(m_bytes.data() + item.nameOffset, item.nameLength);
    }

    const StoredItem* find(const QString& name)
    {
        if (!m_items)
            loadItems();
        // Case-insensitive as Notes item names are. ASCII names, which are nearly all,
        // are compared as bytes; others as texts, where folding can match names of
        // different byte lengths.
        const bool asciiName = isAscii(name);
        for (const StoredItem& item : std::as_const(*m_items)) {
            const char* itemName = m_bytes.data() + item.nameOffset;
            if (asciiName && item.asciiName) {
                if (equalAsciiIgnoringCase(itemName, item.nameLength, name))
                    return &item;
                continue;
            }
            const QString text = nameOf(item);
            if (text.size() == name.size() && text.compare(name, Qt::CaseInsensitive) == 0)
                return &item;
        }
        return nullptr;
    }

    ConnectionPtr m_connection;
    std::optional<sqlite3_int64> m_viewId;
    sqlite3_int64 m_position;
    sqlite3_int64 m_documentId;
    qint64 m_size;
    bool m_hasEmbedded;
    sqlite3_int64 m_firstItem;
    qint64 m_itemCount;
    std::optional<QList<StoredItem>> m_items;
    std::string m_bytes; // the items' names and packed values
};

// The documents of a view by position, or of the store by id, as a statement of its
// own that stays open between calls: the next document after the one it gave last is
// one more step. A document from elsewhere in the walk starts the statement again
// after its position. A failed step leaves the walk to start again at the next call.
class DocumentWalk {
public:
    DocumentWalk(ConnectionPtr connection, Query query, std::optional<sqlite3_int64> viewId)
        : m_connection(std::move(connection)), m_query(query), m_viewId(viewId)
    {}

    std::shared_ptr<NotesDocument> after(sqlite3_int64 position)
    {
        if (!m_stmt)
            m_stmt = m_connection->prepare(m_query);
        sqlite3_stmt* s = m_stmt.get();
        if (!m_open || position != m_last) {
            sqlite3_reset(s);
            int index = 1;
            if (m_viewId)
                sqlite3_bind_int64(s, index++, *m_viewId);
            sqlite3_bind_int64(s, index, position);
        }
        m_open = false;
        if (!m_connection->step(s)) {
            sqlite3_reset(s);
            return nullptr;
        }
        auto document = std::make_shared<LocalDocument>(m_connection, m_viewId, s);
        m_last = document->position();
        m_open = true;
        return document;
    }

private:
    ConnectionPtr m_connection;
    Query m_query;
    std::optional<sqlite3_int64> m_viewId;
    sqlite::Statement m_stmt; // after the connection, so finalized before it goes
    bool m_open = false;      // stepped to the row of m_last
    sqlite3_int64 m_last = 0;
};

class LocalView final : public NotesView {
public:
    LocalView(ConnectionPtr connection, sqlite3_stmt* row)
        : m_connection(std::move(connection)), m_id(sqlite3_column_int64(row, 0)),
          m_name(sqlite::columnText(row, 1)), m_isFolder(sqlite3_column_int(row, 2) != 0),
          m_count(std::max<qint64>(0, sqlite3_column_int64(row, 3))),
          m_walk(m_connection, Query::NextEntry, m_id)
    {}

    QString Name() override { return m_name; }
    bool isfolder() override { return m_isFolder; }
    NotesViewEntryCollection AllEntries() override { return NotesViewEntryCollection(m_count); }

    std::shared_ptr<NotesDocument> GetFirstDocument() override { return m_walk.after(-1); }

    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        if (!current)
            throw OperationError(QStringLiteral("No current document was given"));
        const auto* doc = dynamic_cast<const LocalDocument*>(current.get());
        if (!doc || doc->connection() != m_connection.get() || doc->viewId() != m_id)
            throw OperationError(
                QStringLiteral("The document does not belong to the view \"%1\"").arg(m_name));
        return m_walk.after(doc->position());
    }

private:
    ConnectionPtr m_connection;
    sqlite3_int64 m_id;
    QString m_name;
    bool m_isFolder;
    qint64 m_count;
    DocumentWalk m_walk;
};

// Every document of the store once, by id.
class LocalAllDocuments final : public NotesDocumentCollection {
public:
    explicit LocalAllDocuments(ConnectionPtr connection)
        : m_connection(std::move(connection)), m_walk(m_connection, Query::NextDocument, {})
    {}

    qint64 Count() override
    {
        sqlite::StatementUse use(m_connection->statement(Query::DocumentCount));
        if (!m_connection->step(use.get()))
            return 0;
        return sqlite3_column_int64(use.get(), 0);
    }

    std::shared_ptr<NotesDocument> GetFirstDocument() override
    {
        return m_walk.after(std::numeric_limits<sqlite3_int64>::min());
    }

    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        if (!current)
            throw OperationError(QStringLiteral("No current document was given"));
        const auto* doc = dynamic_cast<const LocalDocument*>(current.get());
        if (!doc || doc->connection() != m_connection.get() || doc->viewId())
            throw OperationError(
                QStringLiteral("The document does not belong to all documents of \"%1\"")
                    .arg(m_connection->title()));
        return m_walk.after(doc->position());
    }

private:
    ConnectionPtr m_connection;
    DocumentWalk m_walk;
};

class LocalDatabase final : public NotesDatabase {
public:
    explicit LocalDatabase(ConnectionPtr connection) : m_connection(std::move(connection)) {}

    QString Title() override { return m_connection->title(); }

    std::optional<NotesViewList> Views() override
    {
        NotesViewList views;
        try {
            sqlite::StatementUse use(m_connection->statement(Query::ViewList));
            while (m_connection->step(use.get()))
                views.append(std::make_shared<LocalView>(m_connection, use.get()));
        } catch (const OperationError&) {
            // Views that cannot be read give no array, as for an encrypted database.
            return std::nullopt;
        }
        if (views.isEmpty())
            return std::nullopt;
        return views;
    }

    std::shared_ptr<NotesView> GetView(const QString& name) override
    {
        sqlite::StatementUse use(m_connection->statement(Query::ViewByName));
        sqlite::bindText(use.get(), 1, name);
        if (!m_connection->step(use.get()))
            return nullptr;
        return std::make_shared<LocalView>(m_connection, use.get());
    }

    std::shared_ptr<NotesDocumentCollection> AllDocuments() override
    {
        return std::make_shared<LocalAllDocuments>(m_connection);
    }

private:
    ConnectionPtr m_connection;
};

} // namespace

StoreConnectionCache::StoreConnectionCache(int capacity) : m_capacity(std::max(1, capacity))
{}

StoreConnectionCache::~StoreConnectionCache() = default;

std::shared_ptr<StoreConnection> StoreConnectionCache::open(const QString& path)
{
    QString why;
    const auto identity = platform::fileIdentity(path, &why);
    if (!identity)
        throw OperationError(QStringLiteral("\"%1\" cannot be opened: %2").arg(path, why));
    if (identity->kind == platform::FileIdentity::Kind::Folder)
        throw OperationError(
            QStringLiteral("\"%1\" is a folder, not a Tarvik mail store").arg(path));
    if (identity->kind != platform::FileIdentity::Kind::Regular)
        throw OperationError(
            QStringLiteral("\"%1\" is not a regular file, not a Tarvik mail store").arg(path));
    QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = path;

    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.canonicalPath == canonical; });
    if (it != m_entries.end()) {
        if (it->connection->identity() == *identity) {
            const Entry entry = *it;
            m_entries.erase(it);
            m_entries.prepend(entry);
            return entry.connection;
        }
        // Changed or replaced since it was opened: holders of the old connection keep it.
        m_entries.erase(it);
    }
    auto connection = std::make_shared<StoreConnection>(canonical, *identity);
    ++m_filesOpened;
    m_entries.prepend({canonical, connection});
    while (m_entries.size() > m_capacity)
        m_entries.removeLast();
    return connection;
}

LocalStoreSession::LocalStoreSession(std::shared_ptr<StoreConnectionCache> cache)
    : m_cache(cache ? std::move(cache) : std::make_shared<StoreConnectionCache>())
{}

std::shared_ptr<NotesDatabase> LocalStoreSession::GetDatabase(const QString& server,
                                                              const QString& path)
{
    if (!server.isEmpty())
        throw OperationError(
            QStringLiteral("Cannot open \"%1\" on the server \"%2\": only local databases "
                           "can be opened")
                .arg(path, server));
    if (path.isEmpty())
        throw OperationError(QStringLiteral("No database file was given"));
    return std::make_shared<LocalDatabase>(m_cache->open(path));
}

} // namespace tarvik::notes
