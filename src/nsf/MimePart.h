#pragma once

#include "nsf/ByteReader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::nsf {

// One MIME part item (25). A message kept as MIME is a run of such items, all named like the
// field (usually Body), in the order of the message text: each holds its part's boundary
// line, its headers (ending with the blank line) and its body. A body kept in an object says
// so in the flags, and its bytes then hold the name of the $FILE attachment with the body.
struct MimePart {
    // flags
    static constexpr std::uint32_t kHasBoundary = 0x0001;
    static constexpr std::uint32_t kHasHeaders = 0x0002;
    static constexpr std::uint32_t kBodyInObject = 0x0004;
    static constexpr std::uint32_t kSharedObject = 0x0008;
    static constexpr std::uint32_t kSkipForConversion = 0x0010;
    // part types
    static constexpr std::uint8_t kPrologue = 1; // headers of a multipart and its preamble
    static constexpr std::uint8_t kBody = 2;
    static constexpr std::uint8_t kEpilogue = 3; // the closing boundary and what follows
    static constexpr std::uint8_t kRetrieveInfo = 4;
    static constexpr std::uint8_t kMessage = 5;

    std::uint16_t version = 0;
    std::uint32_t flags = 0;
    std::uint8_t partType = 0;
    std::uint16_t byteCount = 0; // as stored: boundary, headers and body in this item
    std::string boundary;        // the boundary line as stored ("--xyz\r\n"), ASCII
    std::string headers;         // header lines as stored, blank line included
    std::string body;            // raw bytes: still in their transfer encoding
    // When the stored byte count does not match the bytes the item holds, the bytes win and
    // this says by how much the count was off.
    std::int64_t byteCountMismatch = 0;

    bool bodyInObject() const noexcept { return (flags & kBodyInObject) != 0; }
    // The name of the $FILE attachment that holds the body, for a body kept in an object.
    std::optional<std::string> objectName() const;
};

// value: the item's value without its type word.
MimePart decodeMimePart(Bytes value);

// A header's value from MIME header text (lines unfolded, name matched without regard to
// case), or nothing when the header is not there.
std::optional<std::string> mimeHeader(std::string_view headers, std::string_view name);

// A structured header value split: "text/plain; charset=\"ISO-8859-1\"" gives "text/plain"
// (lower case) and {charset, ISO-8859-1} (names lower case, quotes removed).
struct MimeHeaderValue {
    std::string value;
    std::vector<std::pair<std::string, std::string>> parameters;
    std::optional<std::string> parameter(std::string_view name) const;
};
MimeHeaderValue parseMimeHeaderValue(std::string_view value);

// Undoes a Content-Transfer-Encoding: base64 and quoted-printable are decoded, 7bit, 8bit,
// binary and none are returned as they are; any other throws FormatError (Unsupported).
// Bad base64 characters are skipped, as mail readers do; a bad quoted-printable escape is
// kept as it stands.
std::string decodeTransferEncoding(std::string_view body, std::string_view encoding);

// The text of a part whose Content-Type is text/* (or has none, which means text/plain),
// as UTF-8: transfer encoding undone, then its charset (default us-ascii) converted. Nothing
// for a part that is not text. `body` is the part's body, or the object's bytes when the
// body is kept in an object. Throws FormatError (Unsupported) for a charset or transfer
// encoding that cannot be decoded.
std::optional<std::string> mimeText(std::string_view headers, std::string_view body);

// A part's own text: mimeText of a body part kept in the item; nothing for a prologue or
// epilogue, or for a body kept in an object (fetch the object and call mimeText).
std::optional<std::string> mimePartText(const MimePart& part);

} // namespace tarvik::nsf
