/* The part of the Notes C API the stand-in library serves, declared from the public C API
 * reference (HCL-TECH-SOFTWARE/domino-c-api-docs, docs/reference/{Data,Func,Symb}); the
 * toolkit's headers are neither used nor needed. Plain C, so that a C test program can include
 * it too.
 *
 * Layout: the 64-bit Unix platform of the reference (NDUNIX64 without HANDLE_IS_64BITS), so
 * DHANDLE is 32 bits, and the compiler's natural alignment. Each structure's size is checked at
 * compile time; docs/notes-api-standin.md lists sizes and field offsets as read.
 *
 * The reference names most constants without giving their numbers. Where it gives none, the
 * number here is the one the stand-in uses; docs/notes-api-standin.md says which numbers come
 * from the reference and which do not. */
#ifndef TARVIK_NOTES_CAPI_H
#define TARVIK_NOTES_CAPI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The calling convention: plain C on 64-bit platforms (32-bit Windows would need __stdcall). */
#if defined(_WIN32) && !defined(_WIN64)
#define LNPUBLIC __stdcall
#define LNCALLBACK __stdcall
#else
#define LNPUBLIC
#define LNCALLBACK
#endif

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef int BOOL;
typedef WORD STATUS;
typedef uint32_t DHANDLE;
typedef DHANDLE HANDLE;
typedef HANDLE DBHANDLE;
typedef DHANDLE NOTEHANDLE;
typedef DHANDLE MEMHANDLE;
typedef WORD HCOLLECTION;
typedef DWORD NOTEID;
typedef WORD BLOCK;
typedef double NUMBER;
typedef void* MIMEHANDLE;
typedef void* HMODULE;

#define NULLHANDLE ((DHANDLE)0)
#define NULLBLOCK ((BLOCK)0)
#define NOERROR 0
#define TRUE 1
#define FALSE 0

typedef struct tagTIMEDATE {
    DWORD Innards[2];
} TIMEDATE;

typedef TIMEDATE DBID;

typedef struct UNIVERSALNOTEID_tag {
    DBID File;
    TIMEDATE Note;
} UNIVERSALNOTEID;
typedef UNIVERSALNOTEID UNID;

typedef struct ORIGINATORID_tag {
    DBID File;
    TIMEDATE Note;
    DWORD Sequence;
    TIMEDATE SequenceTime;
} ORIGINATORID;

typedef struct {
    DHANDLE pool;
    BLOCK block;
} BLOCKID;

#define MAXTUMBLERLEVELS 32
typedef struct {
    WORD Level;
    BYTE MinLevel;
    BYTE MaxLevel;
    DWORD Tumbler[MAXTUMBLERLEVELS];
} COLLECTIONPOSITION;

typedef struct {
    DBID File;
    TIMEDATE Note;
    NOTEID NoteID;
} GLOBALINSTANCEID;

typedef struct {
    GLOBALINSTANCEID ID;
    ORIGINATORID OriginatorID;
    WORD NoteClass;
    BYTE SERetFlags;
    BYTE Privileges;
    WORD SummaryLength;
} SEARCH_MATCH;

typedef struct {
    WORD ObjectType;
    DWORD RRV;
} OBJECT_DESCRIPTOR;

typedef struct {
    OBJECT_DESCRIPTOR Header;
    WORD FileNameLength;
    WORD HostType;
    WORD CompressionType;
    WORD FileAttributes;
    WORD Flags;
    DWORD FileSize;
    TIMEDATE FileCreated;
    TIMEDATE FileModified;
} FILEOBJECT;

typedef struct {
    DWORD TopLevelEntries;
    DWORD LastModifiedTime;
} COLLECTIONSTATS;

typedef struct {
    USHORT ListEntries;
} LIST;

typedef struct {
    USHORT ListEntries;
    USHORT RangeEntries;
} RANGE;

typedef struct {
    USHORT Length;
    USHORT Items;
} ITEM_TABLE;

typedef struct {
    USHORT NameLength;
    USHORT ValueLength;
} ITEM;

