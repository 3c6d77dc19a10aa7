#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace tarvik::mail {

// Reads the date texts the message builder hands to the writer:
//  - "2008-03-14 10:32:05 +01:00": local date and time with the zone offset
//    (seconds and offset optional; without an offset the text is local time);
//  - ISO 8601: "2008-03-14T10:32:05+01:00", "2008-03-14T10:32:05Z",
//    fractions of a second allowed;
//  - "03-14-2008": month, day, year; midnight local time.
// Surrounding blanks are ignored. Years outside 1900..9999, impossible dates
// and times, and anything else give nothing.
std::optional<QDateTime> parseMailDate(const QString& text);

// The RFC 5322 form of an instant, with the offset the QDateTime carries:
// "Fri, 14 Mar 2008 10:32:05 +0100". English names whatever the locale.
QString formatMailDate(const QDateTime& when);

} // namespace tarvik::mail
