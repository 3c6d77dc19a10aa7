// Reading one note: its record, its item descriptors and the values they describe.
#include "nsf/Database.h"

#include "nsf/FormatError.h"
#include "nsf/ValuePlacement.h"

#include <algorithm>

namespace tarvik::nsf {

namespace {

constexpr std::uint16_t kNoteSignature = 0x0004;
constexpr std::uint16_t kNonSummarySignature = 0x0010;
constexpr std::size_t kNoteHeader = 100;
constexpr std::size_t kStubSize = 50; // what a record without items still holds
constexpr std::size_t kDescriptor = 8;
constexpr std::size_t kNonSummaryHeader = 68;
constexpr std::uint16_t kNoteFlagInlineNonSummary = 0x2000;
// A note record lives in a bucket slot or, exceptionally, at a file position.
constexpr std::uint32_t kMaxNoteRecord = 0x100000;

std::string hex(std::uint64_t v)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

// The note's own region holding the non-summary values, or the separate record's.
struct NonSummary {
    std::vector<std::uint8_t> record; // empty when the values are in the note record itself
    std::uint64_t offset = 0;         // file offset of the first value
    std::size_t start = 0;            // index of the first value in its bytes
    std::vector<std::size_t> totals;  // possible exact sizes of all values together
};

struct Identity {
    NoteId id;
    Unid unid;
    std::uint32_t sequence;
    TimeDate sequenceTime;
};

Identity identityAt(const ByteReader& r)
{
    Identity i{};
    i.id = r.u32At(6);
    for (std::size_t k = 0; k < i.unid.bytes.size(); ++k)
        i.unid.bytes[k] = r.u8At(10 + k);
    i.sequence = r.u32At(26);
    i.sequenceTime = TimeDate{r.u32At(30), r.u32At(34)};
    return i;
}

} // namespace

Note Database::readNote(NoteId id) const
{
    const RrvEntry* entry = findRrv(id);
    if (!entry)
        throw FormatError(FailureKind::Damaged, "record relocation map",
                          m_container.superblockOffset, "no note with ID " + std::to_string(id));

    Note note;
    note.id = id;
    std::uint32_t available = 0; // bytes the record's place holds
    if (entry->inBucket()) {
        const Slot slot = bucketSlot(true, entry->first & 0x00FFFFFF, entry->second & 0x7FF);
        note.offset = slot.offset;
        available = slot.size;
    } else {
        note.offset = std::uint64_t(entry->first) * 256;
        const std::vector<std::uint8_t> head = m_source->read(note.offset, 6, "note record");
        available = std::min<std::uint64_t>(ByteReader(head, "note record", note.offset).u32At(2),
                                            kMaxNoteRecord);
    }
    const std::vector<std::uint8_t> record = m_source->read(note.offset, available, "note record");
    ByteReader r(record, "note record", note.offset);
    if (r.size() < 6 || r.u16At(0) != kNoteSignature)
        r.fail("note " + std::to_string(id) + " has no note signature (" +
               (r.size() >= 2 ? hex(r.u16At(0)) : std::string("nothing")) + ")");
    std::uint32_t size = r.u32At(2);
    if (size > available && entry->inBucket() && available >= kStubSize) {
        // The bucket's slot index is the better witness: slots follow each other without gaps.
        note.warnings.push_back("the note's header gives size " + std::to_string(size) +
                                ", its slot holds " + std::to_string(available));
        size = available;
    }
    if (size > available || size < kStubSize)
        r.fail("note size " + std::to_string(size) + " does not fit its place of " +
               std::to_string(available) + " bytes");
    note.recordSize = size;

    const Identity ident = identityAt(r);
    note.recordedId = ident.id;
    note.unid = ident.unid;
    note.sequence = ident.sequence;
    note.sequenceTime = ident.sequenceTime;
    note.flags = r.u16At(38);
    note.noteClass = r.u16At(40);
    note.modified = TimeDate{r.u32At(42), r.u32At(46)};
    if (note.recordedId != id)
        note.warnings.push_back("the note's header gives ID " + std::to_string(note.recordedId));
    if (size < kNoteHeader) {
        note.stub = true;
        return note;
    }
    std::size_t itemCount = r.u16At(50);
    const std::uint32_t nonSummaryRef = r.u32At(56);
    const std::uint32_t nonSummarySize = r.u32At(60);
    note.accessed = TimeDate{r.u32At(64), r.u32At(68)};
    note.addedToFile = TimeDate{r.u32At(72), r.u32At(76)};
    note.parentId = r.u32At(80);
    note.folderReferenceCount = r.u32At(86);
    std::size_t fixed = kNoteHeader + kDescriptor * itemCount;
    if (fixed > size)
        r.fail(std::to_string(itemCount) + " item descriptors do not fit a note of " +
               std::to_string(size) + " bytes");

    // The descriptors.
    std::vector<PlacementItem> placementItems;
    auto describe = [&](std::size_t count) {
        itemCount = count;
        fixed = kNoteHeader + kDescriptor * count;
        placementItems.assign(count, PlacementItem{});
        note.items.assign(count, Item{});
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = kNoteHeader + kDescriptor * i;
            Item& item = note.items[i];
            item.nameIndex = r.u16At(at);
            item.flags = r.u16At(at + 2);
            item.size = r.u16At(at + 4);
            item.descriptorWord = r.u16At(at + 6);
            if (item.nameIndex < m_names.size()) {
                item.name = m_names[item.nameIndex].name;
                item.type = m_names[item.nameIndex].type;
            }
            placementItems[i] = {item.flags, item.type, item.size};
        }
    };
    describe(itemCount);

