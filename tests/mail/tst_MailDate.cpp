// Date texts of the back-end and the message builder, and the Date header form.

#include "mail/MailDate.h"

#include <QTest>
#include <QTimeZone>

using namespace tarvik::mail;

class TestMailDate : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The tests run with TZ=Europe/Berlin.
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("header"); // empty: refused
        const auto row = [](const char* text, const char* header) {
            QTest::newRow(text) << QString::fromLatin1(text) << QString::fromLatin1(header);
        };
        row("2008-03-14 10:32:05 +01:00", "Fri, 14 Mar 2008 10:32:05 +0100");
        row(" 2008-07-01 23:59:59 -05:30 ", "Tue, 01 Jul 2008 23:59:59 -0530");
        row("2008-03-14 10:32 +0100", "Fri, 14 Mar 2008 10:32:00 +0100");
        row("2008-03-14T10:32:05+01:00", "Fri, 14 Mar 2008 10:32:05 +0100");
        row("2008-03-14T10:32:05.250Z", "Fri, 14 Mar 2008 10:32:05 +0000");
        row("2008-03-14T10:32:05", "Fri, 14 Mar 2008 10:32:05 +0100");
        row("2008-07-14 10:32:05", "Mon, 14 Jul 2008 10:32:05 +0200");
        row("03-14-2008", "Fri, 14 Mar 2008 00:00:00 +0100");
        row("03-30-2008", "Sun, 30 Mar 2008 00:00:00 +0100");
        row("2008-03-30 02:30:00", "Sun, 30 Mar 2008 03:30:00 +0200"); // skipped hour
        row("2008-10-26 01:30:00 +02:00", "Sun, 26 Oct 2008 01:30:00 +0200");
        row("1900-01-01 00:00:00 +00:00", "Mon, 01 Jan 1900 00:00:00 +0000");
        row("", "");
        row("14.03.2008", "");
        row("2008-02-30 10:00:00 +01:00", "");
        row("02-30-2008", "");
        row("2008-03-14 24:00:00 +01:00", "");
        row("2008-03-14 10:32:05 +25:00", "");
        row("1899-12-31 23:59:59 +00:00", "");
        row("2008-03-14 10:32:05 +01:00 trailing", "");
        row("Fri, 14 Mar 2008 10:32:05 +0100", "");
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, header);
        const auto parsed = parseMailDate(text);
        QCOMPARE(parsed.has_value(), !header.isEmpty());
        if (parsed)
            QCOMPARE(formatMailDate(*parsed), header);
    }

    void instantIsKept()
    {
        const auto a = parseMailDate(QStringLiteral("2008-10-26 02:30:00 +02:00"));
        const auto b = parseMailDate(QStringLiteral("2008-10-26 02:30:00 +01:00"));
        QVERIFY(a && b);
        QCOMPARE(a->secsTo(*b), 3600);
        QCOMPARE(formatMailDate(*b), QStringLiteral("Sun, 26 Oct 2008 02:30:00 +0100"));
        // An offset with seconds (local mean time) is written as UTC.
        const QDateTime lmt(QDate(1900, 1, 1), QTime(0, 53, 28), QTimeZone(3208));
        QCOMPARE(formatMailDate(lmt), QStringLiteral("Mon, 01 Jan 1900 00:00:00 +0000"));
    }
};

QTEST_GUILESS_MAIN(TestMailDate)
#include "tst_MailDate.moc"
