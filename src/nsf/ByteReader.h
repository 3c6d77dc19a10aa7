#pragma once

#include "nsf/FormatError.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

namespace tarvik::nsf {

using Bytes = std::span<const std::uint8_t>;

// A bounds-checked little-endian cursor over bytes read from the file. Every read that would
// pass the end throws FormatError (Damaged) naming the structure and the file offset of the
// failing read, so no length taken from the file is ever trusted unchecked.
class ByteReader {
public:
    // base: the file offset of bytes[0], for messages.
    ByteReader(Bytes bytes, std::string_view structure, std::uint64_t base = 0)
        : m_bytes(bytes), m_structure(structure), m_base(base)
    {}

    std::size_t size() const noexcept { return m_bytes.size(); }
    std::size_t position() const noexcept { return m_pos; }
    std::size_t remaining() const noexcept { return m_bytes.size() - m_pos; }
    bool atEnd() const noexcept { return m_pos == m_bytes.size(); }
    std::uint64_t base() const noexcept { return m_base; }
    const std::string& structure() const noexcept { return m_structure; }

    void seek(std::size_t pos)
    {
        if (pos > m_bytes.size())
            fail("position " + std::to_string(pos) + " is beyond its " +
                 std::to_string(m_bytes.size()) + " bytes");
        m_pos = pos;
    }
    void skip(std::size_t n)
    {
        need(n);
        m_pos += n;
    }

    std::uint8_t u8() { return static_cast<std::uint8_t>(take<1>()); }
    std::uint16_t u16() { return static_cast<std::uint16_t>(take<2>()); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(take<4>()); }
    std::uint64_t u64() { return take<8>(); }
    double f64()
    {
        const std::uint64_t bits = u64();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    // The next n bytes, as a view into the underlying buffer.
    Bytes bytes(std::size_t n)
    {
        need(n);
        Bytes out = m_bytes.subspan(m_pos, n);
        m_pos += n;
        return out;
    }
    // A reader over the next n bytes (advancing past them), for a nested structure.
    ByteReader sub(std::size_t n, std::string_view structure)
    {
        const std::uint64_t at = m_base + m_pos;
        return ByteReader(bytes(n), structure, at);
    }

    // Reads at an absolute position without moving the cursor.
    std::uint8_t u8At(std::size_t pos) const { return static_cast<std::uint8_t>(peek<1>(pos)); }
    std::uint16_t u16At(std::size_t pos) const { return static_cast<std::uint16_t>(peek<2>(pos)); }
    std::uint32_t u32At(std::size_t pos) const { return static_cast<std::uint32_t>(peek<4>(pos)); }

    [[noreturn]] void fail(const std::string& detail, FailureKind kind = FailureKind::Damaged) const
    {
        throw FormatError(kind, m_structure, m_base + m_pos, detail);
    }

private:
    void need(std::size_t n) const
    {
        if (n > remaining())
            fail("needs " + std::to_string(n) + " bytes, " + std::to_string(remaining()) +
                 " remain");
    }
    template <std::size_t N>
    std::uint64_t take()
    {
        const std::uint64_t v = peek<N>(m_pos);
        m_pos += N;
        return v;
    }
    template <std::size_t N>
    std::uint64_t peek(std::size_t pos) const
    {
        if (pos > m_bytes.size() || N > m_bytes.size() - pos)
            throw FormatError(FailureKind::Damaged, m_structure, m_base + pos,
                              "needs " + std::to_string(N) + " bytes beyond its end");
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < N; ++i)
            v |= std::uint64_t(m_bytes[pos + i]) << (8 * i);
        return v;
    }

    Bytes m_bytes;
    std::string m_structure;
    std::uint64_t m_base;
    std::size_t m_pos = 0;
};

} // namespace tarvik::nsf
