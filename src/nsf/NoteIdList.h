#pragma once

#include "nsf/ByteReader.h"
#include "nsf/TimeDate.h"

#include <cstdint>
#include <vector>

namespace tarvik::nsf {

// A packed list of note IDs, the form the superblock keeps its list of documents in, and that
// ends a view's $Collection object and fills a folder's $FolderIDTable object:
//   DWORD 4, WORD number of IDs, WORD number of runs, WORD (1 in every file seen), TIMEDATE,
//   then one 5-byte run per run: BYTE extra, DWORD first, meaning the IDs first, first + 4,
//   ..., first + 4 * extra.
struct NoteIdList {
    TimeDate time;
    std::vector<std::uint32_t> ids; // in stored order
};

// The list at the start of `bytes` (anything after its runs is left alone); `base` is the file
// offset of bytes[0], for messages. Throws FormatError (Damaged) when the header is not one,
// the runs do not fit, or their IDs do not add up to the stated number.
NoteIdList decodeNoteIdList(Bytes bytes, std::uint64_t base = 0);
// The number of bytes the list at the start of `bytes` occupies (header and runs).
std::size_t noteIdListSize(Bytes bytes, std::uint64_t base = 0);

} // namespace tarvik::nsf
