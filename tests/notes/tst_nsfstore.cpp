// The .nsf back-end on the real sample databases: what the Notes classes give for them, checked
// against what the reader's own dump (tarvik-nsfdump) shows of the same files.

#include "StoreFixture.h"
#include "ToolRun.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "notes/DatabaseFileSession.h"
#include "notes/NotesObjects.h"
#include "notes/NsfStore.h"
#include "nsf/ByteSource.h"
#include "nsf/Database.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <sys/resource.h>

using namespace tarvik;
using namespace tarvik::notes;
using namespace tarvik::test;

namespace {

QString sample(const char* name)
{
    return QStringLiteral(TARVIK_NSF_SAMPLES "/") + QLatin1String(name);
}

QStringList texts(std::initializer_list<const char*> list)
{
    QStringList out;
    for (const char* s : list)
        out.append(QString::fromUtf8(s));
    return out;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::shared_ptr<NotesDatabase> openNsf(const char* name)
{
    return DatabaseFileSession(nullptr, nullptr).GetDatabase(QString(), sample(name));
}

QList<std::shared_ptr<NotesDocument>> allDocuments(NotesDatabase& db)
{
    QList<std::shared_ptr<NotesDocument>> docs;
    auto all = db.AllDocuments();
    for (auto d = all->GetFirstDocument(); d; d = all->GetNextDocument(d))
        docs.append(d);
    return docs;
}

QString failureOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const OperationError& e) {
        return e.message();
    }
    return {};
}

// Resets the file size limit when it goes out of scope.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &m_old); }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_old{};
};

} // namespace

class TestNsfStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { platform::ignoreFileSizeLimitSignal(); }

    void opensEachKindOfFileByItsContent()
    {
        QTemporaryDir dir;
        // A Notes database under any name is read as one; a local store under the .nsf name
        // is still a local store.
        const QString renamed = dir.filePath(QStringLiteral("mail.txt"));
        QVERIFY(QFile::copy(sample("MIMEMsg.nsf"), renamed));
        DatabaseFileSession session(nullptr, nullptr);
        QCOMPARE(session.GetDatabase(QString(), renamed)->Title(), QStringLiteral("MIME messages"));

        StoreFixture fx;
        const QString store = fx.buildSample();
        auto local = session.GetDatabase(QString(), store);
        QVERIFY(local->Views().has_value());
        QVERIFY(!local->Title().isEmpty());

        const QString text = dir.filePath(QStringLiteral("notes.nsf"));
        QFile t(text);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("plain text, no database");
        t.close();
        QVERIFY(failureOf([&] {
                    session.GetDatabase(QString(), text);
                }).contains(QStringLiteral("neither a Notes database")));
        // A file that starts as a Notes database and breaks off is named as such.
        const QString cut = dir.filePath(QStringLiteral("cut.nsf"));
        QFile c(cut);
        QVERIFY(c.open(QIODevice::WriteOnly));
        c.write(fileBytes(sample("MIMEMsg.nsf")).left(300));
        c.close();
        const QString why = failureOf([&] { session.GetDatabase(QString(), cut); });
        QVERIFY2(why.contains(QStringLiteral("cannot be read as a Notes database")),
                 qPrintable(why));
        QVERIFY(!failureOf([&] {
                     session.GetDatabase(QString(), dir.filePath(QStringLiteral("missing.nsf")));
                 }).isEmpty());
        QVERIFY(!failureOf([&] { session.GetDatabase(QStringLiteral("srv"), renamed); }).isEmpty());
    }

    void viewsFoldersAliasesAndCounts()
    {
        auto db = openNsf("billdrv.nsf");
        QCOMPARE(db->Title(), QStringLiteral("Billing Driver Sample DB"));
        QStringList names, folders;
        const auto views = db->Views();
        QVERIFY(views);
        for (const auto& v : *views) {
            names.append(v->Name());
            if (v->isfolder())
                folders.append(v->Name());
            QCOMPARE(v->AllEntries().Count(), 0); // the sample keeps no documents
            QVERIFY(!v->GetFirstDocument());
        }
        QCOMPARE(names, texts({"By Author", "($Profiles)", "(Defauet View)", "($All)",
                               "By Category", "My Favorites", "_Archiving"}));
        QCOMPARE(folders, QStringList{QStringLiteral("My Favorites")});
        // By name or alias, whatever the case; a view that is not there is nullptr.
        const auto byAlias = db->GetView(QStringLiteral("AuthorView"));
        QVERIFY(byAlias);
        QCOMPARE(byAlias->Name(), QStringLiteral("By Author"));
        const auto anyCase = db->GetView(QStringLiteral("archiving"));
        QVERIFY(anyCase);
        QCOMPARE(anyCase->Name(), QStringLiteral("_Archiving"));
        QVERIFY(!db->GetView(QStringLiteral("Inbox")));

        // A view with documents gives them in its stored order, and that order is not note-ID
        // order; its count is what the walk yields.
        auto discuss = openNsf("discuss.nsf");
        auto main = discuss->GetView(QStringLiteral("Main View"));
        QCOMPARE(main->AllEntries().Count(), 4);
        QVERIFY(!main->reading().partial && !main->reading().orderUnknown);
        QStringList inView;
        for (auto d = main->GetFirstDocument(); d; d = main->GetNextDocument(d))
            inView.append(d->GetItemValue(QStringLiteral("Subject")).textAt(0));
        QStringList byId;
        for (const auto& d : allDocuments(*discuss))
            byId.append(d->GetItemValue(QStringLiteral("Subject")).textAt(0));
        QCOMPARE(inView.size(), 4);
        QCOMPARE(QSet<QString>(inView.begin(), inView.end()),
                 QSet<QString>(byId.begin(), byId.end()));
        // A view read without its order says so.
        QVERIFY(discuss->GetView(QStringLiteral("By Author"))->reading().orderUnknown);
        // A document of another view is refused.
        auto author = discuss->GetView(QStringLiteral("By Author"));
        QVERIFY(!failureOf([&] { author->GetNextDocument(main->GetFirstDocument()); }).isEmpty());
    }

    void viewsThatCannotBeReadSaySo()
    {
        // A view whose index the file does not keep throws on every walk; one read in part
        // reports what was missed.
        auto history = openNsf("history.nsf");
        auto assignments = history->GetView(QStringLiteral("2. Assignments"));
        QVERIFY(assignments);
        const QString why = failureOf([&] { assignments->AllEntries(); });
        QVERIFY2(why.contains(QStringLiteral("stores no index")), qPrintable(why));
        QVERIFY(!failureOf([&] { assignments->GetFirstDocument(); }).isEmpty());
        QVERIFY(!failureOf([&] { assignments->reading(); }).isEmpty());

        auto hierarch = openNsf("hierarch.nsf");
        auto two = hierarch->GetView(QStringLiteral("twolevels"));
        const NotesViewReading reading = two->reading();
        QVERIFY(reading.partial);
        QVERIFY(!reading.problems.isEmpty());
        // What could be read is still given: all the file's documents.
        qint64 walked = 0;
        for (auto d = two->GetFirstDocument(); d; d = two->GetNextDocument(d))
            ++walked;
        QCOMPARE(walked, two->AllEntries().Count());
        QCOMPARE(walked, hierarch->AllDocuments()->Count());
    }

    void mimeMemosAsTheClassesGiveThem()
    {
        auto db = openNsf("MIMEMsg.nsf");
        const auto docs = allDocuments(*db);
        QCOMPARE(docs.size(), 3);
        QStringList subjects;
        for (const auto& d : docs)
            subjects.append(d->GetItemValue(QStringLiteral("Subject")).textAt(0));
        QCOMPARE(subjects, texts({"MIME message(plain text)", "MIME message(with txt attachment)",
                                  "MIME message with attachmetn(Txt/BMP/Jpg) and inline images"}));
        NotesDocument& second = *docs[1];
        QCOMPARE(second.GetItemValue(QStringLiteral("From")).textAt(0),
                 QStringLiteral("CN=admin/O=ibm"));
        // The date-time in the zone it was written in, as a date-time value.
        const NotesValue posted = second.GetItemValue(QStringLiteral("PostedDate")).at(0);
        QCOMPARE(posted.kind(), ValueKind::DateTime);
        QCOMPARE(posted.dateTime().toUTC(),
                 QDateTime(QDate(2006, 8, 11), QTime(9, 0, 40, 50), QTimeZone::utc()));
        // A MIME body is rich text to the classes; its value is the text of its text part.
        QCOMPARE(second.GetItemValue(QStringLiteral("Body")).textAt(0).trimmed(),
                 QStringLiteral("This is a text message, with a txt file attached."));
        QCOMPARE(second.GetFirstItem(QStringLiteral("Body"))->Type(), itemtype::richText);
        // The third memo: quoted-printable Latin-1 text.
        const QString third = docs[2]->GetItemValue(QStringLiteral("Body")).textAt(0);
        QVERIFY2(third.startsWith(QStringLiteral("You can get two types of Help in Notes:")),
                 qPrintable(third.left(80)));
        QVERIFY(!third.contains(QStringLiteral("=20")));
        // A missing item is one empty text value.
        const NotesValueArray none = second.GetItemValue(QStringLiteral("NoSuchItem"));
        QCOMPARE(none.size(), 1);
        QCOMPARE(none.textAt(0), QString());
        QVERIFY(!second.hasitem(QStringLiteral("NoSuchItem")));
        QVERIFY(second.hasitem(QStringLiteral("subject")));
        QVERIFY(!docs[0]->HasEmbedded());
        QVERIFY(second.HasEmbedded());
        // Size counts the attachments: the third memo carries some 340 KB of files.
        QVERIFY(docs[2]->Size() > 300000);
        QVERIFY(docs[0]->Size() < 4000);
    }

    void attachmentsAreTheStoredBytesEachOnce()
    {
        // What the dump writes of each $FILE is what the back-end extracts.
        QTemporaryDir dir;
        const QString dumped = dir.filePath(QStringLiteral("dump"));
        const ToolRun dump = runTool(builtTool("tarvik-nsfdump"),
                                     {QStringLiteral("--extract"), dumped, sample("MIMEMsg.nsf")});
        // The sample's mswin32.mak holds fewer bytes than its record says: the dump keeps
        // them as .damaged and exits 1; the export gives the bytes there are.
        QCOMPARE(dump.exitCode, 1);

        auto db = openNsf("MIMEMsg.nsf");
        QStringList names;
        QStringList fromFiles;
        for (const auto& d : allDocuments(*db)) {
            QStringList ofDocument;
            const auto body = d->GetFirstItem(QStringLiteral("Body"));
            if (const auto objects = body->EmbeddedObjects()) {
                for (const auto& o : *objects) {
                    QCOMPARE(o->Type(), objecttype::attachment);
                    ofDocument.append(o->Name());
                    const QString out = dir.filePath(QStringLiteral("x-") + o->Name());
                    // Only the short file says so, with the bytes kept and recorded.
                    const auto shortFile = o->ExtractFileChecked(out);
                    QCOMPARE(shortFile.has_value(), o->Name() == QStringLiteral("mswin32.mak"));
                    if (shortFile) {
                        QCOMPARE(shortFile->written, 738);
                        QCOMPARE(shortFile->recorded, 749);
                    }
                    const QByteArray bytes = fileBytes(out);
                    QVERIFY(!bytes.isEmpty());
                    for (const QString& kept :
                         {o->Name(), o->Name() + QStringLiteral(".damaged")}) {
                        if (QFile::exists(dumped + QLatin1Char('/') + kept)) {
                            QCOMPARE(bytes, fileBytes(dumped + QLatin1Char('/') + kept));
                            fromFiles.append(o->Name());
                        }
                    }
                }
            }
            // The body gives them all: nothing is left to the document, nor to another item.
            QVERIFY(!d->EmbeddedObjects().has_value());
            for (const auto& item : d->Items()) {
                if (item->Name().compare(QStringLiteral("Body"), Qt::CaseInsensitive) != 0 &&
                    item->Type() == itemtype::richText)
                    QVERIFY(!item->EmbeddedObjects().has_value());
            }
            names += ofDocument;
        }
        QCOMPARE(names, texts({"New Text Document.txt", "image1.gif", "image2.gif", "image3.gif",
                               "Plain.txt", "Sample.jpg", "sampleBMP.bmp", "mswin32.mak"}));
        // The files the dump found as $FILE items are all among them.
        QCOMPARE(fromFiles, texts({"New Text Document.txt", "Plain.txt", "Sample.jpg",
                                   "sampleBMP.bmp", "mswin32.mak"}));
        QCOMPARE(fileBytes(dir.filePath(QStringLiteral("x-sampleBMP.bmp"))).size(), 296406);
        // Images kept inside the message (not as $FILE items) are decoded from base64.
        const QByteArray gif = fileBytes(dir.filePath(QStringLiteral("x-image1.gif")));
        QVERIFY(gif.startsWith("GIF8"));
        QVERIFY(fileBytes(dir.filePath(QStringLiteral("x-Sample.jpg"))).startsWith("\xFF\xD8"));
    }

    void aFailedExtractionLeavesNoFile()
    {
        QTemporaryDir dir;
        auto db = openNsf("MIMEMsg.nsf");
        const auto docs = allDocuments(*db);
        std::shared_ptr<NotesEmbeddedObject> jpg;
        const auto objects = docs[2]->GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects();
        QVERIFY(objects);
        for (const auto& o : *objects)
            if (o->Name() == QLatin1String("Sample.jpg"))
                jpg = o;
        QVERIFY(jpg);
        const QString out = dir.filePath(QStringLiteral("Sample.jpg"));
        QString why;
        {
            const FileSizeLimit limit(4096);
            why = failureOf([&] { jpg->ExtractFile(out); });
        }
        QVERIFY2(why.contains(QStringLiteral("Cannot write")), qPrintable(why));
        QVERIFY(!QFile::exists(out));
        // Never over the database being read.
        const QString copy = dir.filePath(QStringLiteral("copy.nsf"));
        QVERIFY(QFile::copy(sample("MIMEMsg.nsf"), copy));
        auto fromCopy = DatabaseFileSession(nullptr, nullptr).GetDatabase(QString(), copy);
        const auto object =
            allDocuments(*fromCopy)[1]->GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects();
        const QByteArray before = fileBytes(copy);
        QVERIFY(!failureOf([&] { object->first()->ExtractFile(copy); }).isEmpty());
        QCOMPARE(fileBytes(copy), before);
    }

    void damagedItemsThrowAndTheRestIsRead()
    {
        // nf_doc.nsf keeps two bodies whose rich text is damaged: reading them fails with the
        // reason, their other items are still read.
        auto db = openNsf("nf_doc.nsf");
        int damaged = 0;
        for (const auto& d : allDocuments(*db)) {
            QVERIFY(d->IsValid());
            const QString why = failureOf([&] { d->GetItemValue(QStringLiteral("Body")); });
            if (why.isEmpty())
                continue;
            ++damaged;
            QVERIFY2(why.startsWith(QStringLiteral("The item \"Body\" cannot be read: ")),
                     qPrintable(why));
            QVERIFY(failureOf([&] { d->GetItemValue(QStringLiteral("Subject")); }).isEmpty());
        }
        QCOMPARE(damaged, 2);
    }

    void encryptedItemsAreNamedNeverGuessed()
    {
        // No sample is encrypted. A note carries a seal when one of its items is of the seal
        // type: the second memo of MIMEMsg.nsf gets one by its $FILE item's stored type word
        // made 9. Its items flagged as sealed (the MIME Body) are then encrypted; the others
        // are read as before.
        const QByteArray file = fileBytes(sample("MIMEMsg.nsf"));
        std::vector<std::uint8_t> bytes(file.begin(), file.end());
        {
            const nsf::Database plain(std::make_shared<nsf::MemorySource>(nsf::Bytes(bytes)));
            const nsf::Note memo = plain.readNote(0x8FA);
            const auto item = std::find_if(memo.items.begin(), memo.items.end(),
                                           [](const nsf::Item& i) { return i.name == "$FILE"; });
            QVERIFY(item != memo.items.end() && item->typeWordStored);
            bytes[item->valueOffset - 2] = 9;
            bytes[item->valueOffset - 1] = 0;
        }
        auto db = nsfDatabase(
            std::make_shared<const nsf::Database>(std::make_shared<nsf::MemorySource>(bytes)),
            QStringLiteral("sealed copy"));
        const auto docs = allDocuments(*db);
        QCOMPARE(docs.size(), 3);
        NotesDocument& sealed = *docs[1];
        const QString expected = QStringLiteral("The item \"Body\" is encrypted: only the Notes ID "
                                                "it was encrypted for can read it");
        QCOMPARE(failureOf([&] { sealed.GetItemValue(QStringLiteral("Body")); }), expected);
        QCOMPARE(failureOf([&] { sealed.GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects(); }),
                 expected);
        QCOMPARE(sealed.GetItemValue(QStringLiteral("Subject")).textAt(0),
                 QStringLiteral("MIME message(with txt attachment)"));
        // The other memos are not touched.
        QVERIFY(docs[2]
                    ->GetItemValue(QStringLiteral("Body"))
                    .textAt(0)
                    .startsWith(QStringLiteral("You can get")));
    }

    void everySampleIsWalkedWithoutAnythingButReadableFailures()
    {
        // Every view, document, item and attachment of every sample: anything that goes
        // wrong is an OperationError with a message, never a crash or another exception.
        QTemporaryDir dir;
        QDirIterator it(QStringLiteral(TARVIK_NSF_SAMPLES), {QStringLiteral("*.nsf")}, QDir::Files);
        int files = 0;
        qint64 documents = 0;
        while (it.hasNext()) {
            const QString path = it.next();
            ++files;
            std::shared_ptr<NotesDatabase> db;
            try {
                db = DatabaseFileSession(nullptr, nullptr).GetDatabase(QString(), path);
            } catch (const OperationError& e) {
                QVERIFY(!e.message().isEmpty());
                continue;
            }
            const auto walk = [&](const std::function<void()>& f) {
                try {
                    f();
                } catch (const OperationError& e) {
                    QVERIFY2(!e.message().isEmpty(), qPrintable(path));
                }
            };
            if (const auto views = db->Views()) {
                for (const auto& v : *views)
                    walk([&] {
                        qint64 n = 0;
                        for (auto d = v->GetFirstDocument(); d; d = v->GetNextDocument(d))
                            ++n;
                        QCOMPARE(n, v->AllEntries().Count());
                    });
            }
            for (const auto& d : allDocuments(*db)) {
                ++documents;
                walk([&] { d->Size(); });
                walk([&] {
                    for (const auto& item : d->Items()) {
                        walk([&] { d->GetItemValue(item->Name()); });
                        walk([&] {
                            if (const auto objects = item->EmbeddedObjects())
                                for (const auto& o : *objects)
                                    walk(
                                        [&] { o->ExtractFile(dir.filePath(QStringLiteral("a"))); });
                        });
                    }
                });
            }
        }
        QVERIFY(files >= 50);
        QVERIFY(documents >= 150);
    }
};

QTEST_GUILESS_MAIN(TestNsfStore)
#include "tst_nsfstore.moc"