typedef struct {
    BYTE Byte1;
    WORD Word1;
    BYTE Text[16];
} ENCRYPTION_KEY;

/* misc.h: a TIMEDATE and its components (TimeGMToLocal, TimeGMToLocalZone). */
typedef struct {
    int year;
    int month;
    int day;
    int weekday; /* 1-7, Sunday is 1 */
    int hour;
    int minute;
    int second;
    int hundredth;
    int dst;
    int zone; /* -11 to +11 */
    TIMEDATE GM;
} TIME;

#ifdef __cplusplus
#define TARVIK_STATIC_ASSERT static_assert
#else
#define TARVIK_STATIC_ASSERT _Static_assert
#endif
TARVIK_STATIC_ASSERT(sizeof(DHANDLE) == 4, "DHANDLE");
TARVIK_STATIC_ASSERT(sizeof(HCOLLECTION) == 2, "HCOLLECTION");
TARVIK_STATIC_ASSERT(sizeof(TIMEDATE) == 8, "TIMEDATE");
TARVIK_STATIC_ASSERT(sizeof(UNIVERSALNOTEID) == 16, "UNIVERSALNOTEID");
TARVIK_STATIC_ASSERT(sizeof(ORIGINATORID) == 28, "ORIGINATORID");
TARVIK_STATIC_ASSERT(sizeof(BLOCKID) == 8, "BLOCKID");
TARVIK_STATIC_ASSERT(offsetof(BLOCKID, block) == 4, "BLOCKID.block");
TARVIK_STATIC_ASSERT(sizeof(COLLECTIONPOSITION) == 132, "COLLECTIONPOSITION");
TARVIK_STATIC_ASSERT(offsetof(COLLECTIONPOSITION, Tumbler) == 4, "COLLECTIONPOSITION.Tumbler");
TARVIK_STATIC_ASSERT(sizeof(GLOBALINSTANCEID) == 20, "GLOBALINSTANCEID");
TARVIK_STATIC_ASSERT(sizeof(SEARCH_MATCH) == 56, "SEARCH_MATCH");
TARVIK_STATIC_ASSERT(offsetof(SEARCH_MATCH, OriginatorID) == 20, "SEARCH_MATCH.OriginatorID");
TARVIK_STATIC_ASSERT(offsetof(SEARCH_MATCH, NoteClass) == 48, "SEARCH_MATCH.NoteClass");
TARVIK_STATIC_ASSERT(offsetof(SEARCH_MATCH, SERetFlags) == 50, "SEARCH_MATCH.SERetFlags");
TARVIK_STATIC_ASSERT(offsetof(SEARCH_MATCH, SummaryLength) == 52, "SEARCH_MATCH.SummaryLength");
/* Host form; item values of TYPE_OBJECT hold the canonical (packed) form: 6 and 36 bytes. */
TARVIK_STATIC_ASSERT(sizeof(OBJECT_DESCRIPTOR) == 8, "OBJECT_DESCRIPTOR");
TARVIK_STATIC_ASSERT(sizeof(FILEOBJECT) == 40, "FILEOBJECT");
TARVIK_STATIC_ASSERT(offsetof(FILEOBJECT, FileSize) == 20, "FILEOBJECT.FileSize");
TARVIK_STATIC_ASSERT(offsetof(FILEOBJECT, FileCreated) == 24, "FILEOBJECT.FileCreated");
#define ODS_OBJECT_DESCRIPTOR_SIZE 6
#define ODS_FILEOBJECT_SIZE 36
TARVIK_STATIC_ASSERT(sizeof(COLLECTIONSTATS) == 8, "COLLECTIONSTATS");
TARVIK_STATIC_ASSERT(sizeof(LIST) == 2, "LIST");
TARVIK_STATIC_ASSERT(sizeof(RANGE) == 4, "RANGE");
TARVIK_STATIC_ASSERT(sizeof(ITEM_TABLE) == 4, "ITEM_TABLE");
TARVIK_STATIC_ASSERT(sizeof(ITEM) == 4, "ITEM");
TARVIK_STATIC_ASSERT(sizeof(ENCRYPTION_KEY) == 20, "ENCRYPTION_KEY");
TARVIK_STATIC_ASSERT(offsetof(ENCRYPTION_KEY, Text) == 4, "ENCRYPTION_KEY.Text");
TARVIK_STATIC_ASSERT(sizeof(NUMBER) == 8, "NUMBER");
TARVIK_STATIC_ASSERT(sizeof(TIME) == 48, "TIME");
TARVIK_STATIC_ASSERT(offsetof(TIME, GM) == 40, "TIME.GM");