    // Where the non-summary values are: after the summary values in this record (note flag
    // 0x2000, the reference an offset into the note), in a record of their own (reference: top
    // bit set, bucket number and slot; otherwise a file position / 256), or nowhere.
    std::optional<NonSummary> nonSummary;
    std::optional<FormatError> nonSummaryError;
    std::size_t summaryEnd = size;
    const std::vector<bool> byFlags = placementByFlags(placementItems, true);
    const bool wantsNonSummary =
        std::find(byFlags.begin(), byFlags.end(), true) != byFlags.end() || nonSummarySize != 0;
    if (nonSummaryRef != 0 && wantsNonSummary) {
        if (note.flags & kNoteFlagInlineNonSummary) {
            if (nonSummaryRef < fixed || nonSummaryRef > size) {
                nonSummaryError =
                    FormatError(FailureKind::Damaged, "note record", note.offset + 56,
                                "non-summary values at " + std::to_string(nonSummaryRef) +
                                    " lie outside the note");
            } else {
                NonSummary ns;
                ns.offset = note.offset + nonSummaryRef;
                ns.start = nonSummaryRef;
                // The size word sometimes carries other bits above its low 16.
                for (std::uint32_t total : {nonSummarySize, nonSummarySize & 0xFFFFu})
                    if (total <= size - nonSummaryRef &&
                        std::find(ns.totals.begin(), ns.totals.end(), total) == ns.totals.end())
                        ns.totals.push_back(total);
                summaryEnd = nonSummaryRef;
                nonSummary = std::move(ns);
            }
        } else {
            // The reference's third byte is sometimes set where no such position or bucket
            // exists; the record found is accepted only when it names this note.
            std::vector<std::uint64_t> places;
            std::string tried;
            auto addBucket = [&](std::uint32_t bucket) {
                try {
                    const Slot s = bucketSlot(false, bucket, (nonSummaryRef >> 24) & 0x7F);
                    places.push_back(s.offset);
                } catch (const FormatError& e) {
                    if (tried.empty())
                        tried = e.what();
                }
            };
            if (nonSummaryRef & 0x80000000u) {
                addBucket(nonSummaryRef & 0x00FFFFFF);
                if ((nonSummaryRef & 0x00FF0000) != 0)
                    addBucket(nonSummaryRef & 0x0000FFFF);
            } else {
                places.push_back(std::uint64_t(nonSummaryRef) * 256);
                if ((nonSummaryRef & 0xFFFF0000) != 0)
                    places.push_back(std::uint64_t(nonSummaryRef & 0xFFFF) * 256);
            }
            for (std::uint64_t at : places) {
                if (at + kNonSummaryHeader > m_source->size())
                    continue;
                const std::vector<std::uint8_t> head =
                    m_source->read(at, kNonSummaryHeader, "non-summary record");
                ByteReader h(head, "non-summary record", at);
                if (h.u16At(0) != kNonSummarySignature)
                    continue;
                const std::uint32_t recordSize = h.u32At(2);
                if (recordSize < kNonSummaryHeader || at + recordSize > m_source->size())
                    continue;
                // Its copy of the note's identity: most of it must agree.
                const Identity copy = identityAt(h);
                const int agree =
                    (copy.id == id || copy.id == note.recordedId) + (copy.unid == note.unid) +
                    (copy.sequence == note.sequence && copy.sequenceTime == note.sequenceTime) +
                    (recordSize == nonSummarySize);
                if (agree < 2)
                    continue;
                if (copy.unid != note.unid)
                    note.warnings.push_back("the non-summary record gives UNID " + copy.unid.hex());
                NonSummary ns;
                ns.record = m_source->read(at, recordSize, "non-summary record");
                ns.offset = at + kNonSummaryHeader;
                ns.start = kNonSummaryHeader;
                ns.totals.push_back(recordSize - kNonSummaryHeader);
                if (nonSummarySize != recordSize && nonSummarySize >= kNonSummaryHeader &&
                    nonSummarySize <= recordSize)
                    ns.totals.push_back(nonSummarySize - kNonSummaryHeader);
                nonSummary = std::move(ns);
                break;
            }
            if (!nonSummary)
                nonSummaryError =
                    FormatError(FailureKind::Damaged, "non-summary record",
                                places.empty() ? note.offset + 56 : places.front(),
                                "no non-summary record of note " + std::to_string(id) +
                                    " where its header " + "points (" + hex(nonSummaryRef) + ")" +
                                    (tried.empty() ? "" : ": " + tried));
        }
    }

