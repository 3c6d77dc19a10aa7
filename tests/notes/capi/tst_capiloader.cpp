#include "Checks.h"
#include "FakeProgramFolder.h"

#include "app/NotesSessionFallback.h"
#include "base/LoadedLibrary.h"
#include "base/OperationError.h"
#include "notes/NotesSessionRegistry.h"
#include "notes/capi/NotesApiBackend.h"
#include "notes/capi/NotesRuntime.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace tarvik::notes;
using namespace tarvik::notes::capi;
using tarvik::LoadedLibrary;
using tarvik::OperationError;
using tarvik::test::failureOf;

namespace {

// Answers as it is told and records what it was asked.
class ScriptedPasswords : public NotesPasswordSource {
public:
    ScriptedPasswords(QList<std::optional<QString>> answers, bool asks)
        : m_answers(std::move(answers)), m_asks(asks)
    {}

    std::optional<QString> password(const Request& request) override
    {
        requests.append(request);
        return m_answers.isEmpty() ? std::nullopt : m_answers.takeFirst();
    }
    bool asksUser() const override { return m_asks; }

    QList<Request> requests;

private:
    QList<std::optional<QString>> m_answers;
    bool m_asks;
};

void setText(char* field, std::size_t size, const QByteArray& text)
{
    qstrncpy(field, text.constData(), size);
}

} // namespace