/* STATUS: two flag bits, the package, the number within the package. */
#define STS_DISPLAYED 0x8000
#define STS_REMOTE 0x4000
#define ERR_MASK 0x3fff
#define PKG_MASK 0x3f00
#define ERRNUM_MASK 0x00ff
#define ERR(e) ((STATUS)((e)&ERR_MASK))

#define PKG_OS 0x0100
#define PKG_NSF 0x0200
#define PKG_NIF 0x0400
#define PKG_MISC 0x0500
#define PKG_BSAFE 0x0900

#define ERR_NOT_NSF (PKG_NSF + 1) /* the one the reference gives */
#define ERR_NOEXIST (PKG_OS + 3)
#define ERR_PROTECTED (PKG_OS + 7) /* here: a handle of the wrong kind or unknown */
#define ERR_NOT_INITIALIZED (PKG_OS + 8)
#define ERR_FILE_WRITE (PKG_OS + 9)
#define ERR_ITEM_NOT_FOUND (PKG_NSF + 34)
#define ERR_INVALID_NOTE (PKG_NSF + 37)
#define ERR_SPECIAL_ID (PKG_NSF + 38)
#define ERR_NOTE_NOT_SEALED (PKG_NSF + 40)
#define ERR_NOEXTRACT_ENCRYPTED (PKG_NSF + 41)
#define ERR_DATATYPE (PKG_NSF + 42)
#define ERR_NOTE_DELETED (PKG_NSF + 43)
#define ERR_ENCODING (PKG_NSF + 44)
#define ERR_ODS_NO_SUCH_ENTRY (PKG_NSF + 45)
#define ERR_NOT_FOUND (PKG_NIF + 4)
#define ERR_COLLECTION_NOT_CREATED (PKG_NIF + 5)
#define ERR_BSAFE_USER_ABORT (PKG_BSAFE + 1)
#define ERR_BSAFE_BADPASSWORD (PKG_BSAFE + 2)
#define ERR_BSAFE_NOKEY (PKG_BSAFE + 3)
#define ERR_INIT_FAILED (PKG_MISC + 1)

/* Item types (TYPE_xxx). */
#define TYPE_INVALID_OR_UNKNOWN 0x0000
#define TYPE_COMPOSITE 0x0001
#define TYPE_OBJECT 0x0003
#define TYPE_NOTEREF_LIST 0x0004
#define TYPE_MIME_PART 0x0019
#define TYPE_ERROR 0x0100
#define TYPE_UNAVAILABLE 0x0200
#define TYPE_NUMBER 0x0300
#define TYPE_NUMBER_RANGE 0x0301
#define TYPE_TIME 0x0400
#define TYPE_TIME_RANGE 0x0401
#define TYPE_TEXT 0x0500
#define TYPE_TEXT_LIST 0x0501
#define TYPE_RFC822_TEXT 0x0502

/* Item flags (ITEM_xxx). */
#define ITEM_SIGN 0x0001
#define ITEM_SEAL 0x0002
#define ITEM_SUMMARY 0x0004
#define ITEM_READWRITERS 0x0020
#define ITEM_NAMES 0x0040
#define ITEM_PLACEHOLDER 0x0100
#define ITEM_PROTECTED 0x0200
#define ITEM_READERS 0x0400

