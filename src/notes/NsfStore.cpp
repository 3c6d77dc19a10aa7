#include "notes/NsfStore.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/NsfMime.h"
#include "nsf/Database.h"
#include "nsf/FormatError.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/ObjectStream.h"
#include "nsf/RichText.h"
#include "nsf/TimeDate.h"
#include "nsf/Values.h"
#include "nsf/Views.h"

#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <unordered_map>

namespace tarvik::notes {

using nsf::NoteId;

namespace {

// Attachments are copied in pieces of this size.
constexpr std::size_t copyPiece = 64 * 1024;
// A body whose text is kept in an attachment is read into memory up to this size.
constexpr std::size_t bodyTextLimit = 64u << 20;

QString text(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

QString why(const std::exception& e)
{
    return QString::fromUtf8(e.what());
}

QString hexId(NoteId id)
{
    return QStringLiteral("0x") + QString::number(id, 16).toUpper();
}

// Notes compares item names without regard to case.
bool sameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](unsigned char c) {
            return c >= 'A' && c <= 'Z' ? c + 32 : c;
        };
        if (lower(static_cast<unsigned char>(a[i])) != lower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

} // namespace

// One open database file and what has been read of its views, shared by every object the
// back-end gives for it.
class NsfFile {
public:
    NsfFile(std::shared_ptr<const nsf::Database> db, QString path,
            std::optional<platform::FileIdentity> identity)
        : m_db(std::move(db)), m_path(std::move(path)), m_identity(std::move(identity))
    {}

    const nsf::Database& db() const { return *m_db; }
    const QString& path() const { return m_path; }
    const std::optional<platform::FileIdentity>& identity() const { return m_identity; }

    const std::vector<nsf::ViewNote>& views()
    {
        if (!m_views) {
            try {
                m_views = nsf::listViews(*m_db).views;
            } catch (const nsf::FormatError&) {
                m_views.emplace(); // a design that cannot be read lists no views
            }
        }
        return *m_views;
    }

    // The documents of a view in its order (placed, then unplaced), or why they cannot be read.
    struct Reading {
        std::vector<NoteId> documents;
        NotesViewReading state;
        QString failure; // non-empty when the view's documents cannot be read at all
    };

    const Reading& reading(NoteId viewNote)
    {
        auto it = m_readings.find(viewNote);
        if (it != m_readings.end())
            return it->second;
        Reading r;
        try {
            const nsf::ViewEntries entries = nsf::readViewEntries(*m_db, viewNote);
            r.documents = entries.allDocuments();
            r.state.partial = entries.completeness != nsf::Completeness::Complete;
            r.state.orderUnknown = entries.order == nsf::Order::NoteId;
            for (const std::string& problem : entries.problems)
                r.state.problems.append(text(problem));
        } catch (const nsf::FormatError& e) {
            r.failure = why(e);
        }
        return m_readings.emplace(viewNote, std::move(r)).first->second;
    }

    // Every document of the file, ascending by note ID.
    const std::vector<NoteId>& documents()
    {
        if (!m_documents) {
            std::vector<NoteId> ids;
            try {
                ids = m_db->dataNoteIds().ids;
            } catch (const nsf::FormatError&) {
                // The file's own list is damaged: the notes kept apart from the design that
                // are documents. A note that cannot be read is kept, so that it is named.
                for (const nsf::RrvEntry& e : m_db->relocationMap()) {
                    if (e.nonData ||
                        !std::binary_search(m_db->noteIds().begin(), m_db->noteIds().end(), e.id))
                        continue;
                    try {
                        const nsf::Note note = m_db->readNote(e.id);
                        if ((note.noteClass & ~nsf::noteclass::kDefault) ==
                                nsf::noteclass::kDocument &&
                            !note.stub && (note.flags & 0x0200) == 0)
                            ids.push_back(e.id);
                    } catch (const nsf::FormatError&) {
                        ids.push_back(e.id);
                    }
                }
            }
            std::sort(ids.begin(), ids.end());
            ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
            m_documents = std::move(ids);
        }
        return *m_documents;
    }

