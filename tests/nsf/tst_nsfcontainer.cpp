// The container's building blocks on hand-made bytes: the CX expansion, the attachment Huffman
// scheme, note-ID lists, where a note's values lie, and the byte sources.
#include "NsfTestBytes.h"

#include "nsf/ByteSource.h"
#include "nsf/CxCompression.h"
#include "nsf/Note.h"
#include "nsf/NoteIdList.h"
#include "nsf/ObjectStream.h"
#include "nsf/ValuePlacement.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <functional>

using namespace tarvik::nsf;
using tarvik::nsf::test::ValueBytes;

namespace {

// Writes CX streams the way the expansion reads them: bits least significant first, starting
// at bit 3 of the first byte.
class CxWriter {
public:
    CxWriter() { m_bit = 3; }

    CxWriter& literal(std::uint8_t b)
    {
        put(0);
        bits(b, 8);
        return *this;
    }
    CxWriter& match(unsigned length, unsigned offset)
    {
        put(1);
        if (length == 2) {
            put(1);
        } else {
            put(0);
            gamma(length - 2);
            if (offset >= 256) {
                put(0);
                gamma(offset >> 8);
            } else {
                put(1);
            }
        }
        bits(offset & 0xFF, 8);
        return *this;
    }
    CxWriter& end()
    {
        put(1);
        put(0);
        gamma(0x100);
        return *this;
    }
    std::vector<std::uint8_t> bytes() const { return m_bytes; }

private:
    void put(unsigned v)
    {
        if (m_bit == 3 && m_bytes.empty())
            m_bytes.push_back(0);
        else if (m_bit == 8) {
            m_bytes.push_back(0);
            m_bit = 0;
        }
        m_bytes.back() |= std::uint8_t((v & 1) << m_bit);
        ++m_bit;
    }
    void bits(unsigned v, unsigned n)
    {
        for (unsigned i = 0; i < n; ++i)
            put(v >> i);
    }
    // z zero bits, a one bit, then z + 1 bits of (g - (2^(z+1) - 1)).
    void gamma(unsigned g)
    {
        unsigned z = 0;
        while (g >= (2u << (z + 1)) - 1)
            ++z;
        for (unsigned i = 0; i < z; ++i)
            put(0);
        put(1);
        bits(g - ((2u << z) - 1), z + 1);
    }

    std::vector<std::uint8_t> m_bytes;
    unsigned m_bit;
};

std::string expandText(const std::vector<std::uint8_t>& stream, std::size_t size)
{
    const std::vector<std::uint8_t> out = expandCx(stream, size, "test block", 0x1000);
    return std::string(out.begin(), out.end());
}

QString failureOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const FormatError& e) {
        return QString::fromStdString(e.what());
    }
    return QStringLiteral("(no failure)");
}

// An object record (22-byte header) holding `data`, as the only thing in a byte source.
struct ObjectFixture {
    std::vector<std::uint8_t> file;
    ObjectInfo info;
    std::shared_ptr<MemorySource> source;

    explicit ObjectFixture(const ValueBytes& data)
    {
        ValueBytes record;
        record.u16(0x0007).u32(std::uint32_t(22 + data.size()));
        while (record.size() < 22)
            record.u8(0);
        record.append(data);
        file = record.vector();
        info.offset = 0;
        info.signature = 0x0007;
        info.headerSize = 22;
        info.recordSize = std::uint32_t(file.size());
        source = std::make_shared<MemorySource>(file);
    }
    std::string read(std::uint16_t compression, std::optional<std::uint64_t> expected,
                     std::size_t piece = 3)
    {
        auto stream = compression ? openHuffmanObject(source, info, expected)
                                  : openStoredObject(source, info, expected);
        std::string out;
        std::vector<std::uint8_t> buffer(piece);
        while (const std::size_t n = stream->read(buffer))
            out.append(buffer.begin(), buffer.begin() + n);
        return out;
    }
};

// A Huffman-coded object: tree node 0 = {1 -> node 1, 0 -> 'a'}, node 1 = {1 -> 'b', 0 -> end}:
// 'a' is 0, 'b' is 11, the end is 10. "abba" then the end: 0 11 11 0 10 = 0x7A.
ValueBytes huffmanAbba(std::uint32_t checksum = 'a' + 'b' + 'b' + 'a',
                       std::int16_t node1First = 'b')
{
    ValueBytes v;
    v.u32(checksum).u16(8);
    v.u16(std::uint16_t(-1)).u16('a');
    v.u16(std::uint16_t(node1First)).u16(256);
    v.u8(0x7A);
    return v;
}

