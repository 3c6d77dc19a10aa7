// tarvik-export on the real Notes sample databases: the memos of MIMEMsg.nsf against what the
// reader's dump shows of them, read back with Python's email parser; every sample exported
// with --all-documents without a crash and with every document accounted for.

#include "EmlCheck.h"
#include "Harness.h"
#include "StoreFixture.h"
#include "ToolRun.h"

#include "notes/DatabaseFileSession.h"
#include "notes/NotesObjects.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

QString sample(const QString& name)
{
    return QStringLiteral(TARVIK_NSF_SAMPLES "/") + name;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList emlFilesBelow(const QString& folder)
{
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.eml")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

QStringList logLines(const QString& path)
{
    return QString::fromUtf8(fileBytes(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// A document as the dump shows it.
struct DumpedDocument {
    QString subject;
    QString sendTo;
    QDateTime posted;
    struct File {
        QString name;
        qint64 size = 0;
        bool compressed = false;
    };
    QList<File> files;
};

QString firstValue(const QJsonObject& item)
{
    return item.value(QStringLiteral("values")).toArray().at(0).toString();
}

QList<DumpedDocument> dumpedDocuments(const QString& database)
{
    const ToolRun dump = runTool(builtTool("tarvik-nsfdump"), {QStringLiteral("--json"), database});
    QList<DumpedDocument> docs;
    const QJsonArray notes =
        QJsonDocument::fromJson(dump.output).object().value(QStringLiteral("notes")).toArray();
    for (const QJsonValue& n : notes) {
        if (n.toObject().value(QStringLiteral("class")).toInt() != 1)
            continue;
        DumpedDocument d;
        for (const QJsonValue& v : n.toObject().value(QStringLiteral("items")).toArray()) {
            const QJsonObject item = v.toObject();
            const QString name = item.value(QStringLiteral("name")).toString();
            if (name == QLatin1String("Subject"))
                d.subject = firstValue(item);
            else if (name == QLatin1String("SendTo"))
                d.sendTo = firstValue(item);
            else if (name == QLatin1String("PostedDate"))
                d.posted = QDateTime::fromString(firstValue(item), Qt::ISODateWithMs);
            else if (name == QLatin1String("$FILE")) {
                const QJsonObject file = item.value(QStringLiteral("file")).toObject();
                d.files.append({file.value(QStringLiteral("name")).toString(),
                                qint64(file.value(QStringLiteral("size")).toDouble()),
                                file.value(QStringLiteral("compression")).toInt() != 0});
            }
        }
        docs.append(d);
    }
    return docs;
}

qint64 documentsOf(const QString& database)
{
    try {
        return notes::DatabaseFileSession(nullptr, nullptr)
            .GetDatabase(QString(), database)
            ->AllDocuments()
            ->Count();
    } catch (const OperationError&) {
        return -1;
    }
}

} // namespace

class TestNsfExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void mimeMemosMatchTheDump()
    {
        QTemporaryDir dir;
        const QString database = sample(QStringLiteral("MIMEMsg.nsf"));
        const QList<DumpedDocument> dumped = dumpedDocuments(database);
        QCOMPARE(dumped.size(), 3);
        const QString extracted = dir.filePath(QStringLiteral("dump"));
        runTool(builtTool("tarvik-nsfdump"), {QStringLiteral("--extract"), extracted, database});

        const QString log = dir.filePath(QStringLiteral("export.log"));
        const QString out = dir.filePath(QStringLiteral("out"));
        const ToolRun run =
            runTool(builtTool("tarvik-export"), {QStringLiteral("--all-documents"),
                                                 QStringLiteral("--log"), log, database, out});
        // mswin32.mak holds 738 of the 749 bytes its item records: the mail keeps them, and the
        // log, the closing message and the exit status say the file is incomplete.
        QVERIFY2(run.exitCode == 1, qPrintable(run.errorText()));
        const QStringList files = emlFilesBelow(out);
        QCOMPARE(files.size(), 3);
        for (const QString& f : files)
            QVERIFY2(f.contains(QStringLiteral("/MIME messages/All Documents/")), qPrintable(f));
        const QStringList lines = logLines(log);
        QVERIFY(!lines.filter(QStringLiteral("Not Saved")).size());
        QCOMPARE(lines.filter(QStringLiteral("Attachment Incomplete")),
                 QStringList{QStringLiteral("\tAttachment Incomplete : SUBJECT[") +
                             dumped[2].subject +
                             QStringLiteral("] in Folder[All Documents] : mswin32.mak: 738 of 749 "
                                            "bytes")});
        QVERIFY2(run.errorText().contains(QStringLiteral("(0 not saved, 1 incomplete), 0 mails "
                                                         "incomplete")),
                 qPrintable(run.errorText()));
        QVERIFY(run.errorText().contains(QStringLiteral(
            "1 attachments were saved with fewer bytes than the database records for them.")));

        QHash<QString, EmlReport> bySubject;
        for (const QString& f : files) {
            const EmlReport r = checkEml(f);
            QVERIFY2(r.ok(), qPrintable(r.error + r.defects.join(QLatin1Char(';'))));
            bySubject.insert(r.subject.value_or(QString()), r);
        }
        const QStringList bodies = {QStringLiteral("This is a test message."),
                                    QStringLiteral("This is a text message, with a txt file "
                                                   "attached."),
                                    QStringLiteral("Context-sensitive Help is available")};
        for (qsizetype i = 0; i < dumped.size(); ++i) {
            const DumpedDocument& d = dumped[i];
            QVERIFY2(bySubject.contains(d.subject), qPrintable(d.subject));
            const EmlReport& r = bySubject[d.subject];
            QCOMPARE(r.from.size(), 1);
            QVERIFY(r.from.first().name.contains(QStringLiteral("admin")));
            QCOMPARE(r.to.size(), 1);
            QCOMPARE(r.to.first().address, d.sendTo);
            QVERIFY(d.posted.isValid());
            QCOMPARE(r.dateEpoch.value_or(0), d.posted.toSecsSinceEpoch());
            QVERIFY2(r.body && r.body->contains(bodies[i]), qPrintable(r.body.value_or(QString())));
            // Every $FILE of the note, with the bytes the dump extracted of it; a compressed
            // one at the size the attachment records.
            for (const DumpedDocument::File& file : d.files) {
                const auto a =
                    std::find_if(r.attachments.begin(), r.attachments.end(),
                                 [&](const EmlAttachment& x) { return x.fileName == file.name; });
                QVERIFY2(a != r.attachments.end(), qPrintable(file.name));
                QByteArray stored = fileBytes(extracted + QLatin1Char('/') + file.name);
                if (stored.isEmpty())
                    stored = fileBytes(extracted + QLatin1Char('/') + file.name +
                                       QStringLiteral(".damaged"));
                QVERIFY(!stored.isEmpty());
                QCOMPARE(a->sha256,
                         QCryptographicHash::hash(stored, QCryptographicHash::Sha256).toHex());
                if (file.compressed)
                    QCOMPARE(a->size, file.size);
                if (file.name == QStringLiteral("mswin32.mak")) {
                    QCOMPARE(file.size, 749);
                    QCOMPARE(a->size, 738);
                }
            }
        }
        // The third memo's pictures, kept inside the message, come as files too.
        QStringList third;
        for (const EmlAttachment& a : bySubject[dumped[2].subject].attachments)
            third.append(a.fileName);
        QCOMPARE(third.size(), 7);
        QVERIFY(third.contains(QStringLiteral("image1.gif")));
    }

    void allDocumentsBesideAFolderOfThatName()
    {
        // A folder of your own called "All Documents" keeps a sub-folder of its own, beside the
        // one every document of the local store goes to.
        StoreFixture fx;
        const QString store = fx.buildStore(R"json({ "format": 1, "title": "Both",
          "views": [ { "name": "All Documents", "folder": true, "documents": ["a"] } ],
          "documents": [ { "id": "a", "items": [
            { "name": "Subject", "type": "text", "values": ["kept"] } ] } ] })json");
        const QString log = fx.path(QStringLiteral("both.log"));
        const QString out = fx.path(QStringLiteral("out"));
        const ToolRun run =
            runTool(builtTool("tarvik-export"),
                    {QStringLiteral("--all-documents"), QStringLiteral("--user-folder"),
                     QStringLiteral("All Documents"), QStringLiteral("--log"), log, store, out});
        QVERIFY2(run.exitCode == 0, qPrintable(run.errorText()));
        QStringList files = emlFilesBelow(out);
        files.sort();
        QCOMPARE(files.size(), 2);
        QVERIFY2(files[0].contains(QStringLiteral("/Both/All Documents (2)/kept")),
                 qPrintable(files[0]));
        QVERIFY2(files[1].contains(QStringLiteral("/Both/All Documents/kept")),
                 qPrintable(files[1]));
        const QStringList lines = logLines(log);
        QVERIFY(lines.contains(QStringLiteral("Folder Renamed : Folder[All Documents] is written "
                                              "to [All Documents (2)], since [All Documents] "
                                              "holds every document of the database")));
        QVERIFY(lines.contains(QStringLiteral("Saving Emails (All Documents)...")));
        QVERIFY(lines.filter(QStringLiteral("Not Exported")).isEmpty());
    }

    void everySampleScansAndPreviewsEveryView()
    {
        // The window's scan and preview on every sample, damaged ones included: the tree is
        // filled, and every view lists at most as many mails as it counts (a view that cannot
        // be read lists none), in the order the file keeps.
        QDirIterator it(QStringLiteral(TARVIK_NSF_SAMPLES), {QStringLiteral("*.nsf")}, QDir::Files);
        int scanned = 0;
        qint64 listed = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            Harness h;
            h.browse(path);
            h.procedures.scan.CmdScan_Click();
            const QString said =
                h.dialogs.messages.isEmpty() ? QString() : h.dialogs.messages.last().text;
            QVERIFY2(said == QLatin1String("Notes Database Scan Completed Successfully") ||
                         said ==
                             QLatin1String("No Data Found in NSF file or NSF file is encrypted"),
                     qPrintable(path + QStringLiteral(": ") + said));
            if (said.startsWith(QLatin1String("No Data")))
                continue;
            ++scanned;
            QVERIFY(h.procedures.tree.nodeCount() >= 8);
            auto db = notes::DatabaseFileSession(nullptr, nullptr).GetDatabase(QString(), path);
            const auto views = db->Views();
            QVERIFY(views);
            for (const auto& view : *views) {
                qint64 count = 0;
                try {
                    count = view->AllEntries().Count();
                } catch (const OperationError&) {
                    count = 0;
                }
                h.procedures.preview.EnumerateEmails(view->Name());
                const int rows = h.procedures.mailList.count();
                QVERIFY2(rows <= count, qPrintable(path + QLatin1Char(':') + view->Name()));
                listed += rows;
            }
        }
        QVERIFY(scanned >= 30);
        QVERIFY(listed >= 100);
    }

    void everySampleExportsWithEveryDocumentAccountedFor()
    {
        QTemporaryDir dir;
        QDirIterator it(QStringLiteral(TARVIK_NSF_SAMPLES), {QStringLiteral("*.nsf")}, QDir::Files);
        QStringList names;
        while (it.hasNext())
            names.append(QFileInfo(it.next()).fileName());
        names.sort();
        QVERIFY(names.size() >= 50);
        qint64 allWritten = 0;
        for (const QString& name : std::as_const(names)) {
            const QString out = dir.filePath(name + QStringLiteral(".out"));
            const QString log = dir.filePath(name + QStringLiteral(".log"));
            const ToolRun run = runTool(builtTool("tarvik-export"),
                                        {QStringLiteral("--all-documents"), QStringLiteral("--log"),
                                         log, sample(name), out});
            // 0 all written, 1 some named in the log; never a crash or a refusal to start.
            QVERIFY2(run.exitCode == 0 || run.exitCode == 1,
                     qPrintable(name + QStringLiteral(": ") + run.errorText()));
            const qint64 documents = documentsOf(sample(name));
            QVERIFY(documents >= 0);
            const QStringList lines = logLines(log);
            const qint64 written = emlFilesBelow(out).size();
            const qint64 notSaved = lines.filter(QStringLiteral("Email Not Saved")).size();
            QVERIFY2(written + notSaved == documents,
                     qPrintable(QStringLiteral("%1: %2 written, %3 named as not saved, %4 "
                                               "documents")
                                    .arg(name)
                                    .arg(written)
                                    .arg(notSaved)
                                    .arg(documents)));
            QCOMPARE(lines.last(), QStringLiteral("Done"));
            if (run.exitCode == 0)
                QCOMPARE(notSaved, 0);
            allWritten += written;
            qInfo("%s: %lld documents, %lld written, %lld not saved, exit %d", qPrintable(name),
                  documents, written, notSaved, run.exitCode);
        }
        QVERIFY(allWritten >= 150);
    }
};

QTEST_GUILESS_MAIN(TestNsfExport)
#include "tst_nsfexport.moc"
