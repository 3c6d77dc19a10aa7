// Notes database files (.nsf) from hostile bytes, opened from memory and read completely the way
// tarvik-nsfdump reads them (every note, item, value decoder, rich-text field, MIME part and
// object stream to its end), the names attachments would be extracted under, and every view
// and folder with its documents. Only
// FormatError may come out of the reader; nothing may crash, hang or allocate beyond what the
// input justifies; what comes out must hold together. Then the same file through the program's
// Notes back-end over it, as the scan, preview and export read it: every view's and all
// documents with their items, values and attachments. Only OperationError may come out of that.
//
// An input is either a whole file (it starts 1A 00, as the sample databases do), or changes to
// one of a few sample databases: a byte choosing the sample, then records of an anchor byte, a
// 16-bit distance, a length byte and that many bytes, written at the distance from the anchor.
// The anchors are the places of the sample's structures (headers, superblock and bucket
// descriptor copies, every note record and object record), so that small inputs reach them.
//
// The superblock and the bucket descriptor block carry checksums; a changed byte behind them
// would only ever test the checksum. So before reading, their checksums are made to match again
// (unless the input's last byte is odd: then it is read as it is, checksums and all).

#include "NsfDumpFiles.h"

#include "base/OperationError.h"
#include "notes/NotesObjects.h"
#include "notes/NsfStore.h"

#include "nsf/ByteSource.h"
#include "nsf/Database.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"
#include "nsf/TextCodec.h"
#include "nsf/ValueJson.h"
#include "nsf/Values.h"
#include "nsf/Views.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

using namespace tarvik::nsf;

namespace {

// Work per input: notes read, object bytes produced.
constexpr std::size_t kMaxNotes = 2048;
constexpr std::uint64_t kMaxObjectBytes = 64u << 20;

[[noreturn]] void fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "fuzz_nsf: %s: %s\n", what, detail.c_str());
    std::abort();
}

#define NSF_CHECK(cond, detail)                                                                    \
    do {                                                                                           \
        if (!(cond))                                                                               \
            fail(#cond, (detail));                                                                 \
    } while (false)

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t xorWords(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t to)
{
    std::uint32_t v = 0;
    std::size_t i = from;
    for (; i + 4 <= to; i += 4)
        v ^= le32(b, i);
    for (unsigned shift = 0; i < to; ++i, shift += 8)
        v ^= std::uint32_t(b[i]) << shift;
    return v;
}

// Makes the checksums of every superblock copy and bucket descriptor block header the header
// names match their bytes again.
void repairChecksums(std::vector<std::uint8_t>& file)
{
    if (file.size() < 0x300)
        return;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint64_t at = std::uint64_t(le32(file, 0x230 + 8 * i)) * 256;
        if (at == 0 || at + 100 > file.size())
            continue;
        const std::uint32_t stored = le32(file, at + 64);
        if (stored < 112 || stored > file.size() - at)
            continue;
        put32(file, at + stored - 4, xorWords(file, at + 100, at + stored - 12));
    }
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint64_t at = std::uint64_t(le32(file, 0x270 + 8 * i + 4)) * 256;
        if (at == 0 || at + 66 > file.size())
            continue;
        put32(file, at + 54, xorWords(file, at, at + 54));
    }
}

bool validUtf8(const std::string& s)
{
    return tarvik::nsfdump::validUtf8(s) == s;
}

void checkText(const std::string& text, const char* what)
{
    NSF_CHECK(validUtf8(text),
              std::string(what) + " is not valid UTF-8: " + tarvik::nsfdump::validUtf8(text));
}

void checkSafeName(const std::string& wanted)
{
    const std::string name = tarvik::nsfdump::safeFileName(wanted);
    const std::string shown = "\"" + name + "\" from \"" + wanted + "\"";
    NSF_CHECK(!name.empty() && name != "." && name != "..", shown);
    NSF_CHECK(name.size() <= tarvik::nsfdump::kMaxSafeName, shown);
    NSF_CHECK(name.find('/') == std::string::npos && name.find('\\') == std::string::npos, shown);
    NSF_CHECK(name.find("..") == std::string::npos && name[0] != '.', shown);
    NSF_CHECK(
        std::none_of(name.begin(), name.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }),
        shown);
    NSF_CHECK(validUtf8(name), shown);
}

class Walk {
public:
    explicit Walk(const Database& db) : m_db(db) {}