/* Note classes (NOTE_CLASS_xxx). */
#define NOTE_CLASS_DOCUMENT 0x0001
#define NOTE_CLASS_DATA NOTE_CLASS_DOCUMENT
#define NOTE_CLASS_INFO 0x0002
#define NOTE_CLASS_FORM 0x0004
#define NOTE_CLASS_VIEW 0x0008
#define NOTE_CLASS_ICON 0x0010
#define NOTE_CLASS_DESIGN 0x0020
#define NOTE_CLASS_ACL 0x0040
#define NOTE_CLASS_HELP_INDEX 0x0080
#define NOTE_CLASS_HELP 0x0100
#define NOTE_CLASS_FILTER 0x0200
#define NOTE_CLASS_FIELD 0x0400
#define NOTE_CLASS_REPLFORMULA 0x0800
#define NOTE_CLASS_PRIVATE 0x1000
#define NOTE_CLASS_DEFAULT 0x8000
#define NOTE_CLASS_ALL 0x7fff
#define NOTE_CLASS_ALLNONDATA 0x7ffe
#define NOTE_ID_SPECIAL 0xffff0000UL
#define SPECIAL_ID_NOTE 0x8000

/* NSFNoteOpen(Ext) flags (OPEN_xxx, note). */
#define OPEN_SUMMARY 0x0001
#define OPEN_NOVERIFYDEFAULT 0x0002
#define OPEN_EXPAND 0x0004
#define OPEN_NOOBJECTS 0x0008
#define OPEN_SHARE 0x0020
#define OPEN_CANONICAL 0x0040
#define OPEN_MARK_READ 0x0100
#define OPEN_ABSTRACT 0x0200
#define OPEN_RESPONSE_ID_TABLE 0x1000
#define OPEN_WITH_FOLDERS 0x00020000UL
#define OPEN_RAW_RFC822_TEXT 0x01000000UL
#define OPEN_RAW_MIME_PART 0x02000000UL
#define OPEN_RAW_MIME (OPEN_RAW_RFC822_TEXT | OPEN_RAW_MIME_PART)

/* NIFOpenCollection flags (OPEN_xxx, collection). */
#define OPEN_REBUILD_INDEX 0x0001
#define OPEN_NOUPDATE 0x0002
#define OPEN_DO_NOT_CREATE 0x0004
#define OPEN_SHARED_VIEW_NOTE 0x0010
#define OPEN_REOPEN_COLLECTION 0x0020

/* NIFReadEntries: navigators, what to return, signals. */
#define NAVIGATE_CURRENT 0
#define NAVIGATE_NEXT 1
#define NAVIGATE_PREV 9
#define NAVIGATE_MASK 0x007f
#define NAVIGATE_MINLEVEL 0x0100
#define NAVIGATE_MAXLEVEL 0x0200
#define NAVIGATE_CONTINUE 0x8000

#define READ_MASK_NOTEID 0x00000001UL
#define READ_MASK_NOTEUNID 0x00000002UL
#define READ_MASK_NOTECLASS 0x00000004UL
#define READ_MASK_INDEXSIBLINGS 0x00000008UL
#define READ_MASK_INDEXCHILDREN 0x00000010UL
#define READ_MASK_INDEXDESCENDANTS 0x00000020UL
#define READ_MASK_INDEXANYUNREAD 0x00000040UL
#define READ_MASK_INDENTLEVELS 0x00000080UL
#define READ_MASK_COLLECTIONSTATS 0x00000100UL
#define READ_MASK_SCORE 0x00000200UL
#define READ_MASK_INDEXUNREAD 0x00000400UL
#define READ_MASK_SUMMARYVALUES 0x00002000UL
#define READ_MASK_INDEXPOSITION 0x00004000UL
#define READ_MASK_SUMMARY 0x00008000UL

