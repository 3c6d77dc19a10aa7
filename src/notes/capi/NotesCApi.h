#pragma once

#include <cstddef>
#include <cstdint>

// The part of the Notes C API that Tarvik calls, declared here from the public reference
// (HCL-TECH-SOFTWARE/domino-c-api-docs): the toolkit's own headers are not needed to build
// and are not redistributable. docs/notes-api.md lists every entry point, structure and
// constant with its documented signature, its size and where the reference gives it.
//
// Platforms: handles and word sizes as the reference gives them for the 64-bit platforms
// (DHANDLE is 32 bits wide there: the toolkit's 64-bit builds define HANDLE_IS_32BITS),
// structures with the compiler's natural alignment, which the reference states for UNIX and
// the 64-bit Windows build uses (no /Zp). 32-bit Windows is the one platform with another
// calling convention (__stdcall, in TARVIK_LNPUBLIC) and, as its toolkit was built, 1-byte
// packing (TARVIK_NOTES_PACKED).
//
// Values kept in a database in canonical form (rich text, objects) are not read through
// these structures: canonical form is one fixed little-endian, unpadded layout on every
// platform, which the .nsf reader (src/nsf) decodes.

#if defined(_WIN32) && !defined(_WIN64)
#define TARVIK_LNPUBLIC __stdcall
#define TARVIK_NOTES_PACKED 1
#else
#define TARVIK_LNPUBLIC
#define TARVIK_NOTES_PACKED 0
#endif
// Callbacks (LNCALLBACK, "FAR PASCAL") use the same convention as the entry points.
#define TARVIK_LNCALLBACK TARVIK_LNPUBLIC

