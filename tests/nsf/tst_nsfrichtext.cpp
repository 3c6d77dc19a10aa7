// Rich text: the compound-text record stream and its plain text. Records are written by hand
// as the C API reference lays them out; one item is copied from richtext.nsf.

#include "NsfTestBytes.h"

#include "nsf/RichText.h"

#include <QTest>

using namespace tarvik::nsf;
using namespace tarvik::nsf::test;

namespace {

// A record with a byte signature; `body` follows the two signature bytes.
ValueBytes bsig(std::uint8_t type, const ValueBytes& body = {})
{
    ValueBytes r;
    r.u8(type).u8(std::uint8_t(2 + body.size())).append(body);
    if (r.size() % 2)
        r.u8(0xEE); // padding: Notes leaves whatever byte was there
    return r;
}

ValueBytes wsig(std::uint8_t type, const ValueBytes& body = {})
{
    ValueBytes r;
    r.u8(type).u8(0xFF).u16(std::uint16_t(4 + body.size())).append(body);
    if (r.size() % 2)
        r.u8(0xEE);
    return r;
}

ValueBytes lsig(std::uint8_t type, const ValueBytes& body = {})
{
    ValueBytes r;
    r.u8(type).u8(0x00).u32(std::uint32_t(6 + body.size())).append(body);
    if (r.size() % 2)
        r.u8(0xEE);
    return r;
}

ValueBytes paragraph()
{
    return bsig(cd::kParagraph);
}

ValueBytes run(std::string_view text)
{
    return wsig(cd::kText, ValueBytes().u32(0x0A000001).text(text));
}

ValueBytes tableBegin()
{
    return bsig(cd::kTableBegin, ValueBytes().u16(0).u16(0).u16(0).u16(0).u16(0).u16(0));
}

ValueBytes cell(std::uint8_t row, std::uint8_t column)
{
    ValueBytes body;
    body.u8(row).u8(column).u16(0).u16(0).u16(0).u8(0).u8(0).u16(0).u8(1).u8(1).u16(0);
    return bsig(cd::kTableCell, body);
}

ValueBytes tableEnd()
{
    return bsig(cd::kTableEnd, ValueBytes().u32(0));
}

ValueBytes hotspot(std::uint8_t signature, std::uint16_t type, std::string_view data)
{
    return wsig(signature,
                ValueBytes().u16(type).u32(0x10008).u16(std::uint16_t(data.size())).text(data));
}

std::string plain(const ValueBytes& item)
{
    return richTextContent(Bytes(item)).text;
}

} // namespace