#define SIGNAL_DEFN_ITEM_MODIFIED 0x0001
#define SIGNAL_VIEW_ITEM_MODIFIED 0x0002
#define SIGNAL_INDEX_MODIFIED 0x0004
#define SIGNAL_UNREADLIST_MODIFIED 0x0008
#define SIGNAL_DATABASE_MODIFIED 0x0010
#define SIGNAL_MORE_TO_DO 0x0020
#define SIGNAL_VIEW_TIME_RELATIVE 0x0040
#define SIGNAL_NOT_SUPPORTED 0x0080

/* NSFSearch. */
typedef DHANDLE FORMULAHANDLE;
#define SEARCH_ALL_VERSIONS 0x0001
#define SEARCH_SUMMARY 0x0002
#define SE_FNOMATCH 0x00
#define SE_FMATCH 0x01
#define SE_FTRUNCATED 0x02

/* NSFDbInfoGet / NSFDbInfoParse. */
#define NSF_INFO_SIZE 128
#define INFOPARSE_TITLE 0
#define INFOPARSE_CATEGORIES 1
#define INFOPARSE_CLASS 2
#define INFOPARSE_DESIGN_CLASS 3

/* OSTranslate. */
#define OS_TRANSLATE_NATIVE_TO_LMBCS 0
#define OS_TRANSLATE_LMBCS_TO_NATIVE 1
#define OS_TRANSLATE_LOWER_TO_UPPER 3
#define OS_TRANSLATE_UPPER_TO_LOWER 4
#define OS_TRANSLATE_LMBCS_TO_UNICODE 20
#define OS_TRANSLATE_LMBCS_TO_UTF8 22
#define OS_TRANSLATE_UNICODE_TO_LMBCS 23
#define OS_TRANSLATE_UTF8_TO_LMBCS 24
#define MAXWORD 0xffff
#define MAXPATH 256
#define ALLDAY 0xffffffffUL /* TIMEDATE.Innards[0]: no time of day */
#define ANYDAY 0xffffffffUL /* TIMEDATE.Innards[1]: no date */

/* MIME streams. */
#define MIME_STREAM_OPEN_READ 0x00000001UL
#define MIME_STREAM_OPEN_WRITE 0x00000002UL
#define MIME_STREAM_MIME_INCLUDE_HEADERS 0x00000010UL
#define MIME_STREAM_RFC2822_INCLUDE_HEADERS 0x00000020UL
#define MIME_STREAM_INCLUDE_HEADERS                                                                \
    (MIME_STREAM_MIME_INCLUDE_HEADERS | MIME_STREAM_RFC2822_INCLUDE_HEADERS)
#define MIME_STREAM_SUCCESS 0
#define MIME_STREAM_EOS 1
#define MIME_STREAM_IO 2

typedef STATUS(LNCALLBACK* NSFITEMSCANPROC)(WORD Spare, WORD ItemFlags, char* Name, WORD NameLength,
                                            void* Value, DWORD ValueLength, void* RoutineParameter);

typedef STATUS(LNCALLBACK* NOTEEXTRACTCALLBACK)(const BYTE* bytes, DWORD length, void* pParam);

typedef STATUS(LNCALLBACK* NSFSEARCHPROC)(void* EnumRoutineParameter, SEARCH_MATCH* SearchMatch,
                                          ITEM_TABLE* SummaryBuffer);

/* Start-up and end. */
STATUS LNPUBLIC NotesInitExtended(int argc, char** argv);
void LNPUBLIC NotesTerm(void);
STATUS LNPUBLIC NotesInitThread(void);
void LNPUBLIC NotesTermThread(void);
STATUS LNPUBLIC SECKFMSwitchToIDFile(char* pIDFileName, char* pPassword, char* pUserName,
                                     WORD MaxUserNameLength, DWORD Flags, void* pReserved);

/* Memory and messages. */
void* LNPUBLIC OSLockObject(DHANDLE Handle);
BOOL LNPUBLIC OSUnlockObject(DHANDLE Handle);
STATUS LNPUBLIC OSMemFree(DHANDLE Handle);
WORD LNPUBLIC OSTranslate(WORD TranslateMode, const char* In, WORD InLength, char* Out,
                          WORD OutLength);
