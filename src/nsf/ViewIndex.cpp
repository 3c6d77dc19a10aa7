#include "nsf/ViewIndex.h"

#include <algorithm>
#include <cstdio>
#include <set>

namespace tarvik::nsf {

namespace {

std::string hex(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::string refText(const IndexRef& r)
{
    return "page " + std::to_string(r.page) + " slot " + std::to_string(r.slot);
}

// $Collection header.
constexpr std::uint8_t kCollectionSignature = 0xCC;
constexpr std::size_t kRefsAt = 0x1E;     // three references, then the update time
constexpr std::size_t kLongRefsAt = 0x20; // variant 3
constexpr std::size_t kFirstTableAt = 0x30;

// $ViewContainer object.
constexpr std::size_t kContainerSignatureAt = 0x20;
constexpr std::uint16_t kContainerSignature = 0xFADE;
constexpr std::size_t kContainerVersionAt = 0x22;
constexpr std::size_t kPageCountAt = 0x98;
constexpr std::size_t kPagesAt = 0xA0;

// Index pages.
constexpr std::size_t kPageHeader = 32;
constexpr std::uint32_t kSmallestPage = 0x100;
constexpr std::uint32_t kLargestPage = 0x10000;
constexpr std::uint16_t kSlottedPage = 1;
constexpr std::uint16_t kWholePageNode = 0;

// Records and nodes.
constexpr std::uint8_t kRecordSignature = 0xBB;
constexpr std::uint8_t kEntryCollection = 0; // byte 3; 1 is the index by note ID
constexpr std::uint8_t kEntryNode = 1;       // node byte 1 in the Notes 6 and 8.5 layouts
constexpr std::size_t kUnidTail = 20;        // an entry ends with the UNID and the sequence
constexpr unsigned kMaxNesting = 256;        // collections and nodes inside each other

struct Layout {
    const char* name;
    std::uint8_t version;    // record byte 2
    std::size_t record;      // size of a collection record
    std::size_t countAt;     // its 32-bit count of entries
    std::size_t nodeHeader;  // bytes before the first descriptor
    std::size_t descriptor;  // bytes per descriptor
    std::size_t last;        // bytes of the last descriptor (the rightmost subtree)
    std::size_t entryAt;     // a descriptor's 16-bit entry offset
    std::size_t lengthAt;    // its 16-bit entry length
    std::size_t secondRefAt; // its second reference
    bool entryNodeType;      // whether node byte 1 must say "entries"
    bool unidInEntry;        // whether a document entry ends with its UNID
    bool secondRefIsSummary; // whether the second reference names the entry's column values
};

constexpr Layout kNotes5{"Notes 5", 0x0B, 32, 26, 12, 20, 16, 6, 10, 12, false, false, true};
constexpr Layout kNotes6{"Notes 6", 0x0D, 40, 26, 17, 24, 16, 6, 10, 12, true, true, false};
constexpr Layout kNotes85{"Notes 8.5", 0x0D, 44, 28, 20, 28, 20, 8, 12, 14, true, true, false};
constexpr std::uint8_t kLongRecordMark = 0xEB; // record byte 0 of the Notes 8.5 layout

std::uint16_t le16(const std::uint8_t* p)
{
    return std::uint16_t(p[0] | p[1] << 8);
}

std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// Where a note-ID table may start: a valid table with ascending IDs whose end is the object's
// end or is followed by filler (one byte value repeated), as Notes leaves the rest of the
// object's space.
std::optional<NoteIdList> tableAt(Bytes object, std::size_t at, std::uint64_t base)
{
    if (object.size() - at < 18 || le32(&object[at]) != 4)
        return std::nullopt;
    std::size_t size = 0;
    NoteIdList list;
    try {
        size = noteIdListSize(object.subspan(at), base + at);
        if (size > object.size() - at)
            return std::nullopt;
        list = decodeNoteIdList(object.subspan(at, size), base + at);
    } catch (const FormatError&) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < list.ids.size(); ++i)
        if (list.ids[i] == 0 || (i > 0 && list.ids[i] <= list.ids[i - 1]))
            return std::nullopt;
    const std::size_t end = at + size;
    const std::size_t tail = std::min<std::size_t>(16, object.size() - end);
    for (std::size_t i = 1; i < tail; ++i)
        if (object[end + i] != object[end])
            return std::nullopt;
    return list;
}

// The index pages a $ViewContainer lists, read on demand.
class Pages {
public:
    Pages(const ByteSource& file, Bytes container, std::uint64_t containerOffset) : m_file(file)
    {
        ByteReader r(container, "view container", containerOffset);
        if (r.size() < kPagesAt)
            r.fail("a view container of " + std::to_string(r.size()) + " bytes is too short");
        if (r.u16At(kContainerSignatureAt) != kContainerSignature)
            r.fail("no view container signature (DE FA)");
        const std::uint16_t version = r.u16At(kContainerVersionAt);
        std::size_t entrySize = 0;
        if (version == 0x0F)
            entrySize = 4; // the page's position only
        else if (version == 0x10)
            entrySize = 12; // position, FF FF, free bytes, kind, list
        else
            r.fail("view container version " + hex(version) + " is not known",
                   FailureKind::Unsupported);
        const std::uint32_t count = r.u32At(kPageCountAt);
        if (count > (r.size() - kPagesAt) / entrySize)
            r.fail(std::to_string(count) + " pages do not fit in the view container");
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint32_t position = r.u32At(kPagesAt + i * entrySize);
            m_pages.push_back({std::uint64_t(position) * 256, 0, 0, 0, false});
        }
    }

