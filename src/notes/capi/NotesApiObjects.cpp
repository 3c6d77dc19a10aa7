#include "notes/capi/NotesApiBackend.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/NotesSessionRegistry.h"
#include "notes/capi/ItemValues.h"
#include "notes/capi/MimeStream.h"
#include "notes/capi/NotesHandles.h"
#include "nsf/FormatError.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cstring>
#include <vector>

namespace tarvik::notes::capi {

namespace {

// MIME parts stay MIME (the Body is read through the MIME stream); RFC 822 header items
// are turned into text and times by Notes, as the mail's other items are.
constexpr DWORD documentOpenFlags = OPEN_RAW_MIME_PART;
// The widest line ConvertItemToText may make: rich text is not folded into lines here.
constexpr WORD unfoldedLine = MAXWORD;
const char lineDelimiter[] = "\n";
// Notes item names are at most this long.
constexpr WORD maxItemName = 256;
// Items of one note beyond this many are not read (a damaged note could list them forever).
constexpr int maxItems = 65535;
// How many databases a session keeps open: callers open the same one again for every
// folder they count or export.
constexpr int openDatabasesKept = 4;

// Item types as the automation classes number them, where the C API's differ.
constexpr int automationAttachment = 1084;
constexpr int automationMimePart = 25;
constexpr int automationNoteRefs = 4;
constexpr int automationReaders = 1075;
constexpr int automationAuthors = 1076;

QString hexId(NOTEID id)
{
    return QStringLiteral("0x%1").arg(id, 0, 16);
}

bool sameName(const QString& a, const QString& b)
{
    return a.size() == b.size() && a.compare(b, Qt::CaseInsensitive) == 0;
}

nsf::Bytes bytesOf(const char* data, std::size_t length)
{
    return nsf::Bytes(reinterpret_cast<const std::uint8_t*>(data), length);
}

// One item of an open note, as NSFItemInfo, NSFItemInfoNext and NSFItemQuery give it.
struct ItemEntry {
    QByteArray rawName; // LMBCS
    QString name;
    WORD flags = 0;
    WORD type = TYPE_INVALID_OR_UNKNOWN;
    BLOCKID item{};
    BLOCKID value{};
    DWORD valueLength = 0; // with the type word
    // For a $FILE item: the file object it holds.
    std::optional<nsf::FileObject> file;
};

// The value of an item, after its type word, locked while this lives.
class ItemValue {
public:
    ItemValue(NotesRuntime& runtime, const ItemEntry& item) : m_lock(runtime, item.value)
    {
        m_length = item.valueLength >= sizeof(WORD) ? item.valueLength - sizeof(WORD) : 0;
    }
    const char* data() const { return m_lock.data() + sizeof(WORD); }
    std::size_t length() const { return m_length; }

private:
    LockedMemory m_lock;
    std::size_t m_length = 0;
};

std::optional<nsf::FileObject> fileObjectOf(NotesRuntime& runtime, const ItemEntry& item)
{
    if (item.type != TYPE_OBJECT)
        return std::nullopt;
    try {
        ItemValue value(runtime, item);
        // Object values are in canonical form: the file's own layout.
        const nsf::ObjectRef ref = nsf::decodeObjectRef(bytesOf(value.data(), value.length()));
        if (ref.kind() != OBJECT_FILE)
            return std::nullopt;
        return nsf::decodeFileObject(bytesOf(value.data(), value.length()));
    } catch (const nsf::FormatError&) {
        return std::nullopt;
    }
}

QList<ItemEntry> readItems(NoteHandle& note)
{
    NotesRuntime& runtime = note.runtime();
    QList<ItemEntry> items;
    BLOCKID item{};
    BLOCKID value{};
    WORD type = 0;
    DWORD length = 0;
    STATUS status =
        runtime.api().NSFItemInfo(note.get(), nullptr, 0, &item, &type, &value, &length);
    while (status == NOERROR) {
        if (items.size() >= maxItems)
            throw OperationError(QStringLiteral("The document %1 has more than %2 items")
                                     .arg(hexId(note.id()))
                                     .arg(maxItems));
        ItemEntry entry;
        char name[maxItemName + 1] = {};
        WORD nameLength = 0;
        runtime.api().NSFItemQuery(note.get(), item, name, maxItemName, &nameLength, &entry.flags,
                                   &entry.type, &entry.value, &entry.valueLength);
        nameLength = std::min(nameLength, maxItemName);
        entry.rawName = QByteArray(name, nameLength);
        entry.name = runtime.fromLmbcs(entry.rawName);
        entry.item = item;
        entry.file = fileObjectOf(runtime, entry);
        items.append(entry);
        status = runtime.api().NSFItemInfoNext(note.get(), item, nullptr, 0, &item, &type, &value,
                                               &length);
    }
    if ((status & ERR_MASK) != ERR_ITEM_NOT_FOUND)
        runtime.check(
            status,
            QStringLiteral("Notes cannot read the items of the document %1").arg(hexId(note.id())));
    return items;
}

QString textOfItems(NotesRuntime& runtime, const QList<const ItemEntry*>& parts)
{
    QString text;
    for (const ItemEntry* part : parts) {
        MemoryHandle buffer(runtime);
        DWORD length = 0;
        const STATUS status = runtime.api().ConvertItemToText(
            part->value, part->valueLength, lineDelimiter, unfoldedLine, buffer.out(), &length, 0);
        runtime.check(
            status, QStringLiteral("Notes cannot turn the item \"%1\" into text").arg(part->name));
        QString piece;
        if (buffer.get() != NULLHANDLE && length > 0) {
            LockedMemory data(runtime, buffer.get());
            piece = runtime.fromLmbcs(data.data(), length);
        }
        // A field kept in several items goes on in the next; each item holds whole
        // paragraphs, so a line break comes between them where the first has none.
        if (!text.isEmpty() && !piece.isEmpty() && !text.endsWith(QLatin1Char('\n')))
            text += QLatin1Char('\n');
        text += piece;
    }
    return text;
}

// Writes an embedded object's bytes to a new file (not following a link at its name) and
// removes the file again when anything fails.
class TargetFile {
public:
    TargetFile(const QString& path, const QString& database) : m_path(path)
    {
        const auto target = platform::fileIdentity(path);
        const auto source = platform::fileIdentity(database);
        if (target && source && target->device == source->device && target->inode == source->inode)
            throw OperationError(
                QStringLiteral("Cannot write \"%1\": it is the Notes database being read")
                    .arg(path));
        QString why;
        platform::FileDescriptor fd = platform::openForWriteNoFollow(path, &why);
        if (!fd)
            throw OperationError(QStringLiteral("Cannot write \"%1\": %2").arg(path, why));
        if (!m_file.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            fail();
        fd.release();
        m_open = true;
    }
    ~TargetFile()
    {
        if (m_open) { // not finished: nothing half written stays behind
            m_file.close();
            QFile::remove(m_path);
        }
    }
    TargetFile(const TargetFile&) = delete;
    TargetFile& operator=(const TargetFile&) = delete;

    void write(const char* data, std::size_t length)
    {
        for (std::size_t done = 0; done < length;) {
            const qint64 n = m_file.write(data + done, qint64(length - done));
            if (n <= 0)
                fail();
            done += std::size_t(n);
        }
        m_written += qint64(length);
    }
    qint64 written() const { return m_written; }
    void finish()
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError)
            fail();
        m_open = false;
    }

private:
    [[noreturn]] void fail()
    {
        throw OperationError(
            QStringLiteral("Cannot write \"%1\": %2").arg(m_path, m_file.errorString()));
    }