    // Which value is where.
    const Bytes noteBytes = Bytes(record).first(size);
    auto nonSummaryBytes = [&]() -> Bytes {
        return nonSummary->record.empty() ? noteBytes : Bytes(nonSummary->record);
    };
    PlacementRegions regions;
    regions.summaryCapacity = summaryEnd - fixed;
    regions.hasNonSummary = nonSummary.has_value() || nonSummaryError.has_value();
    if (nonSummary)
        regions.nonSummaryTotals = nonSummary->totals;
    auto typeAndValue = [&](const Item& item, Bytes v) -> std::pair<std::uint16_t, Bytes> {
        if (!(item.flags & kItemTypeFromName) && v.size() >= 2) {
            const auto word = static_cast<std::uint16_t>(v[0] | v[1] << 8);
            // A few values have no type word although the flag says they do (a profile's text
            // list whose count 1 reads as type 1, rich text). A value that cannot be what the
            // word says but is exactly what the name's type says, where that type fixes the
            // value's size, is taken without a word.
            const bool wordFails = !plausibleValue(word, v.subspan(2)) && word != item.type;
            const bool nameFits = hasSizeRule(item.type) && plausibleValue(item.type, v);
            if (isKnownItemType(word) && !(wordFails && nameFits))
                return {word, v.subspan(2)};
        }
        return {item.type, v};
    };
    auto implausible = [&](const std::vector<bool>& choice, std::size_t) -> std::size_t {
        std::size_t bad = 0, s = fixed, n = nonSummary ? nonSummary->start : 0;
        const Bytes nb = nonSummary ? nonSummaryBytes() : Bytes();
        for (std::size_t i = 0; i < itemCount; ++i) {
            const Item& item = note.items[i];
            std::size_t& at = choice[i] ? n : s;
            const Bytes region = choice[i] ? nb : noteBytes;
            if (at + item.size > region.size()) {
                ++bad;
                continue;
            }
            const auto [type, v] = typeAndValue(item, region.subspan(at, item.size));
            bad += plausibleValue(type, v) ? 0 : 1;
            at += item.size;
        }
        return bad;
    };
    Placement placement;
    if (nonSummary) {
        placement = placeValues(placementItems, regions, implausible);
    } else {
        // No separate values, or their record is missing: the summary values are where the
        // flags put them.
        placement.nonSummary = placementByFlags(placementItems, regions.hasNonSummary);
        std::size_t total = 0;
        for (std::size_t i = 0; i < itemCount; ++i)
            total += placement.nonSummary[i] ? 0 : note.items[i].size;
        placement.consistent = total <= regions.summaryCapacity;
    }
    if (nonSummary && !placement.consistent) {
        // A damaged item count shows as values that cannot add up. Where exactly one other
        // count makes them add up (every descriptor naming a known item), it is taken.
        const std::size_t limit =
            std::min<std::size_t>((summaryEnd - kNoteHeader) / kDescriptor, 4096);
        std::size_t summaryTotal = 0, nonSummaryTotal = 0, found = 0, count = 0;
        for (std::size_t c = 1; c <= limit; ++c) {
            const std::size_t at = kNoteHeader + kDescriptor * (c - 1);
            const std::uint16_t nameIndex = r.u16At(at);
            if (nameIndex >= m_names.size())
                break;
            const PlacementItem p{r.u16At(at + 2), m_names[nameIndex].type, r.u16At(at + 4)};
            (placementByFlags({p}, true)[0] ? nonSummaryTotal : summaryTotal) += p.size;
            const std::size_t end = kNoteHeader + kDescriptor * c;
            if (end > summaryEnd || summaryTotal > summaryEnd - end)
                continue;
            if (std::find(nonSummary->totals.begin(), nonSummary->totals.end(), nonSummaryTotal) !=
                nonSummary->totals.end()) {
                ++found;
                count = c;
            }
        }
        if (found == 1 && count != itemCount) {
            note.warnings.push_back("the note's header gives " + std::to_string(itemCount) +
                                    " items; " + std::to_string(count) +
                                    " descriptors make its values add up");
            describe(count);
            regions.summaryCapacity = summaryEnd - fixed;
            placement = placeValues(placementItems, regions, implausible);
        }
    }
    if (placement.moved)
        note.warnings.push_back(std::to_string(placement.moved) +
                                " value(s) found on the other side of their summary flag" +
                                (placement.ambiguous ? " (another choice fitted as well)" : ""));
    if (nonSummary && !placement.consistent)
        note.warnings.push_back("the stored value sizes do not add up");

