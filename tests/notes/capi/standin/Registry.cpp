#include "Registry.h"

#include <cstdio>
#include <cstdlib>

namespace tarvik::standin {

Registry& Registry::instance()
{
    static Registry registry;
    return registry;
}

DHANDLE Registry::next()
{
    // Handles of every kind share one range, so that one kind passed for another is caught.
    do {
        ++m_next;
        if (m_next == 0)
            m_next = 0x10000;
    } while (m_memory.count(m_next) || m_databases.count(m_next) || m_notes.count(m_next) ||
             m_mimeStreams.count(m_next));
    return m_next;
}

DHANDLE Registry::add(MemoryObject object)
{
    const DHANDLE h = next();
    m_memory.emplace(h, std::move(object));
    return h;
}

DBHANDLE Registry::add(DatabaseObject object)
{
    const DHANDLE h = next();
    m_databases.emplace(h, std::move(object));
    return h;
}

NOTEHANDLE Registry::add(NoteObject object)
{
    const DHANDLE h = next();
    m_notes.emplace(h, std::move(object));
    return h;
}

DHANDLE Registry::add(MimeStreamObject object)
{
    const DHANDLE h = next();
    m_mimeStreams.emplace(h, std::move(object));
    return h;
}

MimeStreamObject* Registry::mimeStream(DHANDLE h)
{
    auto it = m_mimeStreams.find(h);
    return it == m_mimeStreams.end() ? nullptr : &it->second;
}

HCOLLECTION Registry::add(CollectionObject object)
{
    for (int tries = 0; tries < 0xffff; ++tries) {
        const HCOLLECTION h = m_nextCollection++;
        if (m_nextCollection == 0)
            m_nextCollection = 1;
        if (h != 0 && !m_collections.count(h)) {
            m_collections.emplace(h, std::move(object));
            return h;
        }
    }
    return 0;
}

MemoryObject* Registry::memory(DHANDLE h)
{
    auto it = m_memory.find(h);
    return it == m_memory.end() ? nullptr : &it->second;
}

DatabaseObject* Registry::database(DBHANDLE h)
{
    auto it = m_databases.find(h);
    return it == m_databases.end() ? nullptr : &it->second;
}

NoteObject* Registry::note(NOTEHANDLE h)
{
    auto it = m_notes.find(h);
    return it == m_notes.end() ? nullptr : &it->second;
}

CollectionObject* Registry::collection(HCOLLECTION h)
{
    auto it = m_collections.find(h);
    return it == m_collections.end() ? nullptr : &it->second;
}

void Registry::releaseNote(NOTEHANDLE h)
{
    auto it = m_notes.find(h);
    if (it == m_notes.end())
        return;
    for (DHANDLE pool : it->second.valuePools) {
        if (MemoryObject* m = memory(pool); m && m->locks > 0)
            misuse("a value of note handle " + std::to_string(h) +
                   " is still locked when the note is closed");
        m_memory.erase(pool);
    }
    m_memory.erase(it->second.itemPool);
    m_notes.erase(it);
}

void Registry::releaseCollection(HCOLLECTION h)
{
    auto it = m_collections.find(h);
    if (it == m_collections.end())
        return;
    if (it->second.sharedViewNote != NULLHANDLE)
        releaseNote(it->second.sharedViewNote);
    m_collections.erase(it);
}

void Registry::closeAll()
{
    for (auto& [h, m] : m_mimeStreams)
        misuse("MIME stream " + std::to_string(h) + " not closed before NotesTerm");
    m_mimeStreams.clear();
    for (auto& [h, c] : m_collections)
        misuse("collection " + std::to_string(h) + " not closed before NotesTerm");
    while (!m_collections.empty())
        releaseCollection(m_collections.begin()->first);
    for (auto& [h, n] : m_notes)
        misuse("note handle " + std::to_string(h) + " (note " + std::to_string(n.note.id) +
               ") not closed before NotesTerm");
    while (!m_notes.empty())
        releaseNote(m_notes.begin()->first);
    for (auto& [h, d] : m_databases)
        misuse("database handle " + std::to_string(h) + " (" + d.path +
               ") not closed before NotesTerm");
    m_databases.clear();
    for (auto& [h, m] : m_memory)
        misuse("memory handle " + std::to_string(h) + " (" + std::to_string(m.bytes.size()) +
               " bytes) not freed before NotesTerm");
    m_memory.clear();
}

void Registry::misuse(const std::string& what)
{
    ++m_misuseCount;
    if (m_misuseText.size() < 8000)
        m_misuseText += what + "\n";
    if (const char* log = std::getenv("TARVIK_STANDIN_MISUSE_LOG"); log && *log) {
        if (std::FILE* f = std::fopen(log, "a")) {
            std::fprintf(f, "%s\n", what.c_str());
            std::fclose(f);
        }
    }
    std::fprintf(stderr, "notes stand-in: misuse: %s\n", what.c_str());
}

} // namespace tarvik::standin
