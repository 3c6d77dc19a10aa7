#include "nsf/CxCompression.h"

#include "nsf/FormatError.h"

#include <algorithm>

namespace tarvik::nsf {

namespace {

class LsbBits {
public:
    LsbBits(Bytes bytes, std::string_view structure, std::uint64_t base)
        : m_bytes(bytes), m_structure(structure), m_base(base)
    {}

    unsigned bit()
    {
        if (m_pos >= m_bytes.size())
            fail("the compressed data ends before its declared size is reached");
        const unsigned v = (m_bytes[m_pos] >> m_bit) & 1u;
        if (++m_bit == 8) {
            m_bit = 0;
            ++m_pos;
        }
        return v;
    }
    std::uint32_t bits(unsigned n)
    {
        std::uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i)
            v |= std::uint32_t(bit()) << i;
        return v;
    }
    // Elias-gamma-like: z zero bits, a one bit, then z + 1 value bits.
    std::uint32_t gamma()
    {
        unsigned zeros = 0;
        while (bit() == 0) {
            // Values the block could ever need stay far below 2^24.
            if (++zeros > 23)
                fail("a length or offset code is impossibly long");
        }
        return (std::uint32_t(1) << (zeros + 1)) - 1 + bits(zeros + 1);
    }
    void start(unsigned bitInFirstByte) { m_bit = bitInFirstByte; }

    [[noreturn]] void fail(const std::string& detail) const
    {
        throw FormatError(FailureKind::Damaged, std::string(m_structure), m_base + m_pos, detail);
    }

private:
    Bytes m_bytes;
    std::string_view m_structure;
    std::uint64_t m_base;
    std::size_t m_pos = 0;
    unsigned m_bit = 0;
};

constexpr std::uint32_t kEndLength = 0x102;

} // namespace

std::vector<std::uint8_t> expandCx(Bytes stream, std::size_t expandedSize,
                                   std::string_view structure, std::uint64_t base)
{
    std::vector<std::uint8_t> out;
    out.reserve(expandedSize);
    LsbBits in(stream, structure, base);
    in.start(3);
    while (out.size() < expandedSize) {
        if (in.bit() == 0) {
            out.push_back(static_cast<std::uint8_t>(in.bits(8)));
            continue;
        }
        std::uint32_t length = 2;
        if (in.bit() == 0) {
            length = in.gamma() + 2;
            if (length >= kEndLength)
                in.fail("the compressed data ends after " + std::to_string(out.size()) + " of " +
                        std::to_string(expandedSize) + " bytes");
        }
        std::uint32_t high = 0;
        if (length > 2 && in.bit() == 0)
            high = in.gamma() << 8;
        const std::uint32_t offset = high | in.bits(8);
        if (offset == 0 || offset > out.size())
            in.fail("a back reference of " + std::to_string(offset) + " bytes reaches before " +
                    "the start (" + std::to_string(out.size()) + " bytes produced)");
        const std::size_t copy = std::min<std::size_t>(length, expandedSize - out.size());
        const std::size_t from = out.size() - offset;
        for (std::size_t i = 0; i < copy; ++i)
            out.push_back(out[from + i]); // overlapping copies repeat the recent bytes
    }
    return out;
}

} // namespace tarvik::nsf
