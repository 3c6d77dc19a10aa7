#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace tarvik::nsf {

// Expands the "CX" compression of the superblock and the bucket descriptor block: an LZ77
// scheme whose bits are read least significant first, starting at bit 3 of the first byte.
// Produces exactly `expandedSize` bytes or throws FormatError (Damaged) naming `structure` and
// the file offset (`base` is the offset of `stream`'s first byte): a stream that ends early, a
// back reference beyond what was produced, an impossible code. Never produces more than
// `expandedSize`, which the caller has checked against what the structure may hold.
std::vector<std::uint8_t> expandCx(Bytes stream, std::size_t expandedSize,
                                   std::string_view structure, std::uint64_t base);

} // namespace tarvik::nsf
