#include "mail/MailDate.h"

#include "base/DateText.h"

#include <QRegularExpression>
#include <QTimeZone>

namespace tarvik::mail {

namespace {

constexpr int minYear = 1900;
constexpr int maxYear = 9999;

std::optional<int> offsetSeconds(const QString& zone)
{
    if (zone.isEmpty())
        return std::nullopt;
    if (zone.compare(u"Z", Qt::CaseInsensitive) == 0)
        return 0;
    QString digits = zone.mid(1);
    digits.remove(QLatin1Char(':'));
    const int hours = digits.left(2).toInt();
    const int minutes = digits.mid(2).toInt();
    if (hours > 23 || minutes > 59)
        return std::nullopt;
    const int seconds = hours * 3600 + minutes * 60;
    return zone.startsWith(QLatin1Char('-')) ? -seconds : seconds;
}

// A wall-clock time that does not exist locally (skipped by a change to
// summer time) is read with the offset before the change: 02:30 on such a day
// is 03:30 summer time.
QDateTime localDateTime(const QDate& date, const QTime& time)
{
    QDateTime dt(date, time, Qt::LocalTime);
    for (int hour = 1; !dt.isValid() && hour <= 3; ++hour)
        dt = QDateTime(date, time.addSecs(hour * 3600), Qt::LocalTime);
    return dt;
}

} // namespace

std::optional<QDateTime> parseMailDate(const QString& text)
{
    static const QRegularExpression dateTime(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})[T ](\d{2}):(\d{2})(?::(\d{2})(?:[.,](\d{1,9}))?)?)"
        R"(\s*(Z|z|[+-]\d{2}:?\d{2})?$)"));
    static const QRegularExpression monthDayYear(QStringLiteral(R"(^(\d{2})-(\d{2})-(\d{4})$)"));

    const QString t = text.trimmed();
    // The Notes back-end's own text form of a date-time, read by its own reader.
    if (const auto fromNotes = parseDateText(t)) {
        const int year = fromNotes->date().year();
        return year >= minYear && year <= maxYear ? fromNotes : std::nullopt;
    }
    if (const auto m = monthDayYear.match(t); m.hasMatch()) {
        const QDate date(m.captured(3).toInt(), m.captured(1).toInt(), m.captured(2).toInt());
        if (!date.isValid() || date.year() < minYear || date.year() > maxYear)
            return std::nullopt;
        const QDateTime dt = localDateTime(date, QTime(0, 0));
        return dt.isValid() ? std::optional(dt) : std::nullopt;
    }

    const auto m = dateTime.match(t);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const int ms =
        m.captured(7).isEmpty() ? 0 : m.captured(7).left(3).leftJustified(3, u'0').toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms);
    if (!date.isValid() || !time.isValid() || date.year() < minYear || date.year() > maxYear)
        return std::nullopt;

    const QString zone = m.captured(8);
    if (zone.isEmpty()) {
        const QDateTime dt = localDateTime(date, time);
        return dt.isValid() ? std::optional(dt) : std::nullopt;
    }
    const auto offset = offsetSeconds(zone);
    if (!offset)
        return std::nullopt;
    return QDateTime(date, time, QTimeZone(*offset));
}

QString formatMailDate(const QDateTime& when)
{
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int offset = when.offsetFromUtc();
    // The header's zone has whole minutes only; a historical offset with
    // seconds is written as the same instant in UTC instead.
    const QDateTime shown =
        offset % 60 == 0 ? when.toOffsetFromUtc(offset) : (offset = 0, when.toUTC());
    const QDate d = shown.date();
    const QTime t = shown.time();
    const int absOffset = offset < 0 ? -offset : offset;
    return QString::asprintf("%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d", days[d.dayOfWeek() - 1],
                             d.day(), months[d.month() - 1], d.year(), t.hour(), t.minute(),
                             t.second(), offset < 0 ? '-' : '+', absOffset / 3600,
                             (absOffset % 3600) / 60);
}

} // namespace tarvik::mail