    QString m_path;
    QFile m_file;
    bool m_open = false;
    qint64 m_written = 0;
};

// A view or folder of the design collection.
struct ViewInfo {
    NOTEID noteId = 0;
    ViewTitle title;
    bool isFolder = false;
};

// An open database of a session, shared by every object that reads it, with what was read
// of its design and its views' entries.
class OpenDatabase {
public:
    OpenDatabase(RuntimePtr runtime, const QString& path)
        : handle(std::make_shared<DatabaseHandle>(std::move(runtime), path))
    {}

    NotesRuntime& runtime() const { return handle->runtime(); }

    const QList<ViewInfo>& views()
    {
        if (!m_views)
            m_views = readViews();
        return *m_views;
    }

    std::shared_ptr<const std::vector<NOTEID>> entries(NOTEID viewNoteId)
    {
        auto& cached = m_entries[viewNoteId];
        if (!cached)
            cached = readEntries(viewNoteId);
        return cached;
    }

    std::shared_ptr<DatabaseHandle> handle;

private:
    QList<ViewInfo> readViews();
    std::shared_ptr<const std::vector<NOTEID>> readEntries(NOTEID viewNoteId);
    std::optional<ViewInfo> viewOfNote(NOTEID id);

    std::optional<QList<ViewInfo>> m_views;
    QHash<NOTEID, std::shared_ptr<const std::vector<NOTEID>>> m_entries;
};

QStringList textValues(NotesRuntime& runtime, WORD type, const QByteArray& value)
{
    QStringList parts;
    if (type != TYPE_TEXT && type != TYPE_TEXT_LIST)
        return parts;
    const QList<NotesValue> values = decodeHostValue(
        type, value.constData(), std::size_t(value.size()),
        [&](const char* d, std::size_t n) { return runtime.fromLmbcs(d, n); },
        [](const TIMEDATE&) { return QDateTime(); });
    for (const NotesValue& v : values)
        parts.append(v.text());
    return parts;
}

QList<ViewInfo> OpenDatabase::readViews()
{
    NotesRuntime& rt = runtime();
    CollectionHandle design(*handle, NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN, 0);
    struct Entry {
        NOTEID id;
        WORD noteClass;
        std::optional<QList<SummaryItem>> summary;
    };
    QList<Entry> entries;
    readCollection(rt, design.get(), READ_MASK_NOTEID | READ_MASK_NOTECLASS | READ_MASK_SUMMARY,
                   [&](const char* buffer, WORD length, DWORD count) {
                       std::size_t pos = 0;
                       for (DWORD i = 0; i < count; ++i) {
                           Entry e;
                           if (length - pos < sizeof(NOTEID) + sizeof(WORD))
                               throw OperationError(QStringLiteral(
                                   "Notes gave the design of the database cut short"));
                           std::memcpy(&e.id, buffer + pos, sizeof(NOTEID));
                           pos += sizeof(NOTEID);
                           std::memcpy(&e.noteClass, buffer + pos, sizeof(WORD));
                           pos += sizeof(WORD);
                           std::size_t used = 0;
                           e.summary = parseSummaryBuffer(buffer + pos, length - pos, &used);
                           if (!e.summary)
                               throw OperationError(QStringLiteral(
                                   "Notes gave the design of the database in a form not "
                                   "understood"));
                           pos += used;
                           entries.append(e);
                       }
                   });

    QList<ViewInfo> views;
    for (const Entry& e : std::as_const(entries)) {
        if (!(e.noteClass & NOTE_CLASS_VIEW))
            continue;
        std::optional<QStringList> title;
        std::optional<QString> flags;
        for (const SummaryItem& item : std::as_const(*e.summary)) {
            if (item.name.compare("$TITLE", Qt::CaseInsensitive) == 0)
                title = textValues(rt, item.type, item.value);
            else if (item.name.compare("$Flags", Qt::CaseInsensitive) == 0)
                flags = textValues(rt, item.type, item.value).join(QString());
        }
        std::optional<ViewInfo> view;
        if (title && flags) {
            ViewInfo v;
            v.noteId = e.id;
            v.title = splitViewTitle(*title);
            v.isFolder = flags->contains(QLatin1Char('F'));
            if (!flags->contains(QLatin1Char('G'))) // navigators are view notes too
                view = v;
        } else {
            // The design collection does not show them: from the note itself.
            view = viewOfNote(e.id);
        }
        if (view)
            views.append(*view);
    }
    return views;
}

std::optional<ViewInfo> OpenDatabase::viewOfNote(NOTEID id)
{
    NotesRuntime& rt = runtime();
    NoteHandle note(handle, id, OPEN_SUMMARY);
    QStringList title;
    QString flags;
    for (const ItemEntry& item : readItems(note)) {
        const bool isTitle = sameName(item.name, QStringLiteral("$TITLE"));
        if (!isTitle && !sameName(item.name, QStringLiteral("$Flags")))
            continue;
        ItemValue value(rt, item);
        const QStringList parts =
            textValues(rt, item.type, QByteArray(value.data(), qsizetype(value.length())));
        if (isTitle)
            title = parts;
        else
            flags = parts.join(QString());
    }
    if (flags.contains(QLatin1Char('G')))
        return std::nullopt;
    ViewInfo v;
    v.noteId = id;
    v.title = splitViewTitle(title);
    v.isFolder = flags.contains(QLatin1Char('F'));
    return v;
}

std::shared_ptr<const std::vector<NOTEID>> OpenDatabase::readEntries(NOTEID viewNoteId)
{
    NotesRuntime& rt = runtime();
    CollectionHandle collection(*handle, viewNoteId, 0);
    auto ids = std::make_shared<std::vector<NOTEID>>();
    readCollection(
        rt, collection.get(), READ_MASK_NOTEID, [&](const char* buffer, WORD length, DWORD count) {
            if (std::size_t(count) * sizeof(NOTEID) > length)
                throw OperationError(QStringLiteral("Notes gave the view's entries cut short"));
            for (DWORD i = 0; i < count; ++i) {
                NOTEID id;
                std::memcpy(&id, buffer + i * sizeof(NOTEID), sizeof id);
                if (!(id & NOTEID_CATEGORY)) // categories are no documents
                    ids->push_back(id);
            }
        });
    return ids;
}

// A note opened for reading, with its items, shared by the document and every item and
// embedded object it gave out.
class OpenNote {
public:
    OpenNote(const std::shared_ptr<OpenDatabase>& db, NOTEID id)
        : database(db), note(std::make_shared<NoteHandle>(db->handle, id, documentOpenFlags))
    {
        NotesRuntime& rt = runtime();
        BOOL isSigned = 0;
        BOOL isSealed = 0;
        rt.api().NSFNoteIsSignedOrSealed(note->get(), &isSigned, &isSealed);
        if (isSealed) {
            ENCRYPTION_KEY key{};
            const STATUS status = rt.api().NSFNoteDecrypt(note->get(), 0, &key);
            if (status == NOERROR)
                attachmentKey = key;
            else
                decryptFailure = rt.errorText(status);
        }
        // Read after decrypting: the decrypted items replace the sealed ones.
        items = readItems(*note);
    }