    // The note whose attachment first took an object; objects are each one attachment's, so
    // a second taker is damage (items sharing one object would make an export write its bytes
    // once for every item).
    NoteId objectTaker(std::uint32_t objectId, NoteId note)
    {
        return m_objectTakers.emplace(objectId, note).first->second;
    }

private:
    std::shared_ptr<const nsf::Database> m_db;
    QString m_path;
    std::optional<platform::FileIdentity> m_identity;
    std::optional<std::vector<nsf::ViewNote>> m_views;
    std::map<NoteId, Reading> m_readings;
    std::optional<std::vector<NoteId>> m_documents;
    std::unordered_map<std::uint32_t, NoteId> m_objectTakers;
};

namespace {

using FilePtr = std::shared_ptr<NsfFile>;

// Where the bytes of an embedded object come from.
struct ObjectSource {
    enum class Kind { FileItem, MimePart, Missing };
    Kind kind = Kind::Missing;
    std::size_t index = 0; // FileItem: into LoadedNote::files; MimePart: the item's index
    QString failure;       // Missing: why there are no bytes
};

struct Embedded {
    QString name;
    ObjectSource source;
};

// A $FILE item of a note.
struct FileRef {
    std::size_t item = 0;
    std::optional<nsf::FileObject> file;
    QString failure; // why its bytes cannot be had
};

// An item as the document gives it: a rich-text or MIME field kept in several items is one.
struct Field {
    QString name;
    std::uint16_t type = 0; // the stored type of its first item
    std::vector<std::size_t> items;
    std::vector<Embedded> objects; // rich text and MIME: the files it shows
};

QString encryptedItem(const QString& name)
{
    return QStringLiteral("The item \"%1\" is encrypted: only the Notes ID it was encrypted for "
                          "can read it")
        .arg(name);
}

// A note read in full, and what its fields and attachments are.
struct LoadedNote {
    nsf::Note note;
    bool sealed = false;
    std::vector<Field> fields;
    std::vector<FileRef> files;
    std::vector<Embedded> own; // the document's own objects
    bool hasObjects = false;

    bool encrypted(const nsf::Item& item) const { return sealed && item.hasFlag(nsf::kItemSealed); }

    const Field* field(const QString& name) const
    {
        const std::string wanted = name.toStdString();
        for (const Field& f : fields) {
            if (sameName(note.items[f.items.front()].name, wanted))
                return &f;
        }
        return nullptr;
    }

    const nsf::Item& first(const Field& f) const { return note.items[f.items.front()]; }

    // Throws when the field cannot be read: encrypted, or its value was not found.
    void requireReadable(const Field& f) const
    {
        for (std::size_t i : f.items) {
            const nsf::Item& item = note.items[i];
            if (encrypted(item))
                throw OperationError(encryptedItem(f.name));
            if (!item.ok())
                throw OperationError(QStringLiteral("The item \"%1\" cannot be read: %2")
                                         .arg(f.name, text(item.error->what())));
        }
    }

    std::vector<nsf::Bytes> values(const Field& f) const
    {
        std::vector<nsf::Bytes> out;
        for (std::size_t i : f.items)
            out.emplace_back(note.items[i].value);
        return out;
    }

    std::vector<nsf::MimePart> mimeParts(const Field& f) const
    {
        std::vector<nsf::MimePart> parts;
        for (std::size_t i : f.items)
            parts.push_back(nsf::decodeMimePart(note.items[i].value));
        return parts;
    }

