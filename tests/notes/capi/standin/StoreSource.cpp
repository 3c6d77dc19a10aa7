// A local store (docs/local-store.md) as the stand-in's source: its rows turned into notes
// whose items carry the binary forms the C API gives: LMBCS text and text lists, numbers and
// number ranges, TIMEDATEs and time ranges, rich text as compound-text records, attachments as
// $FILE object items in canonical form.
//
// Note IDs: view v is note 4 * v, document d is note kDocumentIdBase + 4 * d.

#include "NotesCApi.h"
#include "Source.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tarvik::standin {
namespace {

constexpr std::uint32_t kDocumentIdBase = 0x00400000;
constexpr std::int64_t kUnixEpochJulianDay = 2440588;
// The store's item types.
constexpr int kStoreRichText = 1;
constexpr int kStoreNumber = 768;
constexpr int kStoreDateTime = 1024;
constexpr int kStoreNames = 1074;
constexpr int kStoreText = 1280;
constexpr int kStoreAttachment = 1454;

struct CloseDb {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
struct Finalize {
    void operator()(sqlite3_stmt* s) const noexcept { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, Finalize>;

void putWord(std::vector<std::uint8_t>& out, std::uint16_t w)
{
    out.push_back(static_cast<std::uint8_t>(w & 0xff));
    out.push_back(static_cast<std::uint8_t>(w >> 8));
}
void putDword(std::vector<std::uint8_t>& out, std::uint32_t d)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(d >> (8 * i)));
}
void putBytes(std::vector<std::uint8_t>& out, const std::string& s)
{
    out.insert(out.end(), s.begin(), s.end());
}

// The packed values of one store item (LEB128 lengths and UTF-8; doubles; seconds+offset).
struct Unpacked {
    std::vector<std::string> texts;
    std::vector<double> numbers;
    std::vector<std::pair<std::int64_t, std::int32_t>> times;
};

bool unpack(int type, std::int64_t count, const std::uint8_t* p, std::size_t size, Unpacked& out)
{
    std::size_t at = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        if (type == kStoreNumber) {
            if (at + 8 > size)
                return false;
            double d;
            std::memcpy(&d, p + at, 8);
            out.numbers.push_back(d);
            at += 8;
        } else if (type == kStoreDateTime) {
            if (at + 12 > size)
                return false;
            std::int64_t s;
            std::int32_t o;
            std::memcpy(&s, p + at, 8);
            std::memcpy(&o, p + at + 8, 4);
            out.times.emplace_back(s, o);
            at += 12;
        } else {
            std::uint64_t len = 0;
            int shift = 0;
            for (;;) {
                if (at >= size || shift > 56)
                    return false;
                const std::uint8_t b = p[at++];
                len |= std::uint64_t(b & 0x7f) << shift;
                shift += 7;
                if (!(b & 0x80))
                    break;
            }
            if (len > size - at)
                return false;
            out.texts.emplace_back(reinterpret_cast<const char*>(p + at), len);
            at += len;
        }
    }
    return at == size;
}

// A TIMEDATE: hundredths since midnight GMT, the Julian day and the writer's zone.
void putTimeDate(std::vector<std::uint8_t>& out, std::int64_t seconds, std::int32_t offset)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const std::uint32_t abs = static_cast<std::uint32_t>(offset < 0 ? -offset : offset);
    std::uint32_t zone = (abs / 3600) & 0x0f;
    zone |= ((abs % 3600) / 900 & 0x03) << 4;
    if (offset > 0)
        zone |= 0x40;
    putDword(out, static_cast<std::uint32_t>(rest * 100));
    putDword(out, static_cast<std::uint32_t>(days + kUnixEpochJulianDay) | (zone << 24));
}

// Text items: one value as TYPE_TEXT, otherwise a TYPE_TEXT_LIST.
void textValue(const std::vector<std::string>& texts, SourceItem& item)
{
    if (texts.size() == 1) {
        item.type = TYPE_TEXT;
        std::string t = utf8ToLmbcs(texts[0]);
        for (char& c : t)
            if (c == '\n')
                c = '\0'; // Notes keeps a line break inside a text value as NUL
        putBytes(item.value, t);
        return;
    }
    item.type = TYPE_TEXT_LIST;
    std::vector<std::string> lmbcs;
    for (const std::string& t : texts)
        lmbcs.push_back(utf8ToLmbcs(t));
    putWord(item.value, static_cast<std::uint16_t>(lmbcs.size()));
    for (const std::string& t : lmbcs)
        putWord(item.value, static_cast<std::uint16_t>(t.size()));
    for (const std::string& t : lmbcs)
        putBytes(item.value, t);
}

