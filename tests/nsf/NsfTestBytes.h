#pragma once

// Little helpers for writing item values by hand in the reader's tests.

#include "nsf/ByteReader.h"
#include "nsf/FormatError.h"

#include <cstring>

#include <QTest>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::nsf::test {

class ValueBytes {
public:
    ValueBytes& u8(std::uint8_t v)
    {
        m_bytes.push_back(v);
        return *this;
    }
    ValueBytes& u16(std::uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
    ValueBytes& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    ValueBytes& f64(double d)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        return u32(std::uint32_t(bits)).u32(std::uint32_t(bits >> 32));
    }
    ValueBytes& text(std::string_view s)
    {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    ValueBytes& raw(std::initializer_list<std::uint8_t> bytes)
    {
        m_bytes.insert(m_bytes.end(), bytes);
        return *this;
    }
    ValueBytes& append(const ValueBytes& other)
    {
        m_bytes.insert(m_bytes.end(), other.m_bytes.begin(), other.m_bytes.end());
        return *this;
    }
    std::size_t size() const { return m_bytes.size(); }
    const std::vector<std::uint8_t>& vector() const { return m_bytes; }
    operator Bytes() const { return Bytes(m_bytes); }

private:
    std::vector<std::uint8_t> m_bytes;
};

// Bytes written as a hex string ("0a ff 12"; spaces ignored), for values copied from samples.
inline std::vector<std::uint8_t> fromHex(std::string_view hex)
{
    std::vector<std::uint8_t> out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(std::uint8_t(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

// The FormatError a step throws. A step that throws none gives an error of kind External
// named "(no failure)", which no check of these tests expects.
inline FormatError errorOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const FormatError& e) {
        return e;
    }
    return FormatError(FailureKind::External, "(no failure)", 0, "(no failure)");
}

inline QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

} // namespace tarvik::nsf::test
