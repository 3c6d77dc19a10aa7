#include "nsf/Database.h"

#include "nsf/CxCompression.h"
#include "nsf/FormatError.h"
#include "nsf/TextCodec.h"
#include "nsf/Values.h"

#include <cctype>
#include <cstdio>

#include <algorithm>
#include <set>

namespace tarvik::nsf {

namespace {

// File and database header (offsets from the start of the file).
constexpr std::size_t kHeaderBytes = 0x300;
constexpr std::size_t kOdsAt = 0x06;
constexpr std::size_t kDatabaseIdAt = 0x0A;
constexpr std::size_t kRrvBucketSizeAt = 0x06 + 70;
constexpr std::size_t kReplicaIdAt = 0xB4;
constexpr std::size_t kReplicaFlagsAt = 0xBC;
constexpr std::size_t kInfoBufferAt = 0xC8;
constexpr std::size_t kInfoBufferSize = 128;
constexpr std::size_t kSpecialIdsAt = 0x148;
constexpr std::size_t kSuperblockPairsAt = 0x230; // (position, size) x 4
constexpr std::size_t kBdbPairsAt = 0x270;        // (size, position) x 2
constexpr std::uint32_t kOldestOds = 41;          // Notes 5

// Superblock.
constexpr std::uint16_t kSuperblockSignature = 0x000E;
constexpr std::size_t kSuperblockHeader = 100;
constexpr std::size_t kSuperblockFooter = 12;
constexpr std::size_t kSummaryPage = 8206;
constexpr std::size_t kSummaryEntriesAt = 224;
constexpr std::size_t kSummaryEntry = 14;
constexpr std::size_t kNonSummaryPage = 8198;
constexpr std::size_t kNonSummaryEntriesAt = 70;
constexpr std::size_t kNonSummaryEntry = 6;
constexpr std::size_t kBitmapDescriptor = 20;

// Bucket descriptor block.
constexpr std::uint16_t kBdbSignature = 0x0001;
constexpr std::size_t kBdbHeader = 66;
constexpr std::size_t kBdbChecksumAt = 54;
constexpr std::size_t kRrvDescriptor = 8;
constexpr std::size_t kNameEntry = 10;

// RRV buckets and buckets.
constexpr std::size_t kRrvHeader = 32;
constexpr std::size_t kBucketHeader = 66;

// Objects.
constexpr std::uint16_t kObjectSignature = 0x0007;
constexpr std::size_t kObjectHeader = 22;
constexpr std::uint16_t kLongObjectSignature = 0x001B;
constexpr std::size_t kLongObjectHeader = 115;
constexpr std::uint16_t kNoteSignature = 0x0004;

std::string hex(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

std::uint32_t xorWords(Bytes b)
{
    std::uint32_t v = 0;
    std::size_t i = 0;
    for (; i + 4 <= b.size(); i += 4)
        v ^= std::uint32_t(b[i]) | std::uint32_t(b[i + 1]) << 8 | std::uint32_t(b[i + 2]) << 16 |
             std::uint32_t(b[i + 3]) << 24;
    for (unsigned shift = 0; i < b.size(); ++i, shift += 8)
        v ^= std::uint32_t(b[i]) << shift;
    return v;
}

TimeDate timeDateAt(const ByteReader& r, std::size_t at)
{
    return TimeDate{r.u32At(at), r.u32At(at + 4)};
}

// What the structures may claim beyond the file's size (decompressed parts can be larger
// than their stored form, never by this much in a real file).
std::uint64_t expansionLimit(std::uint64_t fileSize)
{
    return fileSize + (1u << 20);
}

} // namespace

std::unique_ptr<Database> Database::open(const std::string& path)
{
    return std::make_unique<Database>(std::make_shared<FileSource>(path));
}

Database::Database(std::shared_ptr<const ByteSource> source) : m_source(std::move(source))
{
    m_container.fileSize = m_source->size();
    readHeader();
    readSuperblock();
    readBucketDescriptors();
    readRelocationMap();
    collectNoteIds();
}

void Database::readHeader()
{
    if (m_source->size() < kHeaderBytes)
        throw FormatError(FailureKind::Damaged, "database header", 0,
                          "a file of " + std::to_string(m_source->size()) +
                              " bytes is too short for a Notes database");
    const std::vector<std::uint8_t> bytes = m_source->read(0, kHeaderBytes, "database header");
    ByteReader r(bytes, "database header");
    if (bytes[0] != 0x1A || bytes[1] != 0x00)
        r.fail("the file does not start as a Notes database does (1A 00)");
    const std::uint32_t headerSize = r.u32At(2);
    if (headerSize < kHeaderBytes || headerSize > m_source->size())
        r.fail("database header size " + std::to_string(headerSize) + " is impossible");
    m_info.ods = r.u32At(kOdsAt);
    if (m_info.ods < kOldestOds)
        throw FormatError(FailureKind::Unsupported, "database header", kOdsAt,
                          "on-disk structure version " + std::to_string(m_info.ods) +
                              " is older than Notes 5 and not supported");
    m_info.databaseId = timeDateAt(r, kDatabaseIdAt);
    m_info.replicaId = timeDateAt(r, kReplicaIdAt);
    m_info.replicaFlags = r.u16At(kReplicaFlagsAt);

    const auto buffer = Bytes(bytes).subspan(kInfoBufferAt, kInfoBufferSize);
    const auto nul = std::find(buffer.begin(), buffer.end(), 0);
    m_info.infoBuffer.assign(buffer.begin(), nul);
    // Title, then lines of categories, "#1" template name, "#2" design template.
    std::size_t start = 0;
    for (std::size_t line = 0; start <= m_info.infoBuffer.size(); ++line) {
        std::size_t end = start;
        while (end < m_info.infoBuffer.size() && m_info.infoBuffer[end] != '\n')
            ++end;
        const Bytes text = Bytes(m_info.infoBuffer).subspan(start, end - start);
        if (line == 0)
            m_info.title = lmbcsToUtf8(text);
        else if (text.size() >= 2 && text[0] == '#' && text[1] == '1')
            m_info.templateName = lmbcsToUtf8(text.subspan(2));
        else if (text.size() >= 2 && text[0] == '#' && text[1] == '2')
            m_info.inheritsFrom = lmbcsToUtf8(text.subspan(2));
        else if (m_info.categories.empty())
            m_info.categories = lmbcsToUtf8(text);
        start = end + 1;
    }
    for (std::size_t i = 0; i < m_info.specialNoteIds.size(); ++i)
        m_info.specialNoteIds[i] = r.u32At(kSpecialIdsAt + 4 * i);

    const std::uint32_t rrvBucketSize = r.u16At(kRrvBucketSizeAt);
    m_rrvBucketSize = rrvBucketSize == 0 ? 4096 : rrvBucketSize;
    if (m_rrvBucketSize < kRrvHeader + 8)
        r.fail("an RRV bucket size of " + std::to_string(m_rrvBucketSize) + " is impossible");
}

void Database::readSuperblock()
{
    const std::vector<std::uint8_t> pairs =
        m_source->read(kSuperblockPairsAt, 32, "database header");
    ByteReader p(pairs, "database header", kSuperblockPairsAt);

    struct Candidate {
        std::uint64_t offset;
        std::uint32_t container;
        std::uint32_t writeCount;
    };
    std::vector<Candidate> candidates;
    std::optional<FormatError> firstError;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::uint32_t position = p.u32At(8 * i);
        const std::uint32_t container = p.u32At(8 * i + 4);
        if (position == 0)
            continue;
        const std::uint64_t offset = std::uint64_t(position) * 256;
        try {
            const std::vector<std::uint8_t> head =
                m_source->read(offset, kSuperblockHeader, "superblock");
            ByteReader h(head, "superblock", offset);
            if (h.u16At(0) != kSuperblockSignature)
                h.fail("no superblock signature");
            candidates.push_back({offset, container, h.u32At(60)});
        } catch (const FormatError& e) {
            if (!firstError)
                firstError = e;
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.writeCount > b.writeCount; });
    std::optional<FormatError> contentError;

