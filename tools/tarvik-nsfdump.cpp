// tarvik-nsfdump: prints what a Notes database file (.nsf) holds, note by note and item by
// item, as text or as one JSON object, and extracts its attachments. It reads the file with
// the reader in src/nsf only: no Notes software, no Qt.

#include "NsfDumpFiles.h"

#include "nsf/Database.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"
#include "nsf/ValueJson.h"
#include "nsf/Values.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <variant>
#include <vector>

using namespace tarvik::nsf;
using tarvik::nsfdump::ExtractFile;
using tarvik::nsfdump::ExtractFolder;
using tarvik::nsfdump::validUtf8;

namespace {

namespace exitstatus {
constexpr int kAllRead = 0;
constexpr int kPartlyRead = 1;
constexpr int kNotOpened = 2;
} // namespace exitstatus

const char kUsage[] = "usage: tarvik-nsfdump [--json] [--note ID] [--extract DIR] FILE.nsf\n";

const char kHelp[] =
    "Prints what a Lotus Notes database file (.nsf) holds: the database (on-disk structure\n"
    "version, title, categories, replica ID) and every note with its items, one line per\n"
    "item, in note-ID order. It reads the file itself; no Notes software is needed.\n"
    "\n"
    "  --json         print one JSON object instead (the form is described in\n"
    "                 docs/nsf-format.md, \"The dump\")\n"
    "  --note ID      only this note (decimal, or hexadecimal with 0x)\n"
    "  --extract DIR  write the bytes of every attachment ($FILE) into DIR (created when\n"
    "                 missing) under a safe name: never outside DIR, never over a file that\n"
    "                 is there already (\"name (2).ext\" instead); an attachment that cannot\n"
    "                 be read whole keeps what could be read as NAME.damaged\n"
    "  -h, --help     show this text\n"
    "\n"
    "UNIDs are written as Notes and the C API samples print them: 32 hex digits, the\n"
    "file part first, then the note part. A note-reference list ($REF) is item type 4\n"
    "(type 2 is a view's collation). An item of a note that carries a seal ($Seal,\n"
    "$SealData) and whose seal flag is set is encrypted for its owner: it is reported as\n"
    "\"item is encrypted\", never guessed at.\n"
    "\n"
    "Exit status: 0 everything was read; 1 some notes, items or attachments could not be\n"
    "read or written (each is named on standard error); 2 the file cannot be opened as a\n"
    "Notes database, the output cannot be written, or the arguments are wrong.\n";

// A MIME text part whose body is kept in an attachment is shown when it is no larger.
constexpr std::uint32_t kMimeTextInObjectLimit = 1 << 20;
constexpr std::size_t kCopyPiece = 64 * 1024;

struct Options {
    bool json = false;
    std::optional<NoteId> note;
    std::optional<std::string> extractDir;
    std::string file;
};

std::optional<NoteId> parseNoteId(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * std::uint64_t(base) + std::uint64_t(digit);
    }
    if (value > 0xFFFFFFFFu)
        return std::nullopt;
    return static_cast<NoteId>(value);
}

// Returns the options, or the exit status when the program is to end at once.
std::variant<Options, int> parseArguments(int argc, char** argv)
{
    Options options;
    bool haveFile = false;
    bool optionsEnded = false;
    auto usage = [](const std::string& problem) {
        std::fprintf(stderr, "tarvik-nsfdump: %s\n%s", problem.c_str(), kUsage);
        return exitstatus::kNotOpened;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            std::fputs(kUsage, stdout);
            std::fputs("\n", stdout);
            std::fputs(kHelp, stdout);
            return std::fflush(stdout) == 0 ? exitstatus::kAllRead : exitstatus::kNotOpened;
        } else if (!optionsEnded && arg == "--json") {
            options.json = true;
        } else if (!optionsEnded && (arg == "--note" || arg.starts_with("--note="))) {
            std::string_view value;
            if (arg == "--note") {
                if (++i == argc)
                    return usage("--note needs a note ID");
                value = argv[i];
            } else {
                value = arg.substr(7);
            }
            options.note = parseNoteId(value);
            if (!options.note)
                return usage("\"" + std::string(value) + "\" is not a note ID");
        } else if (!optionsEnded && (arg == "--extract" || arg.starts_with("--extract="))) {
            std::string_view value;
            if (arg == "--extract") {
                if (++i == argc)
                    return usage("--extract needs a folder");
                value = argv[i];
            } else {
                value = arg.substr(10);
            }
            if (value.empty())
                return usage("--extract needs a folder");
            options.extractDir = std::string(value);
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            return usage("unknown option " + std::string(arg));
        } else if (haveFile) {
            return usage("give one database file");
        } else {
            options.file = std::string(arg);
            haveFile = true;
        }
    }
    if (!haveFile)
        return usage("give the database file");
    return options;
}