    NotesRuntime& runtime() const { return note->runtime(); }

    const ItemEntry* first(const QString& name) const
    {
        for (const ItemEntry& item : items) {
            if (sameName(item.name, name))
                return &item;
        }
        return nullptr;
    }

    // Throws for an item whose value is encrypted and could not be decrypted.
    void checkReadable(const ItemEntry& item) const
    {
        if (decryptFailure && (item.flags & ITEM_SEAL))
            throw OperationError(
                QStringLiteral(
                    "The item \"%1\" is encrypted and the Notes ID cannot decrypt it: %2")
                    .arg(item.name, *decryptFailure));
    }

    QList<const ItemEntry*> parts(const QString& name, WORD type) const
    {
        QList<const ItemEntry*> found;
        for (const ItemEntry& item : items) {
            if (item.type == type && sameName(item.name, name))
                found.append(&item);
        }
        return found;
    }

    // The first item of the field kept as MIME parts under this item's name.
    bool startsMimeField(const ItemEntry& item) const
    {
        return item.type == TYPE_MIME_PART && first(item.name) == &item;
    }

    const MimeContent& mime(const ItemEntry& item)
    {
        const QString key = item.name.toCaseFolded();
        auto it = m_mime.find(key);
        if (it == m_mime.end()) {
            MimeStreamHandle stream(*note, item.rawName);
            const ChunkReader read = [&](char* buffer, std::size_t capacity) {
                return stream.read(buffer, capacity);
            };
            it = m_mime.insert(key, readMimeContent(read));
        }
        return *it;
    }

