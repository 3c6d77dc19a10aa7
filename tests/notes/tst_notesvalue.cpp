#include "Checks.h"

#include "base/OperationError.h"
#include "notes/DatabaseFileSession.h"
#include "notes/LocalStore.h"
#include "notes/NotesSessionRegistry.h"
#include "notes/NotesValue.h"
#include "notes/NsfStore.h"

#include <QTest>

using namespace tarvik::notes;
using tarvik::OperationError;
using tarvik::test::failureOf;

namespace {

class FakeSession : public NotesSession {
public:
    std::shared_ptr<NotesDatabase> GetDatabase(const QString&, const QString&) override
    {
        return nullptr;
    }
};

} // namespace

class TestNotesValue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void numberText_data()
    {
        QTest::addColumn<double>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 3.0 << QStringLiteral("3");
        QTest::newRow("half") << 2.5 << QStringLiteral("2.5");
        QTest::newRow("negative fraction") << -0.125 << QStringLiteral("-0.125");
        QTest::newRow("no grouping") << 1234567.0 << QStringLiteral("1234567");
        QTest::newRow("shortest round trip") << 0.1 << QStringLiteral("0.1");
        QTest::newRow("third") << 1.0 / 3 << QStringLiteral("0.3333333333333333");
        QTest::newRow("large") << 1e21 << QStringLiteral("1e+21");
    }
    void numberText()
    {
        QFETCH(double, number);
        QFETCH(QString, text);
        QCOMPARE(NotesValue::fromNumber(number).toText(), text);
        QCOMPARE(text.toDouble(), number);
    }

    // Tests run in Europe/Berlin. A date-time value's text is the one date text form
    // (base/DateText.h): local time with the local offset.
    void dateTimeText_data()
    {
        QTest::addColumn<QDateTime>("instant");
        QTest::addColumn<QString>("text");
        QTest::newRow("winter") << QDateTime(QDate(2008, 3, 14), QTime(9, 32, 5), Qt::UTC)
                                << QStringLiteral("2008-03-14 10:32:05 +01:00");
        QTest::newRow("from another offset")
            << QDateTime(QDate(2008, 1, 15), QTime(10, 2, 47), Qt::OffsetFromUTC, 8 * 3600)
            << QStringLiteral("2008-01-15 03:02:47 +01:00");
        QTest::newRow("invalid") << QDateTime() << QString();
    }
    void dateTimeText()
    {
        QFETCH(QDateTime, instant);
        QFETCH(QString, text);
        QCOMPARE(NotesValue::fromDateTime(instant).toText(), text);
    }

    void valueArray()
    {
        const NotesValueArray empty;
        QCOMPARE(empty.upperBound(), -1);
        QVERIFY(failureOf([&] { empty.at(0); }).contains(QStringLiteral("out of range")));
        const NotesValueArray two(
            {NotesValue::fromText(QStringLiteral("a")), NotesValue::fromNumber(2)});
        QCOMPARE(two.upperBound(), 1);
        QCOMPARE(two.textAt(1), QStringLiteral("2"));
        QVERIFY(failureOf([&] { two.at(2); }).contains(QStringLiteral("out of range")));
        QVERIFY(failureOf([&] { two.at(-1); }).contains(QStringLiteral("out of range")));
    }

    void registry()
    {
        NotesSessionRegistry none;
        QCOMPARE(failureOf([&] { none.create(QStringLiteral("Notes.NotesSession")); }),
                 QStringLiteral("Cannot create object \"Notes.NotesSession\""));

        auto defaults = NotesSessionRegistry::withDefaults();
        QVERIFY(std::dynamic_pointer_cast<DatabaseFileSession>(
            defaults.create(QStringLiteral("domino.notessession"))));
        QVERIFY(!defaults.hasFactory(NotesSessionRegistry::notesProgId));
        // Sessions of one registry share the caches of open files of each kind.
        auto a = std::dynamic_pointer_cast<DatabaseFileSession>(
            defaults.create(NotesSessionRegistry::dominoProgId));
        auto b = std::dynamic_pointer_cast<DatabaseFileSession>(
            defaults.create(NotesSessionRegistry::dominoProgId));
        QVERIFY(a != b);
        QCOMPARE(a->stores(), b->stores());
        QCOMPARE(a->nsfFiles(), b->nsfFiles());

        NotesSessionRegistry custom;
        custom.setFactory(NotesSessionRegistry::notesProgId,
                          [] { return std::make_shared<FakeSession>(); });
        QVERIFY(custom.create(NotesSessionRegistry::notesProgId));
        custom.setFactory(NotesSessionRegistry::dominoProgId,
                          []() -> std::shared_ptr<NotesSession> {
                              throw OperationError(QStringLiteral("no client"));
                          });
        QCOMPARE(failureOf([&] { custom.create(NotesSessionRegistry::dominoProgId); }),
                 QStringLiteral("Cannot create object \"Domino.NotesSession\": no client"));
        custom.setFactory(NotesSessionRegistry::dominoProgId, [] { return nullptr; });
        QCOMPARE(failureOf([&] { custom.create(NotesSessionRegistry::dominoProgId); }),
                 QStringLiteral("Cannot create object \"Domino.NotesSession\""));
        custom.removeFactory(QStringLiteral("NOTES.NOTESSESSION"));
        QVERIFY(!custom.hasFactory(NotesSessionRegistry::notesProgId));
    }
};

QTEST_GUILESS_MAIN(TestNotesValue)
#include "tst_notesvalue.moc"
