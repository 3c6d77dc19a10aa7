#pragma once

#include "nsf/ByteSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvik::nsf {

// Where an object's record lies and what its header says.
struct ObjectInfo {
    std::uint32_t id = 0;
    std::uint64_t offset = 0;     // the record's file offset
    std::uint16_t signature = 0;  // 0x0007, or 0x001B in files of structure 48 and later
    std::uint32_t recordSize = 0; // header included
    std::uint32_t headerSize = 0;
    // The header's words at +6 (8 for view indexes, 1 for attachments and some others) and
    // +10 (0x81 for every attachment seen); their full meaning is not known.
    std::uint16_t objectType = 0;
    std::uint16_t objectFlags = 0;
    // In the longer header: the name the object's content is known by (40 hex digits of a
    // digest, then 8 of its size), as a shared attachment store names its files.
    std::string contentName;

    std::uint64_t dataOffset() const noexcept { return offset + headerSize; }
    std::uint32_t dataSize() const noexcept { return recordSize - headerSize; }
};

// The bytes of one object, read piece by piece.
class ObjectStream {
public:
    virtual ~ObjectStream() = default;
    // Fills up to out.size() bytes and returns how many; 0 only at the end. Throws FormatError
    // when the bytes cannot be produced, and at the end when they do not check out (size or
    // checksum).
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
    // Bytes delivered so far.
    std::uint64_t produced() const noexcept { return m_produced; }

protected:
    std::uint64_t m_produced = 0;
};

// The object's stored bytes as they are.
std::unique_ptr<ObjectStream> openStoredObject(std::shared_ptr<const ByteSource> source,
                                               const ObjectInfo& info,
                                               std::optional<std::uint64_t> expectedSize);
// The Huffman scheme of compressed attachments: a checksum (the sum of the decoded bytes), the
// code tree, then the code bits. Checks the tree when opened, the size and checksum at the end.
std::unique_ptr<ObjectStream> openHuffmanObject(std::shared_ptr<const ByteSource> source,
                                                const ObjectInfo& info,
                                                std::optional<std::uint64_t> expectedSize);

// Reads the whole stream into memory; for small objects (view indexes, folder tables) only.
// Throws FormatError (Unsupported) when it would exceed `limit` bytes.
std::vector<std::uint8_t> readAll(ObjectStream& stream, std::size_t limit);

} // namespace tarvik::nsf