    // The $FILE items that rich-text items show, by their file names.
    const std::vector<nsf::RichTextFile>& filesShownBy(const ItemEntry& item)
    {
        const qsizetype index = &item - items.constData();
        auto it = m_shown.find(index);
        if (it == m_shown.end()) {
            ItemValue value(runtime(), item);
            // Rich text is in canonical form, the layout the .nsf reader reads.
            nsf::RichTextContent content =
                nsf::richTextContent(bytesOf(value.data(), value.length()));
            it = m_shown.insert(index, std::move(content.files));
        }
        return *it;
    }

    const ItemEntry* fileItem(const QString& fileName) const
    {
        for (const ItemEntry& item : items) {
            if (item.file && QString::fromStdString(item.file->name) == fileName)
                return &item;
        }
        for (const ItemEntry& item : items) {
            if (item.file && sameName(QString::fromStdString(item.file->name), fileName))
                return &item;
        }
        return nullptr;
    }

    std::shared_ptr<OpenDatabase> database;
    std::shared_ptr<NoteHandle> note;
    QList<ItemEntry> items;
    std::optional<QString> decryptFailure;
    std::optional<ENCRYPTION_KEY> attachmentKey;

private:
    QHash<QString, MimeContent> m_mime;
    QHash<qsizetype, std::vector<nsf::RichTextFile>> m_shown;
};

using OpenNotePtr = std::shared_ptr<OpenNote>;

struct ExtractContext {
    TargetFile* file = nullptr;
    std::optional<QString> failure;
};

STATUS TARVIK_LNCALLBACK extractChunk(const BYTE* bytes, DWORD length, void* param)
{
    auto* context = static_cast<ExtractContext*>(param);
    try {
        context->file->write(reinterpret_cast<const char*>(bytes), length);
    } catch (const OperationError& e) {
        context->failure = e.message();
        return 1; // any status but NOERROR stops the extraction
    } catch (...) {
        context->failure = QStringLiteral("writing the attachment failed");
        return 1;
    }
    return NOERROR;
}

// A file attachment kept in a $FILE item.
class FileAttachment final : public NotesEmbeddedObject {
public:
    FileAttachment(OpenNotePtr note, qsizetype item, QString name)
        : m_note(std::move(note)), m_item(item), m_name(std::move(name))
    {}

