#include "nsf/Values.h"

#include "nsf/TextCodec.h"

#include <charconv>
#include <cmath>

namespace tarvik::nsf {

namespace {

std::string notesText(Bytes bytes)
{
    std::string text = lmbcsToUtf8(bytes);
    for (char& c : text)
        if (c == '\0')
            c = '\n';
    return text;
}

// Checks that `count` entries of `each` bytes fit in what is left, before anything is
// reserved for them.
void needEntries(const ByteReader& r, std::size_t count, std::size_t each, const char* what)
{
    if (count > r.remaining() / each)
        r.fail(std::to_string(count) + " " + what + " of " + std::to_string(each) +
               " bytes do not fit in " + std::to_string(r.remaining()) + " bytes");
}

template <typename T, typename ReadOne>
ValueRange<T> decodeRange(Bytes value, const char* structure, std::size_t each, ReadOne readOne)
{
    ByteReader r(value, structure);
    const std::uint16_t listCount = r.u16();
    const std::uint16_t rangeCount = r.u16();
    needEntries(r, listCount, each, "values");
    ValueRange<T> out;
    out.values.reserve(listCount);
    for (std::uint16_t i = 0; i < listCount; ++i)
        out.values.push_back(readOne(r));
    // The pairs: as many as announced, or as many as are there when fewer are (see
    // missingRanges); a part-pair left over is damage.
    const std::size_t present = r.remaining() / (2 * each);
    const std::size_t pairs = std::min<std::size_t>(rangeCount, present);
    if (pairs < rangeCount && r.remaining() % (2 * each) != 0)
        r.fail(std::to_string(rangeCount) + " ranges announced, " + std::to_string(r.remaining()) +
               " bytes left");
    out.missingRanges = rangeCount - pairs;
    out.ranges.reserve(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        T lower = readOne(r);
        T upper = readOne(r);
        out.ranges.emplace_back(std::move(lower), std::move(upper));
    }
    return out;
}

} // namespace

std::string decodeText(Bytes value)
{
    return notesText(value);
}

std::vector<std::string> decodeTextList(Bytes value)
{
    ByteReader r(value, "text list");
    const std::uint16_t count = r.u16();
    needEntries(r, count, 2, "lengths");
    std::vector<std::uint16_t> lengths(count);
    std::size_t total = 0;
    for (auto& length : lengths) {
        length = r.u16();
        total += length;
    }
    if (total > r.remaining())
        r.fail("entries of " + std::to_string(total) + " bytes in all do not fit in " +
               std::to_string(r.remaining()) + " bytes");
    std::vector<std::string> out;
    out.reserve(count);
    for (std::uint16_t length : lengths)
        out.push_back(notesText(r.bytes(length)));
    return out;
}

double decodeNumber(Bytes value)
{
    ByteReader r(value, "number");
    return r.f64();
}

NumberRange decodeNumberRange(Bytes value)
{
    return decodeRange<double>(value, "number list", 8, [](ByteReader& r) { return r.f64(); });
}

TimeDate decodeTime(Bytes value)
{
    ByteReader r(value, "time");
    return readTimeDate(r);
}

TimeRange decodeTimeRange(Bytes value)
{
    return decodeRange<TimeDate>(value, "time list", 8,
                                 [](ByteReader& r) { return readTimeDate(r); });
}

std::string Unid::hex() const
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(32);
    for (int half = 0; half < 2; ++half)
        for (int i = 7; i >= 0; --i) {
            const std::uint8_t b = bytes[std::size_t(half * 8 + i)];
            out.push_back(digits[b >> 4]);
            out.push_back(digits[b & 0x0F]);
        }
    return out;
}

Unid readUnid(ByteReader& reader)
{
    Unid unid;
    const Bytes b = reader.bytes(16);
    std::copy(b.begin(), b.end(), unid.bytes.begin());
    return unid;
}

std::vector<Unid> decodeNoteRefList(Bytes value)
{
    ByteReader r(value, "note reference list");
    const std::uint16_t count = r.u16();
    needEntries(r, count, 16, "references");
    std::vector<Unid> out;
    out.reserve(count);
    for (std::uint16_t i = 0; i < count; ++i)
        out.push_back(readUnid(r));
    return out;
}

std::string formatNumber(double value)
{
    if (!std::isfinite(value))
        return "null";
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

std::string formatTimeRangePair(const std::pair<TimeDate, TimeDate>& pair)
{
    return formatTimeDate(pair.first) + '/' + formatTimeDate(pair.second);
}

} // namespace tarvik::nsf
