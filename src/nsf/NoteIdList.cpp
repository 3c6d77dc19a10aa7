#include "nsf/NoteIdList.h"

namespace tarvik::nsf {

namespace {

constexpr std::uint32_t kMagic = 4;
constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kRunSize = 5;

struct Header {
    std::uint16_t count;
    std::uint16_t runs;
    TimeDate time;
};

Header readHeader(ByteReader& r)
{
    const std::uint32_t magic = r.u32();
    if (magic != kMagic)
        r.fail("starts with " + std::to_string(magic) + ", not 4");
    Header h{};
    h.count = r.u16();
    h.runs = r.u16();
    r.skip(2);
    h.time.time = r.u32();
    h.time.date = r.u32();
    // A run holds 1 to 256 IDs.
    if (h.runs > h.count || std::uint32_t(h.count) > std::uint32_t(h.runs) * 256)
        r.fail(std::to_string(h.count) + " IDs cannot form " + std::to_string(h.runs) + " runs");
    return h;
}

} // namespace

std::size_t noteIdListSize(Bytes bytes, std::uint64_t base)
{
    ByteReader r(bytes, "note ID list", base);
    const Header h = readHeader(r);
    return kHeaderSize + std::size_t(h.runs) * kRunSize;
}

NoteIdList decodeNoteIdList(Bytes bytes, std::uint64_t base)
{
    ByteReader r(bytes, "note ID list", base);
    const Header h = readHeader(r);
    if (std::size_t(h.runs) * kRunSize > r.remaining())
        r.fail(std::to_string(h.runs) + " runs do not fit in the " + std::to_string(r.remaining()) +
               " bytes left");
    NoteIdList list;
    list.time = h.time;
    list.ids.reserve(h.count);
    for (unsigned i = 0; i < h.runs; ++i) {
        const unsigned extra = r.u8();
        const std::uint32_t first = r.u32();
        if (list.ids.size() + extra + 1 > h.count)
            r.fail("the runs hold more than the " + std::to_string(h.count) + " IDs stated");
        if (std::uint64_t(first) + 4ull * extra > 0xFFFFFFFFull)
            r.fail("a run passes the largest note ID");
        for (unsigned k = 0; k <= extra; ++k)
            list.ids.push_back(first + 4 * k);
    }
    if (list.ids.size() != h.count)
        r.fail("the runs hold " + std::to_string(list.ids.size()) + " IDs, not the " +
               std::to_string(h.count) + " stated");
    return list;
}

} // namespace tarvik::nsf