    int Type() const override { return objecttype::attachment; }
    QString Name() const override { return m_name; }

    void ExtractFile(const QString& path) override
    {
        const ItemEntry& item = m_note->items[m_item];
        NotesRuntime& rt = m_note->runtime();
        TargetFile file(path, m_note->database->handle->path());
        ExtractContext context;
        context.file = &file;
        ENCRYPTION_KEY key{};
        if (m_note->attachmentKey)
            key = *m_note->attachmentKey;
        const STATUS status = rt.api().NSFNoteExtractWithCallback(
            m_note->note->get(), item.item, m_note->attachmentKey ? &key : nullptr, 0, extractChunk,
            &context);
        if (context.failure)
            throw OperationError(*context.failure);
        rt.check(status, QStringLiteral("Notes cannot extract the attachment \"%1\"").arg(m_name));
        // The size the item records is the file's, modulo its 32 bits.
        if (item.file && quint32(file.written()) != item.file->size)
            throw OperationError(QStringLiteral("Notes gave %1 bytes of the attachment \"%2\", "
                                                "which has %3")
                                     .arg(file.written())
                                     .arg(m_name)
                                     .arg(item.file->size));
        file.finish();
    }

private:
    OpenNotePtr m_note;
    qsizetype m_item;
    QString m_name;
};

// An attachment that is a part of a MIME message.
class MimeAttachmentObject final : public NotesEmbeddedObject {
public:
    MimeAttachmentObject(OpenNotePtr note, qsizetype item, MimeAttachment part)
        : m_note(std::move(note)), m_item(item), m_part(std::move(part))
    {}

    int Type() const override { return objecttype::attachment; }
    QString Name() const override { return m_part.name; }

    void ExtractFile(const QString& path) override
    {
        const ItemEntry& item = m_note->items[m_item];
        TargetFile file(path, m_note->database->handle->path());
        MimeStreamHandle stream(*m_note->note, item.rawName);
        const ChunkReader read = [&](char* buffer, std::size_t capacity) {
            return stream.read(buffer, capacity);
        };
        extractMimePart(read, m_part.part,
                        [&](const char* data, std::size_t length) { file.write(data, length); });
        file.finish();
    }

private:
    OpenNotePtr m_note;
    qsizetype m_item;
    MimeAttachment m_part;
};

class ApiItem final : public NotesItem {
public:
    ApiItem(OpenNotePtr note, qsizetype index) : m_note(std::move(note)), m_index(index) {}

    QString Name() const override { return entry().name; }