    void run()
    {
        const DatabaseInfo& info = m_db.info();
        checkText(info.title, "title");
        checkText(info.categories, "categories");
        const std::vector<NoteId>& ids = m_db.noteIds();
        NSF_CHECK(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) == ids.end(),
                  "note IDs are not ascending");
        guarded([&] { m_db.dataNoteIds(); });
        guarded([&] { m_db.folderDirectoryUnids(); });
        for (const ItemName& name : m_db.itemNames())
            checkText(name.name, "item name");

        const std::set<NoteId> notes(ids.begin(), ids.end());
        std::size_t read = 0;
        for (NoteId id : ids) {
            if (++read > kMaxNotes)
                break;
            guarded([&] { note(id); });
        }
        // Every other ID of the map is an object: each one's bytes, as stored.
        for (const RrvEntry& e : m_db.relocationMap()) {
            if (notes.count(e.id))
                continue;
            guarded([&] { object(e.id, 0, std::nullopt); });
        }
        guarded([&] { views(); });
    }

private:
    template <typename F>
    void guarded(F&& f)
    {
        try {
            f();
        } catch (const FormatError& e) {
            checkText(e.what(), "error message");
        }
    }

    // Every view and folder with its documents: they are documents of the file, in an order
    // that holds together.
    void views()
    {
        std::optional<std::set<NoteId>> documents;
        guarded([&] {
            const std::vector<std::uint32_t> ids = m_db.dataNoteIds().ids;
            documents.emplace(ids.begin(), ids.end());
        });
        const ViewList list = listViews(m_db);
        for (const ViewNote& view : list.views) {
            checkText(view.title, "view title");
            checkText(view.name, "view name");
            for (const std::string& alias : view.aliases)
                checkText(alias, "view alias");
            guarded([&] {
                const ViewEntries e = readViewEntries(m_db, view.noteId);
                const std::string which = "view " + std::to_string(view.noteId);
                if (documents)
                    for (NoteId id : e.allDocuments())
                        NSF_CHECK(documents->count(id), which + " shows note " +
                                                            std::to_string(id) +
                                                            ", not a document of the file");
                NSF_CHECK(std::is_sorted(e.unplaced.begin(), e.unplaced.end()),
                          which + ": unplaced notes out of order");
                const std::set<NoteId> placed(e.documents.begin(), e.documents.end());
                for (NoteId id : e.unplaced)
                    NSF_CHECK(!placed.count(id),
                              which + ": note " + std::to_string(id) + " both placed and unplaced");
                NSF_CHECK(e.problems.empty() == (e.completeness == Completeness::Complete),
                          which + ": problems and completeness disagree");
                if (e.order == Order::NoteId)
                    NSF_CHECK(std::is_sorted(e.documents.begin(), e.documents.end()),
                              which + ": documents not in note-ID order");
                for (const std::string& text : e.problems)
                    checkText(text, "view problem");
                for (const std::string& text : e.warnings)
                    checkText(text, "view warning");
            });
        }
    }

    void note(NoteId id)
    {
        const Note note = m_db.readNote(id);
        NSF_CHECK(note.id == id,
                  "note " + std::to_string(id) + " read as " + std::to_string(note.id));
        std::map<std::string, std::vector<Bytes>> fields;
        m_files.clear();
        for (const Item* file : note.findAll("$FILE"))
            if (file->ok())
                guarded([&] {
                    FileObject f = decodeFileObject(file->value);
                    const std::string name = f.name;
                    m_files.emplace(name, std::move(f));
                });
        for (const Item& item : note.items) {
            checkText(item.name, "item name");
            if (!item.ok()) {
                NSF_CHECK(item.value.empty(), "a failed item has a value");
                continue;
            }
            NSF_CHECK(item.value.size() + (item.typeWordStored ? 2 : 0) == item.size,
                      "item " + item.name + " holds " + std::to_string(item.value.size()) +
                          " bytes of " + std::to_string(item.size));
            if (item.type == kTypeComposite)
                fields[item.name].emplace_back(item.value);
            guarded([&] { value(item); });
        }
        for (const auto& [name, parts] : fields) {
            const RichTextContent content = richTextContent(parts);
            checkText(content.text, "rich text");
            for (const RichTextFile& f : content.files) {
                checkText(f.internalName, "file hotspot name");
                checkText(f.originalName, "file hotspot name");
            }
        }
    }

    void value(const Item& item)
    {
        if (const auto json = valuesJson(item.type, item.value))
            NSF_CHECK(json->size() >= 2 && json->front() == '[' && json->back() == ']', *json);
        switch (item.type) {
        case kTypeText:
            checkText(decodeText(item.value), "text");
            break;
        case kTypeTextList:
            for (const std::string& s : decodeTextList(item.value))
                checkText(s, "text list entry");
            break;
        case kTypeNumberRange: {
            const NumberRange r = decodeNumberRange(item.value);
            NSF_CHECK(r.values.size() * 8 + r.ranges.size() * 16 + 4 <= item.value.size(),
                      "number list larger than its value");
            break;
        }
        case kTypeTimeRange: {
            const TimeRange r = decodeTimeRange(item.value);
            for (const auto& pair : r.ranges)
                formatTimeRangePair(pair);
            break;
        }
        case kTypeMimePart:
            mimePart(item);
            break;
        case kTypeObject:
            if (item.name == "$FILE") {
                const FileObject file = decodeFileObject(item.value);
                checkText(file.name, "attachment name");
                checkSafeName(file.name);
                object(file.object.id, file.compression, file.size);
            } else {
                decodeObjectRef(item.value);
            }
            break;
        default:
            break;
        }
    }

    void mimePart(const Item& item)
    {
        const MimePart part = decodeMimePart(item.value);
        mimeHeader(part.headers, "Content-Type");
        if (const auto text = mimePartText(part))
            checkText(*text, "MIME text");
        if (const auto name = part.objectName()) {
            checkText(*name, "MIME object name");
            const auto found = m_files.find(*name);
            if (found == m_files.end() || found->second.size > (1u << 20) ||
                m_objectBytes >= kMaxObjectBytes)
                return;
            const FileObject& f = found->second;
            auto stream = m_db.openObject(f.object.id, f.compression, f.size);
            const std::vector<std::uint8_t> bytes = readAll(*stream, 1u << 20);
            m_objectBytes += bytes.size();
            if (const auto text = mimeText(
                    part.headers,
                    std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
                checkText(*text, "MIME text in an object");
        }
    }

    void object(std::uint32_t id, std::uint16_t compression, std::optional<std::uint64_t> size)
    {
        if (m_objectBytes >= kMaxObjectBytes)
            return;
        auto stream = m_db.openObject(id, compression, size);
        std::uint8_t buffer[4096];
        std::uint64_t produced = 0;
        for (;;) {
            const std::size_t n = stream->read(buffer);
            if (n == 0)
                break;
            NSF_CHECK(n <= sizeof buffer, "a read beyond its buffer");
            produced += n;
            m_objectBytes += n;
            NSF_CHECK(!size || produced <= *size,
                      "object " + std::to_string(id) + " goes on past its recorded size");
            if (m_objectBytes >= kMaxObjectBytes)
                return;
        }
        NSF_CHECK(stream->produced() == produced, "the stream miscounts its bytes");
        // A stream that ended without an error gave exactly the recorded size.
        NSF_CHECK(!size || produced == *size, "object " + std::to_string(id) + " ended at " +
                                                  std::to_string(produced) + " bytes of " +
                                                  std::to_string(*size));
    }

    const Database& m_db;
    std::uint64_t m_objectBytes = 0;
    std::map<std::string, FileObject> m_files; // the note's attachments by name
};

// A sample database with the file offsets of its structures.
struct Base {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint64_t> anchors;
};

std::vector<std::uint8_t> readSample(const std::string& path)
{
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buffer[65536];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, f))
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

