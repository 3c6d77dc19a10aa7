#include "nsf/ValuePlacement.h"

#include "nsf/Note.h"

namespace tarvik::nsf {

namespace {

// Two flips already mean 1 + n + n(n-1)/2 layouts to try; beyond this many items only one.
constexpr std::size_t kMaxItemsForPairs = 400;
// The most layouts that add up that are weighed against each other (the samples have at most 2).
constexpr std::size_t kMaxChoices = 64;

std::uint16_t word(Bytes b, std::size_t at)
{
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t dword(Bytes b, std::size_t at)
{
    return std::uint32_t(word(b, at)) | std::uint32_t(word(b, at + 2)) << 16;
}

bool plausibleRecords(Bytes v)
{
    std::size_t p = 0;
    while (p < v.size()) {
        if (v.size() - p < 2)
            return false;
        const std::uint8_t length = v[p + 1];
        std::size_t size;
        if (length == 0) { // long signature: four-byte size
            if (v.size() - p < 6)
                return false;
            size = dword(v, p + 2);
        } else if (length == 0xFF) { // word signature: two-byte size
            if (v.size() - p < 4)
                return false;
            size = word(v, p + 2);
        } else {
            size = length;
        }
        if (size < 2 || size > v.size() - p)
            return false;
        p += size + (size & 1);
    }
    return true;
}

} // namespace

bool plausibleValue(std::uint16_t type, Bytes v)
{
    const std::size_t n = v.size();
    switch (type) {
    case kTypeTextList: {
        if (n < 2)
            return false;
        const std::size_t count = word(v, 0);
        if (2 + 2 * count > n)
            return false;
        std::size_t total = 2 + 2 * count;
        for (std::size_t i = 0; i < count; ++i)
            total += word(v, 2 + 2 * i);
        return total == n;
    }
    case kTypeNumber:
    case kTypeTime:
        return n == 8;
    case kTypeNumberRange:
    case kTypeTimeRange: {
        if (n < 4)
            return false;
        // a RANGE header (list and range counts), then 8-byte values and 16-byte pairs
        return 4 + std::size_t(word(v, 0)) * 8 + std::size_t(word(v, 2)) * 16 == n;
    }
    case kTypeNoteRefList:
        return n >= 2 && 2 + std::size_t(word(v, 0)) * 16 == n;
    case kTypeComposite:
        return plausibleRecords(v);
    default:
        return true;
    }
}

bool hasSizeRule(std::uint16_t type) noexcept
{
    switch (type) {
    case kTypeTextList:
    case kTypeNumber:
    case kTypeTime:
    case kTypeNumberRange:
    case kTypeTimeRange:
    case kTypeNoteRefList:
    case kTypeComposite:
        return true;
    default:
        return false;
    }
}

std::vector<bool> placementByFlags(const std::vector<PlacementItem>& items, bool hasNonSummary)
{
    std::vector<bool> out(items.size(), false);
    if (!hasNonSummary)
        return out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const PlacementItem& it = items[i];
        out[i] = !(it.flags & kItemSummary) || (it.flags & kItemPlaceholder) ||
                 it.nameType == kTypeMimePart || it.nameType == kTypeSignature;
    }
    return out;
}

Placement placeValues(const std::vector<PlacementItem>& items, const PlacementRegions& regions,
                      const PlausibilityCheck& implausible)
{
    Placement result;
    result.nonSummary = placementByFlags(items, regions.hasNonSummary);
    std::size_t total = 0, nonSummary = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        total += items[i].size;
        if (result.nonSummary[i])
            nonSummary += items[i].size;
    }
    if (!regions.hasNonSummary) {
        result.consistent = total <= regions.summaryCapacity;
        return result;
    }
    auto fits = [&](std::size_t non, std::size_t target) {
        return non == target && total - non <= regions.summaryCapacity;
    };
    for (std::size_t target : regions.nonSummaryTotals)
        if (fits(nonSummary, target)) {
            result.consistent = true;
            result.nonSummaryTotal = target;
            return result;
        }

    // Move one item, then two, to the other side until the sizes add up; of the choices that
    // do, keep the one with the fewest implausible values. Where very many choices add up (a
    // note of many items of one size), none is better founded than another, and weighing them
    // all would cost the square of the note's items: the flags' rule stands.
    struct Flip {
        std::size_t first;
        std::size_t second; // n when only one item moves
        std::size_t target;
    };
    std::vector<Flip> flips;
    const std::size_t n = items.size();
    auto delta = [&](std::size_t i) -> long long {
        return result.nonSummary[i] ? -static_cast<long long>(items[i].size) : items[i].size;
    };
    for (std::size_t target : regions.nonSummaryTotals)
        for (std::size_t i = 0; i < n && flips.size() <= kMaxChoices; ++i)
            if (items[i].size && fits(static_cast<std::size_t>(nonSummary + delta(i)), target))
                flips.push_back({i, n, target});
    if (flips.empty() && n <= kMaxItemsForPairs) {
        for (std::size_t target : regions.nonSummaryTotals)
            for (std::size_t i = 0; i < n && flips.size() <= kMaxChoices; ++i)
                for (std::size_t j = i + 1; j < n && flips.size() <= kMaxChoices; ++j)
                    if (items[i].size && items[j].size &&
                        fits(static_cast<std::size_t>(nonSummary + delta(i) + delta(j)), target))
                        flips.push_back({i, j, target});
    }
    if (flips.empty())
        return result; // nothing adds up: the flags' rule, not consistent
    if (flips.size() > kMaxChoices) {
        result.ambiguous = true;
        return result;
    }
    struct Candidate {
        std::vector<bool> choice;
        std::size_t target;
        std::size_t score;
        std::size_t moved;
    };
    std::vector<Candidate> found;
    for (const Flip& flip : flips) {
        std::vector<bool> choice = result.nonSummary;
        choice[flip.first] = !choice[flip.first];
        if (flip.second < n)
            choice[flip.second] = !choice[flip.second];
        const std::size_t score = implausible(choice, flip.target);
        found.push_back({std::move(choice), flip.target, score, flip.second < n ? 2u : 1u});
    }
    std::size_t best = 0;
    for (std::size_t k = 1; k < found.size(); ++k)
        if (found[k].score < found[best].score)
            best = k;
    for (std::size_t k = 0; k < found.size(); ++k)
        if (k != best && found[k].score == found[best].score &&
            found[k].choice != found[best].choice)
            result.ambiguous = true;
    result.nonSummary = found[best].choice;
    result.nonSummaryTotal = found[best].target;
    result.moved = found[best].moved;
    result.consistent = true;
    return result;
}

} // namespace tarvik::nsf
