// bench_nsf: measures the Notes database file reader (src/nsf).
//
//   bench_nsf read FILE RUNS            opens FILE and reads all of it RUNS times in this process
//                                       (every note, item value, rich-text field, MIME part and
//                                       attachment's bytes); prints seconds, reads per second and
//                                       peak memory
//   bench_nsf grow SAMPLE OUTPUT MIB [huffman]
//                                       writes a copy of SAMPLE (MIMEMsg.nsf) whose attachment
//                                       Sample.jpg is replaced by MIB MiB of bytes, stored or
//                                       Huffman coded, to measure memory against the file's size

#include "nsf/Database.h"
#include "nsf/MimePart.h"
#include "nsf/ObjectItem.h"
#include "nsf/RichText.h"
#include "nsf/ValueJson.h"
#include "nsf/Values.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <sys/resource.h>

using namespace tarvik::nsf;

namespace {

long peakMemoryKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Totals {
    std::size_t notes = 0;
    std::size_t items = 0;
    std::size_t failures = 0;
    std::uint64_t textBytes = 0;
    std::uint64_t attachmentBytes = 0;
};

// Everything the dump reads, without printing it.
void readAll(const std::string& path, Totals& t)
{
    const auto db = Database::open(path);
    std::vector<std::uint8_t> buffer(64 * 1024);
    for (NoteId id : db->noteIds()) {
        Note note;
        try {
            note = db->readNote(id);
        } catch (const FormatError&) {
            ++t.failures;
            continue;
        }
        ++t.notes;
        std::map<std::string, std::vector<Bytes>> fields;
        for (const Item& item : note.items) {
            ++t.items;
            if (!item.ok()) {
                ++t.failures;
                continue;
            }
            try {
                if (const auto values = valuesJson(item.type, item.value)) {
                    t.textBytes += values->size();
                } else if (item.type == kTypeComposite) {
                    fields[item.name].emplace_back(item.value);
                } else if (item.type == kTypeMimePart) {
                    if (const auto text = mimePartText(decodeMimePart(item.value)))
                        t.textBytes += text->size();
                } else if (item.type == kTypeObject && item.name == "$FILE") {
                    const FileObject file = decodeFileObject(item.value);
                    auto stream = db->openObject(file.object.id, file.compression, file.size);
                    while (const std::size_t n = stream->read(buffer))
                        t.attachmentBytes += n;
                }
            } catch (const FormatError&) {
                ++t.failures;
            }
        }
        for (const auto& [name, parts] : fields)
            t.textBytes += richTextContent(parts).text.size();
    }
}

int read(const std::string& path, int runs)
{
    Totals t;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i)
        readAll(path, t);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "read: %d runs in %.3f s (%.2f ms each, %.0f per second), %zu notes, %zu items, "
        "%zu failures, %llu text bytes, %llu attachment bytes, peak memory %.1f MiB\n",
        runs, seconds, 1000 * seconds / runs, runs / seconds, t.notes / runs, t.items / runs,
        t.failures / runs, static_cast<unsigned long long>(t.textBytes / runs),
        static_cast<unsigned long long>(t.attachmentBytes / runs), peakMemoryKiB() / 1024.0);
    return 0;
}

void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v)
{
    b[at] = std::uint8_t(v);
    b[at + 1] = std::uint8_t(v >> 8);
}

void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v)
{
    put16(b, at, std::uint16_t(v));
    put16(b, at + 2, std::uint16_t(v >> 16));
}

std::uint32_t get32(const std::vector<std::uint8_t>& b, std::size_t at)
{
    return std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
           std::uint32_t(b[at + 3]) << 24;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "bench_nsf grow: %s\n", why.c_str());
    return 1;
}

// The attachment's new bytes: 'A' but for a 'B' every 1,000 bytes. Its Huffman code: 'A' is
// the bit 0, 'B' the bits 10, the end 11 (node 0: 1 -> node 1, 0 -> 'A'; node 1: 1 -> end,
// 0 -> 'B'), written most significant bit first.
class Content {
public:
    explicit Content(std::uint64_t size) : m_size(size) {}
    std::uint8_t at(std::uint64_t i) const { return i % 1000 == 999 ? 'B' : 'A'; }
    std::uint32_t checksum() const
    {
        std::uint32_t sum = 0;
        for (std::uint64_t i = 0; i < m_size; ++i)
            sum += at(i);
        return sum;
    }
    std::uint64_t size() const { return m_size; }

private:
    std::uint64_t m_size;
};

class BitWriter {
public:
    explicit BitWriter(std::ofstream& out) : m_out(out) {}
    void bit(bool one)
    {
        m_byte = std::uint8_t(m_byte << 1 | (one ? 1 : 0));
        if (++m_bits == 8) {
            m_out.put(char(m_byte));
            ++m_written;
            m_bits = 0;
            m_byte = 0;
        }
    }
    std::uint64_t finish()
    {
        while (m_bits != 0)
            bit(false);
        return m_written;
    }

private:
    std::ofstream& m_out;
    std::uint8_t m_byte = 0;
    int m_bits = 0;
    std::uint64_t m_written = 0;
};