    std::size_t count() const noexcept { return m_pages.size(); }

    // The bytes of the record or node a reference names, and their file offset.
    std::vector<std::uint8_t> read(const IndexRef& ref, std::uint64_t& offset,
                                   std::vector<FormatError>& warnings)
    {
        Page& p = page(ref.page, warnings);
        if (p.kind == kWholePageNode && p.slots == 0) {
            if (ref.slot != 1)
                throw FormatError(FailureKind::Damaged, "view index page", p.offset,
                                  "a reference to " + refText(ref) +
                                      " names a slot of a page that holds one node");
            offset = p.offset + kPageHeader;
            return m_file.read(offset, p.size - kPageHeader, "view index node");
        }
        if (p.kind != kSlottedPage)
            throw FormatError(FailureKind::Unsupported, "view index page", p.offset,
                              "page " + std::to_string(ref.page) + " is of kind " +
                                  std::to_string(p.kind) + ", which holds no records");
        if (ref.slot == 0 || ref.slot > p.slots)
            throw FormatError(FailureKind::Damaged, "view index page", p.offset,
                              "a reference to " + refText(ref) + " passes the " +
                                  std::to_string(p.slots) + " slots of the page");
        std::uint8_t pair[4];
        const std::uint64_t pairAt = p.offset + p.size - 4ull * ref.slot;
        m_file.readAt(pairAt, pair, "view index slot table");
        const std::uint32_t at = le16(pair);
        const std::uint32_t length = le16(pair + 2);
        const std::uint32_t tableStart = p.size - 4u * p.slots;
        if (length == 0 || at < kPageHeader || at + length > tableStart)
            throw FormatError(FailureKind::Damaged, "view index slot table", pairAt,
                              refText(ref) + " (" + std::to_string(length) + " bytes at " +
                                  hex(at) + ") does not lie in the page");
        offset = p.offset + at;
        return m_file.read(offset, length, "view index record");
    }

private:
    struct Page {
        std::uint64_t offset;
        std::uint32_t size;
        std::uint16_t kind;
        std::uint16_t slots;
        bool loaded;
    };

    Page& page(std::uint32_t number, std::vector<FormatError>& warnings)
    {
        if (number >= m_pages.size())
            throw FormatError(FailureKind::Damaged, "view index", 0,
                              "a reference names page " + std::to_string(number) + "; the " +
                                  "container lists " + std::to_string(m_pages.size()));
        Page& p = m_pages[number];
        if (p.loaded)
            return p;
        const std::vector<std::uint8_t> head =
            m_file.read(p.offset, kPageHeader, "view index page");
        ByteReader h(head, "view index page", p.offset);
        p.size = h.u16At(4);
        if (p.size < kSmallestPage || p.size > kLargestPage)
            h.fail("page size " + std::to_string(p.size) + " is impossible");
        m_file.requireRange(p.offset, p.size, "view index page");
        p.kind = h.u16At(10);
        p.slots = h.u16At(12);
        if (4ull * p.slots > p.size - kPageHeader)
            h.fail(std::to_string(p.slots) + " slots do not fit in a page of " +
                   std::to_string(p.size) + " bytes");
        if (h.u16At(0) != number)
            warnings.emplace_back(FailureKind::Damaged, "view index page", p.offset,
                                  "the page calls itself page " + std::to_string(h.u16At(0)) +
                                      "; the container lists it as page " + std::to_string(number));
        p.loaded = true;
        return p;
    }

    const ByteSource& m_file;
    std::vector<Page> m_pages;
};

class TreeReader {
public:
    TreeReader(Pages& pages, IndexTree& out) : m_pages(pages), m_out(out) {}

