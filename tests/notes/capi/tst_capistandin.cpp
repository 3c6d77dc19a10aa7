// The C API back-end over the stand-in libnotes.so, which serves the bundled sample store
// through a reading of the reference made apart from the back-end's, against the
// local-store back-end reading the same file directly: the same database, views, folders,
// counts and preview rows in process, and the same .eml files and export log from
// tarvik-export. The stand-in logs every misuse of the API to a file that must stay empty.
// Then the start-up failures through tarvik-export: Notes not starting, a wrong password.

#include "StoreFixture.h"
#include "ToolRun.h"

#include "notes/LocalStore.h"
#include "notes/NotesObjects.h"
#include "notes/capi/NotesApiBackend.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>

using namespace tarvik;
using namespace tarvik::notes;

namespace {

const QString standinDir = QStringLiteral(TARVIK_NOTES_STANDIN_DIR);

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// What the scan and the preview read of a database, one line per fact.
QStringList scanAndPreview(NotesSession& session, const QString& path)
{
    QStringList out;
    const auto db = session.GetDatabase(QString(), path);
    out << QStringLiteral("title %1").arg(db->Title());
    const auto views = db->Views();
    if (!views)
        return out << QStringLiteral("no views");
    for (const auto& view : *views) {
        out << QStringLiteral("view %1 folder %2 count %3")
                   .arg(view->Name())
                   .arg(view->isfolder())
                   .arg(view->AllEntries().Count());
        for (auto doc = view->GetFirstDocument(); doc; doc = view->GetNextDocument(doc)) {
            QStringList row;
            for (const char* item : {"From", "SendTo", "Subject"})
                row << doc->GetItemValue(QLatin1String(item)).textAt(0);
            // Times with the zone they were written in, which the list's text does not show.
            for (const char* item : {"PostedDate", "DeliveredDate"})
                row << doc->GetItemValue(QLatin1String(item))
                           .at(0)
                           .dateTime()
                           .toString(Qt::ISODateWithMs);
            // Size is left out: Notes gives no note's size through the C API, and the back-end
            // estimates it from the items (docs/notes-api.md); it only has to be there.
            row << QString::number(doc->Size() > 0) << QString::number(doc->HasEmbedded());
            out << QLatin1String("  ") + row.join(QLatin1String(" | "));
        }
    }
    return out;
}

// Every file under root by relative path, with the parts each run makes anew (message IDs,
// MIME boundaries, temporary folders) replaced by placeholders.
QMap<QString, QByteArray> exportedTree(const QString& root)
{
    static const QRegularExpression messageId(QStringLiteral("<[^<>@\\s]+@tarvik\\.invalid>"));
    static const QRegularExpression boundary(QStringLiteral("=_tarvik_[0-9a-f]+"));
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QString text = QString::fromUtf8(contentOf(path));
        text.replace(messageId, QStringLiteral("<id>")).replace(boundary, QStringLiteral("=_b"));
        files.insert(QDir(root).relativeFilePath(path), text.toUtf8());
    }
    return files;
}

// The misuse the stand-in logged; nothing when it logged none.
QByteArray misuseLogged(const QString& log)
{
    return QFileInfo::exists(log) ? contentOf(log) : QByteArray();
}

QStringList logLines(const QString& path)
{
    static const QRegularExpression tempFolder(QStringLiteral("/tmp/tarvik-[^/]+/"));
    static const QRegularExpression clock(QStringLiteral("\\d\\d:\\d\\d:\\d\\d"));
    static const QRegularExpression seconds(QStringLiteral("\\d+\\.\\d+ s\\."));
    QStringList lines;
    for (QString line : QString::fromUtf8(contentOf(path)).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        line.replace(tempFolder, QStringLiteral("/tmp/X/"))
            .replace(clock, QStringLiteral("T"))
            .replace(seconds, QStringLiteral("S s."));
        lines << line;
    }
    return lines;
}

} // namespace

