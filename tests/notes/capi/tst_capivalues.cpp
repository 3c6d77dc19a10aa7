#include "Checks.h"

#include "notes/capi/ItemValues.h"
#include "notes/capi/NotesRuntime.h"

#include <QTest>

#include <cstring>

using namespace tarvik::notes;
using namespace tarvik::notes::capi;
using tarvik::test::failureOf;

namespace {

// Host-form bytes, built field by field.
class Bytes {
public:
    template <typename T>
    Bytes& add(const T& value)
    {
        m_data.append(reinterpret_cast<const char*>(&value), sizeof value);
        return *this;
    }
    Bytes& text(const char* s)
    {
        m_data.append(s);
        return *this;
    }
    Bytes& raw(const QByteArray& bytes)
    {
        m_data.append(bytes);
        return *this;
    }
    const QByteArray& data() const { return m_data; }

private:
    QByteArray m_data;
};

QString latin1(const char* d, std::size_t n)
{
    return QString::fromLatin1(d, qsizetype(n));
}

// Times stand for their first word, so that each one's place can be checked.
QDateTime timeMark(const TIMEDATE& td)
{
    return QDateTime::fromSecsSinceEpoch(td.Innards[0], Qt::UTC);
}

QList<NotesValue> decode(WORD type, const QByteArray& bytes)
{
    return decodeHostValue(type, bytes.constData(), std::size_t(bytes.size()), latin1, timeMark);
}

QStringList texts(const QList<NotesValue>& values)
{
    QStringList out;
    for (const NotesValue& v : values)
        out.append(v.toText());
    return out;
}

TIME expansion(int year, int month, int day, int hour, int minute, int second, int hundredth)
{
    TIME t{};
    t.year = year;
    t.month = month;
    t.day = day;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.hundredth = hundredth;
    return t;
}

} // namespace

