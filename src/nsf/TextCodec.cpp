#include "nsf/TextCodec.h"

#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <limits>
#include <vector>

namespace tarvik::nsf {

void CharsetConverter::Close::operator()(UConverter* c) const noexcept
{
    ucnv_close(c);
}

CharsetConverter::CharsetConverter(std::string_view charset)
{
    const std::string name(charset);
    UErrorCode status = U_ZERO_ERROR;
    m_converter.reset(ucnv_open(name.c_str(), &status));
    if (U_FAILURE(status) || !m_converter)
        throw FormatError(FailureKind::Unsupported, "text", 0,
                          "character set " + quotedForMessage(name) + " is not known");
    // Invalid input becomes U+FFFD rather than stopping the conversion.
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(m_converter.get(), UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr,
                        &status);
}

CharsetConverter::~CharsetConverter() = default;
CharsetConverter::CharsetConverter(CharsetConverter&&) noexcept = default;
CharsetConverter& CharsetConverter::operator=(CharsetConverter&&) noexcept = default;

std::string CharsetConverter::toUtf8(Bytes bytes)
{
    if (bytes.empty())
        return {};
    if (bytes.size() > std::size_t(std::numeric_limits<int32_t>::max() / 2))
        throw FormatError(FailureKind::Unsupported, "text", 0,
                          std::to_string(bytes.size()) + " bytes of text is too long to convert");
    ucnv_reset(m_converter.get());
    // Two UTF-16 units per byte is plenty for every common set; ICU says when it is not.
    std::vector<UChar> utf16(bytes.size() * 2 + 2);
    UErrorCode status = U_ZERO_ERROR;
    int32_t units =
        ucnv_toUChars(m_converter.get(), utf16.data(), int32_t(utf16.size()),
                      reinterpret_cast<const char*>(bytes.data()), int32_t(bytes.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        utf16.resize(std::size_t(units) + 1);
        status = U_ZERO_ERROR;
        ucnv_reset(m_converter.get());
        units = ucnv_toUChars(m_converter.get(), utf16.data(), int32_t(utf16.size()),
                              reinterpret_cast<const char*>(bytes.data()), int32_t(bytes.size()),
                              &status);
    }
    if (U_FAILURE(status))
        throw FormatError(FailureKind::Damaged, "text", 0,
                          std::string("cannot be converted: ") + u_errorName(status));
    // A lone surrogate (UTF-16 cut in half) becomes U+FFFD too.
    std::string out(std::size_t(units) * 3, '\0');
    int32_t length = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), int32_t(out.size()), &length, utf16.data(), units, 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status))
        throw FormatError(FailureKind::Damaged, "text", 0,
                          std::string("cannot be converted: ") + u_errorName(status));
    out.resize(std::size_t(length));
    return out;
}

std::string lmbcsToUtf8(Bytes bytes)
{
    // Plain ASCII (most names and many texts) needs no converter.
    bool ascii = true;
    for (std::uint8_t b : bytes)
        if (b >= 0x80 || (b < 0x20 && b != 0 && b != '\t' && b != '\n' && b != '\r')) {
            ascii = false;
            break;
        }
    if (ascii)
        return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    thread_local CharsetConverter lmbcs("LMBCS-1");
    return lmbcs.toUtf8(bytes);
}

std::string charsetToUtf8(Bytes bytes, std::string_view charset)
{
    CharsetConverter converter(charset);
    return converter.toUtf8(bytes);
}

} // namespace tarvik::nsf
