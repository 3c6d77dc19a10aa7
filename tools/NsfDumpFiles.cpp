#include "NsfDumpFiles.h"

#include "base/os/Files.h"

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>

namespace tarvik::nsfdump {

namespace {

constexpr std::size_t kMaxExtension = 16;
constexpr unsigned kMaxSeries = 10000;

[[noreturn]] void fail(int error, const std::string& what)
{
    throw std::system_error(error, std::generic_category(), what);
}

// The length of the valid UTF-8 sequence at s[i] and its code point, or 0 when none starts
// there (a stray continuation byte, an overlong or cut sequence, a surrogate).
std::size_t utf8Sequence(std::string_view s, std::size_t i, char32_t& cp)
{
    const auto byte = [&](std::size_t k) {
        return static_cast<unsigned char>(s[i + k]);
    };
    const unsigned char b = byte(0);
    std::size_t n;
    char32_t min;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() - i < n)
        return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
        cp = cp << 6 | (byte(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

bool refused(char32_t cp)
{
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F)) // C0 and C1 controls
        return true;
    switch (cp) {
    case '/':
    case '\\':
    case '<':
    case '>':
    case ':':
    case '"':
    case '|':
    case '?':
    case '*':
        return true;
    default:
        break;
    }
    // Direction marks and overrides make a name read differently from what it is.
    return (cp >= 0x200E && cp <= 0x200F) || (cp >= 0x202A && cp <= 0x202E) ||
           (cp >= 0x2066 && cp <= 0x2069);
}

// Splits "stem.ext" at its last dot when the extension is short and the stem not empty.
std::pair<std::string, std::string> splitExtension(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.size() - dot > kMaxExtension)
        return {name, {}};
    return {name.substr(0, dot), name.substr(dot)};
}

// Cuts UTF-8 text to at most `bytes` bytes without splitting a character.
std::string cutUtf8(std::string text, std::size_t bytes)
{
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    text.resize(end);
    return text;
}

std::string seriesName(const std::string& safe, unsigned k, std::string_view suffix)
{
    auto [stem, extension] = splitExtension(safe);
    if (k > 1)
        stem += " (" + std::to_string(k) + ")";
    return stem + extension + std::string(suffix);
}

} // namespace

std::string validUtf8(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8Sequence(text, i, cp);
        if (n == 0) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    return out;
}

std::string safeFileName(std::string_view name)
{
    const std::size_t separator = name.find_last_of("/\\");
    if (separator != std::string_view::npos && separator + 1 < name.size())
        name.remove_prefix(separator + 1);

    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        char32_t cp = 0;
        const std::size_t n = utf8Sequence(name, i, cp);
        if (n == 0 || refused(cp)) {
            out.push_back('_');
            i += n == 0 ? 1 : n;
            continue;
        }
        if (cp == '.' && !out.empty() && out.back() == '.') {
            i += n; // "..": one dot is enough
            continue;
        }
        out.append(name.substr(i, n));
        i += n;
    }
    // No hidden names, no "." or "..": a leading dot or space becomes '_'; trailing ones go.
    while (!out.empty() && (out.back() == '.' || out.back() == ' '))
        out.pop_back();
    for (char& c : out) {
        if (c != '.' && c != ' ')
            break;
        c = '_';
    }
    if (out.find_first_not_of('_') == std::string::npos)
        out = "attachment";
    if (out.size() > kMaxSafeName) {
        auto [stem, extension] = splitExtension(out);
        out = cutUtf8(std::move(stem), kMaxSafeName - extension.size()) + extension;
    }
    return out;
}

ExtractFolder::ExtractFolder(const std::string& path) : m_fd(os::openFolder(path)), m_path(path)
{}

ExtractFile ExtractFolder::create(std::string_view wanted) const
{
    const std::string safe = safeFileName(wanted);
    for (unsigned k = 1; k <= kMaxSeries; ++k) {
        const std::string name = seriesName(safe, k, {});
        try {
            if (os::FileDescriptor fd = os::createExclusive(m_fd, name))
                return ExtractFile(*this, std::move(fd), name);
        } catch (const std::system_error& e) {
            fail(e.code().value(), "cannot create " + m_path + "/" + name);
        }
    }
    fail(EEXIST, "no free name for " + safe + " in " + m_path);
}

std::string ExtractFolder::linkUnderFreeName(const std::string& from, const std::string& safe,
                                             std::string_view suffix) const
{
    for (unsigned k = 1; k <= kMaxSeries; ++k) {
        const std::string name = seriesName(safe, k, suffix);
        // A second name is given only where it is free: nothing is ever replaced.
        try {
            if (os::linkExclusive(m_fd, from, name))
                return name;
        } catch (const std::system_error& e) {
            fail(e.code().value(), "cannot name " + m_path + "/" + from + " " + name);
        }
    }
    fail(EEXIST, "no free name for " + safe + std::string(suffix) + " in " + m_path);
}

ExtractFile::ExtractFile(ExtractFile&& other) noexcept
    : m_folder(other.m_folder), m_fd(std::move(other.m_fd)), m_name(std::move(other.m_name))
{}

ExtractFile::~ExtractFile()
{
    discard();
}

void ExtractFile::write(std::span<const std::uint8_t> bytes)
{
    try {
        os::writeAll(m_fd, bytes);
    } catch (const std::system_error& e) {
        fail(e.code().value(), "cannot write " + m_folder->path() + "/" + m_name);
    }
}

void ExtractFile::close()
{
    if (const int error = m_fd.close()) {
        os::removeQuietly(m_folder->m_fd, m_name);
        fail(error, "cannot write " + m_folder->path() + "/" + m_name);
    }
}

void ExtractFile::keep()
{
    close();
}

std::string ExtractFile::keepDamaged()
{
    close();
    std::string marked;
    try {
        marked = m_folder->linkUnderFreeName(m_name, m_name, ".damaged");
    } catch (...) {
        // Never left under the name of a whole attachment.
        os::removeQuietly(m_folder->m_fd, m_name);
        throw;
    }
    os::removeQuietly(m_folder->m_fd, m_name);
    m_name = std::move(marked);
    return m_name;
}

void ExtractFile::discard() noexcept
{
    if (!m_fd)
        return;
    m_fd.close();
    os::removeQuietly(m_folder->m_fd, m_name);
}

} // namespace tarvik::nsfdump
