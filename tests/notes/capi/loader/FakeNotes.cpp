// A small library with the entry points of the Notes C API, for the loader's tests: it
// starts, ends, switches IDs and names errors as FakeNotesState tells it, and serves one
// tiny database of its own ("fake.nsf", see FakeNotesState.h) so that the back-end's
// objects run over every kind of answer. Built twice: whole, and without NIFReadEntries
// (FAKE_NOTES_WITHOUT_READ_ENTRIES).

#include "FakeNotesState.h"
#include "notes/capi/NotesCApi.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

using namespace tarvik::notes::capi;

#define FAKE_EXPORT extern "C" __attribute__((visibility("default")))

FAKE_EXPORT FakeNotesState tarvikFakeNotes;
FakeNotesState tarvikFakeNotes;

#ifdef FAKE_NOTES_NEEDS_DEPENDENCY
extern "C" int tarvikFakeDependency();
#endif

namespace {

constexpr STATUS notSupported = 0x0001;

void copyText(char* to, std::size_t size, const char* from)
{
    std::strncpy(to, from ? from : "", size - 1);
    to[size - 1] = 0;
}

} // namespace

// A program run by a test is told through the environment: FAKE_NOTES_PASSWORD is the ID's
// password (others are refused), FAKE_NOTES_KEYFILE the ID notes.ini names.
FAKE_EXPORT STATUS NotesInitExtended(int argc, char** argv)
{
    if (const char* password = std::getenv("FAKE_NOTES_PASSWORD")) {
        copyText(tarvikFakeNotes.password, sizeof tarvikFakeNotes.password, password);
        tarvikFakeNotes.passwordStatus = fakeWrongPassword;
    }
    if (const char* id = std::getenv("FAKE_NOTES_KEYFILE"))
        copyText(tarvikFakeNotes.keyFileName, sizeof tarvikFakeNotes.keyFileName, id);
#ifdef FAKE_NOTES_NEEDS_DEPENDENCY
    tarvikFakeDependency();
#endif
    ++tarvikFakeNotes.initCalls;
    tarvikFakeNotes.initArgc = argc;
    copyText(tarvikFakeNotes.initArg1, sizeof tarvikFakeNotes.initArg1, argc > 1 ? argv[1] : "");
    return tarvikFakeNotes.initStatus;
}
FAKE_EXPORT void NotesTerm()
{
    ++tarvikFakeNotes.termCalls;
}
FAKE_EXPORT STATUS NotesInitThread()
{
    ++tarvikFakeNotes.initThreadCalls;
    return tarvikFakeNotes.initThreadStatus;
}
FAKE_EXPORT void NotesTermThread()
{
    ++tarvikFakeNotes.termThreadCalls;
}
FAKE_EXPORT WORD OSLoadString(HMODULE_, STATUS code, char* buffer, WORD length)
{
    if (code != fakeWrongPassword || length == 0)
        return 0;
    copyText(buffer, length, fakeWrongPasswordText);
    return WORD(std::strlen(buffer));
}
// Text is ASCII here: both ways it stays as it is.
FAKE_EXPORT WORD OSTranslate(WORD, const char* in, WORD inLength, char* out, WORD outLength)
{
    const WORD n = std::min(inLength, outLength);
    std::memcpy(out, in, n);
    return n;
}
FAKE_EXPORT BOOL OSGetEnvironmentString(const char* name, char* value, WORD length)
{
    if (std::strcmp(name, "KeyFileName") != 0 || !tarvikFakeNotes.keyFileName[0])
        return 0;
    copyText(value, std::size_t(length) + 1, tarvikFakeNotes.keyFileName);
    return 1;
}
FAKE_EXPORT WORD OSGetDataDirectory(char* path)
{
    path[0] = 0;
    return 0;
}
FAKE_EXPORT STATUS SECKFMSwitchToIDFile(char* idFile, char* password, char* userName,
                                        WORD maxUserName, DWORD, void*)
{
    ++tarvikFakeNotes.switchCalls;
    if (std::strcmp(password, tarvikFakeNotes.password) != 0)
        return tarvikFakeNotes.passwordStatus;
    copyText(tarvikFakeNotes.switchedId, sizeof tarvikFakeNotes.switchedId, idFile);
    copyText(userName, maxUserName, tarvikFakeNotes.userName);
    return NOERROR;
}
namespace {

// Memory Notes hands out: item values (freed with their note) and buffers (freed by
// OSMemFree, counted in buffersOut).
std::map<DHANDLE, std::string> memory;
DHANDLE nextHandle = 100;

DHANDLE allocate(std::string bytes, bool buffer)
{
    memory[nextHandle] = std::move(bytes);
    if (buffer)
        ++tarvikFakeNotes.buffersOut;
    return nextHandle++;
}

template <typename T>
void put(std::string& to, const T& value)
{
    to.append(reinterpret_cast<const char*>(&value), sizeof value);
}

std::string typed(WORD type, const std::string& value)
{
    std::string out;
    put(out, type);
    return out + value;
}

std::string text(const std::string& s)
{
    return typed(TYPE_TEXT, s);
}

std::string textList(const std::vector<std::string>& entries)
{
    std::string out;
    put(out, LIST{WORD(entries.size())});
    for (const std::string& e : entries)
        put(out, WORD(e.size()));
    for (const std::string& e : entries)
        out += e;
    return typed(TYPE_TEXT_LIST, out);
}

std::string fileObject(const std::string& name, DWORD size)
{
    std::string out;
    put(out, WORD(OBJECT_FILE));
    put(out, DWORD(7)); // object ID
    put(out, WORD(name.size()));
    put(out, WORD(0)); // host
    put(out, WORD(0)); // compression
    put(out, WORD(0)); // attributes
    put(out, WORD(0)); // flags
    put(out, size);
    put(out, TIMEDATE{});
    put(out, TIMEDATE{});
    return typed(TYPE_OBJECT, out + name);
}

struct FakeItem {
    std::string name;
    WORD flags;
    std::string value;     // with its type word
    std::string converted; // what ConvertItemToText gives for rich text
};

struct FakeNote {
    std::vector<FakeItem> items;
    bool sealed = false;
};

constexpr WORD noteClassForm = 0x0004;
constexpr NOTEID designCollection = NOTE_ID_SPECIAL | NOTE_CLASS_DESIGN;
constexpr STATUS cannotDecrypt = 0x0ABC;

const std::map<NOTEID, FakeNote>& notes()
{
    static const std::map<NOTEID, FakeNote> all = [] {
        std::map<NOTEID, FakeNote> n;
        n[fakeInbox] = {{{"$TITLE", 0, text("($Inbox)|$Inbox"), {}}, {"$Flags", 0, text("F"), {}}}};
        n[fakeProjects] = {
            {{"$TITLE", 0, textList({"Projects\\2008", "P08"}), {}}, {"$Flags", 0, text("F"), {}}}};
        // Its summary in the design collection lacks $Flags: read from the note itself.
        n[fakeAll] = {{{"$TITLE", 0, text("($All)"), {}}}};
        n[0x2C] = {{{"$TITLE", 0, text("Navigator"), {}}, {"$Flags", 0, text("G"), {}}}};
        std::string posted;
        put(posted, TIMEDATE{{1205487125, 1}}); // 2008-03-14 09:32:05 UTC
        std::string importance;
        put(importance, NUMBER(2));
        n[fakeRichMail] = {
            {{"Subject", 0, text("Quarterly report"), {}},
             {"SendTo", ITEM_NAMES, textList({"ann@example.com", "bob@example.com"}), {}},
             {"PostedDate", 0, typed(TYPE_TIME, posted), {}},
             {"Importance", 0, typed(TYPE_NUMBER, importance), {}},
             {"Body", 0, typed(TYPE_COMPOSITE, {}), "Hello Ann,\nsee the report."},
             {"Body", 0, typed(TYPE_COMPOSITE, {}), "Regards"},
             {"$FILE", 0, fileObject("report.pdf", DWORD(fakeFileBytes().size())), {}}}};
        n[fakeMimeMail] = {{{"Subject", 0, text("MIME mail"), {}},
                            {"Body", 0, typed(TYPE_MIME_PART, "part"), {}},
                            {"Body", 0, typed(TYPE_MIME_PART, "part"), {}}}};
        n[fakeSealedMail] = {{{"Subject", 0, text("Secret"), {}},
                              {"Body", ITEM_SEAL, typed(TYPE_COMPOSITE, {}), "never shown"}},
                             true};
        return n;
    }();
    return all;
}

// What each collection holds, in order; the design collection's entries carry a class.
const std::map<NOTEID, std::vector<std::pair<NOTEID, WORD>>>& collections()
{
    static const std::map<NOTEID, std::vector<std::pair<NOTEID, WORD>>> all = {
        {designCollection,
         {{fakeInbox, NOTE_CLASS_VIEW},
          {0x30, noteClassForm},
          {fakeProjects, NOTE_CLASS_VIEW},
          {fakeAll, NOTE_CLASS_VIEW},
          {0x2C, NOTE_CLASS_VIEW}}},
        {fakeInbox,
         {{fakeRichMail, 0}, {NOTEID_CATEGORY | 1, 0}, {fakeMimeMail, 0}, {fakeSealedMail, 0}}},
        {fakeProjects, {{fakeMimeMail, 0}}},
        {fakeAll, {}},
    };
    return all;
}

[[maybe_unused]] std::string summaryOf(NOTEID id)
{
    std::vector<const FakeItem*> shown;
    static const FakeNote form;
    const auto note = notes().find(id);
    for (const FakeItem& item : note == notes().end() ? form.items : note->second.items) {
        if (item.name == "$TITLE" || (item.name == "$Flags" && id != fakeAll))
            shown.push_back(&item);
    }
    std::string pairs;
    std::string heads;
    for (const FakeItem* item : shown) {
        put(heads, ITEM{WORD(item->name.size()), WORD(item->value.size())});
        pairs += item->name + item->value;
    }
    std::string out;
    put(out,
        ITEM_TABLE{WORD(sizeof(ITEM_TABLE) + heads.size() + pairs.size()), WORD(shown.size())});
    return out + heads + pairs;
}

struct OpenNote {
    NOTEID id;
    std::vector<BLOCKID> values;
};
std::map<NOTEHANDLE, OpenNote> openNotes;
NOTEHANDLE nextNote = 500;
std::map<HCOLLECTION, NOTEID> openCollections;
HCOLLECTION nextCollection = 1;

struct FakeStream {
    std::string bytes;
    std::size_t pos = 0;
};

const FakeItem* itemOf(NOTEHANDLE note, BLOCKID item)
{
    const auto it = openNotes.find(note);
    if (it == openNotes.end())
        return nullptr;
    const auto& items = notes().at(it->second.id).items;
    return item.pool >= 1 && item.pool <= items.size() ? &items[item.pool - 1] : nullptr;
}

STATUS itemInfo(NOTEHANDLE note, std::size_t index, BLOCKID* item, WORD* type, BLOCKID* value,
                DWORD* length)
{
    const auto it = openNotes.find(note);
    if (it == openNotes.end())
        return notSupported;
    const auto& items = notes().at(it->second.id).items;
    if (index >= items.size()) {
        if (type)
            *type = TYPE_INVALID_OR_UNKNOWN;
        return ERR_ITEM_NOT_FOUND;
    }
    if (item)
        *item = BLOCKID{DHANDLE(index + 1), 0};
    if (type)
        *type = *reinterpret_cast<const WORD*>(items[index].value.data());
    if (value)
        *value = it->second.values[index];
    if (length)
        *length = DWORD(items[index].value.size());
    return NOERROR;
}

void expand(TIME* time, std::time_t seconds)
{
    std::tm parts{};
    gmtime_r(&seconds, &parts);
    time->year = parts.tm_year + 1900;
    time->month = parts.tm_mon + 1;
    time->day = parts.tm_mday;
    time->weekday = parts.tm_wday + 1;
    time->hour = parts.tm_hour;
    time->minute = parts.tm_min;
    time->second = parts.tm_sec;
    time->hundredth = 0;
}

} // namespace

