#include "nsf/TimeDate.h"

#include <cstdio>

namespace tarvik::nsf {

namespace {

// Julian day number of 1970-01-01.
constexpr std::int64_t kUnixEpochJulianDay = 2440588;

std::string formatDate(const CivilDate& d)
{
    char buf[40];
    if (d.year >= 0 && d.year <= 9999)
        std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", static_cast<long long>(d.year), d.month,
                      d.day);
    else // ISO 8601's expanded form, for the odd value far from our era
        std::snprintf(buf, sizeof buf, "%+05lld-%02u-%02u", static_cast<long long>(d.year), d.month,
                      d.day);
    return buf;
}

std::string formatTimeOfDay(std::uint32_t hundredths)
{
    const unsigned h = hundredths / 360000;
    const unsigned m = hundredths / 6000 % 60;
    const unsigned s = hundredths / 100 % 60;
    const unsigned c = hundredths % 100;
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u.%02u", h, m, s, c);
    return buf;
}

} // namespace

int TimeDate::zoneMinutesEast() const noexcept
{
    if (!hasDate())
        return 0;
    const unsigned zone = date >> 24;
    const int minutes = int(zone & 0x0F) * 60 + int((zone >> 4) & 0x03) * 15;
    return (zone & 0x40) ? minutes : -minutes;
}

TimeDate readTimeDate(ByteReader& reader)
{
    TimeDate td;
    td.time = reader.u32();
    td.date = reader.u32();
    if (td.hasTime() && td.time >= TimeDate::kHundredthsPerDay)
        throw FormatError(FailureKind::Damaged, "time value", reader.base() + reader.position() - 8,
                          "time of day " + std::to_string(td.time) +
                              " hundredths is beyond one day");
    return td;
}

CivilDate civilFromJulianDay(std::uint32_t julianDay)
{
    // Days since 1970-01-01, then the civil-from-days conversion of the proleptic Gregorian
    // calendar (eras of 400 years, years starting in March).
    std::int64_t z = std::int64_t(julianDay) - kUnixEpochJulianDay + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const unsigned day = unsigned(doy - (153 * mp + 2) / 5 + 1);
    const unsigned month = unsigned(mp < 10 ? mp + 3 : mp - 9);
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

std::optional<std::int64_t> utcHundredths(const TimeDate& td)
{
    if (!td.hasTime() || !td.hasDate())
        return std::nullopt;
    const std::int64_t days = std::int64_t(td.julianDay()) - kUnixEpochJulianDay;
    return days * TimeDate::kHundredthsPerDay + td.time;
}

std::string formatTimeDate(const TimeDate& td)
{
    if (!td.hasDate())
        return td.hasTime() ? formatTimeOfDay(td.time) : std::string("*");
    const std::string date = formatDate(civilFromJulianDay(td.julianDay()));
    if (!td.hasTime())
        return date;
    return date + 'T' + formatTimeOfDay(td.time) + 'Z';
}

} // namespace tarvik::nsf
