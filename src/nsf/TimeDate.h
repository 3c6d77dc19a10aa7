#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tarvik::nsf {

// A Notes time as stored: two little-endian words. The first counts hundredths of a second
// since midnight GMT, or is all ones for a date without a time ("all day"). The second holds
// the Julian day number in its low 24 bits (or is all ones for a time without a date, "any
// day") and, in its top byte, the zone the value was written in: bit 7 daylight-saving time
// observed, bit 6 east of Greenwich, bits 4-5 quarter hours, bits 0-3 whole hours. The zone
// does not change the instant: the time is always GMT. It is kept so that the value can be
// shown as its writer saw it.
struct TimeDate {
    static constexpr std::uint32_t kNoTime = 0xFFFFFFFF;
    static constexpr std::uint32_t kNoDate = 0xFFFFFFFF;
    static constexpr std::uint32_t kHundredthsPerDay = 24u * 60 * 60 * 100;

    std::uint32_t time = 0;
    std::uint32_t date = 0;

    bool hasTime() const noexcept { return time != kNoTime; }
    bool hasDate() const noexcept { return date != kNoDate; }
    std::uint32_t julianDay() const noexcept { return date & 0x00FFFFFF; }
    bool daylightSaving() const noexcept { return hasDate() && (date & 0x80000000u) != 0; }
    // The writer's zone as minutes east of Greenwich (New York -300, Mumbai +330).
    int zoneMinutesEast() const noexcept;

    friend bool operator==(const TimeDate&, const TimeDate&) = default;
};

// Reads one stored time and checks it: a time of day must lie within the day.
TimeDate readTimeDate(ByteReader& reader);

// Hundredths of a second since 1970-01-01 00:00:00 UTC, when the value has both a date and a
// time; nothing for "all day" or "any day" values.
std::optional<std::int64_t> utcHundredths(const TimeDate& td);

// The civil date (proleptic Gregorian) of a Julian day number.
struct CivilDate {
    std::int64_t year;
    unsigned month;
    unsigned day;
};
CivilDate civilFromJulianDay(std::uint32_t julianDay);

// The value as the dump shows it: "YYYY-MM-DDTHH:MM:SS.hhZ" in UTC; "YYYY-MM-DD" for a date
// without a time; "HH:MM:SS.hh" for a time without a date (a time of day, not an instant);
// "*" when the value has neither.
std::string formatTimeDate(const TimeDate& td);

} // namespace tarvik::nsf
