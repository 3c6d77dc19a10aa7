#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace tarvik {

// The one text form of a date-time value, shared by everything that turns dates
// into text and back: the instant in this machine's local time, followed by the
// local offset from UTC, so the instant stays unambiguous across daylight-saving
// changes:
//
//     2008-03-14 10:32:05 +01:00
//
// Seconds are whole. An offset that is not a whole number of minutes (old local
// mean times) gets its seconds as well: "+00:53:28".
QString formatDateText(const QDateTime& dateTime);

// Reads exactly the form above back into the same instant (with the written offset).
// Nothing for any other text, an impossible date or time, or an offset beyond 14 hours.
std::optional<QDateTime> parseDateText(const QString& text);

} // namespace tarvik