std::string hex(std::uint64_t v, int digits = 0)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(v));
    return buf;
}

std::string replicaIdText(const TimeDate& id)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%08X:%08X", unsigned(id.date), unsigned(id.time));
    return buf;
}

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

const char* className(std::uint16_t noteClass)
{
    switch (noteClass & ~noteclass::kDefault) {
    case noteclass::kDocument:
        return "document";
    case noteclass::kInfo:
        return "about";
    case noteclass::kForm:
        return "form";
    case noteclass::kView:
        return "view";
    case noteclass::kIcon:
        return "icon";
    case noteclass::kDesign:
        return "design collection";
    case noteclass::kAcl:
        return "ACL";
    case noteclass::kHelpIndex:
        return "help index";
    case noteclass::kHelp:
        return "using";
    case noteclass::kFilter:
        return "agent";
    case noteclass::kField:
        return "shared field";
    case noteclass::kReplicationFormula:
        return "replication formula";
    case noteclass::kPrivate:
        return "private design";
    default:
        return "unknown class";
    }
}

const char* typeName(std::uint16_t type)
{
    switch (type) {
    case kTypeComposite:
        return "rich text";
    case kTypeCollation:
        return "collation";
    case kTypeObject:
        return "object";
    case kTypeNoteRefList:
        return "note references";
    case kTypeViewFormat:
        return "view format";
    case kTypeIcon:
        return "icon";
    case kTypeNoteLinkList:
        return "note links";
    case kTypeSignature:
        return "signature";
    case kTypeSeal:
        return "seal";
    case kTypeSealData:
        return "seal data";
    case kTypeSealList:
        return "seal list";
    case kTypeHighlights:
        return "highlights";
    case kTypeUserData:
        return "user data";
    case kTypeQuery:
        return "query";
    case kTypeAction:
        return "action";
    case kTypeAssistantInfo:
        return "agent information";
    case kTypeLsObject:
        return "script object";
    case kTypeHtml:
        return "HTML";
    case kTypeSchedList:
        return "schedule list";
    case kTypeCalendarFormat:
        return "calendar format";
    case kTypeMimePart:
        return "MIME part";
    case kTypeError:
        return "error";
    case kTypeUnavailable:
        return "unavailable";
    case kTypeNumber:
        return "number";
    case kTypeNumberRange:
        return "number list";
    case kTypeTime:
        return "time";
    case kTypeTimeRange:
        return "time list";
    case kTypeText:
        return "text";
    case kTypeTextList:
        return "text list";
    case kTypeRfc822Text:
        return "RFC 822 text";
    case kTypeFormula:
        return "formula";
    case kTypeUserId:
        return "user ID";
    case kTypeInvalid:
        return "no value";
    default:
        return "type";
    }
}

const char* compressionName(std::uint16_t compression)
{
    switch (compression) {
    case FileObject::kCompressNone:
        return "stored";
    case FileObject::kCompressHuffman:
        return "Huffman";
    case FileObject::kCompressLz1:
        return "LZ1";
    case FileObject::kRecompressHuffman:
        return "Huffman (recompressed)";
    default:
        return "unknown compression";
    }
}

std::string quoted(std::string_view text)
{
    return jsonString(validUtf8(text));
}

// What the dump says about one item.
struct ItemReport {
    std::string name;
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    std::optional<std::size_t> size;   // the value's size, when read and not given as values
    std::optional<std::string> values; // a JSON array
    std::optional<std::string> text;
    std::optional<FileObject> file;
    std::vector<std::string> errors;
    std::string remark; // for the readable form only: where an attachment went, ...
};

struct NoteReport {
    NoteId id = 0;
    std::optional<std::string> error;
    Note note; // header fields; its items are described by `items`
    std::vector<ItemReport> items;
};