    void run(IndexRef root)
    {
        std::uint64_t offset = 0;
        const std::vector<std::uint8_t> record = m_pages.read(root, offset, m_out.warnings);
        ByteReader r(record, "view index root", offset);
        if (r.size() < 4 || r.u8At(1) != kRecordSignature)
            r.fail("the entry tree's root is not a collection record");
        const std::uint8_t version = r.u8At(2);
        if (version == kNotes5.version)
            m_layout = &kNotes5;
        else if (version == kNotes6.version)
            m_layout = r.u8At(0) == kLongRecordMark ? &kNotes85 : &kNotes6;
        else
            r.fail("collection record version " + hex(version) + " is not known",
                   FailureKind::Unsupported);
        m_rootMark = r.u8At(0);
        m_out.layout = m_layout->name;
        collection(root, 0, 0, true);
    }

private:
    // A collection record: the entries of one level (and their children).
    void collection(const IndexRef& ref, std::uint16_t depth, unsigned nesting, bool root)
    {
        if (!enter(ref, nesting))
            return;
        std::uint64_t offset = 0;
        const std::vector<std::uint8_t> record = m_pages.read(ref, offset, m_out.warnings);
        ByteReader r(record, "view index collection", offset);
        if (r.size() < m_layout->record || r.u8At(1) != kRecordSignature ||
            r.u8At(2) != m_layout->version)
            r.fail(refText(ref) + " is not a collection record of the " + m_layout->name +
                   " layout");
        if (r.u8At(3) != kEntryCollection)
            r.fail(refText(ref) + " is a collection of kind " + std::to_string(r.u8At(3)) +
                   ", not of view entries");
        if (!root && m_layout != &kNotes5 &&
            (r.u8At(0) == kLongRecordMark) != (m_rootMark == kLongRecordMark))
            r.fail(refText(ref) + " is a record of another layout than the tree's root");
        const std::uint32_t stated = r.u32At(m_layout->countAt);
        std::size_t read = 0;
        if (const auto data = decodeIndexRef(Bytes(record).subspan(8, 4)))
            guarded([&] { read = node(*data, depth, nesting + 1, std::nullopt); });
        if (read != stated) {
            m_out.countsAgree = false;
            m_out.problems.emplace_back(FailureKind::Damaged, "view index collection", offset,
                                        refText(ref) + " states " + std::to_string(stated) +
                                            " entries; " + std::to_string(read) +
                                            " were found under it");
        }
    }

    // A node of one level's B-tree; returns the number of entries of that level under it.
    std::size_t node(const IndexRef& ref, std::uint16_t depth, unsigned nesting,
                     std::optional<std::uint8_t> expectedLevel)
    {
        if (!enter(ref, nesting))
            return 0;
        std::uint64_t offset = 0;
        const std::vector<std::uint8_t> bytes = m_pages.read(ref, offset, m_out.warnings);
        ByteReader r(bytes, "view index node", offset);
        const Layout& L = *m_layout;
        if (r.size() < L.nodeHeader + L.last)
            r.fail(refText(ref) + " is too short for a node");
        const std::uint8_t level = r.u8At(0);
        if (L.entryNodeType && r.u8At(1) != kEntryNode)
            r.fail(refText(ref) + " is a node of kind " + std::to_string(r.u8At(1)) +
                   ", not of view entries");
        if (expectedLevel && level != *expectedLevel)
            r.fail(refText(ref) + " is a node of level " + std::to_string(level) + ", not " +
                   std::to_string(*expectedLevel));
        const std::uint16_t descriptors = r.u16At(4);
        if (descriptors == 0 || L.nodeHeader + (descriptors - 1) * L.descriptor + L.last > r.size())
            r.fail(std::to_string(descriptors) + " descriptors do not fit in a node of " +
                   std::to_string(r.size()) + " bytes");
        std::size_t count = 0;
        for (std::uint16_t i = 0; i + 1 < descriptors; ++i) {
            const std::size_t d = L.nodeHeader + std::size_t(i) * L.descriptor;
            const auto first = decodeIndexRef(Bytes(bytes).subspan(d, 4));
            if (level > 0 && first)
                guarded(
                    [&] { count += node(*first, depth, nesting + 1, std::uint8_t(level - 1)); });
            ++count;
            const std::uint32_t at = r.u16At(d + L.entryAt);
            const std::uint32_t length = r.u16At(d + L.lengthAt);
            // A damaged length still leaves the note ID in the entry's first bytes; a damaged
            // offset leaves nothing. Either way the entry's children are still read.
            const bool whole = length >= 4 && at + length <= r.size();
            const bool idReadable = at + 4 <= r.size();
            if (!whole)
                m_out.problems.emplace_back(
                    FailureKind::Damaged, "view index entry", offset + d,
                    "entry " + std::to_string(i) + " of " + refText(ref) + " (" +
                        std::to_string(length) + " bytes at " + hex(at) +
                        ") does not lie in its node" +
                        (idReadable ? "; its note ID is taken from its first bytes" : ""));
            if (idReadable) {
                IndexEntry entry;
                entry.id = r.u32At(at);
                entry.depth = depth;
                if (whole && L.unidInEntry && entry.isDocument() && length >= 4 + kUnidTail) {
                    ByteReader u(Bytes(bytes).subspan(at + length - kUnidTail, 16), "view entry",
                                 offset + at + length - kUnidTail);
                    entry.unid = readUnid(u);
                }
                m_out.entries.push_back(entry);
            }
            const auto second = decodeIndexRef(Bytes(bytes).subspan(d + L.secondRefAt, 4));
            if (second && !L.secondRefIsSummary)
                m_out.warnings.emplace_back(FailureKind::Damaged, "view index node", offset + d,
                                            "entry " + std::to_string(i) + " of " + refText(ref) +
                                                " has a reference where the layout keeps none "
                                                "(a damaged \"no reference\"?); not followed");
            if (level == 0 && first)
                guarded([&] { collection(*first, std::uint16_t(depth + 1), nesting + 1, false); });
        }
        const std::size_t d = L.nodeHeader + std::size_t(descriptors - 1) * L.descriptor;
        if (const auto last = decodeIndexRef(Bytes(bytes).subspan(d, 4))) {
            if (level > 0)
                guarded([&] { count += node(*last, depth, nesting + 1, std::uint8_t(level - 1)); });
            else
                m_out.warnings.emplace_back(FailureKind::Damaged, "view index node", offset + d,
                                            "the last descriptor of leaf " + refText(ref) +
                                                " refers to " + refText(*last) +
                                                "; a leaf has no subtree there");
        }
        return count;
    }

