#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvik::nsf {

// A JSON string literal of UTF-8 text: quotes, backslash and control characters escaped.
std::string jsonString(std::string_view utf8);

// The "values" array of the dump for an item of a simple type: strings for text and text
// lists, numbers for numbers, "YYYY-MM-DDTHH:MM:SS.hhZ" (or a date, or a time of day) for
// times, 32 hex digits for note references; lists and ranges give their single values first,
// then each pair as "lower/upper". Nothing for a type it does not cover (rich text, MIME
// parts, objects, design types). Throws FormatError when the value is damaged.
std::optional<std::string> valuesJson(std::uint16_t type, Bytes value);

} // namespace tarvik::nsf
