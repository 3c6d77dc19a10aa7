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

} // namespace tarvik::nsf
