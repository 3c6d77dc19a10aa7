#include "nsf/MimePart.h"

#include "nsf/TextCodec.h"

#include <algorithm>
#include <cctype>

namespace tarvik::nsf {

namespace {

constexpr std::size_t kHeaderSize = 20;

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string_view trim(std::string_view s)
{
    const auto space = [](char c) {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    };
    while (!s.empty() && space(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && space(s.back()))
        s.remove_suffix(1);
    return s;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string decodeBase64(std::string_view in)
{
    std::string out;
    out.reserve(in.size() / 4 * 3);
    std::uint32_t acc = 0;
    int bits = 0;
    for (char c : in) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            // Padding ends a group; a mailer that glued encoded pieces together goes on
            // after it with a fresh group.
            acc = 0;
            bits = 0;
            continue;
        } else
            continue; // line breaks and anything a mailer let slip in
        acc = (acc << 6) | std::uint32_t(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(char((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string decodeQuotedPrintable(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c != '=') {
            out.push_back(c);
            continue;
        }
        // A soft line break: '=' then optional white space and the line end.
        std::size_t j = i + 1;
        while (j < in.size() && (in[j] == ' ' || in[j] == '\t'))
            ++j;
        if (j < in.size() && (in[j] == '\r' || in[j] == '\n')) {
            if (in[j] == '\r' && j + 1 < in.size() && in[j + 1] == '\n')
                ++j;
            i = j;
            continue;
        }
        if (j == in.size()) { // '=' at the very end: a soft break without its line end
            i = j;
            continue;
        }
        if (i + 2 < in.size() && hexValue(in[i + 1]) >= 0 && hexValue(in[i + 2]) >= 0) {
            out.push_back(char(hexValue(in[i + 1]) * 16 + hexValue(in[i + 2])));
            i += 2;
            continue;
        }
        out.push_back(c); // not an escape: keep it as it stands
    }
    return out;
}

} // namespace

std::optional<std::string> MimePart::objectName() const
{
    if (!bodyInObject())
        return std::nullopt;
    std::string_view name(body);
    while (!name.empty() && name.back() == '\0')
        name.remove_suffix(1);
    return lmbcsToUtf8(name);
}

MimePart decodeMimePart(Bytes value)
{
    ByteReader r(value, "MIME part");
    MimePart part;
    part.version = r.u16();
    part.flags = r.u32();
    part.partType = r.u8();
    r.skip(1);
    part.byteCount = r.u16();
    const std::uint16_t boundaryLength = r.u16();
    const std::uint16_t headersLength = r.u16();
    r.skip(2 + 4);
    if (std::size_t(boundaryLength) + headersLength > r.remaining())
        r.fail("boundary of " + std::to_string(boundaryLength) + " and headers of " +
               std::to_string(headersLength) + " bytes do not fit in " +
               std::to_string(r.remaining()) + " bytes");
    const auto text = [](Bytes b) {
        return std::string(b.begin(), b.end());
    };
    part.boundary = text(r.bytes(boundaryLength));
    part.headers = text(r.bytes(headersLength));
    part.body = text(r.bytes(r.remaining()));
    part.byteCountMismatch =
        std::int64_t(part.byteCount) - std::int64_t(value.size() - kHeaderSize);
    return part;
}

std::optional<std::string> mimeHeader(std::string_view headers, std::string_view name)
{
    const std::string wanted = lower(name);
    std::optional<std::string> found;
    std::size_t pos = 0;
    while (pos < headers.size()) {
        std::size_t end = headers.find('\n', pos);
        if (end == std::string_view::npos)
            end = headers.size();
        std::string_view line = headers.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            break; // the headers end at the first blank line
        if (line.front() == ' ' || line.front() == '\t') { // folded continuation
            if (found)
                *found += " " + std::string(trim(line));
            continue;
        }
        if (found)
            break;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            continue;
        if (lower(trim(line.substr(0, colon))) == wanted)
            found = std::string(trim(line.substr(colon + 1)));
    }
    return found;
}

std::optional<std::string> MimeHeaderValue::parameter(std::string_view name) const
{
    const std::string wanted = lower(name);
    for (const auto& [key, value] : parameters)
        if (key == wanted)
            return value;
    return std::nullopt;
}

MimeHeaderValue parseMimeHeaderValue(std::string_view text)
{
    // Split on ';' outside quotes.
    std::vector<std::string> pieces(1);
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '\\' && i + 1 < text.size()) {
            pieces.back() += text.substr(i, 2);
            ++i;
            continue;
        }
        if (c == '"')
            quoted = !quoted;
        if (c == ';' && !quoted)
            pieces.emplace_back();
        else
            pieces.back().push_back(c);
    }
    MimeHeaderValue out;
    out.value = lower(trim(pieces.front()));
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        const std::string_view piece = trim(pieces[i]);
        const std::size_t eq = piece.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view raw = trim(piece.substr(eq + 1));
        std::string value;
        if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
            raw = raw.substr(1, raw.size() - 2);
            for (std::size_t j = 0; j < raw.size(); ++j) {
                if (raw[j] == '\\' && j + 1 < raw.size())
                    ++j;
                value.push_back(raw[j]);
            }
        } else {
            value = std::string(raw);
        }
        out.parameters.emplace_back(lower(trim(piece.substr(0, eq))), std::move(value));
    }
    return out;
}

std::string decodeTransferEncoding(std::string_view body, std::string_view encoding)
{
    const std::string e = lower(trim(encoding));
    if (e.empty() || e == "7bit" || e == "8bit" || e == "binary")
        return std::string(body);
    if (e == "base64")
        return decodeBase64(body);
    if (e == "quoted-printable")
        return decodeQuotedPrintable(body);
    throw FormatError(FailureKind::Unsupported, "MIME part", 0,
                      "transfer encoding " + quotedForMessage(e) + " is not known");
}

std::optional<std::string> mimeText(std::string_view headers, std::string_view body)
{
    const std::optional<std::string> typeHeader = mimeHeader(headers, "Content-Type");
    const MimeHeaderValue type = parseMimeHeaderValue(typeHeader.value_or("text/plain"));
    if (type.value.rfind("text/", 0) != 0)
        return std::nullopt;
    const std::string decoded =
        decodeTransferEncoding(body, mimeHeader(headers, "Content-Transfer-Encoding").value_or(""));
    std::string charset = lower(type.parameter("charset").value_or("us-ascii"));
    // Mail labelled US-ASCII often carries a stray 8-bit byte; read it as the Windows
    // superset of Latin-1 rather than losing it.
    if (charset == "us-ascii" || charset == "ascii")
        charset = "windows-1252";
    const Bytes bytes(reinterpret_cast<const std::uint8_t*>(decoded.data()), decoded.size());
    return charsetToUtf8(bytes, charset);
}

std::optional<std::string> mimePartText(const MimePart& part)
{
    if (part.partType != MimePart::kBody || part.bodyInObject())
        return std::nullopt;
    return mimeText(part.headers, part.body);
}

} // namespace tarvik::nsf