FAKE_EXPORT void* OSLockObject(DHANDLE handle)
{
    const auto it = memory.find(handle);
    return it == memory.end() ? nullptr : it->second.data();
}
FAKE_EXPORT BOOL OSUnlockObject(DHANDLE)
{
    return 1;
}
FAKE_EXPORT STATUS OSMemFree(DHANDLE handle)
{
    if (memory.erase(handle))
        --tarvikFakeNotes.buffersOut;
    return NOERROR;
}
FAKE_EXPORT STATUS NSFDbOpen(const char* path, DBHANDLE* db)
{
    const std::string name(path);
    if (name.size() < 8 || name.compare(name.size() - 8, 8, "fake.nsf") != 0)
        return notSupported;
    ++tarvikFakeNotes.openDatabases;
    *db = 7;
    return NOERROR;
}
FAKE_EXPORT STATUS NSFDbClose(DBHANDLE)
{
    --tarvikFakeNotes.openDatabases;
    return NOERROR;
}
// The title is the first line of the database information.
FAKE_EXPORT STATUS NSFDbInfoGet(DBHANDLE, char* info)
{
    copyText(info, NSF_INFO_SIZE, "Fake Mail\ncategories");
    return NOERROR;
}
FAKE_EXPORT void NSFDbInfoParse(char* info, WORD what, char* buffer, WORD length)
{
    const std::string all(info);
    copyText(buffer, std::size_t(length) + 1,
             what == INFOPARSE_TITLE ? all.substr(0, all.find('\n')).c_str() : "");
}
FAKE_EXPORT STATUS NIFOpenCollection(DBHANDLE, DBHANDLE, NOTEID view, WORD, DHANDLE,
                                     HCOLLECTION* collection, NOTEHANDLE*, UNIVERSALNOTEID*,
                                     DHANDLE*, DHANDLE*)
{
    if (!collections().count(view))
        return notSupported;
    openCollections[nextCollection] = view;
    ++tarvikFakeNotes.openCollections;
    *collection = nextCollection++;
    return NOERROR;
}
// Two entries per call at most, so that readers must go on while SIGNAL_MORE_TO_DO says so.
// The position's first tumbler counts the entries read so far.
#ifndef FAKE_NOTES_WITHOUT_READ_ENTRIES
FAKE_EXPORT STATUS NIFReadEntries(HCOLLECTION collection, COLLECTIONPOSITION* position, WORD, DWORD,
                                  WORD, DWORD, DWORD mask, DHANDLE* buffer, WORD* bufferLength,
                                  DWORD* skipped, DWORD* returned, WORD* signal)
{
    const auto it = openCollections.find(collection);
    if (it == openCollections.end())
        return notSupported;
    const auto& entries = collections().at(it->second);
    const std::size_t from = position->Tumbler[0];
    const std::size_t to = std::min(entries.size(), from + 2);
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (mask & READ_MASK_NOTEID)
            put(out, entries[i].first);
        if (mask & READ_MASK_NOTECLASS)
            put(out, entries[i].second);
        if (mask & READ_MASK_SUMMARY)
            out += summaryOf(entries[i].first);
    }
    position->Tumbler[0] = DWORD(to);
    *buffer = to > from ? allocate(out, true) : NULLHANDLE;
    *bufferLength = WORD(out.size());
    *skipped = 0;
    *returned = DWORD(to - from);
    *signal = to < entries.size() ? SIGNAL_MORE_TO_DO : 0;
    return NOERROR;
}
#endif
FAKE_EXPORT STATUS NIFCloseCollection(HCOLLECTION collection)
{
    if (openCollections.erase(collection))
        --tarvikFakeNotes.openCollections;
    return NOERROR;
}
FAKE_EXPORT STATUS NSFNoteOpenExt(DBHANDLE, NOTEID id, DWORD, NOTEHANDLE* note)
{
    const auto it = notes().find(id);
    if (it == notes().end())
        return notSupported;
    OpenNote open{id, {}};
    for (const FakeItem& item : it->second.items)
        open.values.push_back(BLOCKID{allocate(item.value, false), 0});
    openNotes[nextNote] = open;
    ++tarvikFakeNotes.openNotes;
    *note = nextNote++;
    return NOERROR;
}
FAKE_EXPORT STATUS NSFNoteClose(NOTEHANDLE note)
{
    const auto it = openNotes.find(note);
    if (it == openNotes.end())
        return notSupported;
    for (const BLOCKID& value : it->second.values)
        memory.erase(value.pool);
    openNotes.erase(it);
    --tarvikFakeNotes.openNotes;
    return NOERROR;
}
FAKE_EXPORT BOOL NSFNoteIsSignedOrSealed(NOTEHANDLE note, BOOL* isSigned, BOOL* isSealed)
{
    const auto it = openNotes.find(note);
    *isSigned = 0;
    *isSealed = it != openNotes.end() && notes().at(it->second.id).sealed;
    return *isSealed;
}
FAKE_EXPORT STATUS NSFNoteDecrypt(HANDLE, WORD, ENCRYPTION_KEY*)
{
    return cannotDecrypt;
}
FAKE_EXPORT STATUS NSFItemInfo(NOTEHANDLE note, const char* name, WORD, BLOCKID* item, WORD* type,
                               BLOCKID* value, DWORD* length)
{
    if (name)
        return notSupported; // only the first item, by no name
    return itemInfo(note, 0, item, type, value, length);
}
FAKE_EXPORT STATUS NSFItemInfoNext(NOTEHANDLE note, BLOCKID previous, const char* name, WORD,
                                   BLOCKID* item, WORD* type, BLOCKID* value, DWORD* length)
{
    if (name)
        return notSupported;
    return itemInfo(note, previous.pool, item, type, value, length);
}
FAKE_EXPORT void NSFItemQuery(NOTEHANDLE note, BLOCKID item, char* name, WORD nameBuffer,
                              WORD* nameLength, WORD* flags, WORD* type, BLOCKID* value,
                              DWORD* length)
{
    const FakeItem* found = itemOf(note, item);
    if (!found)
        return;
    const WORD n = WORD(std::min<std::size_t>(found->name.size(), nameBuffer));
    std::memcpy(name, found->name.data(), n);
    *nameLength = n;
    *flags = found->flags;
    itemInfo(note, item.pool - 1, nullptr, type, value, length);
}
FAKE_EXPORT STATUS ConvertItemToText(BLOCKID value, DWORD, const char*, WORD, DHANDLE* buffer,
                                     DWORD* length, BOOL)
{
    for (const auto& [handle, open] : openNotes) {
        const auto& items = notes().at(open.id).items;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (open.values[i].pool == value.pool) {
                *buffer = allocate(items[i].converted, true);
                *length = DWORD(items[i].converted.size());
                return NOERROR;
            }
        }
    }
    return notSupported;
}
// Times here are seconds since 1970 in the first word; the writer's zone is UTC+1.
FAKE_EXPORT BOOL TimeGMToLocalZone(TIME* time)
{
    if (time->zone != 0 || time->dst != 0)
        return 1;
    expand(time, std::time_t(time->GM.Innards[0]));
    return 0;
}
FAKE_EXPORT BOOL TimeGMToLocal(TIME* time)
{
    expand(time, std::time_t(time->GM.Innards[0]) + 3600);
    return 0;
}
FAKE_EXPORT STATUS MIMEStreamOpen(NOTEHANDLE note, char* item, WORD itemLength, DWORD,
                                  MIMEHANDLE* stream)
{
    if (!openNotes.count(note) || std::string(item, itemLength) != "Body")
        return notSupported;
    ++tarvikFakeNotes.openStreams;
    *stream = new FakeStream{fakeMimeMessage(), 0};
    return NOERROR;
}
FAKE_EXPORT int MIMEStreamRead(unsigned char* data, unsigned int* length, unsigned int max,
                               MIMEHANDLE handle)
{
    auto* stream = static_cast<FakeStream*>(handle);
    const std::size_t n = std::min<std::size_t>(max - 1, stream->bytes.size() - stream->pos);
    std::memcpy(data, stream->bytes.data() + stream->pos, n);
    stream->pos += n;
    *length = unsigned(n);
    return n == 0 ? MIME_STREAM_EOS : MIME_STREAM_SUCCESS;
}
FAKE_EXPORT void MIMEStreamClose(MIMEHANDLE handle)
{
    --tarvikFakeNotes.openStreams;
    delete static_cast<FakeStream*>(handle);
}
FAKE_EXPORT BOOL NSFIsFileItemMimePart(NOTEHANDLE, BLOCKID)
{
    return 0;
}
// The file's bytes in two calls; a callback's failure stops it with that status.
FAKE_EXPORT STATUS NSFNoteExtractWithCallback(NOTEHANDLE note, BLOCKID item, ENCRYPTION_KEY*, WORD,
                                              NOTEEXTRACTCALLBACK callback, void* param)
{
    const FakeItem* found = itemOf(note, item);
    if (!found || found->name != "$FILE")
        return notSupported;
    const std::string bytes = fakeFileBytes();
    const std::size_t half = bytes.size() / 2;
    if (const STATUS s = callback(reinterpret_cast<const BYTE*>(bytes.data()), DWORD(half), param))
        return s;
    return callback(reinterpret_cast<const BYTE*>(bytes.data()) + half, DWORD(bytes.size() - half),
                    param);
}