    int Type() override
    {
        const ItemEntry& item = entry();
        switch (item.type) {
        case TYPE_TEXT:
        case TYPE_TEXT_LIST:
            if (item.flags & ITEM_READERS)
                return automationReaders;
            if (item.flags & ITEM_READWRITERS)
                return automationAuthors;
            if (item.flags & ITEM_NAMES)
                return itemtype::names;
            return itemtype::text;
        case TYPE_NUMBER:
        case TYPE_NUMBER_RANGE:
            return itemtype::number;
        case TYPE_TIME:
        case TYPE_TIME_RANGE:
            return itemtype::dateTime;
        case TYPE_COMPOSITE:
            return itemtype::richText;
        case TYPE_MIME_PART:
            // As the automation classes show a MIME field, converted: rich text.
            return m_note->startsMimeField(item) ? itemtype::richText : automationMimePart;
        case TYPE_OBJECT:
            return item.file ? automationAttachment : item.type;
        case TYPE_NOTEREF_LIST:
            return automationNoteRefs;
        default:
            return item.type;
        }
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        const ItemEntry& item = entry();
        NotesEmbeddedObjectList objects;
        if (item.type == TYPE_COMPOSITE) {
            m_note->checkReadable(item);
            for (const nsf::RichTextFile& shown : m_note->filesShownBy(item)) {
                const QString internal = QString::fromStdString(shown.internalName);
                const ItemEntry* file = m_note->fileItem(internal);
                if (!file)
                    throw OperationError(
                        QStringLiteral("The attachment \"%1\" shown in \"%2\" is not in the "
                                       "document")
                            .arg(QString::fromStdString(shown.originalName), item.name));
                const QString name = shown.originalName.empty()
                                         ? internal
                                         : QString::fromStdString(shown.originalName);
                objects.append(std::make_shared<FileAttachment>(
                    m_note, file - m_note->items.constData(), name));
            }
        } else if (m_note->startsMimeField(item)) {
            m_note->checkReadable(item);
            for (const MimeAttachment& part : m_note->mime(item).attachments)
                objects.append(std::make_shared<MimeAttachmentObject>(m_note, m_index, part));
        }
        if (objects.isEmpty())
            return std::nullopt;
        return objects;
    }

private:
    const ItemEntry& entry() const { return m_note->items[m_index]; }

    OpenNotePtr m_note;
    qsizetype m_index;
};

class ApiDocument final : public NotesDocument {
public:
    ApiDocument(std::shared_ptr<OpenDatabase> db, NOTEID viewNoteId, std::size_t position,
                NOTEID noteId)
        : m_db(std::move(db)), m_viewNoteId(viewNoteId), m_position(position), m_noteId(noteId)
    {}

    NotesValueArray GetItemValue(const QString& name) override
    {
        OpenNote& note = open();
        const ItemEntry* item = note.first(name);
        if (!item)
            return NotesValueArray({NotesValue()});
        note.checkReadable(*item);
        NotesRuntime& rt = note.runtime();
        if (isHostValueType(item->type)) {
            ItemValue value(rt, *item);
            return NotesValueArray(decodeHostValue(
                item->type, value.data(), value.length(),
                [&](const char* d, std::size_t n) { return rt.fromLmbcs(d, n); },
                [&](const TIMEDATE& td) { return dateTime(rt, td); }));
        }
        switch (item->type) {
        case TYPE_COMPOSITE:
            return NotesValueArray(
                {NotesValue::fromText(textOfItems(rt, note.parts(item->name, TYPE_COMPOSITE)))});
        case TYPE_MIME_PART: {
            const MimeContent& mime = note.mime(*item);
            if (!mime.textFailure.isEmpty())
                throw OperationError(QStringLiteral("The text of \"%1\" cannot be read: %2")
                                         .arg(item->name, mime.textFailure));
            return NotesValueArray({NotesValue::fromText(mime.text.value_or(QString()))});
        }
        case TYPE_OBJECT:
            if (item->file)
                return NotesValueArray(
                    {NotesValue::fromText(QString::fromStdString(item->file->name))});
            break;
        default:
            break;
        }
        return NotesValueArray({NotesValue()});
    }

    bool hasitem(const QString& name) override { return open().first(name) != nullptr; }

    qint64 Size() override
    {
        // Notes keeps no size of a note that the C API gives: its items' names and
        // values, and the files it holds.
        qint64 size = 0;
        for (const ItemEntry& item : open().items) {
            size += item.rawName.size() + qint64(item.valueLength);
            if (item.file)
                size += item.file->size;
        }
        return size;
    }

    bool HasEmbedded() override
    {
        OpenNote& note = open();
        for (const ItemEntry& item : note.items) {
            if (item.file)
                return true;
        }
        for (const ItemEntry& item : note.items) {
            if (note.startsMimeField(item) && !(note.decryptFailure && (item.flags & ITEM_SEAL)) &&
                !note.mime(item).attachments.isEmpty())
                return true;
        }
        return false;
    }

    std::shared_ptr<NotesItem> GetFirstItem(const QString& name) override
    {
        const OpenNotePtr& note = openPtr();
        const ItemEntry* item = note->first(name);
        if (!item)
            return nullptr;
        return std::make_shared<ApiItem>(note, item - note->items.constData());
    }

