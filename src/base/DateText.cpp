#include "base/DateText.h"

#include "base/Platform.h"

#include <cstdlib>

namespace tarvik {

namespace {

constexpr int maxOffsetSeconds = 14 * 3600;

// Reads `count` decimal digits at text[pos]; -1 when any is not a digit.
int digits(const QString& text, qsizetype pos, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const QChar c = text[pos + i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

bool charAt(const QString& text, qsizetype pos, char16_t c)
{
    return text[pos].unicode() == c;
}

} // namespace

QString formatDateText(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return {};
    const auto offset = platform::localUtcOffset(dateTime.toSecsSinceEpoch());
    const QDateTime local = offset ? dateTime.toOffsetFromUtc(*offset) : dateTime.toLocalTime();
    const QDate d = local.date();
    const QTime t = local.time();
    const int off = local.offsetFromUtc();
    const int a = std::abs(off);
    if (d.year() < 1 || d.year() > 9999)
        return local.toString(Qt::ISODate); // beyond what a store holds
    // Written digit by digit: this runs for every date a mail list or export shows.
    char16_t buf[32];
    int n = 0;
    auto put = [&](int value, int width, char16_t separator) {
        for (int i = width - 1; i >= 0; --i, value /= 10)
            buf[n + i] = char16_t(u'0' + value % 10);
        n += width;
        if (separator)
            buf[n++] = separator;
    };
    put(d.year(), 4, u'-');
    put(d.month(), 2, u'-');
    put(d.day(), 2, u' ');
    put(t.hour(), 2, u':');
    put(t.minute(), 2, u':');
    put(t.second(), 2, u' ');
    buf[n++] = off < 0 ? u'-' : u'+';
    put(a / 3600, 2, u':');
    put(a / 60 % 60, 2, a % 60 ? u':' : 0);
    if (a % 60)
        put(a % 60, 2, 0);
    return QString(reinterpret_cast<const QChar*>(buf), n);
}

std::optional<QDateTime> parseDateText(const QString& text)
{
    // "yyyy-MM-dd HH:mm:ss +hh:mm", optionally ":ss" after the offset.
    if (text.size() != 26 && text.size() != 29)
        return std::nullopt;
    if (!charAt(text, 4, u'-') || !charAt(text, 7, u'-') || !charAt(text, 10, u' ') ||
        !charAt(text, 13, u':') || !charAt(text, 16, u':') || !charAt(text, 19, u' ') ||
        !charAt(text, 23, u':') || (text.size() == 29 && !charAt(text, 26, u':')))
        return std::nullopt;
    const bool negative = charAt(text, 20, u'-');
    if (!negative && !charAt(text, 20, u'+'))
        return std::nullopt;
    const int year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2);
    const int hour = digits(text, 11, 2), minute = digits(text, 14, 2),
              second = digits(text, 17, 2);
    const int offHours = digits(text, 21, 2), offMinutes = digits(text, 24, 2);
    const int offSeconds = text.size() == 29 ? digits(text, 27, 2) : 0;
    if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || offHours < 0 ||
        offMinutes < 0 || offSeconds < 0 || offMinutes > 59 || offSeconds > 59)
        return std::nullopt;
    const QDate date(year, month, day);
    const QTime time(hour, minute, second);
    const int offset = offHours * 3600 + offMinutes * 60 + offSeconds;
    if (!date.isValid() || !time.isValid() || offset > maxOffsetSeconds)
        return std::nullopt;
    const QDateTime result(date, time, Qt::OffsetFromUTC, negative ? -offset : offset);
    if (!result.isValid())
        return std::nullopt;
    return result;
}

} // namespace tarvik