namespace tarvik::notes::capi {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using BOOL = int;
using STATUS = WORD;
using NUMBER = double;
using DHANDLE = std::uint32_t;
// The reference defines DBHANDLE as HANDLE, which is a pointer where windows.h is included
// and DHANDLE-wide elsewhere; its guide to 64-bit Windows says every Domino handle is 32 bits
// wide. 64 bits here on 64-bit Windows takes either reading safely: passed by value, the
// callee reads its low half; written through a pointer, a 32-bit handle fills the low half of
// a zeroed one (little-endian).
// NSFNoteDecrypt takes its note as a HANDLE too.
#if defined(_WIN64)
using HANDLE = std::uint64_t;
#else
using HANDLE = DHANDLE;
#endif
using DBHANDLE = HANDLE;
using NOTEHANDLE = DHANDLE;
using NOTEID = DWORD;
using BLOCK = WORD;
using HCOLLECTION = WORD;
using MIMEHANDLE = void*;
using HMODULE_ = void*; // only ever NULLHANDLE here

#if TARVIK_NOTES_PACKED
#pragma pack(push, 1)
#endif

struct BLOCKID {
    DHANDLE pool;
    BLOCK block;
};

struct TIMEDATE {
    DWORD Innards[2];
};

struct TIME {
    int year;
    int month;
    int day;
    int weekday;
    int hour;
    int minute;
    int second;
    int hundredth;
    int dst;
    int zone;
    TIMEDATE GM;
};

constexpr int MAXTUMBLERLEVELS = 32;

struct COLLECTIONPOSITION {
    WORD Level;
    BYTE MinLevel;
    BYTE MaxLevel;
    DWORD Tumbler[MAXTUMBLERLEVELS];
};

struct ENCRYPTION_KEY {
    BYTE Byte1;
    WORD Word1;
    BYTE Text[16];
};

struct UNIVERSALNOTEID {
    TIMEDATE File;
    TIMEDATE Note;
};

// Summary buffers (READ_MASK_SUMMARY): an ITEM_TABLE, one ITEM per item, then each item's
// name followed by its value (the value's type word first).
struct ITEM_TABLE {
    WORD Length;
    WORD Items;
};

struct ITEM {
    WORD NameLength;
    WORD ValueLength;
};

// Heads of text lists (LIST) and of number and time lists (RANGE) in host form.
struct LIST {
    WORD ListEntries;
};

struct RANGE {
    WORD ListEntries;
    WORD RangeEntries;
};

#if TARVIK_NOTES_PACKED
#pragma pack(pop)
#endif

// The sizes the reference's definitions give under each platform's packing.
static_assert(sizeof(DHANDLE) == 4 && sizeof(WORD) == 2 && sizeof(DWORD) == 4);
static_assert(sizeof(TIMEDATE) == 8);
static_assert(sizeof(TIME) == 48);
static_assert(sizeof(COLLECTIONPOSITION) == 132);
static_assert(sizeof(UNIVERSALNOTEID) == 16);
static_assert(sizeof(ITEM_TABLE) == 4 && sizeof(ITEM) == 4);
static_assert(sizeof(LIST) == 2 && sizeof(RANGE) == 4);
#if TARVIK_NOTES_PACKED
static_assert(sizeof(BLOCKID) == 6);
static_assert(sizeof(ENCRYPTION_KEY) == 19);
#else
static_assert(sizeof(BLOCKID) == 8 && offsetof(BLOCKID, block) == 4);
static_assert(sizeof(ENCRYPTION_KEY) == 20 && offsetof(ENCRYPTION_KEY, Word1) == 2);
#endif
static_assert(offsetof(COLLECTIONPOSITION, Tumbler) == 4);
static_assert(offsetof(TIME, GM) == 40);

// Constants. The reference names them without their values; the values are the toolkit's
// as public bindings of the same API record them (docs/notes-api.md says which).
constexpr STATUS NOERROR = 0;
constexpr STATUS ERR_MASK = 0x3FFF;                // the STS_REMOTE and STS_DISPLAYED bits off
constexpr STATUS ERR_ITEM_NOT_FOUND = 0x0200 + 34; // PKG_NSF + 34
constexpr DHANDLE NULLHANDLE = 0;
constexpr BLOCK NULLBLOCK = 0;
constexpr WORD MAXWORD = 0xFFFF;
constexpr DWORD MAXDWORD = 0xFFFFFFFF;
constexpr WORD MAXPATH = 256;
constexpr WORD MAXUSERNAME = 256;
constexpr WORD NSF_INFO_SIZE = 128;
constexpr WORD INFOPARSE_TITLE = 0;

constexpr WORD OS_TRANSLATE_LMBCS_TO_UTF8 = 22;
constexpr WORD OS_TRANSLATE_UTF8_TO_LMBCS = 24;

constexpr WORD NOTE_CLASS_DOCUMENT = 0x0001;
constexpr WORD NOTE_CLASS_VIEW = 0x0008;
constexpr WORD NOTE_CLASS_DESIGN = 0x0020;
constexpr NOTEID NOTE_ID_SPECIAL = 0xFFFF0000;
constexpr NOTEID NOTEID_CATEGORY = 0x80000000;

constexpr DWORD OPEN_SUMMARY = 0x0001;
constexpr DWORD OPEN_RAW_MIME_PART = 0x02000000;

constexpr WORD NAVIGATE_CURRENT = 0;
constexpr WORD NAVIGATE_NEXT = 1;
constexpr DWORD READ_MASK_NOTEID = 0x00000001;
constexpr DWORD READ_MASK_NOTECLASS = 0x00000004;
constexpr DWORD READ_MASK_SUMMARY = 0x00008000;
constexpr WORD SIGNAL_MORE_TO_DO = 0x0020;

constexpr WORD ITEM_SEAL = 0x0002;
constexpr WORD ITEM_READWRITERS = 0x0020;
constexpr WORD ITEM_NAMES = 0x0040;
constexpr WORD ITEM_READERS = 0x0400;

constexpr WORD TYPE_INVALID_OR_UNKNOWN = 0x0000;
constexpr WORD TYPE_COMPOSITE = 0x0001;
constexpr WORD TYPE_OBJECT = 0x0003;
constexpr WORD TYPE_NOTEREF_LIST = 0x0004;
constexpr WORD TYPE_MIME_PART = 0x0019;
constexpr WORD TYPE_NUMBER = 0x0300;
constexpr WORD TYPE_NUMBER_RANGE = 0x0301;
constexpr WORD TYPE_TIME = 0x0400;
constexpr WORD TYPE_TIME_RANGE = 0x0401;
constexpr WORD TYPE_TEXT = 0x0500;
constexpr WORD TYPE_TEXT_LIST = 0x0501;

constexpr WORD OBJECT_FILE = 0x0000; // OBJECT_DESCRIPTOR.ObjectType, flags masked off

constexpr DWORD ALLDAY = 0xFFFFFFFF; // TIMEDATE.Innards[0]: no time of day
constexpr DWORD ANYDAY = 0xFFFFFFFF; // TIMEDATE.Innards[1]: no date

constexpr DWORD MIME_STREAM_OPEN_READ = 0x00000001;
constexpr DWORD MIME_STREAM_MIME_INCLUDE_HEADERS = 0x00000010;
constexpr DWORD MIME_STREAM_RFC2822_INCLUDE_HEADERS = 0x00000020;
constexpr DWORD MIME_STREAM_INCLUDE_HEADERS =
    MIME_STREAM_MIME_INCLUDE_HEADERS | MIME_STREAM_RFC2822_INCLUDE_HEADERS;
constexpr int MIME_STREAM_SUCCESS = 0;
constexpr int MIME_STREAM_EOS = 1;
constexpr int MIME_STREAM_IO = 2;

constexpr DWORD fKFM_switchid_DontSetEnvVar = 0x00000008;

// The callback of NSFNoteExtractWithCallback (NOTEEXTRACTCALLBACK).
using NOTEEXTRACTCALLBACK = STATUS(TARVIK_LNCALLBACK*)(const BYTE* bytes, DWORD length,
                                                       void* param);

// Every entry point, as X(name, return type, parameter list). The table below holds one
// pointer of each, found by name in the loaded library.
#define TARVIK_NOTES_ENTRY_POINTS(X)                                                               \
    X(NotesInitExtended, STATUS, (int argc, char** argv))                                          \
    X(NotesTerm, void, ())                                                                         \
    X(NotesInitThread, STATUS, ())                                                                 \
    X(NotesTermThread, void, ())                                                                   \
    X(OSLoadString, WORD, (HMODULE_ hModule, STATUS code, char* buffer, WORD length))              \
    X(OSTranslate, WORD, (WORD mode, const char* in, WORD inLength, char* out, WORD outLength))    \
    X(OSLockObject, void*, (DHANDLE handle))                                                       \
    X(OSUnlockObject, BOOL, (DHANDLE handle))                                                      \
    X(OSMemFree, STATUS, (DHANDLE handle))                                                         \
    X(OSGetEnvironmentString, BOOL, (const char* name, char* value, WORD length))                  \
    X(OSGetDataDirectory, WORD, (char* path))                                                      \
    X(SECKFMSwitchToIDFile, STATUS,                                                                \
      (char* idFile, char* password, char* userName, WORD maxUserName, DWORD flags,                \
       void* reserved))                                                                            \
    X(NSFDbOpen, STATUS, (const char* path, DBHANDLE* db))                                         \
    X(NSFDbClose, STATUS, (DBHANDLE db))                                                           \
    X(NSFDbInfoGet, STATUS, (DBHANDLE db, char* info))                                             \
    X(NSFDbInfoParse, void, (char* info, WORD what, char* buffer, WORD length))                    \
    X(NIFOpenCollection, STATUS,                                                                   \
      (DBHANDLE viewDb, DBHANDLE dataDb, NOTEID viewNoteId, WORD openFlags, DHANDLE unreadList,    \
       HCOLLECTION * collection, NOTEHANDLE * viewNote, UNIVERSALNOTEID * unid,                    \
       DHANDLE * collapsedList, DHANDLE * selectedList))                                           \
    X(NIFReadEntries, STATUS,                                                                      \
      (HCOLLECTION collection, COLLECTIONPOSITION * position, WORD skipNavigator, DWORD skipCount, \
       WORD returnNavigator, DWORD returnCount, DWORD returnMask, DHANDLE * buffer,                \
       WORD * bufferLength, DWORD * skipped, DWORD * returned, WORD * signalFlags))                \
    X(NIFCloseCollection, STATUS, (HCOLLECTION collection))                                        \
    X(NSFNoteOpenExt, STATUS, (DBHANDLE db, NOTEID noteId, DWORD flags, NOTEHANDLE * note))        \
    X(NSFNoteClose, STATUS, (NOTEHANDLE note))                                                     \
    X(NSFNoteIsSignedOrSealed, BOOL, (NOTEHANDLE note, BOOL * isSigned, BOOL * isSealed))          \
    X(NSFNoteDecrypt, STATUS, (HANDLE note, WORD flags, ENCRYPTION_KEY * keyForAttachments))       \
    X(NSFItemInfo, STATUS,                                                                         \
      (NOTEHANDLE note, const char* name, WORD nameLength, BLOCKID* item, WORD* type,              \
       BLOCKID* value, DWORD* valueLength))                                                        \
    X(NSFItemInfoNext, STATUS,                                                                     \
      (NOTEHANDLE note, BLOCKID previous, const char* name, WORD nameLength, BLOCKID* item,        \
       WORD* type, BLOCKID* value, DWORD* valueLength))                                            \
    X(NSFItemQuery, void,                                                                          \
      (NOTEHANDLE note, BLOCKID item, char* name, WORD nameBufferLength, WORD* nameLength,         \
       WORD* flags, WORD* type, BLOCKID* value, DWORD* valueLength))                               \
    X(ConvertItemToText, STATUS,                                                                   \
      (BLOCKID value, DWORD valueLength, const char* lineDelimiter, WORD charsPerLine,             \
       DHANDLE* buffer, DWORD* bufferLength, BOOL stripTabs))                                      \
    X(TimeGMToLocalZone, BOOL, (TIME * time))                                                      \
    X(TimeGMToLocal, BOOL, (TIME * time))                                                          \
    X(MIMEStreamOpen, STATUS,                                                                      \
      (NOTEHANDLE note, char* itemName, WORD itemNameLength, DWORD flags, MIMEHANDLE* stream))     \
    X(MIMEStreamRead, int,                                                                         \
      (unsigned char* data, unsigned int* length, unsigned int maxLength, MIMEHANDLE stream))      \
    X(MIMEStreamClose, void, (MIMEHANDLE stream))                                                  \
    X(NSFNoteExtractWithCallback, STATUS,                                                          \
      (NOTEHANDLE note, BLOCKID fileItem, ENCRYPTION_KEY * key, WORD flags,                        \
       NOTEEXTRACTCALLBACK callback, void* param))

// The entry points the reference declares without LNPUBLIC: the C library's own calling
// convention (it differs from LNPUBLIC on 32-bit Windows only).
#define TARVIK_NOTES_PLAIN_ENTRY_POINTS(X)                                                         \
    X(NSFIsFileItemMimePart, BOOL, (NOTEHANDLE note, BLOCKID fileItem))

// The entry points of one loaded library.
struct EntryPoints {
#define TARVIK_NOTES_DECLARE(name, result, params) result(TARVIK_LNPUBLIC* name) params = nullptr;
    TARVIK_NOTES_ENTRY_POINTS(TARVIK_NOTES_DECLARE)
#undef TARVIK_NOTES_DECLARE
#define TARVIK_NOTES_DECLARE_PLAIN(name, result, params) result(*name) params = nullptr;
    TARVIK_NOTES_PLAIN_ENTRY_POINTS(TARVIK_NOTES_DECLARE_PLAIN)
#undef TARVIK_NOTES_DECLARE_PLAIN
};

// The names of all entry points, in the order of the tables.
inline constexpr const char* entryPointNames[] = {
#define TARVIK_NOTES_NAME(name, result, params) #name,
    TARVIK_NOTES_ENTRY_POINTS(TARVIK_NOTES_NAME) TARVIK_NOTES_PLAIN_ENTRY_POINTS(TARVIK_NOTES_NAME)
#undef TARVIK_NOTES_NAME
};

} // namespace tarvik::notes::capi