    QList<std::shared_ptr<NotesItem>> Items() override
    {
        const OpenNotePtr& note = openPtr();
        QList<std::shared_ptr<NotesItem>> items;
        items.reserve(note->items.size());
        for (qsizetype i = 0; i < note->items.size(); ++i)
            items.append(std::make_shared<ApiItem>(note, i));
        return items;
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        const OpenNotePtr& note = openPtr();
        NotesRuntime& rt = note->runtime();
        // The files that a rich-text item shows belong to that item.
        QList<const ItemEntry*> shown;
        for (const ItemEntry& item : note->items) {
            if (item.type != TYPE_COMPOSITE)
                continue;
            note->checkReadable(item);
            for (const nsf::RichTextFile& file : note->filesShownBy(item)) {
                if (const ItemEntry* f = note->fileItem(QString::fromStdString(file.internalName)))
                    shown.append(f);
            }
        }
        NotesEmbeddedObjectList objects;
        for (const ItemEntry& item : note->items) {
            if (!item.file || shown.contains(&item))
                continue;
            // A MIME part's content kept in a $FILE item is that part's attachment.
            if (rt.api().NSFIsFileItemMimePart(note->note->get(), item.item))
                continue;
            objects.append(std::make_shared<FileAttachment>(
                note, &item - note->items.constData(), QString::fromStdString(item.file->name)));
        }
        if (objects.isEmpty())
            return std::nullopt;
        return objects;
    }

    const OpenDatabase* database() const { return m_db.get(); }
    NOTEID viewNoteId() const { return m_viewNoteId; }
    std::size_t position() const { return m_position; }

private:
    const OpenNotePtr& openPtr()
    {
        if (!m_note)
            m_note = std::make_shared<OpenNote>(m_db, m_noteId);
        return m_note;
    }
    OpenNote& open() { return *openPtr(); }

    static QDateTime dateTime(NotesRuntime& rt, const TIMEDATE& td)
    {
        TIME utc{};
        utc.GM = td;
        utc.zone = 0;
        utc.dst = 0;
        TIME writer{};
        writer.GM = td;
        // Both return TRUE when they fail.
        if (rt.api().TimeGMToLocalZone(&utc) || rt.api().TimeGMToLocal(&writer))
            throw OperationError(QStringLiteral("Notes cannot read a date and time value"));
        return dateTimeFromExpansions(td, utc, writer);
    }

    std::shared_ptr<OpenDatabase> m_db;
    NOTEID m_viewNoteId;
    std::size_t m_position;
    NOTEID m_noteId;
    OpenNotePtr m_note;
};

class ApiView final : public NotesView {
public:
    ApiView(std::shared_ptr<OpenDatabase> db, ViewInfo info)
        : m_db(std::move(db)), m_info(std::move(info))
    {}

    QString Name() override { return m_info.title.name; }
    bool isfolder() override { return m_info.isFolder; }
    NotesViewEntryCollection AllEntries() override
    {
        return NotesViewEntryCollection(qint64(entries()->size()));
    }

    std::shared_ptr<NotesDocument> GetFirstDocument() override { return documentAt(0); }

    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        if (!current)
            throw OperationError(QStringLiteral("No current document was given"));
        const auto* doc = dynamic_cast<const ApiDocument*>(current.get());
        if (!doc || doc->database() != m_db.get() || doc->viewNoteId() != m_info.noteId)
            throw OperationError(QStringLiteral("The document does not belong to the view \"%1\"")
                                     .arg(m_info.title.name));
        return documentAt(doc->position() + 1);
    }

private:
    std::shared_ptr<const std::vector<NOTEID>> entries() { return m_db->entries(m_info.noteId); }

    std::shared_ptr<NotesDocument> documentAt(std::size_t position)
    {
        const auto ids = entries();
        if (position >= ids->size())
            return nullptr;
        return std::make_shared<ApiDocument>(m_db, m_info.noteId, position, (*ids)[position]);
    }

    std::shared_ptr<OpenDatabase> m_db;
    ViewInfo m_info;
};

class ApiDatabase final : public NotesDatabase {
public:
    explicit ApiDatabase(std::shared_ptr<OpenDatabase> db) : m_db(std::move(db)) {}

    QString Title() override
    {
        NotesRuntime& rt = m_db->runtime();
        char info[NSF_INFO_SIZE + 1] = {};
        rt.check(rt.api().NSFDbInfoGet(m_db->handle->get(), info),
                 QStringLiteral("Notes cannot read the database's title"));
        char title[NSF_INFO_SIZE + 1] = {};
        rt.api().NSFDbInfoParse(info, INFOPARSE_TITLE, title, NSF_INFO_SIZE - 1);
        return rt.fromLmbcs(title, qstrnlen(title, NSF_INFO_SIZE));
    }

