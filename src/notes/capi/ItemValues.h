#pragma once

#include "notes/NotesValue.h"
#include "notes/capi/NotesCApi.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <optional>

// What the values of items and summary buffers hold, decoded from the bytes the C API
// gives: values in host form (text, text lists, numbers, times, note references) and the
// summary buffers of collection entries. Nothing here calls Notes: text and times are
// turned into ours by the functions passed in, which do.
namespace tarvik::notes::capi {

using TextDecoder = std::function<QString(const char* data, std::size_t length)>;
// The instant a TIMEDATE stands for, with the offset from UTC its writer saw; an invalid
// QDateTime for a value without date and time.
using TimeDecoder = std::function<QDateTime(const TIMEDATE& value)>;

// The values of an item of type text, text list, number, number list, time, time list
// or note-reference list, from its value after the type word, in host form. A list or
// range gives its single values first, then both ends of each pair. Throws OperationError
// when the value's counts or lengths do not fit its size, or for another type.
QList<NotesValue> decodeHostValue(WORD type, const char* data, std::size_t length,
                                  const TextDecoder& text, const TimeDecoder& time);

// Whether decodeHostValue reads values of this type.
bool isHostValueType(WORD type);

// The instant of a TIMEDATE from its two expansions: in UTC (zone 0, no daylight saving)
// and in its writer's zone (TimeGMToLocal). The writer's offset is their difference. A
// value with a date only is that date at midnight in this machine's zone; one with a time
// only is that time of the writer's day on 1899-12-30, the day Notes' automation classes
// give times without a date; one with neither is an invalid QDateTime.
QDateTime dateTimeFromExpansions(const TIMEDATE& value, const TIME& utc, const TIME& writer);

// One item of a summary buffer: its name (LMBCS) and its value, type word first.
struct SummaryItem {
    QByteArray name;
    WORD type = TYPE_INVALID_OR_UNKNOWN;
    QByteArray value; // after the type word
};

// The items of the summary buffer at data (an ITEM_TABLE, its ITEMs, then each name and
// value) and in used the bytes it takes (ITEM_TABLE.Length). Nothing when the buffer's
// lengths do not fit in length bytes.
std::optional<QList<SummaryItem>> parseSummaryBuffer(const char* data, std::size_t length,
                                                     std::size_t* used = nullptr);

// A view's name and aliases from its title ($TITLE): a text, or a text list whose entries
// are taken as if joined by "|". The name is the part before the first "|" and the aliases
// the others, each without surrounding blanks, empty ones left out.
struct ViewTitle {
    QString name;
    QStringList aliases;
    QString whole; // the parts joined by "|", as stored
};
ViewTitle splitViewTitle(const QStringList& parts);

} // namespace tarvik::notes::capi
