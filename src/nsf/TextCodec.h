#pragma once

#include "nsf/ByteReader.h"

#include <memory>
#include <string>
#include <string_view>

struct UConverter;

namespace tarvik::nsf {

// One ICU converter from a character set to Unicode, owned. Not shareable between threads
// (ICU converters keep state); each thread makes its own.
class CharsetConverter {
public:
    // Throws FormatError (Unsupported) when ICU does not know the character set.
    explicit CharsetConverter(std::string_view charset);
    ~CharsetConverter();
    CharsetConverter(CharsetConverter&&) noexcept;
    CharsetConverter& operator=(CharsetConverter&&) noexcept;
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    // The bytes as UTF-8. A byte or sequence that is not valid in the character set (a group
    // byte of an unknown group, a sequence cut short at the end) becomes U+FFFD; it never
    // throws for the bytes' sake.
    std::string toUtf8(Bytes bytes);

private:
    struct Close {
        void operator()(UConverter* c) const noexcept;
    };
    std::unique_ptr<UConverter, Close> m_converter;
};

// Notes text (LMBCS, as the file stores every name and text value) as UTF-8. ASCII stays as
// it is; a byte below 0x20 that names a group (0x01 Western European, 0x02 Greek, 0x03
// Hebrew, 0x04 Arabic, 0x05 Cyrillic, 0x06 Central European, 0x08 Turkish, 0x0B Thai, 0x0F
// control characters, 0x10 Japanese, 0x11 Korean, 0x12 Traditional Chinese, 0x13 Simplified
// Chinese, 0x14 UTF-16 big-endian) is followed by one or two bytes of that group; a byte of
// 0x80 or above alone belongs to group 0x01. NUL stays NUL: what it means depends on the value.
std::string lmbcsToUtf8(Bytes bytes);
inline std::string lmbcsToUtf8(std::string_view text)
{
    return lmbcsToUtf8(Bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// Bytes in a character set that MIME names ("iso-8859-1", "windows-1252", "shift_jis",
// "utf-8", ...) as UTF-8. Throws FormatError (Unsupported) for a set ICU does not know.
std::string charsetToUtf8(Bytes bytes, std::string_view charset);

} // namespace tarvik::nsf