    // The values. Where the sizes do not add up, a region's values are kept only up to the
    // first one that does not look like its type: after it, nothing says where values start.
    std::size_t s = fixed, n = nonSummary ? nonSummary->start : 0;
    bool summaryLost = false, nonSummaryLost = false;
    const Bytes nb = nonSummary ? nonSummaryBytes() : Bytes();
    for (std::size_t i = 0; i < itemCount; ++i) {
        Item& item = note.items[i];
        const bool inNonSummary = placement.nonSummary[i];
        item.storedWithSummary = !inNonSummary;
        std::size_t& at = inNonSummary ? n : s;
        bool& lost = inNonSummary ? nonSummaryLost : summaryLost;
        const std::size_t regionEnd = inNonSummary ? nb.size() : summaryEnd;
        // File offset of the region's bytes[0].
        std::uint64_t regionBase = note.offset;
        if (inNonSummary && nonSummary)
            regionBase = nonSummary->offset - nonSummary->start;
        if (item.nameIndex >= m_names.size())
            item.error = FormatError(FailureKind::Damaged, "item descriptor",
                                     note.offset + kNoteHeader + kDescriptor * i,
                                     "item name " + std::to_string(item.nameIndex) +
                                         " is not in the item name table (" +
                                         std::to_string(m_names.size()) + " names)");
        if (inNonSummary && !nonSummary) {
            if (!item.error)
                item.error = *nonSummaryError;
            continue;
        }
        if (at + item.size > regionEnd) {
            if (!item.error)
                item.error = FormatError(FailureKind::Damaged, "item value", regionBase + at,
                                         "value of " + std::to_string(item.size) +
                                             " bytes lies beyond its record");
            lost = true;
            continue;
        }
        const Bytes raw = (inNonSummary ? nb : noteBytes).subspan(at, item.size);
        const std::uint64_t valueOffset = regionBase + at;
        at += item.size;
        const auto [type, v] = typeAndValue(item, raw);
        if (!placement.consistent && !lost && !plausibleValue(type, v))
            lost = true;
        if (lost && !placement.consistent) {
            if (!item.error)
                item.error = FormatError(FailureKind::Damaged, "item value", valueOffset,
                                         "cannot be located: the note's value sizes do not add up");
            continue;
        }
        if (item.error)
            continue;
        item.typeWordStored = v.size() != raw.size();
        item.type = type;
        item.valueOffset = valueOffset + (raw.size() - v.size());
        item.value.assign(v.begin(), v.end());
    }
    return note;
}

} // namespace tarvik::nsf
