#pragma once

#include "nsf/ByteSource.h"
#include "nsf/Note.h"
#include "nsf/NoteIdList.h"
#include "nsf/ObjectStream.h"
#include "nsf/TimeDate.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::nsf {

// What the database header says about the database.
struct DatabaseInfo {
    std::uint32_t ods = 0; // on-disk structure version (41 R5, 43 R6-8, 48, 51 8.5, 52, 53, ...)
    TimeDate databaseId;
    TimeDate replicaId;
    std::uint16_t replicaFlags = 0;
    // The information buffer as stored, up to its terminating NUL (at most 128 bytes, LMBCS).
    std::vector<std::uint8_t> infoBuffer;
    // From the information buffer, as UTF-8: its first line, the categories line, the
    // template it is ("#1" line) and the template it inherits its design from ("#2" line).
    std::string title;
    std::string categories;
    std::string templateName;
    std::string inheritsFrom;
    // Note IDs of the special notes (ACL, design collection, icon, default view, ...), by slot.
    std::array<NoteId, 32> specialNoteIds{};
};

// The structures behind the notes, for inspection and for the view and folder readers.
struct ContainerInfo {
    std::uint64_t fileSize = 0;
    std::uint64_t superblockOffset = 0;
    std::uint32_t superblockWriteCount = 0;
    std::uint64_t bucketDescriptorOffset = 0;
    std::uint32_t bucketDescriptorWriteCount = 0;
    std::size_t summaryBuckets = 0;
    std::size_t nonSummaryBuckets = 0;
    std::size_t rrvBuckets = 0;
    std::size_t itemNames = 0;
    // Parts of the map that could not be read (their notes are not listed); the rest of the
    // file is still read.
    std::vector<FormatError> problems;
};

// One entry of the record relocation map: where the record of a note or object ID lies.
struct RrvEntry {
    std::uint32_t id = 0;
    std::uint32_t first = 0;  // a bucket number (top bit set) or a file position / 256
    std::uint32_t second = 0; // the slot number in its low 11 bits, when in a bucket
    bool nonData = false;     // from a bucket of non-data (design) IDs

    bool inBucket() const noexcept { return (first & 0x80000000u) != 0; }
};

struct ItemName {
    std::string name; // UTF-8
    std::uint16_t type = 0;
};

// A Notes database file (.nsf), opened read-only. The headers, the superblock, the bucket
// descriptor block and the record relocation map are read when it opens; notes and objects
// are read on demand, piece by piece, so that memory does not grow with the file.
//
// Every structure is checked against the bytes; what cannot be read throws FormatError naming
// the structure and its file offset. A note that cannot be read does not affect the others.
// Not safe for concurrent use from several threads (one Database per thread).
class Database {
public:
    // Throws FormatError when the file cannot be opened or is not a Notes database.
    static std::unique_ptr<Database> open(const std::string& path);
    explicit Database(std::shared_ptr<const ByteSource> source);

    const DatabaseInfo& info() const noexcept { return m_info; }
    // The file's bytes, for readers of structures inside it (the view index pages).
    const ByteSource& source() const noexcept { return *m_source; }
    const ContainerInfo& container() const noexcept { return m_container; }

    // Every note ID of the file in ascending order, design notes included (object IDs, which
    // share the map, are left out).
    const std::vector<NoteId>& noteIds() const noexcept { return m_noteIds; }
    // The note's header and all its items. Throws FormatError when the note itself cannot be
    // read (its record is missing or damaged); a value that cannot be located gives an error
    // on that item only.
    Note readNote(NoteId id) const;

    // The object (attachment, view index, ...) with that ID, as a stream of its bytes. How the
    // bytes were compressed is not in the object: give the $FILE item's compression (0 none,
    // 1 or 3 Huffman, 2 LZ1) and, where known, the size it records, checked at the end.
    // The stream reads through this database's file: it must not outlive the Database.
    std::unique_ptr<ObjectStream> openObject(std::uint32_t objectId, std::uint16_t compression = 0,
                                             std::optional<std::uint64_t> expectedSize = {}) const;
    ObjectInfo objectInfo(std::uint32_t objectId) const;

    // The record relocation map (note and object IDs to places), ascending by ID.
    const std::vector<RrvEntry>& relocationMap() const noexcept { return m_rrv; }
    const RrvEntry* findRrv(std::uint32_t id) const noexcept;
    const std::vector<ItemName>& itemNames() const noexcept { return m_names; }

    // The superblock's list of the data notes (documents) of the file.
    NoteIdList dataNoteIds() const;
    // The superblock's modified-note log and folder directory object, as stored.
    const std::vector<std::uint8_t>& modifiedNoteLog() const noexcept { return m_modifiedLog; }
    const std::vector<std::uint8_t>& folderDirectory() const noexcept { return m_folderDirectory; }
    // The UNIDs of the folders the folder directory object lists.
    std::vector<Unid> folderDirectoryUnids() const;

private:
    struct Slot {
        std::uint64_t offset = 0;
        std::uint32_t size = 0;
    };

    void readHeader();
    void readSuperblock();
    void readBucketDescriptors();
    void readRelocationMap();
    void collectNoteIds();
    Slot bucketSlot(bool summary, std::uint32_t bucket, std::uint32_t slot) const;

    std::shared_ptr<const ByteSource> m_source;
    DatabaseInfo m_info;
    ContainerInfo m_container;
    std::uint32_t m_rrvBucketSize = 4096;
    std::vector<std::uint32_t> m_summaryBuckets;    // file positions / 256
    std::vector<std::uint32_t> m_nonSummaryBuckets; // file positions / 256
    std::uint32_t m_liveRrvPosition = 0;            // the bucket the superblock's copy replaces
    std::vector<std::uint8_t> m_liveRrv;
    std::vector<std::uint8_t> m_noteIdTable;
    std::uint64_t m_noteIdTableOffset = 0;
    std::vector<std::uint8_t> m_modifiedLog;
    std::vector<std::uint8_t> m_folderDirectory;
    struct RrvBucketRef {
        std::uint32_t position = 0; // with the non-data bit cleared
        std::uint32_t firstId = 0;
        bool nonData = false;
    };
    std::vector<RrvBucketRef> m_rrvBuckets;
    std::vector<ItemName> m_names;
    std::vector<RrvEntry> m_rrv;
    std::vector<NoteId> m_noteIds;
};

} // namespace tarvik::nsf
