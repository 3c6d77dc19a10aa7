#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvik::nsf {

// One compound-text record of a rich-text item. Records start with a signature: a byte
// signature (type byte, one-byte length), a word signature (type byte, 0xFF, two-byte
// length) or a long signature (type byte, 0x00, four-byte length); the length counts the
// signature too, and a record of odd length is followed by one byte of padding.
struct CdRecord {
    enum class Header : std::uint8_t { Byte = 2, Word = 4, Long = 6 };

    std::uint8_t type = 0;
    Header header = Header::Byte;
    Bytes bytes;            // the whole record, signature included
    std::size_t offset = 0; // where it starts in the item's value

    Bytes body() const { return bytes.subspan(std::size_t(header)); }
    bool is(std::uint8_t t, Header h) const { return type == t && header == h; }
};

// Walks the records of one item's value in order. A record whose length is shorter than its
// signature or runs past the value throws FormatError (Damaged).
class CdRecordReader {
public:
    explicit CdRecordReader(Bytes value) : m_value(value) {}
    // The next record, or false at the end of the value.
    bool next(CdRecord& record);

private:
    Bytes m_value;
    std::size_t m_pos = 0;
};

// Records the plain-text rendering reads; every other record is passed over by its length.
namespace cd {
inline constexpr std::uint8_t kParagraph = 0x81;      // byte: a new paragraph
inline constexpr std::uint8_t kText = 0x85;           // word: font (4 bytes), then LMBCS text
inline constexpr std::uint8_t kTableBegin = 0xA3;     // byte
inline constexpr std::uint8_t kTableCell = 0xA4;      // byte: row, column, ...
inline constexpr std::uint8_t kTableEnd = 0xA5;       // byte
inline constexpr std::uint8_t kHotspotBegin = 0xA9;   // word: type, flags, data length, data
inline constexpr std::uint8_t kV4HotspotBegin = 0xAD; // word, the same layout
inline constexpr std::uint16_t kHotspotFile = 4;      // hotspot type of an attached file
} // namespace cd

// A file attachment that the rich text shows as an icon.
struct RichTextFile {
    std::string internalName; // the name of its $FILE item's file object
    std::string originalName; // the name the user attached it under
};

struct RichTextContent {
    std::string text; // UTF-8
    std::vector<RichTextFile> files;
    // Damage met on the way (FormatError, Damaged). A record whose length does not fit ends
    // the reading of its item: what came before it is kept, the next item is read. A record
    // that fits but whose content is bad (a text run shorter than its font, a hotspot whose
    // data runs past it) is passed over alone.
    std::vector<FormatError> problems;
};

// The plain text of a rich-text field: text runs in order, a line break between paragraphs,
// table cells in reading order (row by row; cells of a row separated by a tab, rows by a line
// break), and the attached files shown in it. A field longer than one item is stored as
// several items of the same name: pass them all, in their stored order. Never throws for
// damage: see `problems`.
RichTextContent richTextContent(std::span<const Bytes> items);
inline RichTextContent richTextContent(Bytes item)
{
    return richTextContent(std::span<const Bytes>(&item, 1));
}

} // namespace tarvik::nsf