    const FileRef* fileNamed(std::string_view name) const
    {
        for (const FileRef& f : files)
            if (f.file && f.file->name == name)
                return &f;
        for (const FileRef& f : files)
            if (f.file && sameName(f.file->name, name))
                return &f;
        return nullptr;
    }
};

bool isFieldType(std::uint16_t type)
{
    return type == nsf::kTypeComposite || type == nsf::kTypeMimePart;
}

// Sorts a note's items into fields and its attachments into the fields that show them.
void analyse(LoadedNote& n, NsfFile& file)
{
    const nsf::Note& note = n.note;
    for (const nsf::Item& item : note.items)
        n.sealed = n.sealed || sameName(item.name, "$Seal") || sameName(item.name, "$SealData") ||
                   (item.ok() && (item.type == nsf::kTypeSeal || item.type == nsf::kTypeSealData));

    for (std::size_t i = 0; i < note.items.size(); ++i) {
        const nsf::Item& item = note.items[i];
        if (isFieldType(item.type)) {
            auto same = std::find_if(n.fields.begin(), n.fields.end(), [&](const Field& f) {
                return f.type == item.type && sameName(n.first(f).name, item.name);
            });
            if (same != n.fields.end()) {
                same->items.push_back(i);
                continue;
            }
        }
        n.fields.push_back(Field{text(item.name), item.type, {i}, {}});
        if (!sameName(item.name, "$FILE") || item.type != nsf::kTypeObject)
            continue;
        FileRef ref;
        ref.item = i;
        if (!item.ok()) {
            ref.failure = QStringLiteral("its item cannot be read: ") + text(item.error->what());
        } else {
            try {
                ref.file = nsf::decodeFileObject(item.value);
                // Each object is one attachment's: within the note, and across the file.
                const std::uint32_t object = ref.file->object.id;
                const bool sharedInNote =
                    std::any_of(n.files.begin(), n.files.end(), [&](const FileRef& other) {
                        return other.file && other.file->object.id == object;
                    });
                const NoteId taker = file.objectTaker(object, note.id);
                if (sharedInNote || taker != note.id)
                    ref.failure = QStringLiteral("its bytes are those of another attachment (of "
                                                 "note %1): the database is damaged")
                                      .arg(hexId(taker));
            } catch (const nsf::FormatError& e) {
                ref.failure = QStringLiteral("its item cannot be read: ") + why(e);
            }
        }
        n.files.push_back(std::move(ref));
    }

    std::vector<bool> claimed(n.files.size(), false);
    const auto claim = [&](const FileRef* ref) {
        const std::size_t at = std::size_t(ref - n.files.data());
        const bool first = !claimed[at];
        claimed[at] = true;
        return first;
    };
    const auto fileName = [](const FileRef& ref) {
        return ref.file ? text(ref.file->name) : QStringLiteral("attachment");
    };

    for (Field& f : n.fields) {
        if (f.type == nsf::kTypeComposite) {
            // An encrypted field's files are given by the document, where they fail alike.
            const bool readable = std::all_of(f.items.begin(), f.items.end(), [&](std::size_t i) {
                return !n.encrypted(note.items[i]);
            });
            if (!readable)
                continue;
            std::vector<nsf::Bytes> parts;
            for (std::size_t i : f.items)
                if (note.items[i].ok())
                    parts.emplace_back(note.items[i].value);
            for (const nsf::RichTextFile& shown : nsf::richTextContent(parts).files) {
                const QString name =
                    text(shown.originalName.empty() ? shown.internalName : shown.originalName);
                if (const FileRef* ref = n.fileNamed(shown.internalName)) {
                    if (claim(ref))
                        f.objects.push_back({name,
                                             {ObjectSource::Kind::FileItem,
                                              std::size_t(ref - n.files.data()),
                                              {}}});
                } else {
                    f.objects.push_back(
                        {name,
                         {ObjectSource::Kind::Missing, 0,
                          QStringLiteral("the document holds no attachment \"%1\" that its field "
                                         "\"%2\" shows")
                              .arg(text(shown.internalName), f.name)}});
                }
            }
        } else if (f.type == nsf::kTypeMimePart) {
            std::vector<nsf::MimePart> parts;
            std::vector<std::size_t> partItems;
            for (std::size_t i : f.items) {
                const nsf::Item& item = note.items[i];
                if (!item.ok() || n.encrypted(item))
                    continue;
                try {
                    parts.push_back(nsf::decodeMimePart(item.value));
                    partItems.push_back(i);
                } catch (const nsf::FormatError&) {
                    // The text reports it; the other parts' files are still given.
                }
            }
            const MimeMessage message = analyseMime(parts);
            for (const MimeLeaf& leaf : message.leaves) {
                const nsf::MimePart& part = parts[leaf.part];
                const std::optional<std::string> object =
                    part.bodyInObject() ? part.objectName() : std::nullopt;
                const FileRef* ref = object ? n.fileNamed(*object) : nullptr;
                const bool first = ref && claim(ref);
                if (!leaf.isFile)
                    continue; // a text part kept in an attachment is the body, not a file
                QString name = leaf.namedByMessage || !ref ? leaf.fileName : fileName(*ref);
                if (!part.bodyInObject()) {
                    f.objects.push_back(
                        {name, {ObjectSource::Kind::MimePart, partItems[leaf.part], {}}});
                } else if (ref) {
                    if (first)
                        f.objects.push_back({name,
                                             {ObjectSource::Kind::FileItem,
                                              std::size_t(ref - n.files.data()),
                                              {}}});
                } else {
                    f.objects.push_back(
                        {name,
                         {ObjectSource::Kind::Missing, 0,
                          QStringLiteral("the document holds no attachment \"%1\" with the "
                                         "bytes of this part of its message")
                              .arg(text(object.value_or(std::string())))}});
                }
            }
        }
        n.hasObjects = n.hasObjects || !f.objects.empty();
    }
    for (std::size_t i = 0; i < n.files.size(); ++i) {
        if (!claimed[i])
            n.own.push_back({fileName(n.files[i]), {ObjectSource::Kind::FileItem, i, {}}});
    }
    n.hasObjects = n.hasObjects || !n.own.empty();
}

using NotePtr = std::shared_ptr<const LoadedNote>;

class NsfEmbeddedObject final : public NotesEmbeddedObject {
public:
    NsfEmbeddedObject(FilePtr file, NotePtr note, Embedded embedded)
        : m_file(std::move(file)), m_note(std::move(note)), m_embedded(std::move(embedded))
    {}