WORD LNPUBLIC OSLoadString(HMODULE hModule, STATUS StringCode, char* retBuffer, WORD BufferLength);
BOOL LNPUBLIC OSGetEnvironmentString(const char* VariableName, char* retValueBuffer,
                                     WORD BufferLength);
WORD LNPUBLIC OSGetDataDirectory(char* retPathName);
BOOL LNPUBLIC TimeGMToLocal(TIME* Time);
BOOL LNPUBLIC TimeGMToLocalZone(TIME* Time);

/* Databases. */
STATUS LNPUBLIC NSFDbOpen(const char* PathName, DBHANDLE* rethDB);
STATUS LNPUBLIC NSFDbClose(DBHANDLE hDB);
STATUS LNPUBLIC NSFDbInfoGet(DBHANDLE hDB, char* retBuffer);
void LNPUBLIC NSFDbInfoParse(char* Info, WORD What, char* Buffer, WORD Length);
STATUS LNPUBLIC NSFDbGetSpecialNoteID(DBHANDLE hDB, WORD Index, NOTEID* retNoteID);

/* Views, folders and the design collection. */
STATUS LNPUBLIC NSFSearch(DBHANDLE hDB, FORMULAHANDLE hFormula, char* ViewTitle, WORD SearchFlags,
                          WORD NoteClassMask, TIMEDATE* Since, NSFSEARCHPROC EnumRoutine,
                          void* EnumRoutineParameter, TIMEDATE* retUntil);
STATUS LNPUBLIC NIFFindDesignNote(DBHANDLE hFile, const char* Name, WORD Class, NOTEID* retNoteID);
STATUS LNPUBLIC NIFFindDesignNoteExt(DBHANDLE hFile, const char* Name, WORD Class,
                                     const char* pszFlagsPattern, NOTEID* retNoteID, DWORD Options);
STATUS LNPUBLIC NIFFindView(DBHANDLE hFile, const char* Name, NOTEID* retNoteID);
STATUS LNPUBLIC NIFOpenCollection(DBHANDLE hViewDB, DBHANDLE hDataDB, NOTEID ViewNoteID,
                                  WORD OpenFlags, DHANDLE hUnreadList, HCOLLECTION* rethCollection,
                                  NOTEHANDLE* rethViewNote, UNID* retViewUNID,
                                  DHANDLE* rethCollapsedList, DHANDLE* rethSelectedList);
STATUS LNPUBLIC NIFReadEntries(HCOLLECTION hCollection, COLLECTIONPOSITION* IndexPos,
                               WORD SkipNavigator, DWORD SkipCount, WORD ReturnNavigator,
                               DWORD ReturnCount, DWORD ReturnMask, DHANDLE* rethBuffer,
                               WORD* retBufferLength, DWORD* retNumEntriesSkipped,
                               DWORD* retNumEntriesReturned, WORD* retSignalFlags);
STATUS LNPUBLIC NIFCloseCollection(HCOLLECTION hCollection);

/* Notes and items. */
STATUS LNPUBLIC NSFNoteOpen(DBHANDLE db_handle, NOTEID note_id, WORD open_flags,
                            NOTEHANDLE* note_handle);
STATUS LNPUBLIC NSFNoteOpenExt(DBHANDLE hDB, NOTEID NoteID, DWORD flags, NOTEHANDLE* rethNote);
STATUS LNPUBLIC NSFNoteClose(NOTEHANDLE note_handle);
STATUS LNPUBLIC NSFItemInfo(NOTEHANDLE note_handle, const char* item_name, WORD name_len,
                            BLOCKID* item_blockid, WORD* value_datatype, BLOCKID* value_blockid,
                            DWORD* value_len);
STATUS LNPUBLIC NSFItemInfoNext(NOTEHANDLE note_handle, BLOCKID NextItem, const char* item_name,
                                WORD name_len, BLOCKID* item_blockid_ptr, WORD* value_type_ptr,
                                BLOCKID* value_blockid_ptr, DWORD* value_len_ptr);
