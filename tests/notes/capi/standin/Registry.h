#pragma once

// The stand-in's process state: whether the runtime is initialised, the handles it gave out
// and what each stands for, and the record of misuse.

#include "NotesCApi.h"
#include "Source.h"

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarvik::standin {

struct MemoryObject {
    std::vector<std::uint8_t> bytes;
    int locks = 0;
    NOTEHANDLE owner = NULLHANDLE; // the note whose memory it is; NULLHANDLE: the caller's
    bool itemTable = false;        // a note's item headers (not to be locked)
};

struct DatabaseObject {
    std::unique_ptr<Source> source;
    std::string path;
};

struct NoteObject {
    DBHANDLE db = NULLHANDLE;
    SourceNote note;
    DHANDLE itemPool = NULLHANDLE;   // item BLOCKIDs: this pool, block = index + 1
    std::vector<DHANDLE> valuePools; // value BLOCKIDs: these pools, block 0
    HCOLLECTION ownedBy = 0;         // a view note the collection keeps (shared)
    // MIME parts as stored, when the note was opened without OPEN_RAW_MIME_PART and shows
    // them converted to rich text; the MIME stream reads these.
    std::vector<SourceItem> rawMime;
};

struct CollectionEntry {
    NOTEID id = 0;
    std::uint16_t noteClass = 0;
    std::array<std::uint8_t, 16> unid{};
    std::vector<std::uint8_t> summary; // ITEM_TABLE form, empty when the entry has none
};

struct CollectionObject {
    DBHANDLE db = NULLHANDLE;
    std::vector<CollectionEntry> entries;
    NOTEHANDLE sharedViewNote = NULLHANDLE;
};

struct MimeStreamObject {
    std::string data; // the serialised MIME
    std::size_t read = 0;
};

class Registry {
public:
    static Registry& instance();

    std::mutex mutex;
    bool initialized = false;
    bool passwordGiven = false;
    std::string iniPath;
    std::string dataDirectory; // notes.ini's Directory=, where relative database paths start

    DHANDLE add(MemoryObject object);
    DBHANDLE add(DatabaseObject object);
    NOTEHANDLE add(NoteObject object);
    HCOLLECTION add(CollectionObject object);
    DHANDLE add(MimeStreamObject object);

    MemoryObject* memory(DHANDLE h);
    DatabaseObject* database(DBHANDLE h);
    NoteObject* note(NOTEHANDLE h);
    CollectionObject* collection(HCOLLECTION h);
    MimeStreamObject* mimeStream(DHANDLE h);

    void releaseMemory(DHANDLE h) { m_memory.erase(h); }
    void releaseDatabase(DBHANDLE h) { m_databases.erase(h); }
    void releaseNote(NOTEHANDLE h);
    void releaseCollection(HCOLLECTION h);
    void releaseMimeStream(DHANDLE h) { m_mimeStreams.erase(h); }

    // Reports what is still open (handles, buffers not freed) as misuse and forgets it all.
    void closeAll();

    void misuse(const std::string& what);
    DWORD misuseCount() const { return m_misuseCount; }
    const std::string& misuseText() const { return m_misuseText; }

private:
    DHANDLE next();

    // Above 0xFFFF, so that a caller that keeps a handle in 16 bits (the 32-bit platforms'
    // DHANDLE) loses it and is caught.
    DHANDLE m_next = 0x10000;
    HCOLLECTION m_nextCollection = 1;
    std::map<DHANDLE, MemoryObject> m_memory;
    std::map<DHANDLE, DatabaseObject> m_databases;
    std::map<DHANDLE, NoteObject> m_notes;
    std::map<HCOLLECTION, CollectionObject> m_collections;
    std::map<DHANDLE, MimeStreamObject> m_mimeStreams;
    DWORD m_misuseCount = 0;
    std::string m_misuseText;
};

} // namespace tarvik::standin
