#include "Checks.h"
#include "StoreFixture.h"
#include "ToolRun.h"

#include "notes/capi/NotesApiOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik::notes::capi;
using namespace tarvik::test;

namespace {

std::optional<NotesApiSettings>
parse(const QStringList& args,
      NotesApiOptions::Password password = NotesApiOptions::Password::FromFileOrEnvironment)
{
    QCommandLineParser parser;
    const NotesApiOptions options(password);
    options.addTo(parser);
    if (!parser.parse(QStringList{QStringLiteral("tool")} + args))
        throw tarvik::OperationError(parser.errorText());
    return options.settings(parser);
}

QString passwordOf(const NotesApiSettings& settings)
{
    if (!settings.passwordSource)
        return QStringLiteral("(no source)");
    return settings.passwordSource->password({}).value_or(QStringLiteral("(none)"));
}

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return f.fileName();
}

// tarvik-export run with the environment the test gives.
ToolRun exportWith(const QStringList& args, const QProcessEnvironment& env)
{
    const QProcessEnvironment saved = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys())
        qputenv(key.toLocal8Bit().constData(), env.value(key).toLocal8Bit());
    const ToolRun run = runTool(builtTool("tarvik-export"), args);
    for (const QString& key : env.keys()) {
        if (saved.contains(key))
            qputenv(key.toLocal8Bit().constData(), saved.value(key).toLocal8Bit());
        else
            qunsetenv(key.toLocal8Bit().constData());
    }
    return run;
}

} // namespace

class TestCapiExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Any of the options chooses the C API; none leaves the program as it is.
    void optionsChooseTheBackEnd()
    {
        qunsetenv(passwordVariable);
        QVERIFY(!parse({}));
        QVERIFY(parse({QStringLiteral("--notes-api")}));
        const auto s = parse({QStringLiteral("--notes-program"), QStringLiteral("/opt/x"),
                              QStringLiteral("--notes-ini"), QStringLiteral("/opt/x/notes.ini"),
                              QStringLiteral("--notes-id"), QStringLiteral("/ids/server.id")});
        QVERIFY(s);
        QCOMPARE(s->programFolder, QStringLiteral("/opt/x"));
        QCOMPARE(s->notesIni, QStringLiteral("/opt/x/notes.ini"));
        QCOMPARE(s->idFile, QStringLiteral("/ids/server.id"));
        QCOMPARE(passwordOf(*s), QStringLiteral("(no source)"));
        // The window asks; it takes no password file.
        QVERIFY(failureOf([] {
                    parse({QStringLiteral("--notes-password-file"), QStringLiteral("f")},
                          NotesApiOptions::Password::None);
                }).contains(QStringLiteral("notes-password-file")));
    }

    // The first line of a file, else the environment; a file that cannot be the password
    // file is refused.
    void passwordFromFileOrEnvironment()
    {
        QTemporaryDir dir;
        const QString file = write(dir, QStringLiteral("pw"), "s3cret \r\nsecond line\n");
        qputenv(passwordVariable, "from-env");
        auto s = parse({QStringLiteral("--notes-password-file"), file});
        QVERIFY(s);
        QCOMPARE(passwordOf(*s), QStringLiteral("s3cret "));
        QVERIFY(!s->passwordSource->asksUser());
        s = parse({QStringLiteral("--notes-api")});
        QCOMPARE(passwordOf(*s), QStringLiteral("from-env"));
        qunsetenv(passwordVariable);

        QCOMPARE(passwordOf(*parse({QStringLiteral("--notes-password-file"),
                                    write(dir, QStringLiteral("empty"), QByteArray())})),
                 QString());
        QVERIFY(failureOf([&] {
                    parse({QStringLiteral("--notes-password-file"),
                           dir.filePath(QStringLiteral("none"))});
                }).startsWith(QStringLiteral("Cannot read the password file")));
        QVERIFY(failureOf([&] {
                    parse({QStringLiteral("--notes-password-file"),
                           write(dir, QStringLiteral("big"), QByteArray(5000, 'x'))});
                }).contains(QStringLiteral("not a file of one line")));
        QVERIFY(failureOf([&] {
                    parse({QStringLiteral("--notes-password-file"), dir.path()});
                }).startsWith(QStringLiteral("Cannot read the password file")));
    }

    // tarvik-export says in Notes' words why it cannot start, with exit status 2, and
    // writes nothing.
    void exportRefusesToStart()
    {
        StoreFixture fx;
        const QString database = fx.buildSample();
        const QString out = fx.path(QStringLiteral("mail"));
        QTemporaryDir empty;
        ToolRun run = exportWith({QStringLiteral("--notes-program"), empty.path(), database, out},
                                 QProcessEnvironment());
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errorText().contains(empty.path()) &&
                     run.errorText().contains(QStringLiteral("libnotes.so")),
                 qPrintable(run.errorText()));

        QTemporaryDir program;
        QVERIFY(QFile::copy(QStringLiteral(FAKE_NOTES_WHOLE),
                            QDir(program.path()).filePath(QStringLiteral("libnotes.so"))));
        const QString id = write(program, QStringLiteral("server.id"), "id");
        const QString pw = write(program, QStringLiteral("pw"), "guess\n");
        QProcessEnvironment env;
        env.insert(QStringLiteral("FAKE_NOTES_PASSWORD"), QStringLiteral("right"));
        run = exportWith({QStringLiteral("--notes-program"), program.path(),
                          QStringLiteral("--notes-id"), id, QStringLiteral("--notes-password-file"),
                          pw, database, out},
                         env);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errorText().contains(QStringLiteral("was not accepted: Wrong Password.")),
                 qPrintable(run.errorText()));

        // The right password from the environment: Notes starts, and the database it cannot
        // open stops the scan.
        env.insert(QString::fromLatin1(passwordVariable), QStringLiteral("right"));
        run = exportWith({QStringLiteral("--notes-program"), program.path(),
                          QStringLiteral("--notes-id"), id, database, out},
                         env);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.errorText().contains(QStringLiteral("could not be scanned")),
                 qPrintable(run.errorText()));
        QVERIFY(!QFileInfo::exists(out) || QDir(out).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCapiExport)
#include "tst_capiexport.moc"