const std::vector<Base>& bases()
{
    static const std::vector<Base> all = [] {
        const char* env = std::getenv("TARVIK_NSF_SAMPLES");
        const std::string folder = env && *env ? env : TARVIK_NSF_SAMPLES;
        std::vector<Base> out;
        for (const char* name :
             {"MIMEMsg.nsf", "intro.nsf", "richtext.nsf", "hierarch.nsf", "attachment.nsf",
              "majorversion.nsf", "nf_doc.nsf", "billdrv.nsf"}) {
            Base base;
            base.bytes = readSample(folder + "/" + name);
            if (base.bytes.empty())
                continue;
            try {
                const Database db(std::make_shared<MemorySource>(Bytes(base.bytes)));
                base.anchors = {0, 0x230, 0x270, db.container().superblockOffset,
                                db.container().bucketDescriptorOffset};
                for (NoteId id : db.noteIds())
                    base.anchors.push_back(db.readNote(id).offset);
                for (const RrvEntry& e : db.relocationMap())
                    if (!e.inBucket())
                        base.anchors.push_back(std::uint64_t(e.first) * 256);
            } catch (const FormatError& e) {
                fail("a sample does not read", e.what());
            }
            out.push_back(std::move(base));
        }
        return out;
    }();
    return all;
}

// The sample the input chooses, changed as it says; empty when the samples are not there.
std::vector<std::uint8_t> patched(const std::uint8_t* data, std::size_t size)
{
    const std::vector<Base>& all = bases();
    if (all.empty() || size == 0)
        return {};
    const Base& base = all[data[0] % all.size()];
    std::vector<std::uint8_t> file = base.bytes;
    std::size_t i = 1;
    while (i + 4 <= size) {
        const std::uint64_t anchor = base.anchors[data[i] % base.anchors.size()];
        const std::uint64_t at =
            (anchor + (data[i + 1] | std::uint64_t(data[i + 2]) << 8)) % file.size();
        const std::size_t length = std::min<std::size_t>(data[i + 3], size - i - 4);
        for (std::size_t k = 0; k < length && at + k < file.size(); ++k)
            file[at + k] = data[i + 4 + k];
        i += 4 + length;
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    bases();
    return 0;
}

// The back-end over the file: anything that goes wrong is an OperationError with a message.
class BackendWalk {
public:
    explicit BackendWalk(std::shared_ptr<const Database> db)
        : m_db(tarvik::notes::nsfDatabase(std::move(db), QStringLiteral("fuzz input")))
    {}

    void run()
    {
        guarded([&] { m_db->Title(); });
        guarded([&] {
            if (const auto views = m_db->Views()) {
                for (const auto& view : *views) {
                    guarded(
                        [&] { NSF_CHECK(m_db->GetView(view->Name()), "a listed view not found"); });
                    guarded([&] { walkView(*view); });
                }
            }
        });
        guarded([&] {
            auto all = m_db->AllDocuments();
            const qint64 count = all->Count();
            qint64 n = 0;
            for (auto d = all->GetFirstDocument(); d && n < qint64(kMaxNotes);
                 d = all->GetNextDocument(d), ++n)
                document(*d);
            NSF_CHECK(n == std::min(count, qint64(kMaxNotes)), "all documents miscounted");
        });
    }

private:
    template <class F>
    void guarded(F&& f)
    {
        try {
            f();
        } catch (const tarvik::OperationError& e) {
            NSF_CHECK(!e.message().isEmpty(), "an error without a message");
        }
    }

    void walkView(tarvik::notes::NotesView& view)
    {
        view.Name();
        view.isfolder();
        const tarvik::notes::NotesViewReading reading = view.reading();
        NSF_CHECK(reading.partial || reading.problems.isEmpty(), "problems of a complete view");
        const qint64 count = view.AllEntries().Count();
        qint64 n = 0;
        for (auto d = view.GetFirstDocument(); d && n <= count; d = view.GetNextDocument(d))
            ++n;
        NSF_CHECK(n == count, "a view gives other than its count");
    }

    void document(tarvik::notes::NotesDocument& doc)
    {
        if (!doc.IsValid())
            return;
        qint64 size = 0;
        guarded([&] { size = doc.Size(); });
        guarded([&] { doc.HasEmbedded(); });
        guarded([&] {
            for (const auto& item : doc.Items()) {
                guarded([&] { doc.GetItemValue(item->Name()); });
                guarded([&] { item->Type(); });
                guarded([&] { objects(item->EmbeddedObjects(), size); });
            }
        });
        guarded([&] { objects(doc.EmbeddedObjects(), size); });
        guarded([&] { doc.GetItemValue(QStringLiteral("NoSuchItem")); });
    }

    void objects(const std::optional<tarvik::notes::NotesEmbeddedObjectList>& list, qint64 size)
    {
        // Attachments are written out only where the note says they are small.
        if (!list || size > qint64(kMaxObjectBytes) || !m_dir.isValid())
            return;
        for (const auto& o : *list) {
            o->Name();
            const QString path = m_dir.filePath(QStringLiteral("attachment"));
            try {
                o->ExtractFile(path);
            } catch (const tarvik::OperationError&) {
                NSF_CHECK(!QFileInfo::exists(path), "a failed extraction left a file");
            }
            QFile::remove(path);
        }
    }

    std::shared_ptr<tarvik::notes::NotesDatabase> m_db;
    QTemporaryDir m_dir;
};

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool whole = size >= 2 && data[0] == 0x1A && data[1] == 0x00;
    std::vector<std::uint8_t> file =
        whole ? std::vector<std::uint8_t>(data, data + size) : patched(data, size);
    if (file.empty())
        return 0;
    if ((data[size - 1] & 1) == 0)
        repairChecksums(file);
    std::shared_ptr<const Database> db;
    try {
        db = std::make_shared<const Database>(std::make_shared<MemorySource>(Bytes(file)));
    } catch (const FormatError& e) {
        checkText(e.what(), "error message");
        return 0;
    }
    Walk(*db).run();
    BackendWalk(db).run();
    return 0;
}
