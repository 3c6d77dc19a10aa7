#pragma once

#include "nsf/ByteReader.h"
#include "nsf/TimeDate.h"

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::nsf {

// Item type numbers as Notes numbers them: the class in the high byte, the type in the low.
enum ItemType : std::uint16_t {
    kTypeInvalid = 0,
    kTypeComposite = 1, // rich text
    kTypeCollation = 2,
    kTypeObject = 3,
    kTypeNoteRefList = 4, // $REF: UNIDs of parent documents
    kTypeViewFormat = 5,
    kTypeIcon = 6,
    kTypeNoteLinkList = 7,
    kTypeSignature = 8,
    kTypeSeal = 9,
    kTypeSealData = 10,
    kTypeSealList = 11,
    kTypeHighlights = 12,
    kTypeUserData = 14,
    kTypeQuery = 15,
    kTypeAction = 16,
    kTypeAssistantInfo = 17,
    kTypeLsObject = 20,
    kTypeHtml = 21,
    kTypeSchedList = 22,
    kTypeCalendarFormat = 24,
    kTypeMimePart = 25,
    kTypeError = 0x0100,
    kTypeUnavailable = 0x0200,
    kTypeNumber = 0x0300,
    kTypeNumberRange = 0x0301,
    kTypeTime = 0x0400,
    kTypeTimeRange = 0x0401,
    kTypeText = 0x0500,
    kTypeTextList = 0x0501,
    kTypeRfc822Text = 0x0502,
    kTypeFormula = 0x0600,
    kTypeUserId = 0x0700,
};

// Item flags as stored (the same bits the C API names ITEM_xxx).
enum ItemFlag : std::uint16_t {
    kItemSigned = 0x0001,
    kItemSealed = 0x0002, // encryption enabled; encrypted when the note carries a seal
    kItemSummary = 0x0004,
    kItemReadWriters = 0x0020, // authors
    kItemNames = 0x0040,
    kItemPlaceholder = 0x0100,
    kItemProtected = 0x0200,
    kItemReaders = 0x0400,
};

// Each decoder takes an item's value bytes without the leading type word and throws
// FormatError (Damaged) when the bytes cannot be what the type says.

// Text (1280). Notes keeps a line break inside a text value as NUL; it comes out as '\n'.
std::string decodeText(Bytes value);

// Text list (1281): a count, one length per entry, then the entries' text.
std::vector<std::string> decodeTextList(Bytes value);

// Number (768): an IEEE double.
double decodeNumber(Bytes value);

// Number list or range (769) and time list or range (1025): single values first, then
// (lower, upper) pairs.
template <typename T>
struct ValueRange {
    std::vector<T> values;
    std::vector<std::pair<T, T>> ranges;
    // How many more pairs the header announced than the bytes hold. Notes has been seen to
    // write a pair count larger than the pairs it stored (a router's RouteTimes); the pairs
    // that are there are read, and this says the rest never was.
    std::size_t missingRanges = 0;
};
using NumberRange = ValueRange<double>;
using TimeRange = ValueRange<TimeDate>;

NumberRange decodeNumberRange(Bytes value);

// Time (1024).
TimeDate decodeTime(Bytes value);
TimeRange decodeTimeRange(Bytes value);

// A note's universal ID: 16 bytes, two 8-byte halves (the file part and the note part).
struct Unid {
    std::array<std::uint8_t, 16> bytes{};

    // 32 upper-case hex digits: each half as a little-endian 64-bit number, high digit first.
    std::string hex() const;
    friend bool operator==(const Unid&, const Unid&) = default;
};
Unid readUnid(ByteReader& reader);

// Note-reference list (4, $REF): a count, then UNIDs.
std::vector<Unid> decodeNoteRefList(Bytes value);

// A number as the dump writes it: the shortest text that reads back as the same double,
// without exponent for ordinary magnitudes ("836", "0.000987", "-7"). NaN and infinities,
// which JSON cannot carry, come out as null.
std::string formatNumber(double value);

// A range as the dump writes it: "lower/upper".
std::string formatTimeRangePair(const std::pair<TimeDate, TimeDate>& pair);

} // namespace tarvik::nsf