// Rich text: each value's lines as paragraphs.
void richTextValue(const std::vector<std::string>& texts, SourceItem& item)
{
    item.type = TYPE_COMPOSITE;
    for (const std::string& value : texts) {
        const std::vector<std::uint8_t> records = compositeFromText(value);
        item.value.insert(item.value.end(), records.begin(), records.end());
    }
}

class StoreSource final : public Source {
public:
    explicit StoreSource(const std::string& path)
    {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db);
            throw SourceError(ERR_NOT_NSF, "cannot open the store " + path);
        }
        m_db.reset(db);
        Statement s = prepare("SELECT value FROM meta WHERE key = 'format'");
        if (sqlite3_step(s.get()) != SQLITE_ROW ||
            std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)),
                        "tarvik-mail-store") != 0)
            throw SourceError(ERR_NOT_NSF, "not a mail store: " + path);
    }

    std::string infoBuffer() const override
    {
        Statement s = prepare("SELECT value FROM meta WHERE key = 'title'");
        std::string title;
        if (sqlite3_step(s.get()) == SQLITE_ROW)
            title = utf8ToLmbcs(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 0)));
        return title.substr(0, NSF_INFO_SIZE - 1);
    }

    std::vector<std::uint32_t> allNoteIds() const override
    {
        std::vector<std::uint32_t> ids;
        Statement v = prepare("SELECT id FROM views ORDER BY id");
        while (sqlite3_step(v.get()) == SQLITE_ROW)
            ids.push_back(static_cast<std::uint32_t>(4 * sqlite3_column_int64(v.get(), 0)));
        Statement d = prepare("SELECT id FROM documents ORDER BY id");
        while (sqlite3_step(d.get()) == SQLITE_ROW)
            ids.push_back(kDocumentIdBase +
                          4 * static_cast<std::uint32_t>(sqlite3_column_int64(d.get(), 0)));
        return ids;
    }

    std::vector<DesignEntry> designNotes() const override
    {
        std::vector<DesignEntry> out;
        Statement s = prepare("SELECT id, name, is_folder FROM views ORDER BY id");
        while (sqlite3_step(s.get()) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(s.get(), 0);
            DesignEntry d;
            d.id = static_cast<std::uint32_t>(4 * id);
            d.noteClass = NOTE_CLASS_VIEW;
            d.unid = unid(d.id);
            SourceItem title;
            textValue({reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1))}, title);
            putWord(d.title, title.type);
            d.title.insert(d.title.end(), title.value.begin(), title.value.end());
            putWord(d.flags, TYPE_TEXT);
            if (sqlite3_column_int(s.get(), 2))
                d.flags.push_back('F');
            out.push_back(std::move(d));
        }
        return out;
    }

    std::vector<std::uint32_t> viewEntries(std::uint32_t viewId) const override
    {
        if (viewId % 4 || viewId >= kDocumentIdBase || !viewExists(viewId / 4))
            throw SourceError(ERR_INVALID_NOTE, "not a view");
        std::vector<std::uint32_t> out;
        // Entries naming a missing document (a damaged store) are passed over, as the
        // store's own back-end does.
        Statement s = prepare("SELECT e.document_id FROM view_entries e JOIN documents d ON "
                              "d.id = e.document_id WHERE e.view_id = ? ORDER BY e.position");
        sqlite3_bind_int64(s.get(), 1, viewId / 4);
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            out.push_back(kDocumentIdBase +
                          4 * static_cast<std::uint32_t>(sqlite3_column_int64(s.get(), 0)));
        return out;
    }

    SourceNote readNote(std::uint32_t id) const override
    {
        SourceNote note;
        note.id = id;
        note.unid = unid(id);
        if (id % 4 == 0 && id < kDocumentIdBase && viewExists(id / 4)) {
            for (const DesignEntry& d : designNotes()) {
                if (d.id != id)
                    continue;
                note.noteClass = NOTE_CLASS_VIEW;
                note.items.push_back(fromTyped("$TITLE", d.title, ITEM_SUMMARY));
                note.items.push_back(fromTyped("$Flags", d.flags, ITEM_SUMMARY));
                return note;
            }
        }
        if (id < kDocumentIdBase || (id - kDocumentIdBase) % 4)
            throw SourceError(ERR_INVALID_NOTE, "no note " + std::to_string(id));
        const std::int64_t doc = (id - kDocumentIdBase) / 4;
        Statement d = prepare("SELECT first_item, item_count FROM documents WHERE id = ?");
        sqlite3_bind_int64(d.get(), 1, doc);
        if (sqlite3_step(d.get()) != SQLITE_ROW)
            throw SourceError(ERR_INVALID_NOTE, "no note " + std::to_string(id));
        note.noteClass = NOTE_CLASS_DOCUMENT;
        Statement items =
            prepare("SELECT seq, name, type, unreadable, value_count, value_data FROM items "
                    "WHERE document_id = ? ORDER BY seq");
        sqlite3_bind_int64(items.get(), 1, doc);
        while (sqlite3_step(items.get()) == SQLITE_ROW) {
            const std::int64_t seq = sqlite3_column_int64(items.get(), 0);
            const std::string name =
                reinterpret_cast<const char*>(sqlite3_column_text(items.get(), 1));
            const int type = sqlite3_column_int(items.get(), 2);
            Unpacked values;
            const auto* data =
                static_cast<const std::uint8_t*>(sqlite3_column_blob(items.get(), 5));
            const auto size = static_cast<std::size_t>(sqlite3_column_bytes(items.get(), 5));
            if (sqlite3_column_int(items.get(), 3) ||
                !unpack(type, sqlite3_column_int64(items.get(), 4), data, size, values))
                continue; // an item the store cannot give cannot be given here either
            if (name == "$Seal" || name == "$SealData")
                note.sealed = true;
            SourceItem item;
            item.name = utf8ToLmbcs(name);
            item.flags = ITEM_SUMMARY;
            if (type == kStoreText || type == kStoreNames) {
                textValue(values.texts, item);
                if (type == kStoreNames)
                    item.flags |= ITEM_NAMES;
            } else if (type == kStoreNumber) {
                item.type = values.numbers.size() == 1 ? TYPE_NUMBER : TYPE_NUMBER_RANGE;
                if (item.type == TYPE_NUMBER_RANGE) {
                    putWord(item.value, static_cast<std::uint16_t>(values.numbers.size()));
                    putWord(item.value, 0);
                }
                for (double n : values.numbers) {
                    std::uint8_t b[8];
                    std::memcpy(b, &n, 8);
                    item.value.insert(item.value.end(), b, b + 8);
                }
            } else if (type == kStoreDateTime) {
                item.type = values.times.size() == 1 ? TYPE_TIME : TYPE_TIME_RANGE;
                if (item.type == TYPE_TIME_RANGE) {
                    putWord(item.value, static_cast<std::uint16_t>(values.times.size()));
                    putWord(item.value, 0);
                }
                for (const auto& [seconds, offset] : values.times)
                    putTimeDate(item.value, seconds, offset);
            } else if (type == kStoreRichText) {
                item.flags = 0;
                richTextValue(values.texts, item);
            } else {
                continue;
            }
            note.items.push_back(std::move(item));
            if (type == kStoreRichText)
                addFiles(note, doc, seq);
        }
        addFiles(note, doc, std::nullopt);
        return note;
    }

    std::optional<std::uint32_t> specialNote(std::uint16_t noteClass) const override
    {
        if (noteClass == NOTE_CLASS_VIEW) {
            Statement s = prepare("SELECT min(id) FROM views");
            if (sqlite3_step(s.get()) == SQLITE_ROW &&
                sqlite3_column_type(s.get(), 0) != SQLITE_NULL)
                return static_cast<std::uint32_t>(4 * sqlite3_column_int64(s.get(), 0));
        }
        return std::nullopt;
    }

    void extract(const SourceNote& note, const SourceItem& fileItem,
                 const std::string& path) const override
    {
        if (note.sealed)
            throw SourceError(ERR_NOEXTRACT_ENCRYPTED, "the attachment is encrypted");
        if (fileItem.value.size() < 6)
            throw SourceError(ERR_DATATYPE, "not a file object");
        std::uint32_t rrv = 0;
        std::memcpy(&rrv, fileItem.value.data() + 2, 4);
        Statement s =
            prepare("SELECT content, repeat_count, unreadable FROM embedded_objects WHERE id = ?");
        sqlite3_bind_int64(s.get(), 1, rrv);
        if (sqlite3_step(s.get()) != SQLITE_ROW || sqlite3_column_int(s.get(), 2))
            throw SourceError(ERR_ENCODING, "the attachment's object cannot be read");
        const auto* content = static_cast<const char*>(sqlite3_column_blob(s.get(), 0));
        const auto size = static_cast<std::size_t>(sqlite3_column_bytes(s.get(), 0));
        const std::int64_t repeat = sqlite3_column_int64(s.get(), 1);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        if (!out)
            throw SourceError(ERR_FILE_WRITE, "cannot create " + path);
        bool ok = true;
        for (std::int64_t i = 0; i < repeat && ok; ++i)
            ok = size == 0 || std::fwrite(content, 1, size, out) == size;
        if (std::fclose(out) != 0 || !ok) {
            std::remove(path.c_str());
            throw SourceError(ERR_FILE_WRITE, "cannot write " + path);
        }
    }