struct Totals {
    std::size_t notes = 0;
    std::size_t failedNotes = 0;
    std::size_t items = 0;
    std::size_t failedItems = 0;
    std::size_t attachments = 0;
    std::size_t failedAttachments = 0;
    std::uint64_t attachmentBytes = 0;
};

class Dumper {
public:
    Dumper(const Database& db, const ExtractFolder* folder) : m_db(db), m_folder(folder) {}

    NoteReport readNote(NoteId id);
    Totals& totals() { return m_totals; }

private:
    // A rich-text field kept in several items is rendered as one text (tables and paragraphs
    // run on from one item to the next), given with the field's first item.
    struct RichTextField {
        std::optional<std::string> text; // on the field's first item
        bool continuation = false;       // a later item of a field
    };
    std::vector<RichTextField> richTextFields(const Note& note, bool sealed) const;
    // The note's attachments by file name (the first of each name), for MIME parts whose body
    // is one of them.
    struct Attached {
        const Item* item;
        FileObject file;
    };
    using AttachedByName = std::unordered_map<std::string, Attached>;
    ItemReport describe(const Item& item, bool sealed, const RichTextField& field,
                        const AttachedByName& attached);
    void richText(const Item& item, const RichTextField& field, ItemReport& report);
    void mimePart(const Item& item, bool sealed, const AttachedByName& attached,
                  ItemReport& report);
    void attachment(const FileObject& file, ItemReport& report);
    // Whether `bytes` more object bytes may still be read (see m_objectBudget).
    bool withinBudget(std::uint64_t bytes) const;

    const Database& m_db;
    const ExtractFolder* m_folder;
    Totals m_totals;
    std::vector<std::uint8_t> m_buffer = std::vector<std::uint8_t>(kCopyPiece);
    // Object bytes read so far, and how many a file can justify: every object is read about
    // twice at most (its attachment, and the MIME part whose body it is), and decoding makes at
    // most 8 bytes of one. A file whose items share or overlap objects would otherwise make the
    // dump read (and write) its bytes over and over.
    std::uint64_t m_objectBytes = 0;
    std::uint64_t m_objectBudget = 16 * m_db.container().fileSize + (64u << 20);
};

bool Dumper::withinBudget(std::uint64_t bytes) const
{
    return m_objectBytes <= m_objectBudget && bytes <= m_objectBudget - m_objectBytes;
}

const char kOverBudget[] =
    "not read: the objects read so far hold 16 times the file's bytes (its items share or "
    "overlap objects)";

NoteReport Dumper::readNote(NoteId id)
{
    NoteReport report;
    report.id = id;
    ++m_totals.notes;
    try {
        report.note = m_db.readNote(id);
    } catch (const std::exception& e) {
        // FormatError for what the file holds; anything else still costs only this note.
        report.error = e.what();
        ++m_totals.failedNotes;
        return report;
    }
    const Note& note = report.note;
    // Items of a note that carries a seal and whose seal flag is set are encrypted.
    bool sealed = false;
    for (const Item& item : note.items)
        sealed = sealed || sameName(item.name, "$Seal") || sameName(item.name, "$SealData") ||
                 (item.ok() && (item.type == kTypeSeal || item.type == kTypeSealData));
    const std::vector<RichTextField> fields = richTextFields(note, sealed);
    AttachedByName attached;
    for (const Item& item : note.items) {
        if (!item.ok() || item.type != kTypeObject || !sameName(item.name, "$FILE"))
            continue;
        try {
            FileObject file = decodeFileObject(item.value);
            const std::string name = file.name;
            attached.emplace(name, Attached{&item, std::move(file)});
        } catch (const FormatError&) {
            // named at the item itself
        }
    }
    for (std::size_t i = 0; i < note.items.size(); ++i) {
        const Item& item = note.items[i];
        ItemReport r;
        try {
            r = describe(item, sealed, fields[i], attached);
        } catch (const std::exception& e) {
            r.name = item.name;
            r.type = item.type;
            r.flags = item.flags;
            r.errors.push_back(e.what());
        }
        ++m_totals.items;
        m_totals.failedItems += r.errors.empty() ? 0 : 1;
        report.items.push_back(std::move(r));
    }
    return report;
}