class TestCapiValues : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lists()
    {
        const QByteArray textList =
            Bytes().add(LIST{3}).add(WORD(3)).add(WORD(0)).add(WORD(2)).text("abcde").data();
        QCOMPARE(texts(decode(TYPE_TEXT_LIST, textList)),
                 QStringList({QStringLiteral("abc"), QString(), QStringLiteral("de")}));
        QCOMPARE(texts(decode(TYPE_TEXT, QByteArrayLiteral("plain"))),
                 QStringList{QStringLiteral("plain")});

        // Singles first, then both ends of each range.
        const QByteArray numbers = Bytes()
                                       .add(RANGE{2, 1})
                                       .add(NUMBER(1.5))
                                       .add(NUMBER(-2))
                                       .add(NUMBER(10))
                                       .add(NUMBER(20))
                                       .data();
        const QList<NotesValue> n = decode(TYPE_NUMBER_RANGE, numbers);
        QCOMPARE(n.size(), 4);
        QCOMPARE(n[0].number(), 1.5);
        QCOMPARE(n[1].number(), -2.0);
        QCOMPARE(n[3].number(), 20.0);

        const QByteArray times =
            Bytes().add(RANGE{2, 0}).add(TIMEDATE{{7, 0}}).add(TIMEDATE{{9, 0}}).data();
        const QList<NotesValue> t = decode(TYPE_TIME_RANGE, times);
        QCOMPARE(t.size(), 2);
        QCOMPARE(t[1].dateTime(), QDateTime::fromSecsSinceEpoch(9, Qt::UTC));
        QCOMPARE(decode(TYPE_TIME, Bytes().add(TIMEDATE{{5, 0}}).data())[0].dateTime(),
                 QDateTime::fromSecsSinceEpoch(5, Qt::UTC));

        // A reference's UNID as Notes writes it: file then note, each high word first.
        UNIVERSALNOTEID unid{{{0x89ABCDEF, 0x01234567}}, {{0x00000002, 0xFEDCBA98}}};
        const QList<NotesValue> refs =
            decode(TYPE_NOTEREF_LIST, Bytes().add(LIST{1}).add(unid).data());
        QCOMPARE(texts(refs), QStringList{QStringLiteral("0123456789ABCDEFFEDCBA9800000002")});
    }

    // Counts and lengths that do not fit the value: an error, never a read past its end.
    void damagedValues_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text list longer than its value")
            << int(TYPE_TEXT_LIST) << Bytes().add(LIST{1}).add(WORD(9)).text("abc").data();
        QTest::newRow("text list without its lengths")
            << int(TYPE_TEXT_LIST) << Bytes().add(LIST{4}).add(WORD(1)).data();
        QTest::newRow("number cut short") << int(TYPE_NUMBER) << QByteArray("1234", 4);
        QTest::newRow("more ranges than numbers")
            << int(TYPE_NUMBER_RANGE) << Bytes().add(RANGE{1, 1}).add(NUMBER(1)).data();
        QTest::newRow("time list cut short")
            << int(TYPE_TIME_RANGE) << Bytes().add(RANGE{2, 0}).add(TIMEDATE{{1, 1}}).data();
        QTest::newRow("empty") << int(TYPE_TEXT_LIST) << QByteArray();
        QTest::newRow("reference list cut short")
            << int(TYPE_NOTEREF_LIST) << Bytes().add(LIST{1}).add(TIMEDATE{{1, 1}}).data();
    }
    void damagedValues()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        const QString message = failureOf([&] { decode(WORD(type), bytes); });
        QVERIFY2(message.contains(QStringLiteral("is damaged")), qPrintable(message));
    }

    void otherTypesAreRefused()
    {
        QVERIFY(!isHostValueType(TYPE_COMPOSITE));
        QVERIFY(!isHostValueType(TYPE_OBJECT));
        QVERIFY(failureOf([] {
                    decode(TYPE_COMPOSITE, QByteArrayLiteral("xx"));
                }).contains(QStringLiteral("not read")));
    }

    void summaryBuffers()
    {
        Bytes buffer;
        const QByteArray title = Bytes().add(TYPE_TEXT).text("Inbox").data();
        const QByteArray flags = Bytes().add(TYPE_TEXT).text("F").data();
        const WORD total =
            WORD(sizeof(ITEM_TABLE) + 2 * sizeof(ITEM) + 6 + title.size() + 6 + flags.size());
        buffer.add(ITEM_TABLE{total, 2})
            .add(ITEM{6, WORD(title.size())})
            .add(ITEM{6, WORD(flags.size())})
            .text("$TITLE")
            .raw(title)
            .text("$Flags")
            .raw(flags);
        QByteArray bytes = buffer.data();
        bytes.append("NEXT"); // the next entry's bytes
        std::size_t used = 0;
        const auto items = parseSummaryBuffer(bytes.constData(), std::size_t(bytes.size()), &used);
        QVERIFY(items);
        QCOMPARE(used, std::size_t(total));
        QCOMPARE(items->size(), 2);
        QCOMPARE((*items)[0].name, QByteArray("$TITLE"));
        QCOMPARE((*items)[0].type, TYPE_TEXT);
        QCOMPARE((*items)[0].value, QByteArray("Inbox"));
        QCOMPARE((*items)[1].value, QByteArray("F"));

        // Lengths that run past the buffer, or past the table's own length.
        QVERIFY(!parseSummaryBuffer(bytes.constData(), total - 1));
        QByteArray longName = bytes;
        const ITEM bad{200, WORD(title.size())};
        std::memcpy(longName.data() + sizeof(ITEM_TABLE), &bad, sizeof bad);
        QVERIFY(!parseSummaryBuffer(longName.constData(), std::size_t(longName.size())));
        QByteArray manyItems = bytes;
        const ITEM_TABLE tooMany{total, 5000};
        std::memcpy(manyItems.data(), &tooMany, sizeof tooMany);
        QVERIFY(!parseSummaryBuffer(manyItems.constData(), std::size_t(manyItems.size())));
        QVERIFY(!parseSummaryBuffer(bytes.constData(), 3));
    }

    void viewTitles()
    {
        ViewTitle t = splitViewTitle({QStringLiteral("Sent | ($Sent)|  |Gesendet")});
        QCOMPARE(t.name, QStringLiteral("Sent"));
        QCOMPARE(t.aliases, QStringList({QStringLiteral("($Sent)"), QStringLiteral("Gesendet")}));
        // A text list is as if its entries were joined by "|".
        t = splitViewTitle({QStringLiteral("Projects\\2008"), QStringLiteral("P08")});
        QCOMPARE(t.name, QStringLiteral("Projects\\2008"));
        QCOMPARE(t.aliases, QStringList{QStringLiteral("P08")});
        QCOMPARE(t.whole, QStringLiteral("Projects\\2008|P08"));
        QCOMPARE(splitViewTitle({}).name, QString());
    }

    // Tests run in Europe/Berlin.
    void dateTimes()
    {
        const TIMEDATE both{{1, 1}};
        const TIME utc = expansion(2008, 3, 14, 9, 32, 5, 50);
        const QDateTime inTokyo =
            dateTimeFromExpansions(both, utc, expansion(2008, 3, 14, 18, 32, 5, 50));
        QCOMPARE(inTokyo.offsetFromUtc(), 9 * 3600);
        QCOMPARE(inTokyo.toUTC(), QDateTime(QDate(2008, 3, 14), QTime(9, 32, 5, 500), Qt::UTC));
        const QDateTime west =
            dateTimeFromExpansions(both, utc, expansion(2008, 3, 13, 23, 2, 5, 50));
        QCOMPARE(west.offsetFromUtc(), -(10 * 3600 + 30 * 60));
        QCOMPARE(west.toUTC(), inTokyo.toUTC());
        // No zone is that far off: the instant alone.
        const QDateTime odd =
            dateTimeFromExpansions(both, utc, expansion(2008, 3, 16, 9, 32, 5, 50));
        QCOMPARE(odd.offsetFromUtc(), 0);
        QCOMPARE(odd, inTokyo);

        const TIME writer = expansion(2008, 3, 14, 0, 0, 0, 0);
        QCOMPARE(dateTimeFromExpansions(TIMEDATE{{ALLDAY, 1}}, utc, writer),
                 QDateTime(QDate(2008, 3, 14), QTime(0, 0), Qt::LocalTime));
        QCOMPARE(
            dateTimeFromExpansions(TIMEDATE{{1, ANYDAY}}, utc, expansion(0, 0, 0, 7, 15, 0, 0)),
            QDateTime(QDate(1899, 12, 30), QTime(7, 15), Qt::LocalTime));
        QVERIFY(!dateTimeFromExpansions(TIMEDATE{{ALLDAY, ANYDAY}}, utc, writer).isValid());
    }

    // Pieces never split a character: a group byte stays with the bytes after it.
    void lmbcsPiecesKeepCharactersWhole()
    {
        QByteArray text;
        QList<qsizetype> characterStarts;
        for (int i = 0; i < 300; ++i) {
            characterStarts.append(text.size());
            switch (i % 4) {
            case 0:
                text.append('a');
                break;
            case 1:
                text.append("\x01\xE9", 2); // group 1: one byte after it
                break;
            case 2:
                text.append("\x10\x82\xA0", 3); // double-byte group: two after it
                break;
            default:
                text.append('\n');
            }
        }
        for (std::size_t max : {std::size_t(3), std::size_t(4), std::size_t(7), std::size_t(64)}) {
            const std::vector<std::size_t> starts =
                lmbcsPieces(text.constData(), std::size_t(text.size()), max);
            QCOMPARE(starts.front(), std::size_t(0));
            for (std::size_t p = 0; p < starts.size(); ++p) {
                QVERIFY2(
                    characterStarts.contains(qsizetype(starts[p])),
                    qPrintable(QStringLiteral("max %1: a piece starts inside a character at %2")
                                   .arg(max)
                                   .arg(starts[p])));
                const std::size_t end =
                    p + 1 < starts.size() ? starts[p + 1] : std::size_t(text.size());
                QVERIFY(end > starts[p] && end - starts[p] <= max);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestCapiValues)
#include "tst_capivalues.moc"