class TestNsfRichText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void recordsOfEachSignature()
    {
        ValueBytes v;
        v.append(bsig(0x81))
            .append(bsig(0x83, ValueBytes().u8(7)))       // odd length: padded
            .append(wsig(0x85, ValueBytes().text("abc"))) // odd length: padded
            .append(lsig(0x61, ValueBytes().u32(42)));
        CdRecordReader reader(v);
        CdRecord r;
        QVERIFY(reader.next(r));
        QVERIFY(r.is(0x81, CdRecord::Header::Byte));
        QCOMPARE(r.bytes.size(), std::size_t(2));
        QVERIFY(reader.next(r));
        QVERIFY(r.is(0x83, CdRecord::Header::Byte));
        QCOMPARE(r.body().size(), std::size_t(1));
        QCOMPARE(r.offset, std::size_t(2));
        QVERIFY(reader.next(r));
        QVERIFY(r.is(0x85, CdRecord::Header::Word));
        QCOMPARE(r.offset, std::size_t(6));
        QCOMPARE(std::string(r.body().begin(), r.body().end()), std::string("abc"));
        QVERIFY(reader.next(r));
        QVERIFY(r.is(0x61, CdRecord::Header::Long));
        QCOMPARE(r.offset, std::size_t(14));
        QCOMPARE(r.body().size(), std::size_t(4));
        QVERIFY(!reader.next(r));
        QVERIFY(!reader.next(r));
    }

    void lastRecordMayLackItsPadding()
    {
        ValueBytes v;
        v.append(run("ab")).u8(0x83).u8(3).u8(1); // an odd record at the very end, unpadded
        CdRecordReader reader(v);
        CdRecord r;
        QVERIFY(reader.next(r));
        QVERIFY(reader.next(r));
        QCOMPARE(r.bytes.size(), std::size_t(3));
        QVERIFY(!reader.next(r));
        QVERIFY(CdRecordReader(ValueBytes()).next(r) == false);
    }

    void badLengths_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<qulonglong>("offset");
        QTest::addColumn<QString>("detail");
        const auto q = [](const ValueBytes& v) {
            return QByteArray(reinterpret_cast<const char*>(v.vector().data()),
                              qsizetype(v.size()));
        };
        QTest::newRow("byte record shorter than its signature")
            << q(ValueBytes().append(paragraph()).u8(0x83).u8(1)) << 2ull
            << QStringLiteral("less than its own signature");
        QTest::newRow("word record of zero length")
            << q(ValueBytes().u8(0x85).u8(0xFF).u16(0)) << 0ull
            << QStringLiteral("less than its own signature");
        QTest::newRow("long record shorter than its signature")
            << q(ValueBytes().u8(0x61).u8(0).u32(5).u16(0)) << 0ull
            << QStringLiteral("less than its own signature");
        QTest::newRow("word record past the end")
            << q(ValueBytes().append(run("x")).u8(0x85).u8(0xFF).u16(40).u32(0)) << 10ull
            << QStringLiteral("runs past");
        QTest::newRow("long record of 4 GB")
            << q(ValueBytes().u8(0x61).u8(0).u32(0xFFFFFFF0).u16(0)) << 0ull
            << QStringLiteral("runs past");
        QTest::newRow("one byte left") << q(ValueBytes().append(paragraph()).u8(0x81)) << 3ull
                                       << QStringLiteral("needs 1 bytes");
        QTest::newRow("word signature cut")
            << q(ValueBytes().u8(0x85).u8(0xFF).u8(8)) << 2ull << QStringLiteral("needs 2 bytes");
    }
    void badLengths()
    {
        QFETCH(QByteArray, value);
        QFETCH(qulonglong, offset);
        QFETCH(QString, detail);
        const Bytes bytes(reinterpret_cast<const std::uint8_t*>(value.constData()), value.size());
        const FormatError e = errorOf([&] {
            CdRecordReader reader(bytes);
            CdRecord r;
            while (reader.next(r)) {
            }
        });
        QCOMPARE(e.kind(), FailureKind::Damaged);
        QCOMPARE(qs(e.structure()), QStringLiteral("rich-text record"));
        QCOMPARE(e.offset(), std::uint64_t(offset));
        QVERIFY2(qs(e.detail()).contains(detail), e.what());
        // The plain text reports it and keeps going.
        const RichTextContent c = richTextContent(bytes);
        QCOMPARE(c.problems.size(), std::size_t(1));
        QCOMPARE(c.problems[0].offset(), std::uint64_t(offset));
    }

    void damageKeepsWhatCameBefore()
    {
        // A text run whose length byte was damaged (0x0F for 0x08) runs past its item: the
        // text before it stays, and the next item is read.
        ValueBytes damaged;
        damaged.append(paragraph()).append(run("kept")).append(paragraph());
        damaged.u8(cd::kText).u8(0xFF).u16(0x40).u32(0x0A000001).text("lost");
        ValueBytes next;
        next.append(paragraph()).append(run("next item"));
        const std::vector<Bytes> items{Bytes(damaged), Bytes(next)};
        const RichTextContent c = richTextContent(items);
        QCOMPARE(c.text, std::string("kept\n\nnext item"));
        QCOMPARE(c.problems.size(), std::size_t(1));
        QCOMPARE(qs(c.problems[0].structure()), QStringLiteral("rich-text record"));
        QCOMPARE(c.problems[0].offset(), std::uint64_t(2 + 12 + 2));

        // A text run too short for its font is passed over alone.
        ValueBytes shortRun;
        shortRun.append(run("a")).append(wsig(cd::kText, ValueBytes().u8(1).u8(0).u8(0)));
        shortRun.append(run("b"));
        const RichTextContent s = richTextContent(Bytes(shortRun));
        QCOMPARE(s.text, std::string("ab"));
        QCOMPARE(s.problems.size(), std::size_t(1));
        QCOMPARE(qs(s.problems[0].structure()), QStringLiteral("rich-text text run"));
        QCOMPARE(s.problems[0].offset(), std::uint64_t(10 + 4)); // the run's body
        QVERIFY(richTextContent(Bytes(run("fine"))).problems.empty());
    }

    void paragraphsAndRuns()
    {
        ValueBytes v;
        v.append(paragraph())
            .append(run("First line"))
            .append(paragraph())
            .append(run("Second "))
            .append(run("line"));
        QCOMPARE(plain(v), std::string("First line\nSecond line"));

        // Empty runs and paragraph attributes before the first paragraph add nothing;
        // empty paragraphs are empty lines.
        ValueBytes w;
        w.append(bsig(0x83, ValueBytes().u16(1)))
            .append(run(""))
            .append(paragraph())
            .append(run("a"))
            .append(paragraph())
            .append(paragraph())
            .append(run("b"));
        QCOMPARE(plain(w), std::string("a\n\nb"));

        // A run's text is LMBCS; a run padded with NUL ends there.
        ValueBytes x;
        x.append(run(std::string_view("Gr\x01\x81n\0", 6)));
        QCOMPARE(plain(x), std::string("Gr\xC3\xBCn"));
        QCOMPARE(plain(ValueBytes()), std::string());
    }

    void unknownRecordsArePassedOver()
    {
        ValueBytes v;
        v.append(paragraph())
            .append(run("before"))
            .append(wsig(0x82, ValueBytes().u16(1).u16(3).u32(0).u32(0))) // paragraph style
            .append(lsig(0x99, ValueBytes().u32(0).u32(0).u32(0).u8(1)))  // graphic, odd
            .append(bsig(0x85)) // a byte record that shares the text run's type byte
            .append(wsig(0xE4, ValueBytes().u32(0).text("not text")))
            .append(run(" after"));
        QCOMPARE(plain(v), std::string("before after"));
    }

    void tablesInReadingOrder()
    {
        ValueBytes v;
        v.append(paragraph()).append(run("Above"));
        v.append(paragraph()).append(tableBegin());
        // cells stored out of order: reading order is by row, then column
        v.append(cell(1, 0)).append(paragraph()).append(run("C"));
        v.append(cell(0, 0)).append(paragraph()).append(run("A"));
        v.append(cell(0, 1))
            .append(paragraph())
            .append(run("B1"))
            .append(paragraph())
            .append(run("B2"));
        v.append(cell(1, 1)).append(paragraph()).append(run("D"));
        v.append(tableEnd()).append(paragraph()).append(run("Below"));
        QCOMPARE(plain(v), std::string("Above\nA\tB1\nB2\nC\tD\nBelow"));
    }

    void nestedAndUnbalancedTables()
    {
        ValueBytes nested;
        nested.append(tableBegin()).append(cell(0, 0)).append(run("outer"));
        nested.append(cell(0, 1)).append(tableBegin());
        nested.append(cell(0, 0)).append(run("in1")).append(cell(0, 1)).append(run("in2"));
        nested.append(tableEnd()).append(cell(1, 0)).append(run("last")).append(tableEnd());
        QCOMPARE(plain(nested), std::string("outer\tin1\tin2\nlast"));

        // A table cut off at the end of the field still gives its cells.
        ValueBytes open;
        open.append(run("x")).append(tableBegin()).append(cell(0, 0)).append(run("y"));
        QCOMPARE(plain(open), std::string("x\ny"));

        // Cell and end records outside any table change nothing.
        ValueBytes stray;
        stray.append(cell(3, 3)).append(run("z")).append(tableEnd()).append(run("!"));
        QCOMPARE(plain(stray), std::string("z!"));
    }

    void attachedFiles()
    {
        ValueBytes v;
        v.append(paragraph()).append(run("See "));
        v.append(hotspot(cd::kHotspotBegin, cd::kHotspotFile,
                         std::string_view("ATTXYZ01\0report.txt\0", 20)));
        v.append(bsig(0xAA)); // hotspot end
        v.append(hotspot(cd::kHotspotBegin, 1, std::string_view("popup text", 10)));
        v.append(hotspot(cd::kHotspotBegin, 3, std::string_view("\x01\x02formula", 9))); // button
        v.append(
            hotspot(cd::kV4HotspotBegin, cd::kHotspotFile, std::string_view("b.doc\0b.doc\0", 12)));
        v.append(hotspot(cd::kHotspotBegin, cd::kHotspotFile, std::string_view("only", 4)));
        v.append(run("."));
        const RichTextContent c = richTextContent(Bytes(v));
        QCOMPARE(c.text, std::string("See ."));
        QCOMPARE(c.files.size(), std::size_t(3));
        QCOMPARE(c.files[0].internalName, std::string("ATTXYZ01"));
        QCOMPARE(c.files[0].originalName, std::string("report.txt"));
        QCOMPARE(c.files[1].originalName, std::string("b.doc"));
        QCOMPARE(c.files[2].internalName, std::string("only"));
        QCOMPARE(c.files[2].originalName, std::string("only"));

        // The data length of a hotspot must fit in its record.
        ValueBytes bad;
        bad.append(wsig(cd::kHotspotBegin,
                        ValueBytes().u16(cd::kHotspotFile).u32(0).u16(50).text("a.txt")));
        bad.append(run("after"));
        const RichTextContent d = richTextContent(Bytes(bad));
        QVERIFY(d.files.empty());
        QCOMPARE(d.text, std::string("after"));
        QCOMPARE(d.problems.size(), std::size_t(1));
        QCOMPARE(d.problems[0].kind(), FailureKind::Damaged);
        QCOMPARE(qs(d.problems[0].structure()), QStringLiteral("rich-text hotspot"));
    }

    void fieldSplitOverItems()
    {
        ValueBytes first;
        first.append(paragraph())
            .append(run("one"))
            .append(tableBegin())
            .append(cell(0, 0))
            .append(run("a"));
        ValueBytes second;
        second.append(cell(0, 1))
            .append(run("b"))
            .append(tableEnd())
            .append(paragraph())
            .append(run("two"));
        const std::vector<Bytes> items{Bytes(first), Bytes(second)};
        QCOMPARE(richTextContent(items).text, std::string("one\na\tb\ntwo"));

        // A record that runs past its item is damage, even if the next item could complete it.
        ValueBytes cut;
        cut.append(run("x")).u8(0x85).u8(0xFF).u16(12);
        ValueBytes rest;
        rest.u32(0).text("tail");
        const std::vector<Bytes> broken{Bytes(cut), Bytes(rest)};
        const RichTextContent c = richTextContent(broken);
        QCOMPARE(c.problems.size(), std::size_t(2)); // the cut record, then the orphaned rest
        QCOMPARE(c.text, std::string("x"));
    }

    void richTextSample()
    {
        // from richtext.nsf, note 0x212A, item rich_text. The sample program rrich prints
        // these lines for it; the copy here has "Nhtes" where a bit of the file has flipped.
        const auto item = fromHex(
            "8304010085ff08000100000a81028304010085ff1f00010104185468697320697320736f6d652072"
            "69636820746578742e00810282ff460002000300000000000000a0050000a0050000d002fa03433a"
            "5c4e4f5445444154415c434855434b2e49440000000000000000000000000000000000000000000000"
            "008304020085ff240004030d0c5468697320697320612063656e74657265642070617261677261706881"
            "028304010085ff4d000002021249742077696c6c20626520757365642020746f2064656d6f6e737472"
            "6174652020746865204e687465732041504920436f6d706f756e645465787420526f7574696e65732e"
            "6a81028304010085ff08000100000a81028304010085ff4d000501030e5468657365206c696e65732075"
            "736520666f6e7420666163657320746861742072657175697265206120666f6e74207461626c652028"
            "612024466f6e7473206974656d292e5081028304010085ff15000600080e3132333420617364666a6b"
            "6c3b5e81028304010085ff2a0007010e0e284d532053616e7320536572662c2053796d626f6c2c2061"
            "6e642053797374656d29");
        QCOMPARE(item.size(), std::size_t(420));
        const RichTextContent c = richTextContent(Bytes(item));
        QCOMPARE(qs(c.text),
                 QStringLiteral("This is some rich text.\n"
                                "This is a centered paragraph\n"
                                "It will be used  to demonstrate  the Nhtes API CompoundText "
                                "Routines.\n"
                                "\n"
                                "These lines use font faces that require a font table (a $Fonts "
                                "item).\n"
                                "1234 asdfjkl;\n"
                                "(MS Sans Serf, Symbol, and System)"));
        QVERIFY(c.files.empty());
    }
};

QTEST_APPLESS_MAIN(TestNsfRichText)
#include "tst_nsfrichtext.moc"
