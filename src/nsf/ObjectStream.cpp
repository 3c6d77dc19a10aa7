#include "nsf/ObjectStream.h"

#include "nsf/FormatError.h"

#include <algorithm>
#include <cstring>

namespace tarvik::nsf {

namespace {

constexpr std::size_t kChunk = 64 * 1024;

std::string sizeText(std::uint64_t n)
{
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

class StoredObjectStream final : public ObjectStream {
public:
    StoredObjectStream(std::shared_ptr<const ByteSource> source, const ObjectInfo& info)
        : m_source(std::move(source)), m_offset(info.dataOffset()), m_size(info.dataSize())
    {}

    std::size_t read(std::span<std::uint8_t> out) override
    {
        const std::uint64_t left = m_size - m_produced;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), left));
        if (n == 0)
            return 0;
        m_source->readAt(m_offset + m_produced, out.first(n), "object data");
        m_produced += n;
        return n;
    }

private:
    std::shared_ptr<const ByteSource> m_source;
    std::uint64_t m_offset;
    std::uint64_t m_size;
};

// Code tree of the attachment Huffman scheme: two signed 16-bit entries per internal node,
// node 0 the root. An entry -k leads to node k; 0 to 255 is a byte; 256 ends the stream.
class HuffmanObjectStream final : public ObjectStream {
public:
    HuffmanObjectStream(std::shared_ptr<const ByteSource> source, const ObjectInfo& info,
                        std::optional<std::uint64_t> expected)
        : m_source(std::move(source)), m_expected(expected)
    {
        const std::uint64_t start = info.dataOffset();
        const std::uint32_t size = info.dataSize();
        if (size < 6)
            fail(start, "a compressed object of " + sizeText(size) + " has no room for its header");
        std::uint8_t head[6];
        m_source->readAt(start, head, "compressed object header");
        m_checksum = std::uint32_t(head[0]) | std::uint32_t(head[1]) << 8 |
                     std::uint32_t(head[2]) << 16 | std::uint32_t(head[3]) << 24;
        const std::uint32_t treeSize = std::uint32_t(head[4]) | std::uint32_t(head[5]) << 8;
        if (treeSize % 4 != 0 || 6u + treeSize > size)
            fail(start + 4, "a code tree of " + sizeText(treeSize) +
                                " does not fit a compressed object of " + sizeText(size));
        std::vector<std::uint8_t> raw = m_source->read(start + 6, treeSize, "code tree");
        const std::size_t nodes = treeSize / 4;
        m_tree.resize(nodes * 2);
        for (std::size_t i = 0; i < m_tree.size(); ++i) {
            const auto entry = static_cast<std::int16_t>(std::uint16_t(raw[2 * i]) |
                                                         std::uint16_t(raw[2 * i + 1]) << 8);
            const std::size_t node = i / 2;
            // Nodes are numbered depth first, so a child always comes after its parent: that
            // also rules out loops.
            if (entry < 0 ? (std::size_t(-entry) <= node || std::size_t(-entry) >= nodes)
                          : entry > kEnd)
                fail(start + 6 + 2 * i, "code tree entry " + std::to_string(entry) + " of node " +
                                            std::to_string(node) + " leads nowhere");
            m_tree[i] = entry;
        }
        m_bitsStart = start + 6 + treeSize;
        m_bitsEnd = start + size;
        m_next = m_bitsStart;
        if (nodes == 0)
            finish(); // a tree without nodes codes only the end: an empty file
    }

    std::size_t read(std::span<std::uint8_t> out) override
    {
        std::size_t n = 0;
        while (n < out.size() && !m_done) {
            std::size_t node = 0;
            for (;;) {
                const int entry = m_tree[2 * node + (nextBit() ? 0 : 1)];
                if (entry < 0) {
                    node = std::size_t(-entry);
                    continue;
                }
                if (entry == kEnd) {
                    finish();
                    break;
                }
                if (m_expected && m_produced == *m_expected)
                    fail(position(), "the compressed data goes on past the " +
                                         sizeText(*m_expected) + " the attachment records");
                out[n++] = static_cast<std::uint8_t>(entry);
                m_sum += static_cast<std::uint32_t>(entry);
                ++m_produced;
                break;
            }
        }
        return n;
    }

private:
    static constexpr int kEnd = 256;

    bool nextBit()
    {
        if (m_bit == 0) {
            if (m_pos == m_buffer.size())
                refill();
            m_byte = m_buffer[m_pos++];
            m_bit = 8;
        }
        --m_bit;
        return (m_byte >> m_bit) & 1u;
    }
    void refill()
    {
        if (m_next >= m_bitsEnd)
            fail(m_bitsEnd,
                 "the compressed data ends without its end code after " + sizeText(m_produced));
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, m_bitsEnd - m_next));
        m_buffer.resize(n);
        m_source->readAt(m_next, m_buffer, "compressed object data");
        m_next += n;
        m_pos = 0;
    }
    std::uint64_t position() const { return m_next - m_buffer.size() + m_pos; }
    void finish()
    {
        m_done = true;
        if (m_expected && m_produced != *m_expected)
            fail(position(), "the compressed data holds " + sizeText(m_produced) +
                                 ", the attachment records " + sizeText(*m_expected));
        if (m_sum != m_checksum)
            fail(m_bitsStart - 6, "the decoded bytes do not match the stored checksum");
    }
    [[noreturn]] void fail(std::uint64_t offset, const std::string& detail) const
    {
        throw FormatError(FailureKind::Damaged, "compressed attachment", offset, detail);
    }

    std::shared_ptr<const ByteSource> m_source;
    std::optional<std::uint64_t> m_expected;
    std::uint32_t m_checksum = 0;
    std::uint32_t m_sum = 0;
    std::vector<std::int16_t> m_tree;
    std::uint64_t m_bitsStart = 0;
    std::uint64_t m_bitsEnd = 0;
    std::uint64_t m_next = 0; // file offset of the next chunk
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_pos = 0;
    std::uint8_t m_byte = 0;
    unsigned m_bit = 0;
    bool m_done = false;
};

} // namespace

std::unique_ptr<ObjectStream> openStoredObject(std::shared_ptr<const ByteSource> source,
                                               const ObjectInfo& info,
                                               std::optional<std::uint64_t> expectedSize)
{
    if (expectedSize && *expectedSize != info.dataSize())
        throw FormatError(FailureKind::Damaged, "object record", info.offset,
                          "holds " + sizeText(info.dataSize()) + ", the attachment records " +
                              sizeText(*expectedSize));
    return std::make_unique<StoredObjectStream>(std::move(source), info);
}

std::unique_ptr<ObjectStream> openHuffmanObject(std::shared_ptr<const ByteSource> source,
                                                const ObjectInfo& info,
                                                std::optional<std::uint64_t> expectedSize)
{
    return std::make_unique<HuffmanObjectStream>(std::move(source), info, expectedSize);
}

std::vector<std::uint8_t> readAll(ObjectStream& stream, std::size_t limit)
{
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[16 * 1024];
    for (;;) {
        const std::size_t n = stream.read(buffer);
        if (n == 0)
            return out;
        if (out.size() + n > limit)
            throw FormatError(FailureKind::Unsupported, "object", 0,
                              "larger than the " + sizeText(limit) + " read at once");
        out.insert(out.end(), buffer, buffer + n);
    }
}

} // namespace tarvik::nsf
