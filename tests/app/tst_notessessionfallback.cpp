#include "app/NotesSessionFallback.h"
#include "base/OperationError.h"
#include "notes/NotesSessionRegistry.h"

#include <QTest>

using namespace tarvik;
using notes::NotesSessionRegistry;

namespace {

class FakeSession : public notes::NotesSession {
public:
    std::shared_ptr<notes::NotesDatabase> GetDatabase(const QString&, const QString&) override
    {
        return nullptr;
    }
};

} // namespace

// Which ProgID's session the scan and the export work with.
class TestNotesSessionFallback : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void firstProgIdThatAnswers();
};

void TestNotesSessionFallback::firstProgIdThatAnswers()
{
    auto domino = std::make_shared<FakeSession>();
    auto notesClient = std::make_shared<FakeSession>();
    int notesAsked = 0;
    NotesSessionRegistry sessions;
    sessions.setFactory(NotesSessionRegistry::dominoProgId, [&] { return domino; });
    sessions.setFactory(NotesSessionRegistry::notesProgId, [&] {
        ++notesAsked;
        return notesClient;
    });

    OpenedNotesSession opened = openNotesSession(sessions);
    QCOMPARE(opened.session, domino);
    QVERIFY(!opened.fromFallback);
    QCOMPARE(notesAsked, 0);

    sessions.setFactory(NotesSessionRegistry::dominoProgId,
                        []() -> std::shared_ptr<notes::NotesSession> {
                            throw OperationError(QStringLiteral("no server"));
                        });
    opened = openNotesSession(sessions);
    QCOMPARE(opened.session, notesClient);
    QVERIFY(opened.fromFallback);
    QCOMPARE(opened.failure, QString());

    sessions.removeFactory(NotesSessionRegistry::notesProgId);
    opened = openNotesSession(sessions);
    QVERIFY(!opened.session);
    QCOMPARE(opened.failure, QStringLiteral("Cannot create object \"Notes.NotesSession\""));
}

QTEST_GUILESS_MAIN(TestNotesSessionFallback)
#include "tst_notessessionfallback.moc"
