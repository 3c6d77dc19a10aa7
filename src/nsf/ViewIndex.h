#pragma once

#include "nsf/ByteSource.h"
#include "nsf/FormatError.h"
#include "nsf/Note.h"
#include "nsf/NoteIdList.h"
#include "nsf/TimeDate.h"
#include "nsf/Values.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::nsf {

// A view's stored index, as Notes keeps it in two objects of the view note:
//
// - $Collection: a header (starting CC CC) with the view's column formulas and collations, the
//   time the index was last brought up to date, three references into the index pages (the
//   third is the tree of the view's entries) and, at its end, the note-ID table of the
//   documents the index holds.
// - $ViewContainer: the list of the index pages in the file. Each page (8 KiB) has a 32-byte
//   header and either a slot table running backwards from its end or one node filling it.
//
// The entries form a tree: a collection record (signature byte BB) names the node that holds
// the entries of one level; a node is a B-tree node whose descriptors give, in view order, each
// entry's place in the node and, for an entry with children (a category's documents, a
// document's responses), the collection record of its children. Inner B-tree nodes give each
// key's left subtree instead, and their last descriptor the rightmost subtree.

// A reference inside the index pages: bytes 0-2 the page number, byte 3 the slot (from 0).
struct IndexRef {
    std::uint32_t page = 0;
    std::uint16_t slot = 0; // from 1, as in the page's slot table

    friend auto operator<=>(const IndexRef&, const IndexRef&) = default;
};
// Nothing for the "no reference" value FF FF FF FF.
std::optional<IndexRef> decodeIndexRef(Bytes four);

// What the reader takes from a view's $Collection object.
struct CollectionHeader {
    std::uint8_t version = 0; // byte 2: 0x5C to 0x72 seen
    std::uint8_t variant = 0; // byte 3: 3 in files of Notes 8.5 and later that use longer records
    std::optional<IndexRef> entryTree;
    TimeDate updated;
    // The note-ID table that ends the object, where one is found.
    std::optional<NoteIdList> members;
};

// Throws FormatError (Damaged) when the bytes do not start as a $Collection does or are too
// short for its fixed part; `base` is the file offset of object[0], for messages.
CollectionHeader decodeCollectionHeader(Bytes object, std::uint64_t base = 0);

// One entry of a view index, in view order.
struct IndexEntry {
    // A note ID; category and other non-document rows have the top bit set.
    std::uint32_t id = 0;
    std::uint16_t depth = 0; // 0 for the top level, one more for each parent entry
    // The UNID the entry stores (documents in the layouts that keep it in the entry).
    std::optional<Unid> unid;

    bool isDocument() const noexcept { return (id & 0x80000000u) == 0; }
};

// The entries of a view index and what could not be read of it.
struct IndexTree {
    std::string layout; // "Notes 5", "Notes 6", "Notes 8.5": the record and node layout found
    std::vector<IndexEntry> entries;
    // A part of the tree that could not be read (damage: a reference to a page or slot that
    // does not exist, a node or entry that does not fit, a loop, ...); the rest is read.
    std::vector<FormatError> problems;
    // Oddities that cost no entry as far as the counts stored in the tree show (a reference
    // where the layout has none, a damaged "no reference" value in a leaf's last descriptor).
    std::vector<FormatError> warnings;
    // Whether every collection record's count of entries matched the entries read under it.
    bool countsAgree = true;
};

// Reads the entry tree of a view index. `container` is the $ViewContainer object's bytes
// (`containerOffset` its file offset, for messages), `root` the header's entry tree reference.
// Pages are read from `file` as they are needed, one slot at a time, so memory grows with the
// number of entries only. Throws FormatError when the container or the root record cannot be
// read at all; damage further down is reported in `problems` and the rest of the tree is kept.
// Every record and node is visited at most once and nesting is bounded, so references that
// loop or run deep end with a problem, never with a hang.
IndexTree readIndexTree(const ByteSource& file, Bytes container, std::uint64_t containerOffset,
                        IndexRef root);

} // namespace tarvik::nsf