std::vector<Dumper::RichTextField> Dumper::richTextFields(const Note& note, bool sealed) const
{
    std::vector<RichTextField> fields(note.items.size());
    const auto readable = [&](const Item& item) {
        return item.ok() && item.type == kTypeComposite && !(sealed && item.hasFlag(kItemSealed));
    };
    // Each field's items in stored order, by name (Notes compares item names without case).
    std::unordered_map<std::string, std::vector<std::size_t>> byName;
    std::vector<std::string> order;
    for (std::size_t i = 0; i < note.items.size(); ++i) {
        if (!readable(note.items[i]))
            continue;
        std::string key = note.items[i].name;
        for (char& c : key)
            c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
        std::vector<std::size_t>& indexes = byName[key];
        if (indexes.empty())
            order.push_back(key);
        else
            fields[i].continuation = true;
        indexes.push_back(i);
    }
    for (const std::string& key : order) {
        const std::vector<std::size_t>& indexes = byName[key];
        std::vector<Bytes> parts;
        for (std::size_t i : indexes)
            parts.emplace_back(note.items[i].value);
        fields[indexes.front()].text = richTextContent(parts).text;
    }
    return fields;
}

ItemReport Dumper::describe(const Item& item, bool sealed, const RichTextField& field,
                            const AttachedByName& attached)
{
    ItemReport r;
    r.name = item.name;
    r.type = item.type;
    r.flags = item.flags;
    if (!item.ok()) {
        r.errors.push_back(item.error->what());
        return r;
    }
    if (sealed && item.hasFlag(kItemSealed)) {
        r.errors.push_back("item is encrypted");
        return r;
    }
    switch (item.type) {
    case kTypeText:
    case kTypeTextList:
    case kTypeNumber:
    case kTypeNumberRange:
    case kTypeTime:
    case kTypeTimeRange:
    case kTypeNoteRefList:
        try {
            r.values = valuesJson(item.type, item.value);
            // A list that announces more ranges than it holds gives those it holds.
            std::size_t missing = 0;
            if (item.type == kTypeNumberRange)
                missing = decodeNumberRange(item.value).missingRanges;
            else if (item.type == kTypeTimeRange)
                missing = decodeTimeRange(item.value).missingRanges;
            if (missing)
                r.errors.push_back("item value at offset " + hex(item.valueOffset) + ": " +
                                   std::to_string(missing) +
                                   " of the ranges it announces are not there");
        } catch (const FormatError& e) {
            r.size = item.value.size();
            r.errors.push_back(e.what());
        }
        return r;
    case kTypeComposite:
        r.size = item.value.size();
        richText(item, field, r);
        return r;
    case kTypeMimePart:
        r.size = item.value.size();
        mimePart(item, sealed, attached, r);
        return r;
    case kTypeObject:
        r.size = item.value.size();
        if (sameName(item.name, "$FILE")) {
            try {
                r.file = decodeFileObject(item.value);
            } catch (const FormatError& e) {
                r.errors.push_back(e.what());
                ++m_totals.attachments;
                ++m_totals.failedAttachments;
                return r;
            }
            attachment(*r.file, r);
        }
        return r;
    default:
        r.size = item.value.size();
        return r;
    }
}

void Dumper::richText(const Item& item, const RichTextField& field, ItemReport& report)
{
    // This item's own records: the damage in them, the attached files they show.
    const RichTextContent content = richTextContent(Bytes(item.value));
    for (const FormatError& e : content.problems)
        report.errors.push_back(e.what());
    if (field.continuation)
        report.remark = "continues the field";
    std::string files;
    for (const RichTextFile& f : content.files)
        files += (files.empty() ? "" : ", ") + quoted(f.originalName);
    if (!files.empty())
        report.remark += (report.remark.empty() ? "shows " : ", shows ") + files;
    report.text = field.text;
}

