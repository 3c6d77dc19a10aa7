#include "Checks.h"

#include "app/AppContext.h"
#include "notes/NotesSessionRegistry.h"
#include "ui/NotesApiChoice.h"

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <thread>

using namespace tarvik;
using notes::NotesSessionRegistry;
using tarvik::test::failureOf;

namespace {

// Answers the password window once it shows: types text and accepts, or cancels. What the
// window said is kept.
struct PasswordAnswer {
    std::optional<QString> typed;
    QString label;
    QLineEdit::EchoMode echo = QLineEdit::Normal;

    void arm()
    {
        QTimer::singleShot(0, [this] { answer(); });
    }
    void answer()
    {
        auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            QTimer::singleShot(10, [this] { answer(); });
            return;
        }
        label = dialog->labelText();
        echo = dialog->textEchoMode();
        if (typed) {
            QTest::keyClicks(dialog->findChild<QLineEdit*>(), *typed);
            dialog->accept();
        } else {
            dialog->reject();
        }
    }
};

} // namespace

class TestNotesApiChoice : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Without the options the native back-end answers as before; with one, the C API
    // back-end does, and its failure is the second ProgID's.
    void optionsChooseTheBackEnd()
    {
        AppContext plain;
        QVERIFY(!chooseNotesApi(plain, {QStringLiteral("Tarvik"), QStringLiteral("--unknown")}));
        QVERIFY(plain.notesSessions.hasFactory(NotesSessionRegistry::dominoProgId));
        QVERIFY(!plain.notesSessions.hasFactory(NotesSessionRegistry::notesProgId));

        QTemporaryDir empty;
        AppContext chosen;
        QVERIFY(chooseNotesApi(
            chosen, {QStringLiteral("Tarvik"), QStringLiteral("--notes-program"), empty.path()}));
        QVERIFY(!chosen.notesSessions.hasFactory(NotesSessionRegistry::dominoProgId));
        const QString message =
            failureOf([&] { chosen.notesSessions.create(NotesSessionRegistry::notesProgId); });
        QVERIFY2(message.contains(empty.path()), qPrintable(message));
    }

    // The window hides what is typed, names the ID and, after a refusal, Notes' reason;
    // cancelling gives no password.
    void asksForThePassword()
    {
        NotesPasswordPrompt prompt;
        QVERIFY(prompt.asksUser());
        notes::capi::NotesPasswordSource::Request request;
        request.idFile = QStringLiteral("/ids/user.id");

        PasswordAnswer typed;
        typed.typed = QStringLiteral("s3cret");
        typed.arm();
        QCOMPARE(prompt.password(request).value_or(QStringLiteral("(none)")),
                 QStringLiteral("s3cret"));
        QCOMPARE(typed.echo, QLineEdit::Password);
        QVERIFY(typed.label.contains(QStringLiteral("user.id")));
        QVERIFY(!typed.label.contains(QStringLiteral("did not accept")));

        request.attempt = 2;
        request.refusal = QStringLiteral("Wrong Password. (Notes error 0x1a2b)");
        PasswordAnswer cancelled;
        cancelled.arm();
        QVERIFY(!prompt.password(request));
        QVERIFY2(cancelled.label.contains(QStringLiteral("Wrong Password.")),
                 qPrintable(cancelled.label));

        // No window from another thread: no password.
        std::optional<QString> fromThread = QStringLiteral("(asked)");
        std::thread worker([&] { fromThread = prompt.password(request); });
        worker.join();
        QVERIFY(!fromThread);
    }
};

QTEST_MAIN(TestNotesApiChoice)
#include "tst_notesapichoice.moc"
