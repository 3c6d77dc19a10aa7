#include "LayoutFacts.h"

#include "notes/capi/NotesCApi.h"

using namespace tarvik::notes::capi;

#define SIZE(T)                                                                                    \
    LayoutFact                                                                                     \
    {                                                                                              \
#T, sizeof(T)                                                                              \
    }
#define AT(T, f)                                                                                   \
    LayoutFact                                                                                     \
    {                                                                                              \
#T "." #f, offsetof(T, f)                                                                  \
    }
#define VALUE(c)                                                                                   \
    LayoutFact                                                                                     \
    {                                                                                              \
#c, static_cast < std::uint64_t>(c)                                                        \
    }

std::vector<LayoutFact> backendLayout()
{
    return {
        SIZE(WORD),
        SIZE(DWORD),
        SIZE(STATUS),
        SIZE(DHANDLE),
        SIZE(DBHANDLE),
        SIZE(NOTEHANDLE),
        SIZE(NOTEID),
        SIZE(BLOCK),
        SIZE(HCOLLECTION),
        SIZE(NUMBER),
        SIZE(BOOL),
        SIZE(TIMEDATE),
        SIZE(UNIVERSALNOTEID),
        AT(UNIVERSALNOTEID, Note),
        SIZE(BLOCKID),
        AT(BLOCKID, block),
        SIZE(COLLECTIONPOSITION),
        AT(COLLECTIONPOSITION, MinLevel),
        AT(COLLECTIONPOSITION, MaxLevel),
        AT(COLLECTIONPOSITION, Tumbler),
        SIZE(ENCRYPTION_KEY),
        AT(ENCRYPTION_KEY, Word1),
        AT(ENCRYPTION_KEY, Text),
        SIZE(ITEM_TABLE),
        AT(ITEM_TABLE, Items),
        SIZE(ITEM),
        AT(ITEM, ValueLength),
        SIZE(LIST),
        SIZE(RANGE),
        AT(RANGE, RangeEntries),
        VALUE(MAXTUMBLERLEVELS),
        VALUE(NOERROR),
        VALUE(ERR_MASK),
        VALUE(ERR_ITEM_NOT_FOUND),
        VALUE(NULLHANDLE),
        VALUE(NULLBLOCK),
        VALUE(MAXWORD),
        VALUE(NSF_INFO_SIZE),
        VALUE(INFOPARSE_TITLE),
        VALUE(OS_TRANSLATE_LMBCS_TO_UTF8),
        VALUE(OS_TRANSLATE_UTF8_TO_LMBCS),
        VALUE(NOTE_CLASS_DOCUMENT),
        VALUE(NOTE_CLASS_VIEW),
        VALUE(NOTE_CLASS_DESIGN),
        VALUE(NOTE_ID_SPECIAL),
        VALUE(OPEN_SUMMARY),
        VALUE(OPEN_RAW_MIME_PART),
        VALUE(NAVIGATE_CURRENT),
        VALUE(NAVIGATE_NEXT),
        VALUE(READ_MASK_NOTEID),
        VALUE(READ_MASK_NOTECLASS),
        VALUE(READ_MASK_SUMMARY),
        VALUE(SIGNAL_MORE_TO_DO),
        VALUE(ITEM_SEAL),
        VALUE(ITEM_READWRITERS),
        VALUE(ITEM_NAMES),
        VALUE(ITEM_READERS),
        VALUE(TYPE_INVALID_OR_UNKNOWN),
        VALUE(TYPE_COMPOSITE),
        VALUE(TYPE_OBJECT),
        VALUE(TYPE_NOTEREF_LIST),
        VALUE(TYPE_MIME_PART),
        VALUE(TYPE_NUMBER),
        VALUE(TYPE_NUMBER_RANGE),
        VALUE(TYPE_TIME),
        VALUE(TYPE_TIME_RANGE),
        VALUE(TYPE_TEXT),
        VALUE(TYPE_TEXT_LIST),
        VALUE(MIME_STREAM_OPEN_READ),
        VALUE(MIME_STREAM_MIME_INCLUDE_HEADERS),
        VALUE(MIME_STREAM_RFC2822_INCLUDE_HEADERS),
        VALUE(MIME_STREAM_INCLUDE_HEADERS),
        VALUE(MIME_STREAM_SUCCESS),
        VALUE(MIME_STREAM_EOS),
        VALUE(MIME_STREAM_IO),
    };
}