WORD LNPUBLIC NSFItemGetText(NOTEHANDLE note_handle, const char* item_name, char* item_text,
                             WORD text_len);
WORD LNPUBLIC NSFItemGetTextListEntries(NOTEHANDLE note_handle, const char* item_name);
WORD LNPUBLIC NSFItemGetTextListEntry(NOTEHANDLE note_handle, const char* item_name,
                                      WORD entry_position, char* entry_text, WORD text_len);
BOOL LNPUBLIC NSFItemGetNumber(NOTEHANDLE hNote, const char* ItemName, NUMBER* retNumber);
BOOL LNPUBLIC NSFItemGetTime(NOTEHANDLE note_handle, const char* td_item_name,
                             TIMEDATE* td_item_value);
STATUS LNPUBLIC NSFItemScan(NOTEHANDLE note_handle, NSFITEMSCANPROC ActionRoutine,
                            void* func_param);
BOOL LNPUBLIC NSFNoteHasObjects(NOTEHANDLE hNote, BLOCKID* bhFirstObjectItem);
STATUS LNPUBLIC NSFNoteExtractFile(NOTEHANDLE note_handle, BLOCKID item_blockid,
                                   const char* file_name, ENCRYPTION_KEY* DecryptionKey);
void LNPUBLIC NSFItemQuery(NOTEHANDLE note_handle, BLOCKID item_bid, char* item_name,
                           WORD return_buf_len, WORD* name_len_ptr, WORD* item_flags_ptr,
                           WORD* value_datatype_ptr, BLOCKID* value_bid_ptr, DWORD* value_len_ptr);
BOOL LNPUBLIC NSFNoteIsSignedOrSealed(NOTEHANDLE note_handle, BOOL* signed_flag_ptr,
                                      BOOL* sealed_flag_ptr);
STATUS LNPUBLIC NSFNoteExtractWithCallback(NOTEHANDLE hNote, BLOCKID bhItem,
                                           ENCRYPTION_KEY* DecryptionKey, WORD wFlags,
                                           NOTEEXTRACTCALLBACK pNoteExtractCallback, void* pParam);
/* nsfmime.h declares this one without LNPUBLIC. */
BOOL NSFIsFileItemMimePart(NOTEHANDLE hNote, BLOCKID bhMIMEItem);
STATUS LNPUBLIC NSFNoteDecrypt(NOTEHANDLE hNote, WORD DecryptFlags,
                               ENCRYPTION_KEY* retKeyForAttachments);
STATUS LNPUBLIC ListGetText(void* pList, BOOL fPrefixDataType, WORD EntryNumber,
                            char** retTextPointer, WORD* retTextLength);
STATUS LNPUBLIC MIMEStreamOpen(NOTEHANDLE hNote, char* pchItemName, WORD wItemNameLen,
                               DWORD dwOpenFlags, MIMEHANDLE* rethMIMEStream);
int LNPUBLIC MIMEStreamRead(unsigned char* pchData, unsigned int* puiDataLen,
                            unsigned int uiMaxDataLen, MIMEHANDLE hMIMEStream);
void LNPUBLIC MIMEStreamClose(MIMEHANDLE hMIMEStream);
STATUS LNPUBLIC ConvertItemToText(BLOCKID ItemValue, DWORD ItemValueLength,
                                  const char* LineDelimiter, WORD CharsPerLine, DHANDLE* rethBuffer,
                                  DWORD* retBufferLength, BOOL fStripTabs);

/* Only in the stand-in: how many times a caller misused the API (a wrong or stale handle, a
 * call before NotesInitExtended or from a thread not initialised, memory freed while locked or
 * not the caller's to free, handles left open at NotesTerm), and the first such misuses as
 * text, one a line. A test asserts the count is 0 at its end. */
DWORD LNPUBLIC TarvikStandinMisuseCount(void);
WORD LNPUBLIC TarvikStandinMisuseText(char* retBuffer, WORD BufferLength);

#ifdef __cplusplus
}
#endif

#endif /* TARVIK_NOTES_CAPI_H */
