#include "nsf/ValueJson.h"

#include "nsf/Values.h"

#include <cstdio>
#include <vector>

namespace tarvik::nsf {

namespace {

std::string array(const std::vector<std::string>& elements)
{
    std::string out = "[";
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (i > 0)
            out += ", ";
        out += elements[i];
    }
    return out + "]";
}

} // namespace

std::string jsonString(std::string_view utf8)
{
    std::string out = "\"";
    for (char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(static_cast<unsigned char>(c)));
                out += buf;
            } else {
                out.push_back(c);
            }
        }
    }
    return out + "\"";
}

std::optional<std::string> valuesJson(std::uint16_t type, Bytes value)
{
    std::vector<std::string> out;
    switch (type) {
    case kTypeText:
        out.push_back(jsonString(decodeText(value)));
        break;
    case kTypeTextList:
        for (const std::string& s : decodeTextList(value))
            out.push_back(jsonString(s));
        break;
    case kTypeNumber:
        out.push_back(formatNumber(decodeNumber(value)));
        break;
    case kTypeNumberRange: {
        const NumberRange r = decodeNumberRange(value);
        for (double d : r.values)
            out.push_back(formatNumber(d));
        for (const auto& [lower, upper] : r.ranges)
            out.push_back(jsonString(formatNumber(lower) + '/' + formatNumber(upper)));
        break;
    }
    case kTypeTime:
        out.push_back(jsonString(formatTimeDate(decodeTime(value))));
        break;
    case kTypeTimeRange: {
        const TimeRange r = decodeTimeRange(value);
        for (const TimeDate& t : r.values)
            out.push_back(jsonString(formatTimeDate(t)));
        for (const auto& pair : r.ranges)
            out.push_back(jsonString(formatTimeRangePair(pair)));
        break;
    }
    case kTypeNoteRefList:
        for (const Unid& u : decodeNoteRefList(value))
            out.push_back(jsonString(u.hex()));
        break;
    default:
        return std::nullopt;
    }
    return array(out);
}

} // namespace tarvik::nsf