int grow(const std::string& samplePath, const std::string& outPath, std::uint64_t mib, bool huffman)
{
    // Where Sample.jpg's object, its relocation entry and its $FILE item are.
    const auto db = Database::open(samplePath);
    const Item* fileItem = nullptr;
    Note memo;
    FileObject file;
    for (NoteId id : db->noteIds()) {
        memo = db->readNote(id);
        for (const Item* item : memo.findAll("$FILE")) {
            file = decodeFileObject(item->value);
            if (file.name == "Sample.jpg") {
                fileItem = item;
                break;
            }
        }
        if (fileItem)
            break;
    }
    if (!fileItem)
        return fail(samplePath + " has no attachment Sample.jpg");
    const ObjectInfo object = db->objectInfo(file.object.id);
    const RrvEntry* entry = db->findRrv(file.object.id);

    std::ifstream in(samplePath, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    const std::uint64_t newOffset = (bytes.size() + 255) / 256 * 256;
    if (newOffset / 256 > 0x7FFFFFFF)
        return fail("the file would be too large");

    // The relocation bucket on disk that holds the object's entry: its entry leads to the end
    // of the file from now on, and its checksum (the XOR of its words from +32) is made again.
    bool moved = false;
    for (std::size_t at = 0; at + 4096 <= bytes.size(); at += 256) {
        if (bytes[at] != 0x06 || bytes[at + 1] != 0x20)
            continue;
        const std::uint32_t first = get32(bytes, at + 6);
        if (file.object.id < first || (file.object.id - first) / 4 >= (4096 - 32) / 8)
            continue;
        const std::size_t slot = at + 32 + 8 * ((file.object.id - first) / 4);
        if (get32(bytes, slot) != entry->first)
            continue;
        put32(bytes, slot, std::uint32_t(newOffset / 256));
        std::uint32_t sum = 0;
        for (std::size_t i = at + 32; i < at + 4096; i += 4)
            sum ^= get32(bytes, i);
        put32(bytes, at + 18, sum);
        moved = true;
    }
    if (!moved)
        return fail("the object's relocation entry was not found");

    // The $FILE item: the new size and compression.
    const Content content(mib << 20);
    put16(bytes, fileItem->valueOffset + 10, huffman ? FileObject::kCompressHuffman : 0);
    put32(bytes, fileItem->valueOffset + 16, std::uint32_t(content.size()));

    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    for (std::uint64_t i = bytes.size(); i < newOffset; ++i)
        out.put(0);
    // The object record: its old header with the new size, then the content.
    std::vector<std::uint8_t> header(bytes.begin() + std::ptrdiff_t(object.offset),
                                     bytes.begin() + std::ptrdiff_t(object.dataOffset()));
    out.write(reinterpret_cast<const char*>(header.data()), std::streamsize(header.size()));
    std::uint64_t dataSize = 0;
    if (huffman) {
        std::vector<std::uint8_t> head(6 + 8);
        put32(head, 0, content.checksum());
        put16(head, 4, 8);
        put16(head, 6, std::uint16_t(-1));
        put16(head, 8, 'A');
        put16(head, 10, 256);
        put16(head, 12, 'B');
        out.write(reinterpret_cast<const char*>(head.data()), std::streamsize(head.size()));
        BitWriter bits(out);
        for (std::uint64_t i = 0; i < content.size(); ++i) {
            if (content.at(i) == 'B')
                bits.bit(true);
            bits.bit(false);
        }
        bits.bit(true);
        bits.bit(true);
        dataSize = head.size() + bits.finish();
    } else {
        std::vector<char> piece(1 << 20);
        for (std::uint64_t done = 0; done < content.size(); done += piece.size()) {
            for (std::size_t i = 0; i < piece.size(); ++i)
                piece[i] = char(content.at(done + i));
            out.write(piece.data(), std::streamsize(piece.size()));
        }
        dataSize = content.size();
    }
    // The record's size, and filler to the next 256-byte boundary.
    const std::uint64_t recordSize = header.size() + dataSize;
    if (recordSize > 0xFFFFFFFFu)
        return fail("the object would be too large");
    for (std::uint64_t i = recordSize; i % 256 != 0; ++i)
        out.put(0);
    out.seekp(std::streamoff(newOffset + 2));
    const std::uint32_t size32 = std::uint32_t(recordSize);
    const char sizeBytes[4] = {char(size32), char(size32 >> 8), char(size32 >> 16),
                               char(size32 >> 24)};
    out.write(sizeBytes, 4);
    out.close();
    if (!out)
        return fail("cannot write " + outPath);

    // Read back through the reader: the object is the new one.
    const auto check = Database::open(outPath);
    if (check->objectInfo(file.object.id).dataSize() != dataSize)
        return fail("the reader does not see the new object (the entry may be in a copy the "
                    "superblock keeps)");
    std::printf("grow: %s, %llu MiB attachment (%s, %llu bytes stored)\n", outPath.c_str(),
                static_cast<unsigned long long>(mib), huffman ? "Huffman" : "stored",
                static_cast<unsigned long long>(dataSize));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 4 && std::strcmp(argv[1], "read") == 0)
            return read(argv[2], std::max(1, std::atoi(argv[3])));
        if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "grow") == 0)
            return grow(argv[2], argv[3], std::strtoull(argv[4], nullptr, 10),
                        argc == 6 && std::strcmp(argv[5], "huffman") == 0);
    } catch (const FormatError& e) {
        std::fprintf(stderr, "bench_nsf: %s\n", e.what());
        return 1;
    }
    std::fprintf(stderr, "usage: bench_nsf read FILE RUNS\n"
                         "       bench_nsf grow SAMPLE OUTPUT MIB [huffman]\n");
    return 2;
}
