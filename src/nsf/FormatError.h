#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarvik::nsf {

// Why a part of a database file could not be read.
enum class FailureKind {
    Damaged,     // the bytes do not form the structure they should (cut short, out of range, loops)
    Unsupported, // a structure or scheme this reader does not know yet
    Encrypted,   // sealed for someone else: readable only with the owner's ID
    External,    // kept outside the file (a shared attachment store, say)
};

// The one failure of the file reader: what could not be read, which structure it was, and
// where in the file it starts. The message names all three so that it can be shown as it is.
class FormatError : public std::runtime_error {
public:
    FormatError(FailureKind kind, std::string structure, std::uint64_t offset, std::string detail);

    FailureKind kind() const noexcept { return m_kind; }
    const std::string& structure() const noexcept { return m_structure; }
    // File offset of the structure (or of the value, for errors raised while decoding one
    // value without knowing where it lies: then relative to the value's start).
    std::uint64_t offset() const noexcept { return m_offset; }
    const std::string& detail() const noexcept { return m_detail; }

private:
    FailureKind m_kind;
    std::string m_structure;
    std::uint64_t m_offset;
    std::string m_detail;
};

// Text taken from the file (a character set's name, a transfer encoding), for a message: in
// double quotes, every byte outside printable ASCII as \xNN, at most 64 bytes of it shown. A
// message is then always plain text, whatever the file holds.
std::string quotedForMessage(std::string_view text);

} // namespace tarvik::nsf