private:
    Statement prepare(const char* sql) const
    {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(m_db.get(), sql, -1, &s, nullptr) != SQLITE_OK)
            throw SourceError(ERR_NOT_NSF, sqlite3_errmsg(m_db.get()));
        return Statement(s);
    }

    bool viewExists(std::int64_t view) const
    {
        Statement s = prepare("SELECT 1 FROM views WHERE id = ?");
        sqlite3_bind_int64(s.get(), 1, view);
        return sqlite3_step(s.get()) == SQLITE_ROW;
    }

    static std::array<std::uint8_t, 16> unid(std::uint32_t id)
    {
        std::array<std::uint8_t, 16> u{};
        const char file[] = "tarvik-store";
        std::memcpy(u.data(), file, 8);
        for (int i = 0; i < 4; ++i)
            u[8 + i] = static_cast<std::uint8_t>(id >> (8 * i));
        return u;
    }

    static SourceItem fromTyped(const char* name, const std::vector<std::uint8_t>& typed,
                                std::uint16_t flags)
    {
        SourceItem item;
        item.name = name;
        item.flags = flags;
        item.type = static_cast<std::uint16_t>(typed[0] | (typed[1] << 8));
        item.value.assign(typed.begin() + 2, typed.end());
        return item;
    }

    // The attachments of a rich-text item (or of the document, item_seq NULL) as $FILE
    // items: FILEOBJECT in canonical form, then the name.
    void addFiles(SourceNote& note, std::int64_t doc, std::optional<std::int64_t> itemSeq) const
    {
        Statement s = prepare(itemSeq ? "SELECT id, name, type, content, repeat_count FROM "
                                        "embedded_objects WHERE document_id = ? AND item_seq = ? "
                                        "ORDER BY seq"
                                      : "SELECT id, name, type, content, repeat_count FROM "
                                        "embedded_objects WHERE document_id = ? AND item_seq IS "
                                        "NULL ORDER BY seq");
        sqlite3_bind_int64(s.get(), 1, doc);
        if (itemSeq)
            sqlite3_bind_int64(s.get(), 2, *itemSeq);
        while (sqlite3_step(s.get()) == SQLITE_ROW) {
            if (sqlite3_column_int(s.get(), 2) != kStoreAttachment)
                continue; // OLE objects and links have no $FILE item
            const std::string name =
                utf8ToLmbcs(reinterpret_cast<const char*>(sqlite3_column_text(s.get(), 1)));
            const std::uint64_t size =
                std::uint64_t(sqlite3_column_bytes(s.get(), 3)) *
                std::uint64_t(std::max<std::int64_t>(0, sqlite3_column_int64(s.get(), 4)));
            SourceItem item;
            item.name = "$FILE";
            item.type = TYPE_OBJECT;
            item.flags = ITEM_SIGN | ITEM_SEAL | ITEM_SUMMARY;
            putWord(item.value, 0); // OBJECT_DESCRIPTOR: ObjectType OBJECT_FILE
            putDword(item.value, static_cast<std::uint32_t>(sqlite3_column_int64(s.get(), 0)));
            putWord(item.value, static_cast<std::uint16_t>(name.size()));
            putWord(item.value, 0); // HostType
            putWord(item.value, 0); // CompressionType: none
            putWord(item.value, 0); // FileAttributes
            putWord(item.value, 0); // Flags
            putDword(item.value, size > 0xffffffffu ? 0xffffffffu : std::uint32_t(size));
            putTimeDate(item.value, 0, 0); // FileCreated: not kept by the store
            putTimeDate(item.value, 0, 0); // FileModified
            putBytes(item.value, name);
            note.items.push_back(std::move(item));
        }
    }

    std::unique_ptr<sqlite3, CloseDb> m_db;
};

} // namespace

std::unique_ptr<Source> openStoreSource(const std::string& path)
{
    return std::make_unique<StoreSource>(path);
}

} // namespace tarvik::standin
