#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace tarvik::nsf {

// Which of a note's values lie with the summary values (after the item descriptors, in the
// note record) and which with the non-summary values (in the non-summary record, or the
// note's own tail). Both kinds are stored in item order, so the choice for each item fixes
// every value's place.
//
// The item flags say it (summary flag set: summary), with exceptions found in real files: MIME
// parts, signatures and placeholder items go with the non-summary values whatever their
// flags, and a note without non-summary values keeps everything in its record. Where the sizes
// do not add up that way (some files carry flags changed after the values were written), the
// nearest choice that does add up is taken: one or two items moved, the values of each choice
// checked for plausibility, the most plausible kept.

struct PlacementItem {
    std::uint16_t flags = 0;
    std::uint16_t nameType = 0; // the type the item name table gives
    std::uint16_t size = 0;
};

struct PlacementRegions {
    std::size_t summaryCapacity = 0; // bytes available to the summary values
    bool hasNonSummary = false;
    // The exact sizes the non-summary values may add up to (the record's and the note's word
    // for it; they normally agree).
    std::vector<std::size_t> nonSummaryTotals;
};

struct Placement {
    std::vector<bool> nonSummary; // per item
    bool consistent = false;      // the sizes add up
    std::size_t nonSummaryTotal = 0;
    std::size_t moved = 0; // items placed against their flags' rule
    // Another choice was as plausible; or so many added up that none was taken (consistent is
    // false then).
    bool ambiguous = false;
};

// `implausible` counts the values that do not look like their type under a given choice.
using PlausibilityCheck =
    std::function<std::size_t(const std::vector<bool>& nonSummary, std::size_t nonSummaryTotal)>;

// The flags' rule alone.
std::vector<bool> placementByFlags(const std::vector<PlacementItem>& items, bool hasNonSummary);

Placement placeValues(const std::vector<PlacementItem>& items, const PlacementRegions& regions,
                      const PlausibilityCheck& implausible);

// Whether `value` (without a type word) can be a value of `type`: text lists, numbers, times,
// ranges and note-reference lists must have the size their counts give; rich text must be a
// chain of records. Other types pass.
bool plausibleValue(std::uint16_t type, Bytes value);
// Whether plausibleValue checks anything for `type` (its contents fix its size).
bool hasSizeRule(std::uint16_t type) noexcept;

} // namespace tarvik::nsf