    int Type() const override { return objecttype::attachment; }
    QString Name() const override { return m_embedded.name; }
    void ExtractFile(const QString& path) override { ExtractFileChecked(path); }
    std::optional<ShortFile> ExtractFileChecked(const QString& path) override;

private:
    // Writes the object's bytes to out and gives how many there were.
    qint64 writeContent(QFile& out, const QString& path);
    [[noreturn]] void failWrite(const QFile& out, const QString& path) const
    {
        throw OperationError(
            QStringLiteral("Cannot write \"%1\": %2").arg(path, out.errorString()));
    }
    [[noreturn]] void failRead(const QString& reason) const
    {
        throw OperationError(QStringLiteral("The attachment \"%1\" cannot be read: %2")
                                 .arg(m_embedded.name, reason));
    }

    FilePtr m_file;
    NotePtr m_note;
    Embedded m_embedded;
};

std::optional<NotesEmbeddedObject::ShortFile>
NsfEmbeddedObject::ExtractFileChecked(const QString& path)
{
    // Nothing is created for an attachment that cannot be read.
    const ObjectSource& source = m_embedded.source;
    if (source.kind == ObjectSource::Kind::Missing)
        failRead(source.failure);
    if (source.kind == ObjectSource::Kind::FileItem) {
        const FileRef& ref = m_note->files[source.index];
        if (m_note->encrypted(m_note->note.items[ref.item]))
            throw OperationError(encryptedItem(QStringLiteral("$FILE")) +
                                 QStringLiteral(" (the attachment \"%1\")").arg(m_embedded.name));
        if (!ref.failure.isEmpty())
            failRead(ref.failure);
    }
    // Writing over the database being read would destroy it.
    const auto target = platform::fileIdentity(path);
    const auto& database = m_file->identity();
    if (target && database && target->device == database->device &&
        target->inode == database->inode)
        throw OperationError(
            QStringLiteral("Cannot write \"%1\": it is the database being read").arg(path));
    QString reason;
    platform::FileDescriptor fd = platform::openForWriteNoFollow(path, &reason);
    if (!fd)
        throw OperationError(QStringLiteral("Cannot write \"%1\": %2").arg(path, reason));
    QFile out;
    qint64 written = 0;
    try {
        if (!out.open(fd.get(), QIODevice::WriteOnly, QFileDevice::AutoCloseHandle))
            failWrite(out, path);
        fd.release(); // out closes it now
        written = writeContent(out, path);
        out.close(); // flushes; a failing flush shows in error()
        if (out.error() != QFileDevice::NoError)
            failWrite(out, path);
    } catch (...) {
        out.close();
        QFile::remove(path);
        throw;
    }
    // Only a stored $FILE has a recorded size to fall short of (a compressed one that
    // does not come out at its size fails above).
    if (source.kind == ObjectSource::Kind::FileItem) {
        const auto recorded = qint64(m_note->files[source.index].file->size);
        if (written < recorded)
            return ShortFile{written, recorded};
    }
    return std::nullopt;
}

qint64 NsfEmbeddedObject::writeContent(QFile& out, const QString& path)
{
    qint64 total = 0;
    const auto write = [&](const char* data, qint64 size) {
        // A short write (a disk that is nearly full) is tried again, so the failure that
        // follows carries the system's reason.
        for (qint64 done = 0; done < size;) {
            const qint64 n = out.write(data + done, size - done);
            if (n <= 0)
                failWrite(out, path);
            done += n;
        }
        total += size;
    };
    const ObjectSource& source = m_embedded.source;
    if (source.kind == ObjectSource::Kind::MimePart) {
        try {
            const nsf::MimePart part = nsf::decodeMimePart(m_note->note.items[source.index].value);
            const std::string bytes = nsf::decodeTransferEncoding(
                part.body, nsf::mimeHeader(part.headers, "Content-Transfer-Encoding").value_or(""));
            write(bytes.data(), qint64(bytes.size()));
        } catch (const nsf::FormatError& e) {
            failRead(why(e));
        }
        return total;
    }
    const nsf::FileObject& file = *m_note->files[source.index].file;
    try {
        // Stored bytes are all there is, also where their count differs from the size the
        // item records; a compressed file must come out at its recorded size and checksum.
        const bool stored = file.compression == nsf::FileObject::kCompressNone;
        auto stream = m_file->db().openObject(file.object.id, file.compression,
                                              stored ? std::nullopt
                                                     : std::optional<std::uint64_t>(file.size));
        std::vector<std::uint8_t> buffer(copyPiece);
        for (;;) {
            const std::size_t n = stream->read(buffer);
            if (n == 0)
                break;
            write(reinterpret_cast<const char*>(buffer.data()), qint64(n));
        }
    } catch (const nsf::FormatError& e) {
        failRead(why(e));
    }
    return total;
}

std::optional<NotesEmbeddedObjectList> objectList(const FilePtr& file, const NotePtr& note,
                                                  const std::vector<Embedded>& objects)
{
    if (objects.empty())
        return std::nullopt;
    NotesEmbeddedObjectList list;
    for (const Embedded& e : objects)
        list.append(std::make_shared<NsfEmbeddedObject>(file, note, e));
    return list;
}

// The item type Notes' classes report for a field.
int notesType(const Field& f, const nsf::Item& first)
{
    switch (f.type) {
    case nsf::kTypeComposite:
    case nsf::kTypeMimePart: // shown to the classes as rich text
        return itemtype::richText;
    case nsf::kTypeText:
    case nsf::kTypeTextList:
        if (first.hasFlag(nsf::kItemReaders))
            return 1075;
        if (first.hasFlag(nsf::kItemReadWriters))
            return 1076;
        return first.hasFlag(nsf::kItemNames) ? itemtype::names : itemtype::text;
    case nsf::kTypeNumber:
    case nsf::kTypeNumberRange:
        return itemtype::number;
    case nsf::kTypeTime:
    case nsf::kTypeTimeRange:
        return itemtype::dateTime;
    case nsf::kTypeObject:
        return sameName(first.name, "$FILE") ? 1084 : f.type;
    default:
        return f.type;
    }
}

class NsfItem final : public NotesItem {
public:
    NsfItem(FilePtr file, NotePtr note, const Field* field)
        : m_file(std::move(file)), m_note(std::move(note)), m_field(field)
    {}

