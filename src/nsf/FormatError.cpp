#include "nsf/FormatError.h"

#include <cstdio>

namespace tarvik::nsf {

namespace {

std::string composeMessage(const std::string& structure, std::uint64_t offset,
                           const std::string& detail)
{
    char where[32];
    std::snprintf(where, sizeof where, "0x%llx", static_cast<unsigned long long>(offset));
    return structure + " at offset " + where + ": " + detail;
}

} // namespace

FormatError::FormatError(FailureKind kind, std::string structure, std::uint64_t offset,
                         std::string detail)
    : std::runtime_error(composeMessage(structure, offset, detail)), m_kind(kind),
      m_structure(std::move(structure)), m_offset(offset), m_detail(std::move(detail))
{}

std::string quotedForMessage(std::string_view text)
{
    constexpr std::size_t kShown = 64;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out.push_back(char(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    out += text.size() > kShown ? "\"..." : "\"";
    return out;
}

} // namespace tarvik::nsf
