#include "Checks.h"
#include "FakeProgramFolder.h"

#include "base/OperationError.h"
#include "notes/NotesObjects.h"
#include "notes/capi/NotesApiBackend.h"

#include <QTest>

using namespace tarvik::notes;
using namespace tarvik::notes::capi;
using tarvik::test::failureOf;

namespace {

QStringList texts(const NotesValueArray& values)
{
    QStringList out;
    for (qsizetype i = 0; i < values.size(); ++i)
        out.append(values.textAt(i));
    return out;
}

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

// The fake's database through the back-end, as the procedures open it.
struct Opened {
    explicit Opened(ProgramFolder& folder)
        : backend(std::make_shared<NotesApiBackend>(folder.settings())),
          session(backend->newSession()),
          database(session->GetDatabase(QString(), folder.path() + QStringLiteral("/fake.nsf")))
    {}
    std::shared_ptr<NotesApiBackend> backend;
    std::shared_ptr<NotesSession> session;
    std::shared_ptr<NotesDatabase> database;
};

} // namespace

class TestCapiObjects : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Title, views and folders from the design collection (navigators and forms left out,
    // a view whose summary lacks its flags read from its note), found by name or alias.
    void databaseAndViews()
    {
        ProgramFolder folder;
        Opened db(folder);
        QCOMPARE(db.database->Title(), QStringLiteral("Fake Mail"));
        const auto views = db.database->Views();
        QVERIFY(views);
        QStringList names;
        QList<bool> folders;
        for (const auto& view : *views) {
            names.append(view->Name());
            folders.append(view->isfolder());
        }
        QCOMPARE(names, QStringList({QStringLiteral("($Inbox)"), QStringLiteral("Projects\\2008"),
                                     QStringLiteral("($All)")}));
        QCOMPARE(folders, QList<bool>({true, true, false}));
        QCOMPARE(db.database->GetView(QStringLiteral("$Inbox"))->Name(),
                 QStringLiteral("($Inbox)"));
        QCOMPARE(db.database->GetView(QStringLiteral("p08"))->Name(),
                 QStringLiteral("Projects\\2008"));
        QVERIFY(!db.database->GetView(QStringLiteral("Navigator")));

        const QString message = failureOf(
            [&] { db.session->GetDatabase(QString(), folder.path() + QStringLiteral("/x.nsf")); });
        QVERIFY2(message.startsWith(QStringLiteral("Notes cannot open the database")),
                 qPrintable(message));
    }

    // Entries in the view's order over several reads, categories left out; a document of
    // another view is refused.
    void entriesInOrder()
    {
        ProgramFolder folder;
        Opened db(folder);
        const auto inbox = db.database->GetView(QStringLiteral("($Inbox)"));
        QCOMPARE(inbox->AllEntries().Count(), 3);
        QStringList subjects;
        for (auto doc = inbox->GetFirstDocument(); doc; doc = inbox->GetNextDocument(doc))
            subjects.append(doc->GetItemValue(QStringLiteral("Subject")).textAt(0));
        QCOMPARE(subjects, QStringList({QStringLiteral("Quarterly report"),
                                        QStringLiteral("MIME mail"), QStringLiteral("Secret")}));
        QCOMPARE(db.database->GetView(QStringLiteral("($All)"))->GetFirstDocument(), nullptr);
        const auto other = db.database->GetView(QStringLiteral("P08"))->GetFirstDocument();
        QVERIFY(failureOf([&] {
                    inbox->GetNextDocument(other);
                }).contains(QStringLiteral("does not belong")));
    }

    // Items of every kind, the rich-text body over two items, and its attachment written
    // whole; a target that cannot be written fails cleanly.
    void richTextMail()
    {
        ProgramFolder folder;
        Opened db(folder);
        const auto doc = db.database->GetView(QStringLiteral("($Inbox)"))->GetFirstDocument();
        QCOMPARE(
            texts(doc->GetItemValue(QStringLiteral("sendto"))),
            QStringList({QStringLiteral("ann@example.com"), QStringLiteral("bob@example.com")}));
        QCOMPARE(doc->GetFirstItem(QStringLiteral("SendTo"))->Type(), itemtype::names);
        QCOMPARE(doc->GetItemValue(QStringLiteral("Importance")).at(0).number(), 2.0);
        const QDateTime posted = doc->GetItemValue(QStringLiteral("PostedDate")).at(0).dateTime();
        QCOMPARE(posted.toUTC(), QDateTime(QDate(2008, 3, 14), QTime(9, 32, 5), Qt::UTC));
        QCOMPARE(posted.offsetFromUtc(), 3600);
        QCOMPARE(doc->GetItemValue(QStringLiteral("Body")).textAt(0),
                 QStringLiteral("Hello Ann,\nsee the report.\nRegards"));
        QCOMPARE(doc->GetFirstItem(QStringLiteral("Body"))->Type(), itemtype::richText);
        QCOMPARE(texts(doc->GetItemValue(QStringLiteral("Missing"))), QStringList{QString()});
        QVERIFY(!doc->hasitem(QStringLiteral("Missing")));
        QCOMPARE(doc->Items().size(), 7);

        QVERIFY(doc->HasEmbedded());
        const auto objects = doc->EmbeddedObjects();
        QVERIFY(objects && objects->size() == 1);
        QCOMPARE(objects->at(0)->Name(), QStringLiteral("report.pdf"));
        QCOMPARE(objects->at(0)->Type(), objecttype::attachment);
        const QString target = folder.path() + QStringLiteral("/out.pdf");
        objects->at(0)->ExtractFile(target);
        QCOMPARE(contentOf(target), QByteArray::fromStdString(fakeFileBytes()));
        const QString blocked = folder.file(QStringLiteral("a-file")) + QStringLiteral("/out.pdf");
        QVERIFY(failureOf([&] {
                    objects->at(0)->ExtractFile(blocked);
                }).startsWith(QStringLiteral("Cannot write")));
    }

    // A MIME body: its text part as the text, its attachment from the stream.
    void mimeMail()
    {
        ProgramFolder folder;
        Opened db(folder);
        const auto doc = db.database->GetView(QStringLiteral("P08"))->GetFirstDocument();
        QCOMPARE(doc->GetItemValue(QStringLiteral("Body")).textAt(0),
                 QStringLiteral("Hello from MIME."));
        const auto body = doc->GetFirstItem(QStringLiteral("Body"));
        QCOMPARE(body->Type(), itemtype::richText);
        const auto objects = body->EmbeddedObjects();
        QVERIFY(objects && objects->size() == 1);
        QCOMPARE(objects->at(0)->Name(), QStringLiteral("notes.txt"));
        const QString target = folder.path() + QStringLiteral("/notes.txt");
        objects->at(0)->ExtractFile(target);
        QCOMPARE(contentOf(target), QByteArray("notes inside"));
        QVERIFY(!doc->EmbeddedObjects()); // the document itself holds none
        QVERIFY(doc->HasEmbedded());
    }

    // What the ID cannot decrypt fails item by item with Notes' reason; the rest is read.
    void sealedMail()
    {
        ProgramFolder folder;
        Opened db(folder);
        auto view = db.database->GetView(QStringLiteral("($Inbox)"));
        auto doc = view->GetNextDocument(view->GetNextDocument(view->GetFirstDocument()));
        QCOMPARE(doc->GetItemValue(QStringLiteral("Subject")).textAt(0), QStringLiteral("Secret"));
        const QString message = failureOf([&] { doc->GetItemValue(QStringLiteral("Body")); });
        QVERIFY2(message.contains(QStringLiteral("is encrypted")) &&
                     message.contains(QStringLiteral("0x0abc")),
                 qPrintable(message));
    }

    // Everything opened is closed and freed, and Notes ended, once the objects are gone.
    void closesEverything()
    {
        ProgramFolder folder;
        {
            Opened db(folder);
            const auto views = db.database->Views();
            for (const auto& view : *views) {
                for (auto doc = view->GetFirstDocument(); doc; doc = view->GetNextDocument(doc)) {
                    // The sealed mail's body fails; everything else is read.
                    failureOf([&] {
                        doc->HasEmbedded();
                        doc->GetItemValue(QStringLiteral("Body"));
                        const auto body = doc->GetFirstItem(QStringLiteral("Body"));
                        if (const auto objects = body->EmbeddedObjects())
                            objects->at(0)->ExtractFile(folder.path() + QStringLiteral("/x"));
                    });
                }
            }
            QVERIFY(folder.state().openNotes > 0 || folder.state().openDatabases > 0);
        }
        QCOMPARE(folder.state().openDatabases, 0);
        QCOMPARE(folder.state().openNotes, 0);
        QCOMPARE(folder.state().openCollections, 0);
        QCOMPARE(folder.state().openStreams, 0);
        QCOMPARE(folder.state().buffersOut, 0);
        QCOMPARE(folder.state().termCalls, 1);
    }
};

QTEST_GUILESS_MAIN(TestCapiObjects)
#include "tst_capiobjects.moc"