    std::optional<NotesViewList> Views() override
    {
        NotesViewList views;
        try {
            for (const ViewInfo& info : m_db->views())
                views.append(std::make_shared<ApiView>(m_db, info));
        } catch (const OperationError&) {
            // Views that cannot be read give no array, as for a database that holds none.
            return std::nullopt;
        }
        if (views.isEmpty())
            return std::nullopt;
        return views;
    }

    std::shared_ptr<NotesView> GetView(const QString& name) override
    {
        const QList<ViewInfo>& views = m_db->views();
        // The exact name first; then an alias; then either without regard to case and
        // surrounding blanks, as Notes finds views; then the whole title.
        const QString wanted = name.trimmed();
        const std::function<bool(const ViewInfo&)> tests[] = {
            [&](const ViewInfo& v) { return v.title.name == name; },
            [&](const ViewInfo& v) { return v.title.aliases.contains(name); },
            [&](const ViewInfo& v) { return sameName(v.title.name, wanted); },
            [&](const ViewInfo& v) {
                return v.title.aliases.contains(wanted, Qt::CaseInsensitive);
            },
            [&](const ViewInfo& v) { return sameName(v.title.whole.trimmed(), wanted); },
        };
        for (const auto& test : tests) {
            for (const ViewInfo& v : views) {
                if (test(v))
                    return std::make_shared<ApiView>(m_db, v);
            }
        }
        return nullptr;
    }

private:
    std::shared_ptr<OpenDatabase> m_db;
};

class ApiSession final : public NotesSession {
public:
    explicit ApiSession(RuntimePtr runtime) : m_runtime(std::move(runtime)) {}

    std::shared_ptr<NotesDatabase> GetDatabase(const QString& server, const QString& path) override
    {
        if (!server.isEmpty())
            throw OperationError(
                QStringLiteral("Cannot open \"%1\" on the server \"%2\": only databases on this "
                               "machine are opened")
                    .arg(path, server));
        if (path.isEmpty())
            throw OperationError(QStringLiteral("No database file was given"));
        // A path Notes would take as relative to its data directory is made absolute when it
        // names a file from here.
        const QFileInfo file(path);
        const QString key = file.exists() ? file.absoluteFilePath() : path;
        auto it = std::find_if(m_open.begin(), m_open.end(),
                               [&](const auto& entry) { return entry.first == key; });
        std::shared_ptr<OpenDatabase> db;
        if (it != m_open.end()) {
            db = it->second;
            m_open.erase(it);
        } else {
            db = std::make_shared<OpenDatabase>(m_runtime, key);
        }
        m_open.insert(m_open.begin(), {key, db});
        while (m_open.size() > openDatabasesKept)
            m_open.pop_back();
        return std::make_shared<ApiDatabase>(db);
    }

private:
    RuntimePtr m_runtime;
    std::vector<std::pair<QString, std::shared_ptr<OpenDatabase>>> m_open;
};

} // namespace

NotesApiBackend::NotesApiBackend(NotesApiSettings settings) : m_settings(std::move(settings))
{}

NotesApiBackend::~NotesApiBackend() = default;

std::shared_ptr<NotesRuntime> NotesApiBackend::runtime()
{
    if (m_startFailure)
        throw OperationError(*m_startFailure);
    if (!m_runtime) {
        try {
            m_runtime = NotesRuntime::start(m_settings);
        } catch (const NotesNotStarted& e) {
            // A library that is missing may be installed later; Notes that would not start
            // is not started twice.
            m_startFailure = e.message();
            throw;
        }
    }
    m_runtime->useId(m_settings);
    return m_runtime;
}

std::shared_ptr<NotesSession> NotesApiBackend::newSession()
{
    return makeNotesApiSession(runtime());
}

std::shared_ptr<NotesSession> makeNotesApiSession(std::shared_ptr<NotesRuntime> runtime)
{
    return std::make_shared<ApiSession>(std::move(runtime));
}

void installNotesApi(NotesSessionRegistry& registry, std::shared_ptr<NotesApiBackend> backend)
{
    registry.removeFactory(NotesSessionRegistry::dominoProgId);
    registry.setFactory(NotesSessionRegistry::notesProgId,
                        [backend] { return backend->newSession(); });
}

} // namespace tarvik::notes::capi
