#include "nsf/RichText.h"

#include "nsf/TextCodec.h"

#include <algorithm>

namespace tarvik::nsf {

bool CdRecordReader::next(CdRecord& record)
{
    if (m_pos >= m_value.size())
        return false;
    ByteReader r(m_value, "rich-text record");
    r.seek(m_pos);
    const std::uint8_t type = r.u8();
    const std::uint8_t marker = r.u8();
    CdRecord::Header header;
    std::uint32_t length;
    if (marker == 0xFF) {
        header = CdRecord::Header::Word;
        length = r.u16();
    } else if (marker == 0x00) {
        header = CdRecord::Header::Long;
        length = r.u32();
    } else {
        header = CdRecord::Header::Byte;
        length = marker;
    }
    r.seek(m_pos);
    if (length < std::uint32_t(header))
        r.fail("record of type " + std::to_string(type) + " claims " + std::to_string(length) +
               " bytes, less than its own signature");
    if (length > r.remaining())
        r.fail("record of " + std::to_string(length) + " bytes runs past the " +
               std::to_string(r.remaining()) + " bytes left");
    record.type = type;
    record.header = header;
    record.offset = m_pos;
    record.bytes = m_value.subspan(m_pos, length);
    // Records keep an even length; the last one may end without its padding byte.
    m_pos += length + (length & 1);
    return true;
}

namespace {

struct Cell {
    unsigned row;
    unsigned column;
    std::size_t order;
    std::string text;
};

// Where text goes: the field itself or the cell of a table being read.
struct Container {
    std::string text;
    bool started = false; // a paragraph or some text is already in it
};

struct Table {
    std::vector<Cell> cells;
    bool inCell = false;
};

class PlainTextBuilder {
public:
    void record(const CdRecord& rec)
    {
        using H = CdRecord::Header;
        if (rec.is(cd::kParagraph, H::Byte))
            paragraph();
        else if (rec.is(cd::kText, H::Word))
            text(rec);
        else if (rec.is(cd::kTableBegin, H::Byte))
            tableBegin();
        else if (rec.is(cd::kTableCell, H::Byte))
            tableCell(rec);
        else if (rec.is(cd::kTableEnd, H::Byte))
            tableEnd();
        else if (rec.is(cd::kHotspotBegin, H::Word) || rec.is(cd::kV4HotspotBegin, H::Word))
            hotspot(rec);
    }

    RichTextContent finish(std::vector<FormatError> problems)
    {
        while (!m_tables.empty())
            tableEnd();
        return {std::move(m_stack.front().text), std::move(m_files), std::move(problems)};
    }

private:
    Container& current() { return m_stack.back(); }

    void paragraph()
    {
        if (current().started)
            current().text.push_back('\n');
        current().started = true;
    }

    void text(const CdRecord& rec)
    {
        ByteReader r(rec.body(), "rich-text text run", rec.offset + std::size_t(rec.header));
        r.skip(4); // font
        std::string run = lmbcsToUtf8(r.bytes(r.remaining()));
        // A run padded with NUL to its stored length ends at the NUL.
        while (!run.empty() && run.back() == '\0')
            run.pop_back();
        if (run.empty())
            return;
        current().text += run;
        current().started = true;
    }

    void tableBegin()
    {
        m_tables.emplace_back();
        m_stack.emplace_back(); // text before the first cell record
    }

    void tableCell(const CdRecord& rec)
    {
        if (m_tables.empty())
            return; // a stray cell: its text stays where it is
        ByteReader r(rec.body(), "rich-text table cell", rec.offset + std::size_t(rec.header));
        const unsigned row = r.u8();
        const unsigned column = r.u8();
        closeCell();
        Table& table = m_tables.back();
        table.cells.push_back({row, column, table.cells.size(), {}});
        table.inCell = true;
        m_stack.back() = Container{};
    }

    void closeCell()
    {
        Table& table = m_tables.back();
        if (table.inCell)
            table.cells.back().text = std::move(m_stack.back().text);
        else if (!m_stack.back().text.empty()) // text before the first cell
            table.cells.push_back({0, 0, table.cells.size(), std::move(m_stack.back().text)});
        table.inCell = false;
    }

    void tableEnd()
    {
        if (m_tables.empty())
            return;
        closeCell();
        Table table = std::move(m_tables.back());
        m_tables.pop_back();
        m_stack.pop_back();
        std::stable_sort(table.cells.begin(), table.cells.end(), [](const Cell& a, const Cell& b) {
            return a.row != b.row ? a.row < b.row : a.column < b.column;
        });
        std::string out;
        for (std::size_t i = 0; i < table.cells.size(); ++i) {
            if (i > 0)
                out.push_back(table.cells[i].row == table.cells[i - 1].row ? '\t' : '\n');
            out += table.cells[i].text;
        }
        Container& parent = current();
        if (parent.started && !parent.text.empty() && parent.text.back() != '\n')
            parent.text.push_back('\n');
        parent.text += out;
        parent.started = true;
    }

    void hotspot(const CdRecord& rec)
    {
        ByteReader r(rec.body(), "rich-text hotspot", rec.offset + std::size_t(rec.header));
        const std::uint16_t type = r.u16();
        r.skip(4); // flags
        const std::uint16_t dataLength = r.u16();
        if (type != cd::kHotspotFile)
            return;
        ByteReader data = r.sub(dataLength, "rich-text file hotspot");
        // Two NUL-terminated names: the attachment's own, then the one it was attached as.
        const auto name = [&data]() {
            std::size_t end = data.position();
            while (end < data.size() && data.u8At(end) != 0)
                ++end;
            std::string s = lmbcsToUtf8(data.bytes(end - data.position()));
            if (!data.atEnd())
                data.skip(1);
            return s;
        };
        RichTextFile file;
        file.internalName = name();
        file.originalName = name();
        if (file.originalName.empty())
            file.originalName = file.internalName;
        m_files.push_back(std::move(file));
    }

    std::vector<Container> m_stack{Container{}};
    std::vector<Table> m_tables;
    std::vector<RichTextFile> m_files;
};

} // namespace

RichTextContent richTextContent(std::span<const Bytes> items)
{
    PlainTextBuilder builder;
    std::vector<FormatError> problems;
    for (const Bytes& item : items) {
        CdRecordReader reader(item);
        CdRecord rec;
        for (;;) {
            try {
                if (!reader.next(rec))
                    break;
            } catch (const FormatError& e) {
                problems.push_back(e); // the records after it cannot be found
                break;
            }
            try {
                builder.record(rec);
            } catch (const FormatError& e) {
                problems.push_back(e);
            }
        }
    }
    return builder.finish(std::move(problems));
}

} // namespace tarvik::nsf
