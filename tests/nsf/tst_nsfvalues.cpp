// The decoders of simple item values: times, text and text lists (LMBCS), numbers, ranges,
// note references and object items. Hand-made bytes follow the C API reference; the values
// marked "from <sample>" are copied byte for byte from the sample databases.

#include "NsfTestBytes.h"

#include "nsf/ObjectItem.h"
#include "nsf/TextCodec.h"
#include "nsf/TimeDate.h"
#include "nsf/ValueJson.h"
#include "nsf/Values.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace tarvik::nsf;
using namespace tarvik::nsf::test;

namespace {

TimeDate td(std::uint32_t time, std::uint32_t date)
{
    return TimeDate{time, date};
}

std::string utf8(const char8_t* s)
{
    return std::string(reinterpret_cast<const char*>(s));
}

} // namespace

class TestNsfValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // --- times -------------------------------------------------------------------------

    void timeFormats_data()
    {
        QTest::addColumn<quint32>("time");
        QTest::addColumn<quint32>("date");
        QTest::addColumn<QString>("text");
        // 2:49:04 PM Eastern Daylight Time, 10 December 1996: stored in GMT.
        QTest::newRow("instant") << 0x006CDCC0u << 0x852563FCu
                                 << QStringLiteral("1996-12-10T19:49:04.00Z");
        QTest::newRow("hundredths")
            << 0x006CDCC0u + 7 << 0x852563FCu << QStringLiteral("1996-12-10T19:49:04.07Z");
        QTest::newRow("midnight") << 0u << 2440588u << QStringLiteral("1970-01-01T00:00:00.00Z");
        QTest::newRow("last hundredth of a day") << TimeDate::kHundredthsPerDay - 1 << 2451604u
                                                 << QStringLiteral("2000-02-29T23:59:59.99Z");
        // from intro.nsf: a date without a time
        QTest::newRow("date only") << 0xFFFFFFFFu << 0x00255748u << QStringLiteral("1988-01-15");
        // from makeview.nsf: a time without a date
        QTest::newRow("time only") << 0x0044AA20u << 0xFFFFFFFFu << QStringLiteral("12:30:00.00");
        QTest::newRow("neither") << 0xFFFFFFFFu << 0xFFFFFFFFu << QStringLiteral("*");
        // the smallest value (Julian day 0), as Notes leaves a never-set time
        QTest::newRow("minimum") << 0u << 0u << QStringLiteral("-4713-11-24T00:00:00.00Z");
        QTest::newRow("Gregorian reform")
            << 0u << 2299161u << QStringLiteral("1582-10-15T00:00:00.00Z");
        QTest::newRow("year 10000")
            << 0u << 5373485u << QStringLiteral("+10000-01-01T00:00:00.00Z");
    }
    void timeFormats()
    {
        QFETCH(quint32, time);
        QFETCH(quint32, date);
        QFETCH(QString, text);
        QCOMPARE(qs(formatTimeDate(td(time, date))), text);
    }

    void timeZoneKeptApartFromTheInstant()
    {
        const TimeDate eastern = td(0x006CDCC0, 0x852563FC);
        QCOMPARE(eastern.zoneMinutesEast(), -5 * 60);
        QVERIFY(eastern.daylightSaving());
        // Mumbai: 5 1/2 hours east, no daylight-saving time.
        const TimeDate mumbai = td(0x00332F20, 0x652563FC);
        QCOMPARE(mumbai.zoneMinutesEast(), 5 * 60 + 30);
        QVERIFY(!mumbai.daylightSaving());
        QCOMPARE(qs(formatTimeDate(mumbai)), QStringLiteral("1996-12-10T09:19:04.00Z"));
        QCOMPARE(mumbai.julianDay(), eastern.julianDay());
        // A value without a date has no zone.
        QCOMPARE(td(100, TimeDate::kNoDate).zoneMinutesEast(), 0);
        QVERIFY(!td(100, TimeDate::kNoDate).daylightSaving());
    }

    void utcInstant()
    {
        QCOMPARE(utcHundredths(td(0, 2440588)), std::optional<std::int64_t>(0));
        QCOMPARE(utcHundredths(td(0x006CDCC0, 0x852563FC)),
                 std::optional<std::int64_t>(std::int64_t(850247344) * 100));
        QCOMPARE(utcHundredths(td(50, 2440587)),
                 std::optional<std::int64_t>(-std::int64_t(TimeDate::kHundredthsPerDay) + 50));
        QVERIFY(!utcHundredths(td(TimeDate::kNoTime, 2440588)));
        QVERIFY(!utcHundredths(td(0, TimeDate::kNoDate)));
    }

    void julianDays()
    {
        const auto check = [](std::uint32_t jd, std::int64_t y, unsigned m, unsigned d) {
            const CivilDate c = civilFromJulianDay(jd);
            return c.year == y && c.month == m && c.day == d;
        };
        QVERIFY(check(2451545, 2000, 1, 1));
        QVERIFY(check(2451604, 2000, 2, 29));
        QVERIFY(check(2451605, 2000, 3, 1));
        QVERIFY(check(2415079, 1900, 2, 28));
        QVERIFY(check(2415080, 1900, 3, 1)); // 1900 was no leap year
        QVERIFY(check(2450428, 1996, 12, 10));
        QVERIFY(check(0x00FFFFFF, 41222, 5, 9)); // the largest day the field holds
    }

    void timeValues()
    {
        // from simple.nsf: 07/14/93 03:14:44 PM in New York
        const auto v = fromHex("1b b8 69 00 1f 5f 25 85");
        const TimeDate t = decodeTime(v);
        QCOMPARE(qs(formatTimeDate(t)), QStringLiteral("1993-07-14T19:14:44.11Z"));
        QCOMPARE(t.zoneMinutesEast(), -300);

        const FormatError shortValue = errorOf([] { decodeTime(ValueBytes().u32(0)); });
        QCOMPARE(shortValue.kind(), FailureKind::Damaged);
        QCOMPARE(qs(shortValue.structure()), QStringLiteral("time"));
        // A time of day beyond the day: one flipped bit in a real sample gives this.
        const FormatError beyond =
            errorOf([] { decodeTime(ValueBytes().u32(TimeDate::kHundredthsPerDay).u32(2440588)); });
        QCOMPARE(beyond.kind(), FailureKind::Damaged);
        QVERIFY(beyond.detail().find("beyond one day") != std::string::npos);
    }

    // --- LMBCS -------------------------------------------------------------------------

    void lmbcsGroups_data()
    {
        QTest::addColumn<QByteArray>("lmbcs");
        QTest::addColumn<QString>("text");
        const auto b = [](std::initializer_list<unsigned char> bytes) {
            QByteArray a;
            for (unsigned char c : bytes)
                a.append(char(c));
            return a;
        };
        QTest::newRow("ASCII") << QByteArray("Plain text, 100%")
                               << QStringLiteral("Plain text, 100%");
        QTest::newRow("tab and line ends")
            << QByteArray("a\tb\r\nc") << QStringLiteral("a\tb\r\nc");
        QTest::newRow("group 01 Western")
            << b({'c', 'a', 'f', 0x01, 0x82}) << QStringLiteral("caf\u00e9");
        QTest::newRow("group 01 implied")
            << b({'c', 'a', 'f', 0x82}) << QStringLiteral("caf\u00e9");
        QTest::newRow("group 02 Greek") << b({0x02, 0xD6}) << QStringLiteral("\u03b1");
        QTest::newRow("group 03 Hebrew") << b({0x03, 0xE0}) << QStringLiteral("\u05d0");
        QTest::newRow("group 04 Arabic") << b({0x04, 0xC8}) << QStringLiteral("\u0628");
        QTest::newRow("group 05 Cyrillic") << b({0x05, 0xC6}) << QStringLiteral("\u0416");
        QTest::newRow("group 06 Central European") << b({0x06, 0x8B}) << QStringLiteral("\u0151");
        QTest::newRow("group 08 Turkish") << b({0x08, 0xF0}) << QStringLiteral("\u011f");
        QTest::newRow("group 0B Thai") << b({0x0B, 0xA1}) << QStringLiteral("\u0e01");
        QTest::newRow("group 0F control") << b({0x0F, 0x21}) << QStringLiteral("\u0001");
        QTest::newRow("group 10 Japanese") << b({0x10, 0x93, 0xFA}) << QStringLiteral("\u65e5");
        QTest::newRow("group 11 Korean") << b({0x11, 0xC7, 0xD1}) << QStringLiteral("\ud55c");
        QTest::newRow("group 12 Traditional Chinese")
            << b({0x12, 0xA4, 0xA4}) << QStringLiteral("\u4e2d");
        QTest::newRow("group 13 Simplified Chinese")
            << b({0x13, 0xB0, 0xA1}) << QStringLiteral("\u554a");
        QTest::newRow("group 14 Unicode") << b({0x14, 0x20, 0xAC}) << QStringLiteral("\u20ac");
        QTest::newRow("group 14 surrogate pair")
            << b({0x14, 0xD8, 0x3D, 0x14, 0xDE, 0x00}) << QString::fromUtf8("\xF0\x9F\x98\x80");
        QTest::newRow("groups mixed") << b({'A', 0x05, 0xC6, 'B', 0x14, 0x20, 0xAC, 'C'})
                                      << QStringLiteral("A\u0416B\u20acC");
        // Bad bytes give U+FFFD and the rest still reads.
        QTest::newRow("unknown group byte") << b({0x07, 'x'}) << QStringLiteral("\ufffdx");
        QTest::newRow("group byte at the end") << b({'a', 0x01}) << QStringLiteral("a\ufffd");
        QTest::newRow("Unicode cut short") << b({'a', 0x14, 0x20}) << QStringLiteral("a\ufffd");
        QTest::newRow("lone surrogate") << b({0x14, 0xD8, 0x3D, 'a'}) << QStringLiteral("\ufffda");
        QTest::newRow("empty") << QByteArray() << QString();
    }
    void lmbcsGroups()
    {
        QFETCH(QByteArray, lmbcs);
        QFETCH(QString, text);
        const std::string out = lmbcsToUtf8(std::string_view(lmbcs.constData(), lmbcs.size()));
        QCOMPARE(QString::fromUtf8(out.data(), qsizetype(out.size())), text);
    }

    void charsets()
    {
        const auto latin1 = fromHex("e9 74 e9");
        QCOMPARE(charsetToUtf8(Bytes(latin1), "ISO-8859-1"), utf8(u8"\u00e9t\u00e9"));
        const auto sjis = fromHex("93 fa 96 7b");
        QCOMPARE(charsetToUtf8(Bytes(sjis), "Shift_JIS"), utf8(u8"\u65e5\u672c"));
        const auto badUtf8 = fromHex("61 c3 28");
        QCOMPARE(charsetToUtf8(Bytes(badUtf8), "utf-8"), utf8(u8"a\ufffd("));
        const FormatError unknown = errorOf([&] { charsetToUtf8(Bytes(latin1), "x-no-such-set"); });
        QCOMPARE(unknown.kind(), FailureKind::Unsupported);
        QVERIFY(unknown.detail().find("x-no-such-set") != std::string::npos);
    }

    // --- text and text lists -----------------------------------------------------------

    void text()
    {
        // from namelook.nsf: a two-line address, the line break stored as NUL
        QCOMPARE(
            decodeText(ValueBytes().text(std::string_view("28 Lord Marlboro\0Tuscany, ITALY", 31))),
            std::string("28 Lord Marlboro\nTuscany, ITALY"));
        QCOMPARE(decodeText(ValueBytes()), std::string());
        QCOMPARE(decodeText(ValueBytes().text("Gr").raw({0x01, 0x81}).text("n")),
                 utf8(u8"Gr\u00fcn"));
    }

    void textLists()
    {
        // from intro.nsf
        ValueBytes list;
        list.raw({0x04, 0x00, 0x03, 0x00, 0x03, 0x00, 0x05, 0x00, 0x04, 0x00})
            .text("onetwothreefour");
        QCOMPARE(decodeTextList(list), (std::vector<std::string>{"one", "two", "three", "four"}));

        QCOMPARE(decodeTextList(ValueBytes().u16(0)), std::vector<std::string>());
        QCOMPARE(decodeTextList(ValueBytes().u16(3).u16(0).u16(1).u16(0).text("x")),
                 (std::vector<std::string>{"", "x", ""}));
        QCOMPARE(decodeTextList(ValueBytes().u16(1).u16(3).text(std::string_view("a\0b", 3))),
                 std::vector<std::string>{"a\nb"});
        // Bytes after the last entry are not an entry.
        QCOMPARE(decodeTextList(ValueBytes().u16(1).u16(1).text("ab")),
                 std::vector<std::string>{"a"});
    }

    void damagedTextLists_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("detail");
        const auto q = [](const ValueBytes& v) {
            return QByteArray(reinterpret_cast<const char*>(v.vector().data()),
                              qsizetype(v.size()));
        };
        QTest::newRow("nothing") << QByteArray() << QStringLiteral("needs 2 bytes");
        QTest::newRow("count beyond the lengths")
            << q(ValueBytes().u16(5).u16(1).u16(1)) << QStringLiteral("5 lengths");
        QTest::newRow("huge count")
            << q(ValueBytes().u16(0xFFFF)) << QStringLiteral("65535 lengths");
        QTest::newRow("lengths beyond the text")
            << q(ValueBytes().u16(2).u16(3).u16(4).text("abcdef"))
            << QStringLiteral("entries of 7 bytes");
    }
    void damagedTextLists()
    {
        QFETCH(QByteArray, value);
        QFETCH(QString, detail);
        const Bytes bytes(reinterpret_cast<const std::uint8_t*>(value.constData()), value.size());
        const FormatError e = errorOf([&] { decodeTextList(bytes); });
        QCOMPARE(e.kind(), FailureKind::Damaged);
        QCOMPARE(qs(e.structure()), QStringLiteral("text list"));
        QVERIFY2(qs(e.detail()).contains(detail), e.what());
    }

    // --- numbers and ranges ------------------------------------------------------------

    void numbers()
    {
        // from simple.nsf
        QCOMPARE(decodeNumber(Bytes(fromHex("b8 5a 27 2e c7 2b 50 3f"))), 0.000987);
        QCOMPARE(decodeNumber(ValueBytes().f64(-7)), -7.0);
        QCOMPARE(errorOf([] { decodeNumber(ValueBytes().u32(1)); }).kind(), FailureKind::Damaged);
        QCOMPARE(errorOf([] { decodeNumber(ValueBytes().u32(1)); }).structure(),
                 std::string("number"));
    }

    void numberFormats()
    {
        QCOMPARE(formatNumber(836), std::string("836"));
        QCOMPARE(formatNumber(0.000987), std::string("0.000987"));
        QCOMPARE(formatNumber(125.007), std::string("125.007"));
        QCOMPARE(formatNumber(-7), std::string("-7"));
        QCOMPARE(formatNumber(0.1 + 0.2), std::string("0.30000000000000004"));
        QCOMPARE(formatNumber(1e21), std::string("1e+21"));
        QCOMPARE(formatNumber(std::numeric_limits<double>::quiet_NaN()), std::string("null"));
        QCOMPARE(formatNumber(-std::numeric_limits<double>::infinity()), std::string("null"));
    }

    void numberRanges()
    {
        // from numlist.nsf: five numbers, no pairs
        const NumberRange list = decodeNumberRange(
            Bytes(fromHex("0500 0000 0b50128b0abf0540 000000000000f0bf 6e861bf0f9210940"
                          "0000000000000000 000000000000f03f")));
        QCOMPARE(list.values, (std::vector<double>{2.7182818284, -1, 3.14159, 0, 1}));
        QVERIFY(list.ranges.empty());
        QCOMPARE(list.missingRanges, std::size_t(0));

        const NumberRange both =
            decodeNumberRange(ValueBytes().u16(1).u16(2).f64(5).f64(1).f64(2).f64(10).f64(20));
        QCOMPARE(both.values, std::vector<double>{5});
        QCOMPARE(both.ranges, (std::vector<std::pair<double, double>>{{1, 2}, {10, 20}}));

        const NumberRange empty = decodeNumberRange(ValueBytes().u16(0).u16(0));
        QVERIFY(empty.values.empty() && empty.ranges.empty());

        QCOMPARE(errorOf([] { decodeNumberRange(ValueBytes().u16(2).u16(0).f64(1)); }).kind(),
                 FailureKind::Damaged);
        QCOMPARE(errorOf([] { decodeNumberRange(ValueBytes().u16(0xFFFF).u16(0)); }).structure(),
                 std::string("number list"));
        // Half a pair is damage even where Notes wrote too large a pair count.
        QCOMPARE(errorOf([] {
                     decodeNumberRange(ValueBytes().u16(0).u16(2).f64(1).f64(2).f64(3));
                 }).kind(),
                 FailureKind::Damaged);
    }

    void timeRanges()
    {
        // from MIMEMsg.nsf: RouteTimes, one (arrived, left) pair
        const TimeRange route =
            decodeTimeRange(Bytes(fromHex("0000 0100 5c253100c7712548 ae253100c7712548")));
        QVERIFY(route.values.empty());
        QCOMPARE(route.ranges.size(), std::size_t(1));
        QCOMPARE(qs(formatTimeRangePair(route.ranges[0])),
                 QStringLiteral("2006-08-11T08:56:48.28Z/2006-08-11T08:56:49.10Z"));
        QCOMPARE(route.ranges[0].first.zoneMinutesEast(), 8 * 60);

        // from MIMEMsg.nsf: a RouteTimes whose header announces five pairs but holds one
        const TimeRange shortRoute =
            decodeTimeRange(Bytes(fromHex("0000 0500 ea7f3100c7712548 f97f3100c7712548")));
        QCOMPARE(shortRoute.ranges.size(), std::size_t(1));
        QCOMPARE(shortRoute.missingRanges, std::size_t(4));

        // from na_test.nsf: working hours, times without a date
        const TimeRange hours =
            decodeTimeRange(Bytes(fromHex("0000 0100 00f22b00ffffffff 80e06200ffffffff")));
        QCOMPARE(qs(formatTimeRangePair(hours.ranges.at(0))),
                 QStringLiteral("08:00:00.00/18:00:00.00"));

        // from MIMEMsg.nsf: $Revisions, one value never set
        const TimeRange revisions = decodeTimeRange(Bytes(fromHex("0100 0000 0000000000000000")));
        QCOMPARE(revisions.values.size(), std::size_t(1));

        QCOMPARE(errorOf([] { decodeTimeRange(ValueBytes().u16(1).u16(0).u32(0)); }).kind(),
                 FailureKind::Damaged);
        // A bad time inside the list is damage of the list.
        QCOMPARE(errorOf([] { decodeTimeRange(ValueBytes().u16(1).u16(0).u32(0xFFFFFF00).u32(1)); })
                         .detail()
                         .find("beyond one day") != std::string::npos,
                 true);
    }

    // --- note references ---------------------------------------------------------------

    void noteReferences()
    {
        // from MIMEMsg.nsf: $Orig of the first memo. Notes built the memo's message ID
        // <OF586B789A.26E3E6DF-ON482571C7.00310D5B-...> from this same UNID.
        const std::vector<Unid> orig =
            decodeNoteRefList(Bytes(fromHex("0100 dfe6e3269a786b58 5b0d3100c7712548")));
        QCOMPARE(orig.size(), std::size_t(1));
        QCOMPARE(qs(orig[0].hex()), QStringLiteral("586B789A26E3E6DF482571C700310D5B"));

        QVERIFY(decodeNoteRefList(ValueBytes().u16(0)).empty());
        ValueBytes two;
        two.u16(2);
        for (int i = 0; i < 32; ++i)
            two.u8(std::uint8_t(i));
        const std::vector<Unid> refs = decodeNoteRefList(two);
        QCOMPARE(qs(refs.at(1).hex()), QStringLiteral("17161514131211101F1E1D1C1B1A1918"));

        const FormatError beyond = errorOf([] {
            decodeNoteRefList(
                ValueBytes().u16(2).raw({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
        });
        QCOMPARE(beyond.kind(), FailureKind::Damaged);
        QCOMPARE(qs(beyond.structure()), QStringLiteral("note reference list"));
        QCOMPARE(beyond.offset(), std::uint64_t(2)); // refused before reading any
    }

    // --- the dump's "values" ------------------------------------------------------------

    void valuesAsJson()
    {
        const auto json = [](std::uint16_t type, const ValueBytes& v) {
            return qs(valuesJson(type, v).value_or("(none)"));
        };
        QCOMPARE(
            json(kTypeText, ValueBytes().text(std::string_view("say \"hi\"\\\0\t\x0f\x3b", 13))),
            QStringLiteral("[\"say \\\"hi\\\"\\\\\\n\\t\\u001b\"]"));
        QCOMPARE(json(kTypeTextList, ValueBytes().u16(2).u16(1).u16(2).text("abc")),
                 QStringLiteral("[\"a\", \"bc\"]"));
        QCOMPARE(json(kTypeTextList, ValueBytes().u16(0)), QStringLiteral("[]"));
        QCOMPARE(json(kTypeNumber, ValueBytes().f64(836)), QStringLiteral("[836]"));
        QCOMPARE(json(kTypeNumberRange, ValueBytes().u16(2).u16(1).f64(1.5).f64(-2).f64(3).f64(4)),
                 QStringLiteral("[1.5, -2, \"3/4\"]"));
        QCOMPARE(json(kTypeTime, ValueBytes().u32(0xFFFFFFFF).u32(0x00255748)),
                 QStringLiteral("[\"1988-01-15\"]"));
        QCOMPARE(
            json(kTypeTimeRange,
                 ValueBytes().u16(1).u16(1).u32(0).u32(2440588).u32(100).u32(2440588).u32(200).u32(
                     2440589)),
            QStringLiteral("[\"1970-01-01T00:00:00.00Z\", "
                           "\"1970-01-01T00:00:01.00Z/1970-01-02T00:00:02.00Z\"]"));
        ValueBytes ref;
        ref.u16(1).u32(0x26E3E6DF).u32(0x586B789A).u32(0x00310D5B).u32(0x482571C7);
        QCOMPARE(json(kTypeNoteRefList, ref),
                 QStringLiteral("[\"586B789A26E3E6DF482571C700310D5B\"]"));
        QCOMPARE(json(kTypeComposite, ValueBytes().u16(0)), QStringLiteral("(none)"));
        QCOMPARE(json(kTypeObject, ValueBytes().u16(0)), QStringLiteral("(none)"));
        QCOMPARE(errorOf([] { valuesJson(kTypeTextList, ValueBytes().u16(3)); }).kind(),
                 FailureKind::Damaged);
        QCOMPARE(jsonString(utf8(u8"\u00e9\u65e5\x7f")), utf8(u8"\"\u00e9\u65e5\\u007f\""));
    }

    // --- object items --------------------------------------------------------------------

    void fileObject()
    {
        // from MIMEMsg.nsf: the $FILE item of the second memo (type word removed); a 16-byte
        // signature follows the name
        const auto value = fromHex(
            "0000 3a010000 1500 0000 0100 0000 0300 fe010000 406a3100c7712548 887d3100c7712548"
            "4e657720546578742044 6f63756d656e742e747874"
            "7f112233445566778899aabbccddeeff");
        const FileObject f = decodeFileObject(Bytes(value));
        QCOMPARE(f.object.type, ObjectRef::kFile);
        QCOMPARE(f.object.id, 0x13Au);
        QCOMPARE(qs(f.name), QStringLiteral("New Text Document.txt"));
        QCOMPARE(f.size, 510u);
        QCOMPARE(f.compression, FileObject::kCompressHuffman);
        QCOMPARE(f.flags, std::uint16_t(FileObject::kFlagSigned | FileObject::kFlagInDocument));
        QCOMPARE(f.host, std::uint16_t(0));
        QCOMPARE(qs(formatTimeDate(f.modified)), QStringLiteral("2006-08-11T09:00:34.00Z"));
        QCOMPARE(qs(formatTimeDate(f.created)), QStringLiteral("2006-08-11T08:59:44.64Z"));

        // The name runs past the value.
        auto cut = value;
        cut.resize(36 + 10);
        const FormatError e = errorOf([&] { decodeFileObject(Bytes(cut)); });
        QCOMPARE(e.kind(), FailureKind::Damaged);
        QCOMPARE(qs(e.structure()), QStringLiteral("file attachment item"));
        QCOMPARE(e.offset(), std::uint64_t(36));
    }

    void otherObjects()
    {
        // from intro.nsf: a view's $Collection and $ViewContainer (type words removed)
        const ObjectRef collection = decodeObjectRef(Bytes(fromHex("0100 e6490000")));
        QCOMPARE(collection.type, std::uint16_t(1));
        QCOMPARE(collection.id, 0x49E6u);
        const ObjectRef container = decodeObjectRef(Bytes(fromHex("04c0 ea490000")));
        QCOMPARE(container.kind(), std::uint16_t(4));
        QCOMPARE(container.type & ObjectRef::kFlagMask,
                 ObjectRef::kFlagNoCopy | ObjectRef::kFlagPreserve);

        const FormatError notAFile =
            errorOf([] { decodeFileObject(Bytes(fromHex("0100 e6490000"))); });
        QCOMPARE(notAFile.kind(), FailureKind::Unsupported);
        QCOMPARE(errorOf([] { decodeObjectRef(ValueBytes().u16(0).u16(1)); }).kind(),
                 FailureKind::Damaged);
    }
};

QTEST_APPLESS_MAIN(TestNsfValues)
#include "tst_nsfvalues.moc"
