#pragma once

#include "nsf/FormatError.h"
#include "nsf/TimeDate.h"
#include "nsf/Values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::nsf {

using NoteId = std::uint32_t;

// Note classes (the low bits; kDefault may be or-ed in for the default design note of a kind).
namespace noteclass {
constexpr std::uint16_t kDocument = 0x0001;
constexpr std::uint16_t kInfo = 0x0002;
constexpr std::uint16_t kForm = 0x0004;
constexpr std::uint16_t kView = 0x0008;
constexpr std::uint16_t kIcon = 0x0010;
constexpr std::uint16_t kDesign = 0x0020;
constexpr std::uint16_t kAcl = 0x0040;
constexpr std::uint16_t kHelpIndex = 0x0080;
constexpr std::uint16_t kHelp = 0x0100;
constexpr std::uint16_t kFilter = 0x0200;
constexpr std::uint16_t kField = 0x0400;
constexpr std::uint16_t kReplicationFormula = 0x0800;
constexpr std::uint16_t kPrivate = 0x1000;
constexpr std::uint16_t kDefault = 0x8000;
} // namespace noteclass

// Item flag 0x0008 (not among the C API's ITEM_xxx): the value has no type word of its own,
// the item name table's type is the item's.
constexpr std::uint16_t kItemTypeFromName = 0x0008;
// Whether `type` is one Notes defines (a stored type word is checked against this).
bool isKnownItemType(std::uint16_t type) noexcept;

// One item of a note, in stored order.
struct Item {
    std::uint16_t nameIndex = 0;
    std::string name; // UTF-8
    // The item's type: the value's own type word where it has one, else the name table's.
    std::uint16_t type = 0;
    std::uint16_t flags = 0;
    // The value's length as the descriptor states it (a stored type word included).
    std::uint16_t size = 0;
    // The descriptor's last word (the item's sequence in its high byte).
    std::uint16_t descriptorWord = 0;
    bool typeWordStored = false;
    // Where the value was found: with the summary values in the note record, or with the
    // non-summary values.
    bool storedWithSummary = true;
    std::uint64_t valueOffset = 0;   // file offset of value[0]
    std::vector<std::uint8_t> value; // the value bytes, without a stored type word
    // Why the value could not be read; value is empty then.
    std::optional<FormatError> error;

    bool ok() const noexcept { return !error; }
    bool hasFlag(std::uint16_t flag) const noexcept { return (flags & flag) != 0; }
};

// One note: its header and every item in stored order.
struct Note {
    NoteId id = 0;         // as the database's map knows it
    NoteId recordedId = 0; // as the note's own header states it (normally the same)
    Unid unid;
    std::uint32_t sequence = 0;
    TimeDate sequenceTime;
    std::uint16_t flags = 0;
    std::uint16_t noteClass = 0;
    TimeDate modified;
    TimeDate accessed;
    TimeDate addedToFile;
    NoteId parentId = 0;
    std::uint32_t folderReferenceCount = 0; // not understood yet; as stored
    // A record of identity only, without items (taken for a deletion stub).
    bool stub = false;
    std::uint64_t offset = 0; // file offset of the note record
    std::uint32_t recordSize = 0;
    std::vector<Item> items;
    // Oddities met while reading that did not stop it (an ID that differs between copies,
    // values found elsewhere than their flags say, ...).
    std::vector<std::string> warnings;

    // The first item of that name (ASCII case-insensitive, as Notes compares item names).
    const Item* find(std::string_view name) const;
    // All items of that name, in stored order (rich text and MIME parts span several).
    std::vector<const Item*> findAll(std::string_view name) const;
    std::size_t failedItems() const;
};

} // namespace tarvik::nsf