PlacementItem item(std::uint16_t flags, std::uint16_t size, std::uint16_t nameType = kTypeText)
{
    return PlacementItem{flags, nameType, size};
}

std::size_t noImplausible(const std::vector<bool>&, std::size_t)
{
    return 0;
}

} // namespace

class TestNsfContainer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cxLiteralsAndMatches()
    {
        // Literals, a two-byte match, a longer match with a gamma-coded length, a match that
        // overlaps what it produces (a run), and a far match with a high offset part.
        CxWriter w;
        w.literal('a').literal('b').literal('c').match(2, 3); // abcab
        QCOMPARE(expandText(w.bytes(), 5), std::string("abcab"));

        CxWriter run;
        run.literal('x').literal('y').match(9, 2); // a run repeating the last two bytes
        QCOMPARE(expandText(run.bytes(), 11), std::string("xyxyxyxyxyx"));

        std::string far;
        CxWriter f;
        for (int i = 0; i < 300; ++i) {
            far.push_back(char('A' + i % 23));
            f.literal(std::uint8_t(far.back()));
        }
        f.match(5, 300);
        far += far.substr(0, 5);
        QCOMPARE(expandText(f.bytes(), far.size()), far);
    }

    void cxStopsAtTheDeclaredSize()
    {
        CxWriter w;
        w.literal('a').match(20, 1);
        // The match would give 21 bytes; a block declared as 8 gets exactly 8.
        QCOMPARE(expandText(w.bytes(), 8), std::string(8, 'a'));
        // Never reads a byte for a block of size zero.
        QCOMPARE(expandText({}, 0), std::string());
    }

    void cxRejectsBadStreams_data()
    {
        QTest::addColumn<std::vector<std::uint8_t>>("stream");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("reason");
        QTest::newRow("offset before the start")
            << CxWriter().literal('a').match(2, 2).bytes() << 3 << QStringLiteral("reaches before");
        QTest::newRow("offset zero")
            << CxWriter().literal('a').match(3, 0).bytes() << 4 << QStringLiteral("reaches before");
        QTest::newRow("cut short") << CxWriter().literal('a').literal('b').bytes() << 5
                                   << QStringLiteral("ends before its declared size");
        QTest::newRow("end code early")
            << CxWriter().literal('a').end().bytes() << 4 << QStringLiteral("ends after 1 of 4");
        // Zero bits forever: a length code that never ends.
        QTest::newRow("endless code") << std::vector<std::uint8_t>{0x08, 0, 0, 0, 0, 0, 0} << 9
                                      << QStringLiteral("impossibly long");
    }
    void cxRejectsBadStreams()
    {
        QFETCH(std::vector<std::uint8_t>, stream);
        QFETCH(int, size);
        QFETCH(QString, reason);
        const QString failure = failureOf([&] { expandCx(stream, size, "test block", 0x1000); });
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY2(failure.startsWith(QStringLiteral("test block at offset 0x10")),
                 qPrintable(failure));
    }

    void noteIdListRuns()
    {
        ValueBytes v;
        v.u32(4).u16(6).u16(3).u16(1).u32(0x11).u32(0x22);
        v.u8(2).u32(0x20FA); // 0x20FA, 0x20FE, 0x2102
        v.u8(0).u32(0x2200); // 0x2200
        v.u8(1).u32(0x3000); // 0x3000, 0x3004
        v.text("tail that is not the list's");
        const NoteIdList list = decodeNoteIdList(v);
        QCOMPARE(list.ids,
                 (std::vector<std::uint32_t>{0x20FA, 0x20FE, 0x2102, 0x2200, 0x3000, 0x3004}));
        QCOMPARE(list.time.time, 0x11u);
        QCOMPARE(list.time.date, 0x22u);
        QCOMPARE(noteIdListSize(v), std::size_t(18 + 3 * 5));

        ValueBytes empty;
        empty.u32(4).u16(0).u16(0).u16(1).u32(0).u32(0);
        QVERIFY(decodeNoteIdList(empty).ids.empty());
    }

    void noteIdListChecksItsCounts_data()
    {
        QTest::addColumn<std::vector<std::uint8_t>>("bytes");
        QTest::addColumn<QString>("reason");
        auto list = [](std::uint32_t magic, std::uint16_t count, std::uint16_t runs) {
            ValueBytes v;
            v.u32(magic).u16(count).u16(runs).u16(1).u32(0).u32(0);
            return v;
        };
        QTest::newRow("not a list")
            << list(5, 1, 1).u8(0).u32(8).vector() << QStringLiteral("starts with 5");
        QTest::newRow("fewer IDs than stated")
            << list(4, 3, 1).u8(1).u32(8).vector() << QStringLiteral("hold 2 IDs, not the 3");
        QTest::newRow("more IDs than stated") << list(4, 2, 2).u8(1).u32(8).u8(0).u32(40).vector()
                                              << QStringLiteral("more than the 2");
        QTest::newRow("runs beyond the bytes")
            << list(4, 2, 2).u8(0).u32(8).vector() << QStringLiteral("do not fit");
        QTest::newRow("more runs than IDs")
            << list(4, 1, 2).vector() << QStringLiteral("cannot form 2 runs");
        QTest::newRow("run past the largest ID")
            << list(4, 2, 1).u8(1).u32(0xFFFFFFFE).vector() << QStringLiteral("largest note ID");
    }
    void noteIdListChecksItsCounts()
    {
        QFETCH(std::vector<std::uint8_t>, bytes);
        QFETCH(QString, reason);
        const QString failure = failureOf([&] { decodeNoteIdList(bytes, 0x500); });
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY2(failure.startsWith(QStringLiteral("note ID list at offset 0x5")),
                 qPrintable(failure));
    }

    void huffmanDecodesPieceByPiece()
    {
        ObjectFixture f(huffmanAbba());
        // Read a byte at a time and in one go: the same bytes.
        QCOMPARE(f.read(1, 4, 1), std::string("abba"));
        QCOMPARE(f.read(1, 4, 4096), std::string("abba"));
        QCOMPARE(f.read(3, std::nullopt), std::string("abba"));

        // A tree without nodes codes only the end: an empty file.
        ValueBytes empty;
        empty.u32(0).u16(0);
        ObjectFixture e(empty);
        QCOMPARE(e.read(1, 0), std::string());
    }

    void huffmanChecksWhatItProduces_data()
    {
        QTest::addColumn<std::vector<std::uint8_t>>("data");
        QTest::addColumn<qint64>("expected");
        QTest::addColumn<QString>("reason");
        QTest::newRow("wrong checksum")
            << huffmanAbba(12345).vector() << qint64(4) << QStringLiteral("checksum");
        QTest::newRow("shorter than recorded")
            << huffmanAbba().vector() << qint64(5)
            << QStringLiteral("holds 4 bytes, the attachment records 5");
        QTest::newRow("longer than recorded")
            << huffmanAbba().vector() << qint64(3) << QStringLiteral("goes on past the 3 bytes");
        QTest::newRow("node leading to itself (a loop)")
            << huffmanAbba(390, -1).vector() << qint64(4) << QStringLiteral("leads nowhere");
        ValueBytes cut = huffmanAbba();
        std::vector<std::uint8_t> noEnd = cut.vector();
        noEnd.back() = 0x78; // 0 11 11 0 0 0: four symbols, then more 'a's, never the end
        QTest::newRow("no end code")
            << noEnd << qint64(-1) << QStringLiteral("without its end code");
        ValueBytes big;
        big.u32(0).u16(400).u16(1);
        QTest::newRow("tree larger than the object")
            << big.vector() << qint64(-1) << QStringLiteral("does not fit");
        ValueBytes odd;
        odd.u32(0).u16(6).u16(0).u16(0).u16(256);
        QTest::newRow("tree of a partial node")
            << odd.vector() << qint64(-1) << QStringLiteral("does not fit");
    }
    void huffmanChecksWhatItProduces()
    {
        QFETCH(std::vector<std::uint8_t>, data);
        QFETCH(qint64, expected);
        QFETCH(QString, reason);
        ValueBytes v;
        for (std::uint8_t b : data)
            v.u8(b);
        ObjectFixture f(v);
        const QString failure = failureOf([&] {
            f.read(1, expected < 0 ? std::nullopt : std::optional<std::uint64_t>(expected));
        });
        QVERIFY2(failure.contains(reason), qPrintable(failure));
    }

    void storedObjectIsItsBytes()
    {
        ValueBytes v;
        v.text("plain bytes\r\n");
        ObjectFixture f(v);
        QCOMPARE(f.read(0, 13), std::string("plain bytes\r\n"));
        const QString failure = failureOf([&] { f.read(0, 14); });
        QVERIFY2(failure.contains(QStringLiteral("holds 13 bytes, the attachment records 14")),
                 qPrintable(failure));
        // Without a recorded size the bytes come as stored.
        QCOMPARE(f.read(0, std::nullopt, 100), std::string("plain bytes\r\n"));
    }

    void valuesFollowTheSummaryFlag()
    {
        // Summary flag set: with the summary values; clear: non-summary; MIME parts, signatures
        // and placeholders always with the non-summary ones.
        const std::vector<PlacementItem> items = {item(kItemSummary, 10),
                                                  item(0, 20, kTypeComposite),
                                                  item(kItemSummary, 30, kTypeMimePart),
                                                  item(kItemSummary | kItemPlaceholder, 2),
                                                  item(kItemSummary, 40, kTypeSignature),
                                                  item(kItemSummary, 5)};
        QCOMPARE(placementByFlags(items, true),
                 (std::vector<bool>{false, true, true, true, true, false}));
        // Without a non-summary place, everything is in the note record.
        QCOMPARE(placementByFlags(items, false), std::vector<bool>(6, false));

        PlacementRegions regions;
        regions.summaryCapacity = 15;
        regions.hasNonSummary = true;
        regions.nonSummaryTotals = {92};
        const Placement p = placeValues(items, regions, noImplausible);
        QVERIFY(p.consistent);
        QCOMPARE(p.moved, std::size_t(0));
        QCOMPARE(p.nonSummaryTotal, std::size_t(92));

        // The summary values must fit their room.
        regions.summaryCapacity = 14;
        QVERIFY(!placeValues(items, regions, noImplausible).consistent);
    }

    void valuesMovedWhereTheSizesAddUp()
    {
        // The flags put 10 + 20 with the non-summary values, the record holds 20 + 7: the item
        // of 7 flagged summary is in fact there, and the one of 10 is not.
        const std::vector<PlacementItem> items = {item(0, 10), item(0, 20, kTypeComposite),
                                                  item(kItemSummary, 7), item(kItemSummary, 3)};
        PlacementRegions regions;
        regions.summaryCapacity = 100;
        regions.hasNonSummary = true;
        regions.nonSummaryTotals = {27};
        const Placement p = placeValues(items, regions, noImplausible);
        QVERIFY(p.consistent);
        QCOMPARE(p.moved, std::size_t(2));
        QCOMPARE(p.nonSummary, (std::vector<bool>{false, true, true, false}));
        QVERIFY(!p.ambiguous);

        // One move suffices when one item is misflagged; of two that fit, the plausible wins.
        const std::vector<PlacementItem> twins = {item(kItemSummary, 24, kTypeTextList),
                                                  item(kItemSummary, 24, kTypeComposite),
                                                  item(0, 100, kTypeComposite)};
        regions.nonSummaryTotals = {124};
        auto firstIsBad = [](const std::vector<bool>& choice, std::size_t) -> std::size_t {
            return choice[0] ? 1 : 0; // the first value does not look like its type there
        };
        const Placement q = placeValues(twins, regions, firstIsBad);
        QCOMPARE(q.nonSummary, (std::vector<bool>{false, true, true}));
        QVERIFY(!q.ambiguous);
        const Placement r = placeValues(twins, regions, noImplausible);
        QVERIFY(r.consistent);
        QVERIFY(r.ambiguous);

        // Nothing adds up: the flags' choice, marked inconsistent.
        regions.nonSummaryTotals = {1};
        const Placement none = placeValues(twins, regions, noImplausible);
        QVERIFY(!none.consistent);
        QCOMPARE(none.nonSummary, (std::vector<bool>{false, false, true}));
    }

    void manyEqualChoicesAreNotWeighed()
    {
        // A hostile note of 65,535 one-byte items, all flagged non-summary, whose non-summary
        // record holds one byte less: moving any one of them adds up. Weighing every choice
        // would check 65,535 values 65,535 times and keep 65,535 layouts; none is better
        // founded, so none is taken, and only a few are looked at.
        const std::vector<PlacementItem> items(65535, item(0, 1));
        PlacementRegions regions;
        regions.summaryCapacity = 1;
        regions.hasNonSummary = true;
        regions.nonSummaryTotals = {65534};
        std::size_t weighed = 0;
        const auto counting = [&](const std::vector<bool>&, std::size_t) -> std::size_t {
            ++weighed;
            return 0;
        };
        const Placement p = placeValues(items, regions, counting);
        QVERIFY(!p.consistent);
        QVERIFY(p.ambiguous);
        QCOMPARE(p.moved, std::size_t(0));
        QCOMPARE(weighed, std::size_t(0));

        // Pairs likewise: 400 items of one size, two of which must move.
        const std::vector<PlacementItem> pairs(400, item(0, 2));
        regions.summaryCapacity = 4;
        regions.nonSummaryTotals = {796};
        weighed = 0;
        QVERIFY(!placeValues(pairs, regions, counting).consistent);
        QCOMPARE(weighed, std::size_t(0));

        // A few choices are still weighed and one taken.
        const std::vector<PlacementItem> few(3, item(0, 1));
        regions.summaryCapacity = 1;
        regions.nonSummaryTotals = {2};
        const Placement q = placeValues(few, regions, counting);
        QVERIFY(q.consistent);
        QCOMPARE(weighed, std::size_t(3));
    }

    void plausibleValues_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<std::vector<std::uint8_t>>("value");
        QTest::addColumn<bool>("plausible");
        auto v = [](const ValueBytes& b) {
            return b.vector();
        };
        QTest::newRow("text list")
            << int(kTypeTextList) << v(ValueBytes().u16(2).u16(1).u16(2).text("abc")) << true;
        QTest::newRow("text list one byte short")
            << int(kTypeTextList) << v(ValueBytes().u16(2).u16(1).u16(2).text("ab")) << false;
        QTest::newRow("text list count beyond")
            << int(kTypeTextList) << v(ValueBytes().u16(9)) << false;
        QTest::newRow("number") << int(kTypeNumber) << v(ValueBytes().f64(1.5)) << true;
        QTest::newRow("number of 4 bytes") << int(kTypeNumber) << v(ValueBytes().u32(1)) << false;
        QTest::newRow("time range")
            << int(kTypeTimeRange)
            << v(ValueBytes().u16(1).u16(1).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0)) << true;
        QTest::newRow("note references")
            << int(kTypeNoteRefList) << v(ValueBytes().u16(1).u32(1).u32(2).u32(3).u32(4)) << true;
        QTest::newRow("rich text records")
            << int(kTypeComposite)
            << v(ValueBytes().u8(0x81).u8(2).u8(0x85).u8(0xFF).u16(7).text("abc").u8(0)) << true;
        QTest::newRow("rich text record past the end")
            << int(kTypeComposite) << v(ValueBytes().u8(0x85).u8(0xFF).u16(40).text("abc"))
            << false;
        QTest::newRow("plain text anything") << int(kTypeText) << v(ValueBytes().u8(0xFF)) << true;
    }
    void plausibleValues()
    {
        QFETCH(int, type);
        QFETCH(std::vector<std::uint8_t>, value);
        QFETCH(bool, plausible);
        QCOMPARE(plausibleValue(std::uint16_t(type), value), plausible);
    }

    void byteSources()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const std::string path = dir.filePath(QStringLiteral("ten.bin")).toStdString();
        std::ofstream(path, std::ios::binary) << "0123456789";
        FileSource file(path);
        QCOMPARE(file.size(), std::uint64_t(10));
        QCOMPARE(file.read(3, 4, "piece"), (std::vector<std::uint8_t>{'3', '4', '5', '6'}));
        QVERIFY(file.read(10, 0, "nothing").empty());
        QVERIFY(
            failureOf([&] { file.read(8, 3, "piece"); }).contains(QStringLiteral("past the end")));
        // A huge length from a damaged file must fail before anything is allocated for it.
        QVERIFY(failureOf([&] {
                    file.read(1, ~std::uint64_t(0), "piece");
                }).contains(QStringLiteral("past the end")));

        QVERIFY(failureOf([&] {
                    FileSource missing(path + ".missing");
                }).contains(QStringLiteral("No such file")));
        QVERIFY(failureOf([&] {
                    FileSource folder(dir.path().toStdString());
                }).contains(QStringLiteral("not a regular file")));

        const std::vector<std::uint8_t> bytes = {1, 2, 3};
        MemorySource memory(bytes);
        QCOMPARE(memory.read(1, 2, "piece"), (std::vector<std::uint8_t>{2, 3}));
        QVERIFY(failureOf([&] {
                    memory.read(3, 1, "piece");
                }).contains(QStringLiteral("past the end")));
    }

    void knownItemTypes()
    {
        for (std::uint16_t t : {0x0000, 0x0001, 0x0019, 0x0300, 0x0401, 0x0501, 0x0502, 0x0700})
            QVERIFY2(isKnownItemType(t), qPrintable(QString::number(t, 16)));
        // Text that a value begins with is not a type word.
        for (std::uint16_t t : {0x6953 /* "Si" */, 0x0020, 0x0503, 0x0800, 0xFFFF})
            QVERIFY2(!isKnownItemType(t), qPrintable(QString::number(t, 16)));
    }
};

QTEST_GUILESS_MAIN(TestNsfContainer)
#include "tst_nsfcontainer.moc"
