#pragma once

#include "nsf/ByteReader.h"
#include "nsf/TimeDate.h"

#include <cstdint>
#include <string>

namespace tarvik::nsf {

// The head of every object item (type 3): what kind of object it names and the object's ID,
// which the database's record relocation map turns into the object's place in the file.
struct ObjectRef {
    // Object kinds, in the low bits of `type`; the top bits are flags.
    static constexpr std::uint16_t kFile = 0x0000;     // a file attachment ($FILE)
    static constexpr std::uint16_t kLeftToDo = 0x0003; // an agent's documents still to process
    static constexpr std::uint16_t kAssistRunData = 0x0008;
    static constexpr std::uint16_t kFlagPublic = 0x2000; // flags that may be or-ed into `type`
    static constexpr std::uint16_t kFlagPreserve = 0x4000;
    static constexpr std::uint16_t kFlagNoCopy = 0x8000;
    static constexpr std::uint16_t kFlagMask = 0xE000;

    std::uint16_t type = 0;
    std::uint32_t id = 0;

    std::uint16_t kind() const noexcept { return type & ~kFlagMask; }
};

// A file attachment's item ($FILE): the object reference, then how the file was kept.
struct FileObject {
    // compression
    static constexpr std::uint16_t kCompressNone = 0;
    static constexpr std::uint16_t kCompressHuffman = 1;
    static constexpr std::uint16_t kCompressLz1 = 2;
    static constexpr std::uint16_t kRecompressHuffman = 3; // Huffman although LZ1 was possible
    // flags
    static constexpr std::uint16_t kFlagSigned = 0x0001;
    static constexpr std::uint16_t kFlagInDocument = 0x0002;
    static constexpr std::uint16_t kFlagMime = 0x0004;
    static constexpr std::uint16_t kFlagAutoCompressed = 0x0080;

    ObjectRef object;
    std::uint16_t host = 0;        // the file system it came from (text line ends, OLE, ...)
    std::uint16_t compression = 0; // as the constants above
    std::uint16_t attributes = 0;  // the file's own attributes (read-only, hidden, ...)
    std::uint16_t flags = 0;
    std::uint32_t size = 0; // the file's size before compression
    TimeDate created;
    TimeDate modified;
    std::string name; // UTF-8; the file's name as attached (a relative path at most)
};

// value: the item's value without its leading type word. Throw FormatError on bad bytes.
ObjectRef decodeObjectRef(Bytes value);
// Throws Unsupported when the object is not a file attachment.
FileObject decodeFileObject(Bytes value);

} // namespace tarvik::nsf