    bool enter(const IndexRef& ref, unsigned nesting)
    {
        if (nesting > kMaxNesting) {
            m_out.problems.emplace_back(FailureKind::Damaged, "view index", 0,
                                        "the tree nests deeper than " +
                                            std::to_string(kMaxNesting) + " levels at " +
                                            refText(ref));
            return false;
        }
        if (!m_visited.insert(ref).second) {
            m_out.problems.emplace_back(FailureKind::Damaged, "view index", 0,
                                        refText(ref) + " is reached a second time (a loop)");
            return false;
        }
        return true;
    }

    template <typename F>
    void guarded(F&& f)
    {
        try {
            f();
        } catch (const FormatError& e) {
            m_out.problems.push_back(e);
        }
    }

    Pages& m_pages;
    IndexTree& m_out;
    const Layout* m_layout = nullptr;
    std::uint8_t m_rootMark = 0;
    std::set<IndexRef> m_visited;
};

} // namespace

std::optional<IndexRef> decodeIndexRef(Bytes four)
{
    if (four.size() < 4 ||
        (four[0] == 0xFF && four[1] == 0xFF && four[2] == 0xFF && four[3] == 0xFF))
        return std::nullopt;
    IndexRef r;
    r.page = std::uint32_t(four[0]) | std::uint32_t(four[1]) << 8 | std::uint32_t(four[2]) << 16;
    r.slot = std::uint16_t(four[3] + 1);
    return r;
}

CollectionHeader decodeCollectionHeader(Bytes object, std::uint64_t base)
{
    ByteReader r(object, "view index header", base);
    if (r.size() < kFirstTableAt || r.u8At(0) != kCollectionSignature ||
        r.u8At(1) != kCollectionSignature)
        r.fail("does not start as a view's $Collection does (CC CC)");
    CollectionHeader h;
    h.version = r.u8At(2);
    h.variant = r.u8At(3);
    std::size_t refs = 0;
    if (h.variant == 0)
        refs = kRefsAt;
    else if (h.variant == 3)
        refs = kLongRefsAt;
    else
        r.fail("header variant " + std::to_string(h.variant) + " is not known",
               FailureKind::Unsupported);
    h.entryTree = decodeIndexRef(object.subspan(refs + 8, 4));
    h.updated.time = r.u32At(refs + 12);
    h.updated.date = r.u32At(refs + 16);
    for (std::size_t at = kFirstTableAt; at + 18 <= object.size(); ++at)
        if (auto list = tableAt(object, at, base)) {
            h.members = std::move(list);
            break;
        }
    return h;
}

IndexTree readIndexTree(const ByteSource& file, Bytes container, std::uint64_t containerOffset,
                        IndexRef root)
{
    Pages pages(file, container, containerOffset);
    IndexTree tree;
    TreeReader(pages, tree).run(root);
    return tree;
}

} // namespace tarvik::nsf