class TestCapiLoader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Where the library is not, or is no library Notes could be: a message that names the
    // folder or file and what is wrong with it.
    void libraryMissingOrUnusable()
    {
        QTemporaryDir empty;
        NotesApiSettings settings;
        settings.programFolder = empty.path();
        QString message = failureOf([&] { NotesRuntime::start(settings); });
        QVERIFY2(message.contains(empty.path()) && message.contains(QStringLiteral("libnotes.so")),
                 qPrintable(message));

        QFile notALibrary(QDir(empty.path()).filePath(QStringLiteral("libnotes.so")));
        QVERIFY(notALibrary.open(QIODevice::WriteOnly));
        notALibrary.write("not a library");
        notALibrary.close();
        message = failureOf([&] { NotesRuntime::start(settings); });
        QVERIFY2(message.startsWith(QStringLiteral("The Notes library ")) &&
                     message.contains(QStringLiteral("cannot be loaded: ")),
                 qPrintable(message));

        // One whose own libraries are not found: where they are looked for.
        QTemporaryDir other;
        const QString needing = QDir(other.path()).filePath(QStringLiteral("libnotes.so"));
        QVERIFY(QFile::copy(QStringLiteral(FAKE_NOTES_NEEDS_DEPENDENCY), needing));
        settings.programFolder = other.path();
        message = failureOf([&] { NotesRuntime::start(settings); });
        QVERIFY2(message.contains(QStringLiteral("libtarvik_fake_notes_dependency.so")) &&
                     message.contains(QStringLiteral("LD_LIBRARY_PATH")),
                 qPrintable(message));

        ProgramFolder lacking(FAKE_NOTES_WITHOUT_ENTRY);
        message = failureOf([&] { NotesRuntime::start(lacking.settings()); });
        QVERIFY2(message.contains(QStringLiteral("lacks the entry point NIFReadEntries")),
                 qPrintable(message));
        QCOMPARE(lacking.state().initCalls, 0); // nothing of it was called
    }

    // Without a program folder the usual places are searched, Notes_ExecDirectory first.
    void searchesTheUsualPlaces()
    {
        ProgramFolder folder;
        QTemporaryDir empty;
        qputenv("Notes_ExecDirectory", QFile::encodeName(empty.path()));
        const QString message = failureOf([&] { NotesRuntime::start(NotesApiSettings()); });
        QVERIFY2(message.startsWith(QStringLiteral("No Notes client or Domino server was found")) &&
                     message.contains(empty.path()),
                 qPrintable(message));

        qputenv("Notes_ExecDirectory", QFile::encodeName(folder.path()));
        const auto runtime = NotesRuntime::start(NotesApiSettings());
        qunsetenv("Notes_ExecDirectory");
        QCOMPARE(runtime->programFolder(), QFileInfo(folder.path()).absoluteFilePath());
        QCOMPARE(folder.state().initCalls, 1);
    }

    // NotesInitExtended gets the notes.ini after an "="; NotesTerm comes once, after the
    // last user of the runtime; a second start of the same library shares the first.
    void startsAndEndsOnce()
    {
        ProgramFolder folder;
        NotesApiSettings settings = folder.settings();
        settings.notesIni = folder.file(QStringLiteral("notes.ini"), "[Notes]\n");
        {
            const auto first = NotesRuntime::start(settings);
            const auto second = NotesRuntime::start(folder.settings());
            QCOMPARE(first.get(), second.get());
            QCOMPARE(folder.state().initCalls, 1);
            QCOMPARE(folder.state().initArgc, 2);
            QCOMPARE(QString::fromLocal8Bit(folder.state().initArg1),
                     QLatin1Char('=') + settings.notesIni);
            NotesApiSettings other = folder.settings();
            other.notesIni = folder.file(QStringLiteral("other.ini"), "[Notes]\n");
            QVERIFY(failureOf([&] {
                        NotesRuntime::start(other);
                    }).contains(QStringLiteral("another notes.ini")));
            QCOMPARE(folder.state().termCalls, 0);
        }
        QCOMPARE(folder.state().termCalls, 1);

        NotesApiSettings missingIni = folder.settings();
        missingIni.notesIni = folder.path() + QStringLiteral("/none.ini");
        QVERIFY(failureOf([&] {
                    NotesRuntime::start(missingIni);
                }).contains(QStringLiteral("The notes.ini ")));
        QCOMPARE(folder.state().initCalls, 1);
    }

    // Notes that does not start says so with its status, is not started again by the same
    // back-end, and nothing else of it is called.
    void initialisationFails()
    {
        ProgramFolder folder;
        folder.state().initStatus = 0x0421;
        NotesApiBackend backend(folder.settings());
        const QString message = failureOf([&] { backend.runtime(); });
        QVERIFY2(message.contains(QStringLiteral("Notes could not be started")) &&
                     message.contains(QStringLiteral("Notes error 0x0421")),
                 qPrintable(message));
        folder.state().initStatus = 0;
        QCOMPARE(failureOf([&] { backend.newSession(); }), message);
        QCOMPARE(folder.state().initCalls, 1);
        QCOMPARE(folder.state().termCalls, 0);
    }

    // Through the registry: the native back-end steps aside, and the failure is the second
    // ProgID's, which the procedures show as "Notes Not Installed/Configured".
    void chosenThroughTheRegistry()
    {
        QTemporaryDir empty;
        NotesApiSettings settings;
        settings.programFolder = empty.path();
        NotesSessionRegistry registry = NotesSessionRegistry::withDefaults();
        installNotesApi(registry, std::make_shared<NotesApiBackend>(settings));
        QVERIFY(!registry.hasFactory(NotesSessionRegistry::dominoProgId));
        const tarvik::OpenedNotesSession opened = tarvik::openNotesSession(registry);
        QVERIFY(!opened.session);
        QVERIFY2(opened.failure.startsWith(
                     QStringLiteral("Cannot create object \"Notes.NotesSession\": ")) &&
                     opened.failure.contains(empty.path()),
                 qPrintable(opened.failure));

        ProgramFolder folder;
        NotesSessionRegistry working = NotesSessionRegistry::withDefaults();
        installNotesApi(working, std::make_shared<NotesApiBackend>(folder.settings()));
        const tarvik::OpenedNotesSession session = tarvik::openNotesSession(working);
        QVERIFY(session.session && session.fromFallback);
        // A database Notes cannot open: Notes' answer, not a crash.
        const QString message = failureOf([&] {
            session.session->GetDatabase(QString(), folder.path() + QStringLiteral("/mail.nsf"));
        });
        QVERIFY2(message.startsWith(QStringLiteral("Notes cannot open the database")),
                 qPrintable(message));
    }

    // A password that only a file or variable knows is tried once; a wrong one says so
    // with Notes' own words; none given says the ID needs one.
    void passwordFromFileOrEnvironment()
    {
        ProgramFolder folder;
        folder.state().passwordStatus = fakeWrongPassword;
        setText(folder.state().password, sizeof folder.state().password, "secret");
        setText(folder.state().userName, sizeof folder.state().userName, "CN=Ada Admin/O=Example");
        NotesApiSettings settings = folder.settings();
        settings.idFile = folder.file(QStringLiteral("admin.id"));

        auto wrong = std::make_shared<ScriptedPasswords>(
            QList<std::optional<QString>>{QStringLiteral("guess")}, false);
        settings.passwordSource = wrong;
        const auto runtime = NotesRuntime::start(settings);
        QString message = failureOf([&] { runtime->useId(settings); });
        QVERIFY2(message.contains(QStringLiteral("was not accepted")) &&
                     message.contains(QLatin1String(fakeWrongPasswordText)) &&
                     message.contains(settings.idFile),
                 qPrintable(message));
        QCOMPARE(folder.state().switchCalls, 1);

        settings.passwordSource =
            std::make_shared<ScriptedPasswords>(QList<std::optional<QString>>{}, false);
        message = failureOf([&] { runtime->useId(settings); });
        QVERIFY2(message.contains(QStringLiteral("cannot be used without its password")),
                 qPrintable(message));

        settings.passwordSource = std::make_shared<ScriptedPasswords>(
            QList<std::optional<QString>>{QStringLiteral("secret")}, false);
        QCOMPARE(failureOf([&] { runtime->useId(settings); }), QStringLiteral("(no failure)"));
        QCOMPARE(runtime->userName(), QStringLiteral("CN=Ada Admin/O=Example"));
        QCOMPARE(QString::fromLocal8Bit(folder.state().switchedId), settings.idFile);
        const int calls = folder.state().switchCalls;
        runtime->useId(settings); // switched once: not again
        QCOMPARE(folder.state().switchCalls, calls);

        NotesApiSettings missing = folder.settings();
        missing.idFile = folder.path() + QStringLiteral("/none.id");
        ProgramFolder other;
        missing.programFolder = other.path();
        QVERIFY(failureOf([&] {
                    NotesRuntime::start(missing)->useId(missing);
                }).contains(QStringLiteral("does not exist")));
    }

    // The window asks: not at all for an ID without a password, again after a refusal
    // with Notes' reason, and a cancel ends it.
    void passwordAskedInTheWindow()
    {
        ProgramFolder folder;
        folder.state().passwordStatus = fakeWrongPassword;
        setText(folder.state().keyFileName, sizeof folder.state().keyFileName,
                folder.file(QStringLiteral("user.id")).toLocal8Bit());
        NotesApiSettings settings = folder.settings();
        auto none = std::make_shared<ScriptedPasswords>(QList<std::optional<QString>>{}, true);
        settings.passwordSource = none;
        NotesRuntime::start(settings)->useId(settings);
        QVERIFY(none->requests.isEmpty()); // the ID has no password

        ProgramFolder guarded;
        guarded.state().passwordStatus = fakeWrongPassword;
        setText(guarded.state().password, sizeof guarded.state().password, "right");
        setText(guarded.state().keyFileName, sizeof guarded.state().keyFileName,
                guarded.file(QStringLiteral("user.id")).toLocal8Bit());
        NotesApiSettings asking = guarded.settings();
        auto user = std::make_shared<ScriptedPasswords>(
            QList<std::optional<QString>>{QStringLiteral("wrong"), QStringLiteral("right")}, true);
        asking.passwordSource = user;
        const auto runtime = NotesRuntime::start(asking);
        runtime->useId(asking);
        QCOMPARE(user->requests.size(), 2);
        QCOMPARE(user->requests[0].attempt, 1);
        QVERIFY(user->requests[0].idFile.endsWith(QStringLiteral("user.id")));
        QCOMPARE(user->requests[1].attempt, 2);
        QVERIFY2(user->requests[1].refusal.contains(QLatin1String(fakeWrongPasswordText)),
                 qPrintable(user->requests[1].refusal));

        ProgramFolder cancelled;
        cancelled.state().passwordStatus = fakeWrongPassword;
        setText(cancelled.state().password, sizeof cancelled.state().password, "right");
        setText(cancelled.state().keyFileName, sizeof cancelled.state().keyFileName,
                cancelled.file(QStringLiteral("user.id")).toLocal8Bit());
        NotesApiSettings cancelling = cancelled.settings();
        auto gone = std::make_shared<ScriptedPasswords>(
            QList<std::optional<QString>>{QStringLiteral("wrong"), std::nullopt}, true);
        cancelling.passwordSource = gone;
        QVERIFY(failureOf([&] {
                    NotesRuntime::start(cancelling)->useId(cancelling);
                }).startsWith(QStringLiteral("No password was given")));
        QCOMPARE(gone->requests.size(), 2);
    }

    // Another thread is set up for Notes at its first call and ended when it ends; the
    // thread that started Notes is not.
    void threadsAreSetUp()
    {
        ProgramFolder folder;
        folder.state().initThreadStatus = 0;
        {
            const auto runtime = NotesRuntime::start(folder.settings());
            runtime->api();
            QCOMPARE(folder.state().initThreadCalls, 0);
            std::thread worker([&] {
                runtime->api();
                runtime->api();
            });
            worker.join();
            QCOMPARE(folder.state().initThreadCalls, 1);
            QCOMPARE(folder.state().termThreadCalls, 1);

            folder.state().initThreadStatus = fakeWrongPassword;
            QString message;
            std::thread refused([&] { message = failureOf([&] { runtime->api(); }); });
            refused.join();
            QVERIFY2(message.startsWith(QStringLiteral("Notes cannot be used from this thread")),
                     qPrintable(message));
            QCOMPARE(folder.state().termThreadCalls, 1); // not set up: not ended
        }
        QCOMPARE(folder.state().termCalls, 1);
    }
};

QTEST_GUILESS_MAIN(TestCapiLoader)
#include "tst_capiloader.moc"