class TestCapiStandin : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_work.isValid());
        m_misuseLog = m_work.filePath(QStringLiteral("misuse.txt"));
        qputenv("TARVIK_STANDIN_MISUSE_LOG", QFile::encodeName(m_misuseLog));
        m_sample = m_stores.buildSample();
    }

    // Title, views and folders with their counts, and each document's preview row in
    // view order, read in this process through both back-ends.
    void scanAndPreviewAgree()
    {
        LocalStoreSession direct;
        const QStringList expected = scanAndPreview(direct, m_sample);
        QStringList got;
        {
            capi::NotesApiSettings settings;
            settings.programFolder = standinDir;
            capi::NotesApiBackend backend(settings);
            got = scanAndPreview(*backend.newSession(), m_sample);
        } // NotesTerm: any handle still open is reported now
        QVERIFY(expected.size() > 40);
        QCOMPARE(got, expected);
        QCOMPARE(misuseLogged(m_misuseLog), QByteArray());
    }

    // A full export by tarvik-export both ways: the same files with the same bytes and the
    // same log, which through Notes starts by saying it found Notes.
    void exportAgrees()
    {
        const QString tool = test::builtTool("tarvik-export");
        const QString directOut = m_work.filePath(QStringLiteral("direct"));
        const QString apiOut = m_work.filePath(QStringLiteral("api"));
        const QString directLog = m_work.filePath(QStringLiteral("direct.log"));
        const QString apiLog = m_work.filePath(QStringLiteral("api.log"));
        const test::ToolRun direct =
            test::runTool(tool, {QStringLiteral("--log"), directLog, m_sample, directOut});
        QCOMPARE(direct.exitCode, 0);
        const test::ToolRun api =
            test::runTool(tool, {QStringLiteral("--notes-program"), standinDir,
                                 QStringLiteral("--log"), apiLog, m_sample, apiOut});
        QVERIFY2(api.exitCode == 0, qPrintable(api.errorText()));

        const auto expected = exportedTree(directOut);
        const auto got = exportedTree(apiOut);
        QVERIFY(expected.size() > 50);
        QCOMPARE(got.keys(), expected.keys());
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QVERIFY2(got.value(it.key()) == it.value(), qPrintable(it.key()));

        QStringList apiLines = logLines(apiLog);
        QCOMPARE(apiLines.value(0), QStringLiteral("Lotus Notes Found"));
        apiLines.removeFirst();
        QCOMPARE(apiLines, logLines(directLog));
        QCOMPARE(misuseLogged(m_misuseLog), QByteArray());
    }

    // Real Notes databases through the back-end over the stand-in serving them from the file:
    // the title the .nsf reader's dump gives, every view read to its end with as many
    // documents as its count says, each document's preview fields readable, no misuse.
    void realDatabases_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* name : {"MIMEMsg", "billdrv", "attachment", "richtext", "encrypt"})
            QTest::newRow(name)
                << QStringLiteral(TARVIK_NSF_SAMPLES "/%1.nsf").arg(QLatin1String(name));
    }
    void realDatabases()
    {
        QFETCH(QString, file);
        if (!QFileInfo::exists(file))
            QSKIP("the .nsf samples are not here");
        const test::ToolRun dump = test::runTool(test::builtTool("tarvik-nsfdump"), {file});
        QVERIFY(dump.exitCode == 0 || dump.exitCode == 1); // 1: some values are damaged
        static const QRegularExpression titleOf(QStringLiteral("title \"([^\"]*)\""));
        const QString title = titleOf.match(QString::fromUtf8(dump.output)).captured(1);

        QStringList got;
        {
            capi::NotesApiSettings settings;
            settings.programFolder = standinDir;
            capi::NotesApiBackend backend(settings);
            got = scanAndPreview(*backend.newSession(), file);
        }
        QCOMPARE(got.value(0), QStringLiteral("title %1").arg(title));
        static const QRegularExpression viewLine(QStringLiteral("^view .* count (-?\\d+)$"));
        int count = -1;
        int rows = 0;
        QStringList lines = got.mid(1);
        lines << QStringLiteral("view (end) count -1");
        for (const QString& line : lines) {
            const auto view = viewLine.match(line);
            if (view.hasMatch()) {
                if (count >= 0)
                    QCOMPARE(rows, count);
                count = view.captured(1).toInt();
                rows = 0;
            } else {
                QVERIFY2(line.startsWith(QLatin1String("  ")), qPrintable(line));
                ++rows;
            }
        }
        QCOMPARE(misuseLogged(m_misuseLog), QByteArray());
    }

    // Notes refusing to start, and a wrong password for the ID: exit status 2 with the
    // reason, nothing exported, nothing misused.
    void startFailures()
    {
        const QString tool = test::builtTool("tarvik-export");
        const QString out = m_work.filePath(QStringLiteral("failed"));

        qputenv("TARVIK_STANDIN_INIT_FAIL", "1");
        const test::ToolRun notStarted =
            test::runTool(tool, {QStringLiteral("--notes-program"), standinDir, m_sample, out});
        qunsetenv("TARVIK_STANDIN_INIT_FAIL");
        QCOMPARE(notStarted.exitCode, 2);
        QVERIFY2(notStarted.errorText().contains(QStringLiteral("Notes could not be started")),
                 qPrintable(notStarted.errorText()));

        const QString id = m_work.filePath(QStringLiteral("user.id"));
        const QString passwordFile = m_work.filePath(QStringLiteral("password"));
        for (const QString& path : {id, passwordFile}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("wrong\n");
        }
        qputenv("TARVIK_STANDIN_ID_PASSWORD", "right");
        const test::ToolRun wrongPassword = test::runTool(
            tool, {QStringLiteral("--notes-program"), standinDir, QStringLiteral("--notes-id"), id,
                   QStringLiteral("--notes-password-file"), passwordFile, m_sample, out});
        qunsetenv("TARVIK_STANDIN_ID_PASSWORD");
        QCOMPARE(wrongPassword.exitCode, 2);
        QVERIFY2(wrongPassword.errorText().contains(QStringLiteral("was not accepted")),
                 qPrintable(wrongPassword.errorText()));

        QVERIFY(!QFileInfo::exists(out) || QDir(out).isEmpty());
        QCOMPARE(misuseLogged(m_misuseLog), QByteArray());
    }

private:
    test::StoreFixture m_stores;
    QTemporaryDir m_work;
    QString m_misuseLog;
    QString m_sample;
};

QTEST_GUILESS_MAIN(TestCapiStandin)
#include "tst_capistandin.moc"