void Dumper::mimePart(const Item& item, bool sealed, const AttachedByName& attached,
                      ItemReport& report)
{
    MimePart part;
    try {
        part = decodeMimePart(item.value);
        if (!part.bodyInObject()) {
            report.text = mimePartText(part);
            return;
        }
    } catch (const FormatError& e) {
        report.errors.push_back(e.what());
        return;
    }
    // The body is an attachment of the note: its text is shown when it is text and small.
    const std::string name = part.objectName().value_or("");
    if (part.partType != MimePart::kBody)
        return;
    const std::optional<std::string> type = mimeHeader(part.headers, "Content-Type");
    if (parseMimeHeaderValue(type.value_or("text/plain")).value.rfind("text/", 0) != 0) {
        report.remark = "body in attachment " + quoted(name);
        return;
    }
    const auto found = attached.find(name);
    if (found == attached.end()) {
        report.errors.push_back("its body is kept in attachment " + quoted(name) +
                                ", which the note does not hold");
        return;
    }
    const FileObject& file = found->second.file;
    if (sealed && found->second.item->hasFlag(kItemSealed)) {
        report.errors.push_back("item is encrypted");
        return;
    }
    if (file.size > kMimeTextInObjectLimit) {
        report.remark = "body in attachment " + quoted(name) + " (" + std::to_string(file.size) +
                        " bytes, not shown)";
        return;
    }
    if (!withinBudget(file.size)) {
        report.errors.push_back(std::string("its body, attachment ") + quoted(name) + ": " +
                                kOverBudget);
        return;
    }
    try {
        auto stream = m_db.openObject(file.object.id, file.compression, file.size);
        const std::vector<std::uint8_t> bytes = readAll(*stream, kMimeTextInObjectLimit);
        m_objectBytes += bytes.size();
        report.text =
            mimeText(part.headers,
                     std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        report.remark = "body in attachment " + quoted(name);
    } catch (const FormatError& e) {
        report.errors.push_back("its body, attachment " + quoted(name) + ": " + e.what());
    }
}

void Dumper::attachment(const FileObject& file, ItemReport& report)
{
    ++m_totals.attachments;
    const std::size_t errorsBefore = report.errors.size();
    std::optional<ExtractFile> out;
    if (m_folder) {
        try {
            out.emplace(m_folder->create(file.name));
        } catch (const std::system_error& e) {
            report.errors.push_back(e.what());
            ++m_totals.failedAttachments;
            return;
        }
    }
    std::uint64_t produced = 0;
    bool writeFailed = false;
    try {
        std::unique_ptr<ObjectStream> stream;
        try {
            stream = m_db.openObject(file.object.id, file.compression, file.size);
        } catch (const FormatError& e) {
            // Stored bytes whose count differs from the recorded size: they are all there is,
            // so they are kept (marked damaged) and the difference is named.
            if (file.compression != FileObject::kCompressNone || e.kind() != FailureKind::Damaged)
                throw;
            report.errors.push_back(e.what());
            stream = m_db.openObject(file.object.id, file.compression);
        }
        for (;;) {
            if (!withinBudget(m_buffer.size())) {
                report.errors.push_back(kOverBudget);
                break;
            }
            const std::size_t n = stream->read(m_buffer);
            if (n == 0)
                break;
            produced += n;
            m_objectBytes += n;
            if (out) {
                try {
                    out->write(std::span<const std::uint8_t>(m_buffer.data(), n));
                } catch (const std::system_error& e) {
                    report.errors.push_back(e.what());
                    writeFailed = true;
                    break;
                }
            }
        }
    } catch (const FormatError& e) {
        if (report.errors.size() == errorsBefore || report.errors.back() != e.what())
            report.errors.push_back(e.what());
    }
    m_totals.attachmentBytes += produced;
    const bool whole = report.errors.size() == errorsBefore;
    m_totals.failedAttachments += whole ? 0 : 1;
    if (!out)
        return;
    try {
        if (writeFailed) {
            out->discard(); // what is on disk is not what the file holds
        } else if (whole) {
            out->keep();
            report.remark = "extracted as " + quoted(out->name());
        } else if (produced > 0) {
            report.remark = "what could be read extracted as " + quoted(out->keepDamaged());
        } else {
            out->discard();
        }
    } catch (const std::system_error& e) {
        report.errors.push_back(e.what());
        if (whole)
            ++m_totals.failedAttachments;
    }
}

// Output.

class Output {
public:
    explicit Output(std::FILE* f) : m_file(f) {}
    void put(std::string_view s)
    {
        if (!s.empty() && std::fwrite(s.data(), 1, s.size(), m_file) != s.size())
            m_failed = true;
    }
    bool finish()
    {
        if (std::fflush(m_file) != 0 || std::ferror(m_file))
            m_failed = true;
        return !m_failed;
    }

private:
    std::FILE* m_file;
    bool m_failed = false;
};

std::string errorText(const std::vector<std::string>& errors)
{
    std::string out;
    for (const std::string& e : errors)
        out += (out.empty() ? "" : "; ") + e;
    return out;
}

void writeJsonHeader(Output& out, const DatabaseInfo& info,
                     const std::vector<FormatError>& problems)
{
    out.put("{\"ods\": " + std::to_string(info.ods) + ", \"title\": " + quoted(info.title) +
            ", \"categories\": " + quoted(info.categories) + ",\n \"replicaId\": \"" +
            replicaIdText(info.replicaId) + "\",\n");
    if (!problems.empty()) {
        out.put(" \"errors\": [");
        for (std::size_t i = 0; i < problems.size(); ++i)
            out.put((i ? ", " : "") + quoted(problems[i].what()));
        out.put("],\n");
    }
    out.put(" \"notes\": [");
}

void writeJsonNote(Output& out, const NoteReport& r, bool first)
{
    std::string s = first ? "\n" : ",\n";
    s += "  {\"id\": " + std::to_string(r.id);
    if (r.error) {
        s += ", \"error\": " + quoted(*r.error) + "}";
        out.put(s);
        return;
    }
    const Note& n = r.note;
    s += ", \"unid\": \"" + n.unid.hex() + "\", \"class\": " + std::to_string(n.noteClass) +
         ", \"flags\": " + std::to_string(n.flags) +
         ",\n   \"sequence\": " + std::to_string(n.sequence) + ", \"modified\": \"" +
         formatTimeDate(n.modified) + "\", \"parent\": " + std::to_string(n.parentId) + ",";
    if (!n.warnings.empty()) {
        s += "\n   \"warnings\": [";
        for (std::size_t i = 0; i < n.warnings.size(); ++i)
            s += (i ? ", " : "") + quoted(n.warnings[i]);
        s += "],";
    }
    s += "\n   \"items\": [";
    for (std::size_t i = 0; i < r.items.size(); ++i) {
        const ItemReport& item = r.items[i];
        s += i ? ",\n    " : "\n    ";
        s += "{\"name\": " + quoted(item.name) + ", \"type\": " + std::to_string(item.type) +
             ", \"flags\": " + std::to_string(item.flags);
        if (item.size)
            s += ", \"size\": " + std::to_string(*item.size);
        if (item.values)
            s += ", \"values\": " + *item.values;
        if (item.text)
            s += ", \"text\": " + quoted(*item.text);
        if (item.file)
            s += ", \"file\": {\"name\": " + quoted(item.file->name) +
                 ", \"size\": " + std::to_string(item.file->size) +
                 ", \"compression\": " + std::to_string(item.file->compression) + "}";
        if (!item.errors.empty())
            s += ", \"error\": " + quoted(errorText(item.errors));
        s += "}";
    }
    s += r.items.empty() ? "]}" : "\n   ]}";
    out.put(s);
}

void writeTextHeader(Output& out, const std::string& file, const DatabaseInfo& info,
                     std::size_t notes)
{
    std::string s = "database " + quoted(file) + ": ODS " + std::to_string(info.ods) + ", title " +
                    quoted(info.title);
    if (!info.categories.empty())
        s += ", categories " + quoted(info.categories);
    if (!info.templateName.empty())
        s += ", template " + quoted(info.templateName);
    if (!info.inheritsFrom.empty())
        s += ", design from " + quoted(info.inheritsFrom);
    s +=
        ", replica ID " + replicaIdText(info.replicaId) + ", " + std::to_string(notes) + " notes\n";
    out.put(s);
}

void writeTextNote(Output& out, const NoteReport& r)
{
    std::string s = "note " + std::to_string(r.id) + " (" + hex(r.id) + ")";
    if (r.error) {
        out.put(s + ": ERROR " + validUtf8(*r.error) + "\n");
        return;
    }
    const Note& n = r.note;
    s += ": " + std::string(className(n.noteClass)) +
         ((n.noteClass & noteclass::kDefault) ? " (default)" : "") + ", class " +
         hex(n.noteClass, 4) + ", flags " + hex(n.flags, 4) + ", UNID " + n.unid.hex() +
         ", sequence " + std::to_string(n.sequence) + ", modified " + formatTimeDate(n.modified);
    if (n.parentId)
        s += ", response to note " + std::to_string(n.parentId);
    if (n.stub)
        s += ", deletion stub (no items)";
    s += "\n";
    for (const std::string& w : n.warnings)
        s += "  warning: " + validUtf8(w) + "\n";
    for (const ItemReport& item : r.items) {
        s += "  " + quoted(item.name) + " " + typeName(item.type) + " (" +
             std::to_string(item.type) + "), flags " + hex(item.flags, 4);
        if (item.size)
            s += ", " + std::to_string(*item.size) + " bytes";
        if (item.values)
            s += ": " + *item.values;
        if (item.text)
            s += ": " + quoted(*item.text);
        if (item.file)
            s += ": file " + quoted(item.file->name) + ", " + std::to_string(item.file->size) +
                 " bytes, " + compressionName(item.file->compression);
        if (!item.remark.empty())
            s += ", " + item.remark;
        if (!item.errors.empty())
            s += ": ERROR " + validUtf8(errorText(item.errors));
        s += "\n";
    }
    out.put(s);
}

// Every failure on standard error, one line each, naming the note and the item.
void reportFailures(const std::string& file, const NoteReport& r)
{
    const std::string note = "note " + std::to_string(r.id) + " (" + hex(r.id) + ")";
    if (r.error)
        std::fprintf(stderr, "tarvik-nsfdump: %s: %s: %s\n", file.c_str(), note.c_str(),
                     validUtf8(*r.error).c_str());
    for (std::size_t i = 0; i < r.items.size(); ++i) {
        const ItemReport& item = r.items[i];
        if (item.errors.empty())
            continue;
        std::fprintf(stderr, "tarvik-nsfdump: %s: %s, item %zu %s%s: %s\n", file.c_str(),
                     note.c_str(), i + 1, quoted(item.name).c_str(),
                     item.file ? (" (" + quoted(item.file->name) + ")").c_str() : "",
                     validUtf8(errorText(item.errors)).c_str());
    }
}

int run(const Options& options)
{
    std::unique_ptr<Database> db;
    try {
        db = Database::open(options.file);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-nsfdump: %s cannot be opened as a Notes database: %s\n",
                     options.file.c_str(), validUtf8(e.what()).c_str());
        return exitstatus::kNotOpened;
    }
    std::unique_ptr<ExtractFolder> folder;
    if (options.extractDir) {
        try {
            folder = std::make_unique<ExtractFolder>(*options.extractDir);
        } catch (const std::system_error& e) {
            std::fprintf(stderr, "tarvik-nsfdump: %s\n", e.what());
            return exitstatus::kNotOpened;
        }
    }

    const std::vector<NoteId> ids =
        options.note ? std::vector<NoteId>{*options.note} : db->noteIds();
    const std::vector<FormatError>& problems = db->container().problems;
    for (const FormatError& e : problems)
        std::fprintf(stderr, "tarvik-nsfdump: %s: notes missing: %s\n", options.file.c_str(),
                     validUtf8(e.what()).c_str());

    Output out(stdout);
    if (options.json)
        writeJsonHeader(out, db->info(), problems);
    else
        writeTextHeader(out, options.file, db->info(), db->noteIds().size());
    Dumper dumper(*db, folder.get());
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const NoteReport report = dumper.readNote(ids[i]);
        if (options.json)
            writeJsonNote(out, report, i == 0);
        else
            writeTextNote(out, report);
        reportFailures(options.file, report);
    }
    const Totals& t = dumper.totals();
    if (options.json) {
        out.put(ids.empty() ? "]}\n" : "\n ]}\n");
    } else {
        out.put(std::to_string(t.notes) + " notes (" + std::to_string(t.failedNotes) +
                " not read), " + std::to_string(t.items) + " items (" +
                std::to_string(t.failedItems) + " not read), " + std::to_string(t.attachments) +
                " attachments of " + std::to_string(t.attachmentBytes) + " bytes (" +
                std::to_string(t.failedAttachments) + " not read whole)\n");
    }
    if (!out.finish()) {
        std::fprintf(stderr, "tarvik-nsfdump: the output cannot be written: %s\n",
                     std::strerror(errno));
        return exitstatus::kNotOpened;
    }
    const bool partly = !problems.empty() || t.failedNotes || t.failedItems || t.failedAttachments;
    return partly ? exitstatus::kPartlyRead : exitstatus::kAllRead;
}

} // namespace

int main(int argc, char** argv)
{
    // A file size limit makes a write fail (and is reported) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto parsed = parseArguments(argc, argv);
    if (const int* status = std::get_if<int>(&parsed))
        return *status;
    try {
        return run(std::get<Options>(parsed));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "tarvik-nsfdump: %s\n", e.what());
        return exitstatus::kNotOpened;
    }
}