    QString Name() const override { return m_field->name; }

    int Type() override
    {
        readable();
        return notesType(*m_field, m_note->first(*m_field));
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        readable();
        return objectList(m_file, m_note, m_field->objects);
    }

private:
    void readable() const
    {
        // A field whose first item is there has a type, and its files, though damage later
        // in it may cost some of its text.
        const nsf::Item& first = m_note->first(*m_field);
        if (m_note->encrypted(first))
            throw OperationError(encryptedItem(m_field->name));
        if (!first.ok())
            throw OperationError(QStringLiteral("The item \"%1\" cannot be read: %2")
                                     .arg(m_field->name, text(first.error->what())));
    }

    FilePtr m_file;
    NotePtr m_note;
    const Field* m_field; // owned by m_note
};

// A date-time value as Notes' classes give it: the instant, in the zone it was written in.
NotesValue timeValue(const nsf::TimeDate& td)
{
    if (const auto hundredths = nsf::utcHundredths(td)) {
        QTimeZone zone(td.zoneMinutesEast() * 60);
        if (!zone.isValid()) // a zone byte beyond what any zone has: damage
            zone = QTimeZone::utc();
        return NotesValue::fromDateTime(QDateTime::fromMSecsSinceEpoch(*hundredths * 10, zone));
    }
    if (td.hasDate()) {
        const nsf::CivilDate d = nsf::civilFromJulianDay(td.julianDay());
        const QDate date(int(std::clamp<std::int64_t>(d.year, -9999, 99999)), int(d.month),
                         int(d.day));
        return NotesValue::fromDateTime(QDateTime(date, QTime(0, 0)));
    }
    if (td.hasTime()) {
        const std::uint32_t s = td.time / 100;
        return NotesValue::fromText(QTime(int(s / 3600), int(s / 60 % 60), int(s % 60))
                                        .toString(QStringLiteral("HH:mm:ss")));
    }
    return NotesValue();
}

// Line ends as the rest of the program keeps them: LF.
QString withLineFeeds(QString s)
{
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

// What gave a document: the file and the view's note ID (0 for all documents of the file).
struct Owner {
    const NsfFile* file = nullptr;
    NoteId view = 0;
    friend bool operator==(const Owner&, const Owner&) = default;
};

class NsfDocument final : public NotesDocument {
public:
    NsfDocument(FilePtr file, NoteId id, Owner owner, std::size_t position)
        : m_file(std::move(file)), m_id(id), m_owner(owner), m_position(position)
    {}

    bool IsValid() override
    {
        load();
        return m_failure.isEmpty();
    }

    NotesValueArray GetItemValue(const QString& name) override
    {
        const LoadedNote& n = loaded();
        const Field* f = n.field(name);
        if (!f)
            return NotesValueArray({NotesValue()});
        n.requireReadable(*f);
        try {
            return NotesValueArray(values(n, *f));
        } catch (const nsf::FormatError& e) {
            throw OperationError(
                QStringLiteral("The item \"%1\" cannot be read: %2").arg(f->name, why(e)));
        }
    }

    bool hasitem(const QString& name) override { return loaded().field(name) != nullptr; }

    qint64 Size() override
    {
        const LoadedNote& n = loaded();
        // The note's own bytes, its values kept apart from it, and its attachments.
        qint64 size = n.note.recordSize;
        for (const nsf::Item& item : n.note.items)
            if (!item.storedWithSummary)
                size += item.size;
        for (const FileRef& ref : n.files)
            if (ref.file)
                size += ref.file->size;
        return size;
    }

    bool HasEmbedded() override { return loaded().hasObjects; }

    std::shared_ptr<NotesItem> GetFirstItem(const QString& name) override
    {
        const Field* f = loaded().field(name);
        return f ? std::make_shared<NsfItem>(m_file, m_note, f) : nullptr;
    }

    QList<std::shared_ptr<NotesItem>> Items() override
    {
        const LoadedNote& n = loaded();
        QList<std::shared_ptr<NotesItem>> items;
        for (const Field& f : n.fields)
            items.append(std::make_shared<NsfItem>(m_file, m_note, &f));
        return items;
    }

    std::optional<NotesEmbeddedObjectList> EmbeddedObjects() override
    {
        const LoadedNote& n = loaded();
        return objectList(m_file, m_note, n.own);
    }

    NoteId id() const { return m_id; }
    const Owner& owner() const { return m_owner; }
    std::size_t position() const { return m_position; }

private:
    void load()
    {
        if (m_note || !m_failure.isEmpty())
            return;
        try {
            auto n = std::make_shared<LoadedNote>();
            n->note = m_file->db().readNote(m_id);
            if (n->note.stub)
                throw OperationError(QStringLiteral("it was deleted (only its deletion stub "
                                                    "is left)"));
            analyse(*n, *m_file);
            m_note = std::move(n);
        } catch (const nsf::FormatError& e) {
            m_failure = why(e);
        } catch (const OperationError& e) {
            m_failure = e.message();
        } catch (const std::bad_alloc&) {
            m_failure = QStringLiteral("it is too large to be read");
        }
    }

    const LoadedNote& loaded()
    {
        load();
        if (!m_note)
            throw OperationError(QStringLiteral("The document (note %1) cannot be read: %2")
                                     .arg(hexId(m_id), m_failure));
        return *m_note;
    }

    QList<NotesValue> values(const LoadedNote& n, const Field& f)
    {
        const nsf::Item& first = n.first(f);
        QList<NotesValue> out;
        switch (f.type) {
        case nsf::kTypeText:
            out.append(NotesValue::fromText(text(nsf::decodeText(first.value))));
            break;
        case nsf::kTypeTextList:
            for (const std::string& s : nsf::decodeTextList(first.value))
                out.append(NotesValue::fromText(text(s)));
            break;
        case nsf::kTypeNumber:
            out.append(NotesValue::fromNumber(nsf::decodeNumber(first.value)));
            break;
        case nsf::kTypeNumberRange: {
            const nsf::NumberRange r = nsf::decodeNumberRange(first.value);
            if (r.missingRanges)
                throw nsf::FormatError(nsf::FailureKind::Damaged, "item value", first.valueOffset,
                                       std::to_string(r.missingRanges) +
                                           " of the ranges it announces are not there");
            for (double v : r.values)
                out.append(NotesValue::fromNumber(v));
            for (const auto& [lower, upper] : r.ranges)
                out << NotesValue::fromNumber(lower) << NotesValue::fromNumber(upper);
            break;
        }
        case nsf::kTypeTime:
            out.append(timeValue(nsf::decodeTime(first.value)));
            break;
        case nsf::kTypeTimeRange: {
            const nsf::TimeRange r = nsf::decodeTimeRange(first.value);
            if (r.missingRanges)
                throw nsf::FormatError(nsf::FailureKind::Damaged, "item value", first.valueOffset,
                                       std::to_string(r.missingRanges) +
                                           " of the ranges it announces are not there");
            for (const nsf::TimeDate& v : r.values)
                out.append(timeValue(v));
            for (const auto& [lower, upper] : r.ranges)
                out << timeValue(lower) << timeValue(upper);
            break;
        }
        case nsf::kTypeNoteRefList:
            for (const nsf::Unid& unid : nsf::decodeNoteRefList(first.value))
                out.append(NotesValue::fromText(text(unid.hex())));
            break;
        case nsf::kTypeComposite: {
            const nsf::RichTextContent content = nsf::richTextContent(n.values(f));
            if (!content.problems.empty())
                throw content.problems.front();
            out.append(NotesValue::fromText(text(content.text)));
            break;
        }
        case nsf::kTypeMimePart:
            out.append(NotesValue::fromText(mimeText(n, f)));
            break;
        case nsf::kTypeObject:
            // A $FILE item's value is the attachment's name.
            out.append(NotesValue::fromText(sameName(first.name, "$FILE")
                                                ? text(nsf::decodeFileObject(first.value).name)
                                                : QString()));
            break;
        default:
            throw OperationError(QStringLiteral("The item \"%1\" is of a type this version of "
                                                "the program does not read (%2)")
                                     .arg(f.name)
                                     .arg(f.type));
        }
        if (out.isEmpty())
            out.append(NotesValue());
        return out;
    }

    // The text of a message kept as MIME: its text parts in order, HTML as its text where a
    // part has no plain alternative.
    QString mimeText(const LoadedNote& n, const Field& f)
    {
        const std::vector<nsf::MimePart> parts = n.mimeParts(f);
        const MimeMessage message = analyseMime(parts);
        QStringList texts;
        for (std::size_t leafIndex : message.textLeaves) {
            const MimeLeaf& leaf = message.leaves[leafIndex];
            const nsf::MimePart& part = parts[leaf.part];
            std::optional<std::string> utf8;
            if (!part.bodyInObject()) {
                utf8 = nsf::mimeText(part.headers, part.body);
            } else {
                const std::string name = part.objectName().value_or(std::string());
                const FileRef* ref = n.fileNamed(name);
                if (!ref || !ref->file)
                    throw OperationError(
                        QStringLiteral("The item \"%1\" cannot be read: its text is kept in the "
                                       "attachment \"%2\", which the document does not hold")
                            .arg(f.name, text(name)));
                if (n.encrypted(n.note.items[ref->item]))
                    throw OperationError(encryptedItem(f.name));
                auto stream = m_file->db().openObject(ref->file->object.id, ref->file->compression,
                                                      ref->file->size);
                const std::vector<std::uint8_t> bytes = nsf::readAll(*stream, bodyTextLimit);
                utf8 = nsf::mimeText(
                    part.headers,
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            }
            if (!utf8)
                continue;
            QString t = withLineFeeds(text(*utf8));
            if (leaf.contentType == "text/html")
                t = htmlToText(t);
            texts.append(t);
        }
        return texts.join(QLatin1Char('\n'));
    }

    FilePtr m_file;
    NoteId m_id;
    Owner m_owner;
    std::size_t m_position;
    std::shared_ptr<LoadedNote> m_note;
    QString m_failure;
};

// Walks a list of note IDs as documents, for a view and for AllDocuments alike.
class NsfDocumentWalk {
public:
    NsfDocumentWalk(FilePtr file, Owner owner, QString what)
        : m_file(std::move(file)), m_owner(owner), m_what(std::move(what))
    {}

    std::shared_ptr<NotesDocument> at(const std::vector<NoteId>& ids, std::size_t position) const
    {
        if (position >= ids.size())
            return nullptr;
        return std::make_shared<NsfDocument>(m_file, ids[position], m_owner, position);
    }

    std::size_t positionOf(const std::shared_ptr<NotesDocument>& current) const
    {
        if (!current)
            throw OperationError(QStringLiteral("No current document was given"));
        const auto* doc = dynamic_cast<const NsfDocument*>(current.get());
        if (!doc || doc->owner() != m_owner)
            throw OperationError(QStringLiteral("The document does not belong to %1").arg(m_what));
        return doc->position();
    }

private:
    FilePtr m_file;
    Owner m_owner;
    QString m_what;
};

class NsfView final : public NotesView {
public:
    NsfView(FilePtr file, const nsf::ViewNote& view)
        : m_file(std::move(file)), m_noteId(view.noteId), m_name(text(view.name)),
          m_isFolder(view.isFolder),
          m_walk(m_file, {m_file.get(), m_noteId}, QStringLiteral("the view \"%1\"").arg(m_name))
    {}

    QString Name() override { return m_name; }
    bool isfolder() override { return m_isFolder; }
    NotesViewEntryCollection AllEntries() override
    {
        return NotesViewEntryCollection(qint64(documents().size()));
    }
    NotesViewReading reading() override { return read().state; }

    std::shared_ptr<NotesDocument> GetFirstDocument() override { return m_walk.at(documents(), 0); }

    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        const std::size_t position = m_walk.positionOf(current);
        return m_walk.at(documents(), position + 1);
    }

private:
    const NsfFile::Reading& read()
    {
        const NsfFile::Reading& r = m_file->reading(m_noteId);
        if (!r.failure.isEmpty())
            throw OperationError(r.failure);
        return r;
    }
    const std::vector<NoteId>& documents() { return read().documents; }

    FilePtr m_file;
    NoteId m_noteId;
    QString m_name;
    bool m_isFolder;
    NsfDocumentWalk m_walk;
};

class NsfAllDocuments final : public NotesDocumentCollection {
public:
    explicit NsfAllDocuments(FilePtr file)
        : m_file(std::move(file)),
          m_walk(m_file, {m_file.get(), 0},
                 QStringLiteral("the documents of \"%1\"").arg(m_file->path()))
    {}

    qint64 Count() override { return qint64(m_file->documents().size()); }
    std::shared_ptr<NotesDocument> GetFirstDocument() override
    {
        return m_walk.at(m_file->documents(), 0);
    }
    std::shared_ptr<NotesDocument>
    GetNextDocument(const std::shared_ptr<NotesDocument>& current) override
    {
        return m_walk.at(m_file->documents(), m_walk.positionOf(current) + 1);
    }

private:
    FilePtr m_file;
    NsfDocumentWalk m_walk;
};

class NsfDatabase final : public NotesDatabase {
public:
    explicit NsfDatabase(FilePtr file) : m_file(std::move(file)) {}

    QString Title() override { return text(m_file->db().info().title); }

    std::optional<NotesViewList> Views() override
    {
        const std::vector<nsf::ViewNote>& views = m_file->views();
        if (views.empty())
            return std::nullopt;
        NotesViewList list;
        for (const nsf::ViewNote& v : views)
            list.append(std::make_shared<NsfView>(m_file, v));
        return list;
    }

    std::shared_ptr<NotesView> GetView(const QString& name) override
    {
        const std::vector<nsf::ViewNote>& views = m_file->views();
        // Its name exactly first, so that of two folders whose names differ in case each is
        // found; then as Notes finds views: by name or alias, whatever the case.
        const std::string wanted = name.toStdString();
        for (const nsf::ViewNote& v : views)
            if (v.name == wanted)
                return std::make_shared<NsfView>(m_file, v);
        if (const nsf::ViewNote* v = nsf::findView(views, wanted))
            return std::make_shared<NsfView>(m_file, *v);
        return nullptr;
    }

    std::shared_ptr<NotesDocumentCollection> AllDocuments() override
    {
        return std::make_shared<NsfAllDocuments>(m_file);
    }

private:
    FilePtr m_file;
};

} // namespace

NsfFileCache::NsfFileCache(int capacity) : m_capacity(std::max(1, capacity))
{}

NsfFileCache::~NsfFileCache() = default;

std::shared_ptr<NsfFile> NsfFileCache::open(const QString& path)
{
    QString reason;
    const auto identity = platform::fileIdentity(path, &reason);
    if (!identity)
        throw OperationError(QStringLiteral("\"%1\" cannot be opened: %2").arg(path, reason));
    if (identity->kind != platform::FileIdentity::Kind::Regular)
        throw OperationError(
            QStringLiteral("\"%1\" is not a regular file, not a Notes database").arg(path));
    QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        canonical = path;

    const auto it = std::find_if(m_entries.begin(), m_entries.end(),
                                 [&](const Entry& e) { return e.canonicalPath == canonical; });
    if (it != m_entries.end()) {
        if (it->file->identity() == *identity) {
            const Entry entry = *it;
            m_entries.erase(it);
            m_entries.prepend(entry);
            return entry.file;
        }
        // Changed or replaced since it was opened: holders of the old file keep it.
        m_entries.erase(it);
    }
    std::shared_ptr<const nsf::Database> db;
    try {
        db = nsf::Database::open(QFile::encodeName(canonical).toStdString());
    } catch (const nsf::FormatError& e) {
        throw OperationError(
            QStringLiteral("\"%1\" cannot be read as a Notes database: %2").arg(path, why(e)));
    } catch (const std::bad_alloc&) {
        throw OperationError(
            QStringLiteral("\"%1\" cannot be read as a Notes database: too little memory")
                .arg(path));
    }
    auto file = std::make_shared<NsfFile>(std::move(db), canonical, *identity);
    ++m_filesOpened;
    m_entries.prepend({canonical, file});
    while (m_entries.size() > m_capacity)
        m_entries.removeLast();
    return file;
}

std::shared_ptr<NotesDatabase> nsfDatabase(std::shared_ptr<NsfFile> file)
{
    return std::make_shared<NsfDatabase>(std::move(file));
}

std::shared_ptr<NotesDatabase> nsfDatabase(std::shared_ptr<const nsf::Database> database,
                                           const QString& name)
{
    return nsfDatabase(std::make_shared<NsfFile>(std::move(database), name, std::nullopt));
}

NsfSession::NsfSession(std::shared_ptr<NsfFileCache> cache)
    : m_cache(cache ? std::move(cache) : std::make_shared<NsfFileCache>())
{}

std::shared_ptr<NotesDatabase> NsfSession::GetDatabase(const QString& server, const QString& path)
{
    if (!server.isEmpty())
        throw OperationError(
            QStringLiteral("Cannot open \"%1\" on the server \"%2\": only local databases "
                           "can be opened")
                .arg(path, server));
    if (path.isEmpty())
        throw OperationError(QStringLiteral("No database file was given"));
    return nsfDatabase(m_cache->open(path));
}

} // namespace tarvik::notes