    for (const Candidate& c : candidates) {
        try {
            const std::vector<std::uint8_t> head =
                m_source->read(c.offset, kSuperblockHeader, "superblock");
            ByteReader h(head, "superblock", c.offset);
            const std::uint32_t expanded = h.u32At(10);
            const std::uint32_t summaryBuckets = h.u32At(14);
            const std::uint32_t nonSummaryBuckets = h.u32At(18);
            const std::uint32_t bitmaps = h.u32At(22);
            const std::uint32_t liveRrvSize = h.u32At(26);
            const std::uint32_t liveRrvPosition = h.u32At(30);
            const std::uint32_t bitmapSize = h.u32At(42);
            const std::uint32_t noteIdTableSize = h.u32At(46);
            const std::uint32_t modifiedLogSize = h.u32At(50);
            const std::uint32_t folderDirectorySize = h.u32At(54);
            const std::uint32_t stored = h.u32At(64);
            const std::uint16_t compression = h.u16At(68);
            const std::uint32_t summaryPages = h.u32At(70);
            const std::uint32_t nonSummaryPages = h.u32At(74);

            if (stored < kSuperblockHeader + kSuperblockFooter ||
                (c.container && stored > c.container))
                h.fail("stored size " + std::to_string(stored) + " does not fit its place");
            const std::uint64_t parts = std::uint64_t(summaryPages) * kSummaryPage +
                                        std::uint64_t(nonSummaryPages) * kNonSummaryPage +
                                        std::uint64_t(bitmaps) * kBitmapDescriptor + liveRrvSize +
                                        bitmapSize + noteIdTableSize + modifiedLogSize +
                                        folderDirectorySize;
            if (parts != expanded || expanded > expansionLimit(m_source->size()))
                h.fail("its parts (" + std::to_string(parts) + " bytes) do not make up its size (" +
                       std::to_string(expanded) + ")");
            const std::uint64_t perSummaryPage = (kSummaryPage - kSummaryEntriesAt) / kSummaryEntry;
            const std::uint64_t perNonSummaryPage =
                (kNonSummaryPage - kNonSummaryEntriesAt) / kNonSummaryEntry;
            if (summaryBuckets > summaryPages * perSummaryPage ||
                nonSummaryBuckets > nonSummaryPages * perNonSummaryPage)
                h.fail("more buckets than its descriptor pages hold");

            const std::vector<std::uint8_t> block = m_source->read(c.offset, stored, "superblock");
            const Bytes body = Bytes(block).subspan(kSuperblockHeader,
                                                    stored - kSuperblockHeader - kSuperblockFooter);
            ByteReader footer(Bytes(block).subspan(stored - kSuperblockFooter), "superblock",
                              c.offset + stored - kSuperblockFooter);
            if (footer.u32At(8) != xorWords(body))
                footer.fail("checksum does not match its contents");

            std::vector<std::uint8_t> data;
            const std::uint64_t bodyOffset = c.offset + kSuperblockHeader;
            if (compression == 0) {
                if (body.size() < expanded)
                    h.fail("holds fewer bytes than its size says");
                data.assign(body.begin(), body.begin() + expanded);
            } else if (compression == 1) {
                if (body.size() < 4)
                    h.fail("compressed body too short");
                data = expandCx(body.subspan(4), expanded, "superblock", bodyOffset + 4);
            } else {
                throw FormatError(FailureKind::Unsupported, "superblock", c.offset + 68,
                                  "compression type " + std::to_string(compression) + " unknown");
            }

            ByteReader d(data, "superblock contents", c.offset);
            std::vector<std::uint32_t> summary, nonSummary;
            for (std::uint32_t page = 0; page < summaryPages; ++page) {
                ByteReader pg = d.sub(kSummaryPage, "summary bucket descriptors");
                for (std::size_t i = 0; i < perSummaryPage && summary.size() < summaryBuckets; ++i)
                    summary.push_back(pg.u32At(kSummaryEntriesAt + kSummaryEntry * i));
            }
            for (std::uint32_t page = 0; page < nonSummaryPages; ++page) {
                ByteReader pg = d.sub(kNonSummaryPage, "non-summary bucket descriptors");
                for (std::size_t i = 0;
                     i < perNonSummaryPage && nonSummary.size() < nonSummaryBuckets; ++i)
                    nonSummary.push_back(pg.u32At(kNonSummaryEntriesAt + kNonSummaryEntry * i));
            }
            d.skip(std::size_t(bitmaps) * kBitmapDescriptor);
            const Bytes liveRrv = d.bytes(liveRrvSize);
            d.skip(bitmapSize);
            const std::size_t noteIdTableAt = d.position();
            const Bytes noteIdTable = d.bytes(noteIdTableSize);
            const Bytes modifiedLog = d.bytes(modifiedLogSize);
            const Bytes folderDirectory = d.bytes(folderDirectorySize);

            m_summaryBuckets = std::move(summary);
            m_nonSummaryBuckets = std::move(nonSummary);
            m_liveRrvPosition = liveRrvSize ? liveRrvPosition : 0;
            m_liveRrv.assign(liveRrv.begin(), liveRrv.end());
            m_noteIdTable.assign(noteIdTable.begin(), noteIdTable.end());
            m_noteIdTableOffset = noteIdTableAt; // within the expanded superblock
            m_modifiedLog.assign(modifiedLog.begin(), modifiedLog.end());
            m_folderDirectory.assign(folderDirectory.begin(), folderDirectory.end());
            m_container.superblockOffset = c.offset;
            m_container.superblockWriteCount = c.writeCount;
            m_container.summaryBuckets = m_summaryBuckets.size();
            m_container.nonSummaryBuckets = m_nonSummaryBuckets.size();
            return;
        } catch (const FormatError& e) {
            // A copy that passed its header checks failing later says more than one that did
            // not pass them.
            if (!contentError)
                contentError = e;
        }
    }
    if (contentError)
        throw *contentError;
    if (firstError)
        throw *firstError;
    throw FormatError(FailureKind::Damaged, "database header", kSuperblockPairsAt,
                      "names no superblock");
}

void Database::readBucketDescriptors()
{
    const std::vector<std::uint8_t> pairs = m_source->read(kBdbPairsAt, 16, "database header");
    ByteReader p(pairs, "database header", kBdbPairsAt);

    struct Candidate {
        std::uint64_t offset;
        std::uint32_t size;
        std::uint32_t writeCount;
    };
    std::vector<Candidate> candidates;
    std::optional<FormatError> firstError;
    for (std::size_t i = 0; i < 2; ++i) {
        const std::uint32_t size = p.u32At(8 * i);
        const std::uint32_t position = p.u32At(8 * i + 4);
        if (position == 0 || size == 0)
            continue;
        const std::uint64_t offset = std::uint64_t(position) * 256;
        try {
            const std::vector<std::uint8_t> head =
                m_source->read(offset, kBdbHeader, "bucket descriptor block");
            ByteReader h(head, "bucket descriptor block", offset);
            if (h.u16At(0) != kBdbSignature)
                h.fail("no bucket descriptor block signature");
            if (h.u32At(kBdbChecksumAt) != xorWords(Bytes(head).first(kBdbChecksumAt)))
                h.fail("header checksum does not match");
            candidates.push_back({offset, size, h.u32At(10)});
        } catch (const FormatError& e) {
            if (!firstError)
                firstError = e;
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.writeCount > b.writeCount; });
    std::optional<FormatError> contentError;

    for (const Candidate& c : candidates) {
        try {
            const std::vector<std::uint8_t> head =
                m_source->read(c.offset, kBdbHeader, "bucket descriptor block");
            ByteReader h(head, "bucket descriptor block", c.offset);
            const std::uint16_t compression = h.u16At(4);
            const std::uint32_t expanded = h.u32At(6);
            const std::uint32_t stored = h.u32At(14);
            const std::uint32_t nameCount = h.u32At(26);
            const std::uint32_t textSize = h.u32At(34);
            const std::uint32_t rrvBuckets = h.u32At(38);
            if (stored < kBdbHeader || stored > c.size)
                h.fail("stored size " + std::to_string(stored) + " does not fit its place");
            if (expanded > expansionLimit(m_source->size()))
                h.fail("size " + std::to_string(expanded) + " is impossible");
            const std::vector<std::uint8_t> block =
                m_source->read(c.offset, stored, "bucket descriptor block");
            const Bytes body = Bytes(block).subspan(kBdbHeader);
            std::vector<std::uint8_t> data;
            if (compression == 0) {
                if (body.size() < expanded)
                    h.fail("holds fewer bytes than its size says");
                data.assign(body.begin(), body.begin() + expanded);
            } else if (compression == 1) {
                if (body.size() < 4)
                    h.fail("compressed body too short");
                data = expandCx(body.subspan(4), expanded, "bucket descriptor block",
                                c.offset + kBdbHeader + 4);
            } else {
                throw FormatError(FailureKind::Unsupported, "bucket descriptor block", c.offset + 4,
                                  "compression type " + std::to_string(compression) + " unknown");
            }

            ByteReader d(data, "bucket descriptor block contents", c.offset);
            if (std::uint64_t(rrvBuckets) * kRrvDescriptor + std::uint64_t(nameCount) * kNameEntry >
                    data.size() ||
                rrvBuckets > m_source->size() / m_rrvBucketSize)
                d.fail(std::to_string(rrvBuckets) + " RRV buckets and " +
                       std::to_string(nameCount) + " item names do not fit");
            std::vector<RrvBucketRef> buckets;
            for (std::uint32_t i = 0; i < rrvBuckets; ++i) {
                const std::uint32_t position = d.u32();
                const std::uint32_t firstId = d.u32();
                buckets.push_back({position & ~1u, firstId, (position & 1u) != 0});
            }
            ByteReader entries = d.sub(std::size_t(nameCount) * kNameEntry, "item name table");
            const std::uint32_t storedTextSize = d.u32();
            if (storedTextSize != textSize)
                d.fail("item name text size " + std::to_string(storedTextSize) +
                       " differs from the header's " + std::to_string(textSize));
            const Bytes text = d.bytes(textSize);
            std::vector<ItemName> names;
            names.reserve(nameCount);
            std::uint64_t nameBytes = 0; // the names share nothing: they cannot exceed the text
            for (std::uint32_t i = 0; i < nameCount; ++i) {
                const std::uint32_t offset = entries.u32();
                const std::uint16_t length = entries.u16();
                const std::uint8_t type = entries.u8();
                const std::uint8_t typeClass = entries.u8();
                entries.skip(2);
                nameBytes += length;
                if (offset > text.size() || length > text.size() - offset ||
                    nameBytes > text.size())
                    entries.fail("item name " + std::to_string(i) + " lies outside the name text");
                names.push_back({lmbcsToUtf8(text.subspan(offset, length)),
                                 static_cast<std::uint16_t>(typeClass << 8 | type)});
            }
            m_rrvBuckets = std::move(buckets);
            m_names = std::move(names);
            m_container.bucketDescriptorOffset = c.offset;
            m_container.bucketDescriptorWriteCount = c.writeCount;
            m_container.rrvBuckets = m_rrvBuckets.size();
            m_container.itemNames = m_names.size();
            return;
        } catch (const FormatError& e) {
            // A copy that passed its header checks failing later says more than one that did
            // not pass them.
            if (!contentError)
                contentError = e;
        }
    }
    if (contentError)
        throw *contentError;
    if (firstError)
        throw *firstError;
    throw FormatError(FailureKind::Damaged, "database header", kBdbPairsAt,
                      "names no bucket descriptor block");
}

void Database::readRelocationMap()
{
    const std::size_t entries = (m_rrvBucketSize - kRrvHeader) / 8;
    // Each bucket once: a list naming one bucket over and over would otherwise multiply the
    // map beyond anything the file holds.
    std::set<std::uint32_t> seen;
    for (const RrvBucketRef& ref : m_rrvBuckets) {
        const std::uint64_t offset = std::uint64_t(ref.position) * 256;
        try {
            if (!seen.insert(ref.position).second)
                throw FormatError(FailureKind::Damaged, "bucket descriptor block",
                                  m_container.bucketDescriptorOffset,
                                  "lists the RRV bucket at " + hex(offset) + " twice");
            // The superblock's copy of one bucket is newer than the one on disk; its checksum
            // is the disk copy's, so only the disk copy is checked against it.
            const bool live =
                ref.position == m_liveRrvPosition && m_liveRrv.size() == m_rrvBucketSize;
            const std::vector<std::uint8_t> bucket =
                live ? m_liveRrv : m_source->read(offset, m_rrvBucketSize, "RRV bucket");
            ByteReader b(bucket, "RRV bucket", offset);
            if (b.u8At(0) != 0x06 || b.u8At(1) != 0x20)
                b.fail("no RRV bucket signature");
            const std::uint32_t firstId = b.u32At(6);
            if (firstId != ref.firstId)
                b.fail("starts at note ID " + std::to_string(firstId) + ", the bucket list says " +
                       std::to_string(ref.firstId));
            if (!live && b.u32At(18) != xorWords(Bytes(bucket).subspan(kRrvHeader)))
                b.fail("checksum does not match its entries");
            for (std::size_t i = 0; i < entries; ++i) {
                const std::uint32_t first = b.u32At(kRrvHeader + 8 * i);
                const std::uint32_t second = b.u32At(kRrvHeader + 8 * i + 4);
                if (first == 0 || first == 0x7FFFFFFF || first == 0xFFFFFFFF)
                    continue;
                const std::uint64_t id = std::uint64_t(firstId) + 4 * i;
                if (id > 0xFFFFFFFFull)
                    break;
                m_rrv.push_back({static_cast<std::uint32_t>(id), first, second, ref.nonData});
            }
        } catch (const FormatError& e) {
            m_container.problems.push_back(e);
        }
    }
    std::stable_sort(m_rrv.begin(), m_rrv.end(),
                     [](const RrvEntry& a, const RrvEntry& b) { return a.id < b.id; });
    // Two buckets claiming one ID: the first listed stands.
    m_rrv.erase(std::unique(m_rrv.begin(), m_rrv.end(),
                            [](const RrvEntry& a, const RrvEntry& b) { return a.id == b.id; }),
                m_rrv.end());
}

void Database::collectNoteIds()
{
    for (const RrvEntry& e : m_rrv) {
        if (e.inBucket()) {
            m_noteIds.push_back(e.id);
            continue;
        }
        // A file position: objects live there; a note could too.
        const std::uint64_t offset = std::uint64_t(e.first) * 256;
        std::uint8_t sig[2] = {0, 0};
        if (offset + 2 <= m_source->size())
            m_source->readAt(offset, sig, "record");
        const std::uint16_t signature = std::uint16_t(sig[0] | sig[1] << 8);
        if (signature != kObjectSignature && signature != kLongObjectSignature)
            m_noteIds.push_back(e.id);
    }
}

const RrvEntry* Database::findRrv(std::uint32_t id) const noexcept
{
    auto it = std::lower_bound(m_rrv.begin(), m_rrv.end(), id,
                               [](const RrvEntry& e, std::uint32_t v) { return e.id < v; });
    return it != m_rrv.end() && it->id == id ? &*it : nullptr;
}

Database::Slot Database::bucketSlot(bool summary, std::uint32_t bucket, std::uint32_t slot) const
{
    const char* what = summary ? "summary bucket" : "non-summary bucket";
    const std::vector<std::uint32_t>& list = summary ? m_summaryBuckets : m_nonSummaryBuckets;
    if (bucket == 0 || bucket > list.size())
        throw FormatError(FailureKind::Damaged, what, m_container.superblockOffset,
                          "bucket " + std::to_string(bucket) + " does not exist (" +
                              std::to_string(list.size()) + " known)");
    const std::uint64_t offset = std::uint64_t(list[bucket - 1]) * 256;
    const std::vector<std::uint8_t> head = m_source->read(offset, kBucketHeader, what);
    ByteReader h(head, what, offset);
    if (h.u8At(0) != 0x02 || h.u8At(1) != 0x42)
        h.fail("no bucket signature");
    const std::uint32_t size = h.u32At(6);
    const std::uint32_t slots = h.u32At(44);
    const std::uint32_t footer = h.u32At(50);
    if (size < kBucketHeader || size > 0x100000)
        h.fail("bucket size " + std::to_string(size) + " is impossible");
    m_source->requireRange(offset, size, what);
    if (footer > size - kBucketHeader || std::uint64_t(slots) * 4 > size - kBucketHeader - footer)
        h.fail(std::to_string(slots) + " slots do not fit a bucket of " + std::to_string(size) +
               " bytes");
    if (slot == 0 || slot > slots)
        h.fail("slot " + std::to_string(slot) + " does not exist (" + std::to_string(slots) +
               " slots)");
    const std::uint32_t indexAt = size - footer - 4 * slot;
    std::uint8_t index[4];
    m_source->readAt(offset + indexAt, index, what);
    const std::uint32_t start = std::uint32_t(index[0] | index[1] << 8);
    const std::uint32_t length = std::uint32_t(index[2] | index[3] << 8);
    const std::uint32_t dataEnd = size - footer - 4 * slots;
    if (start < kBucketHeader || start > dataEnd || length > dataEnd - start)
        throw FormatError(FailureKind::Damaged, what, offset + indexAt,
                          "slot " + std::to_string(slot) + " (" + std::to_string(length) +
                              " bytes at " + std::to_string(start) + ") lies outside the bucket");
    return {offset + start, length};
}

NoteIdList Database::dataNoteIds() const
{
    // Offsets in messages are within the expanded superblock.
    return decodeNoteIdList(m_noteIdTable, m_noteIdTableOffset);
}

std::vector<Unid> Database::folderDirectoryUnids() const
{
    std::vector<Unid> out;
    if (m_folderDirectory.empty())
        return out;
    ByteReader r(m_folderDirectory, "folder directory", m_container.superblockOffset);
    const std::uint32_t magic = r.u32();
    if (magic != 0x0001F1F1)
        r.fail("does not start as a folder directory does (F1 F1 01 00)");
    const std::uint16_t count = r.u16();
    r.skip(2);
    if (std::size_t(count) * 26 > r.remaining())
        r.fail(std::to_string(count) + " folders do not fit");
    for (unsigned i = 0; i < count; ++i) {
        ByteReader e = r.sub(26, "folder directory entry");
        out.push_back(readUnid(e));
    }
    return out;
}

ObjectInfo Database::objectInfo(std::uint32_t objectId) const
{
    const RrvEntry* e = findRrv(objectId);
    if (!e)
        throw FormatError(FailureKind::Damaged, "record relocation map",
                          m_container.superblockOffset,
                          "no object with ID " + std::to_string(objectId));
    if (e->inBucket()) {
        const Slot slot = bucketSlot(true, e->first & 0x00FFFFFF, e->second & 0x7FF);
        std::uint8_t sig[2] = {0, 0};
        if (slot.size >= 2)
            m_source->readAt(slot.offset, sig, "object record");
        if ((sig[0] | sig[1] << 8) == kNoteSignature)
            throw FormatError(FailureKind::Damaged, "record relocation map", slot.offset,
                              "ID " + std::to_string(objectId) + " is a note, not an object");
        throw FormatError(FailureKind::Unsupported, "object record", slot.offset,
                          "an object kept in a bucket slot is not known yet");
    }
    ObjectInfo info;
    info.id = objectId;
    info.offset = std::uint64_t(e->first) * 256;
    const std::vector<std::uint8_t> head = m_source->read(info.offset, 6, "object record");
    ByteReader h(head, "object record", info.offset);
    info.signature = h.u16At(0);
    info.recordSize = h.u32At(2);
    if (info.signature == kObjectSignature)
        info.headerSize = kObjectHeader;
    else if (info.signature == kLongObjectSignature)
        info.headerSize = kLongObjectHeader;
    else if (info.signature == kNoteSignature)
        h.fail("ID " + std::to_string(objectId) + " is a note, not an object");
    else
        h.fail("record signature " + hex(info.signature) + " is not an object's",
               FailureKind::Unsupported);
    if (info.recordSize < info.headerSize)
        h.fail("record of " + std::to_string(info.recordSize) +
               " bytes is shorter than its header");
    m_source->requireRange(info.offset, info.recordSize, "object record");
    const std::vector<std::uint8_t> full =
        m_source->read(info.offset, info.headerSize, "object record");
    ByteReader f(full, "object record", info.offset);
    info.objectType = f.u16At(6);
    info.objectFlags = f.u16At(10);
    if (info.signature == kLongObjectSignature && f.u16At(22) == 1) {
        // 40 hex digits of a digest and 8 of the content's size: the name a shared attachment
        // store would keep the content under.
        std::string name;
        for (std::size_t i = 24; i < 24 + 48; ++i) {
            const char c = static_cast<char>(full[i]);
            if (!std::isxdigit(static_cast<unsigned char>(c)))
                break;
            name.push_back(c);
        }
        if (name.size() == 48)
            info.contentName = name;
    }
    return info;
}

std::unique_ptr<ObjectStream> Database::openObject(std::uint32_t objectId,
                                                   std::uint16_t compression,
                                                   std::optional<std::uint64_t> expectedSize) const
{
    const ObjectInfo info = objectInfo(objectId);
    if (!info.contentName.empty()) {
        const std::uint64_t contentSize = std::stoull(info.contentName.substr(40), nullptr, 16);
        if (info.dataSize() == 0 && contentSize != 0)
            throw FormatError(FailureKind::External, "object record", info.offset,
                              "the content (" + std::to_string(contentSize) +
                                  " bytes) is kept outside the file, in a shared attachment "
                                  "store, as " +
                                  info.contentName + ".nlo");
    }
    switch (compression) {
    case 0:
        return openStoredObject(m_source, info, expectedSize);
    case 1:
    case 3:
        return openHuffmanObject(m_source, info, expectedSize);
    case 2:
        throw FormatError(FailureKind::Unsupported, "object record", info.offset,
                          "LZ1 compression is not known yet");
    default:
        throw FormatError(FailureKind::Unsupported, "object record", info.offset,
                          "compression " + std::to_string(compression) + " unknown");
    }
}

} // namespace tarvik::nsf
