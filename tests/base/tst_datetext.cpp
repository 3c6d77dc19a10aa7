#include "base/DateText.h"

#include <QTest>

#include <ctime>

using namespace tarvik;

// The one text form of date-times, written and read back.
class TestDateText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Tests run in Europe/Berlin: the text is local time with the local offset.
    void dateTextRoundTrip_data()
    {
        QTest::addColumn<QDateTime>("instant");
        QTest::addColumn<QString>("text");
        auto utc = [](int y, int mo, int d, int h, int mi, int s) {
            return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
        };
        QTest::newRow("winter") << utc(2008, 3, 14, 9, 32, 5)
                                << QStringLiteral("2008-03-14 10:32:05 +01:00");
        QTest::newRow("summer") << utc(2008, 7, 1, 22, 0, 0)
                                << QStringLiteral("2008-07-02 00:00:00 +02:00");
        QTest::newRow("spring forward")
            << utc(2008, 3, 30, 1, 0, 0) << QStringLiteral("2008-03-30 03:00:00 +02:00");
        QTest::newRow("last summer hour before fall back")
            << utc(2008, 10, 26, 0, 30, 0) << QStringLiteral("2008-10-26 02:30:00 +02:00");
        QTest::newRow("same wall time after fall back")
            << utc(2008, 10, 26, 1, 30, 0) << QStringLiteral("2008-10-26 02:30:00 +01:00");
        QTest::newRow("from another offset")
            << QDateTime(QDate(2008, 1, 15), QTime(10, 2, 47), Qt::OffsetFromUTC, 8 * 3600)
            << QStringLiteral("2008-01-15 03:02:47 +01:00");
    }
    void dateTextRoundTrip()
    {
        QFETCH(QDateTime, instant);
        QFETCH(QString, text);
        QCOMPARE(formatDateText(instant), text);
        const auto back = parseDateText(text);
        QVERIFY(back);
        QCOMPARE(back->toSecsSinceEpoch(), instant.toSecsSinceEpoch());
        QCOMPARE(back->offsetFromUtc(), instant.toLocalTime().offsetFromUtc());
    }

    void dateTextWithOffsetSeconds()
    {
        // Local mean time had an offset of whole seconds; the text keeps the instant.
        const QDateTime old(QDate(1850, 6, 1), QTime(12, 0, 0), Qt::UTC);
        const QString text = formatDateText(old);
        const auto back = parseDateText(text);
        QVERIFY2(back, qPrintable(text));
        QCOMPARE(back->toSecsSinceEpoch(), old.toSecsSinceEpoch());
    }

    void dateTextWestOfGreenwich()
    {
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", "America/St_Johns");
        tzset();
        const QDateTime instant(QDate(2008, 1, 15), QTime(12, 0, 0), Qt::UTC);
        const QString text = formatDateText(instant);
        qputenv("TZ", saved);
        tzset();
        QCOMPARE(text, QStringLiteral("2008-01-15 08:30:00 -03:30"));
        QCOMPARE(parseDateText(text)->toSecsSinceEpoch(), instant.toSecsSinceEpoch());
    }

    void dateTextRejects_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QString();
        QTest::newRow("ISO form") << QStringLiteral("2008-03-14T10:32:05+01:00");
        QTest::newRow("no offset") << QStringLiteral("2008-03-14 10:32:05");
        QTest::newRow("no such day") << QStringLiteral("2008-02-30 10:32:05 +01:00");
        QTest::newRow("hour 24") << QStringLiteral("2008-03-14 24:00:00 +01:00");
        QTest::newRow("offset minutes") << QStringLiteral("2008-03-14 10:32:05 +01:60");
        QTest::newRow("offset too large") << QStringLiteral("2008-03-14 10:32:05 +15:00");
        QTest::newRow("letters") << QStringLiteral("2008-03-1x 10:32:05 +01:00");
        QTest::newRow("year 0") << QStringLiteral("0000-03-14 10:32:05 +01:00");
    }
    void dateTextRejects()
    {
        QFETCH(QString, text);
        QVERIFY(!parseDateText(text));
    }
};

QTEST_GUILESS_MAIN(TestDateText)
#include "tst_datetext.moc"
