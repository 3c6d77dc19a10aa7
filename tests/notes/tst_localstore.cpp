#include "Checks.h"
#include "StoreFixture.h"
#include "base/OperationError.h"
#include "notes/DatabaseFileSession.h"
#include "notes/LocalStore.h"
#include "notes/NotesSessionRegistry.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace tarvik::notes;
using tarvik::OperationError;
using tarvik::test::failureOf;
using tarvik::test::StoreFixture;

namespace {

const QByteArray testMail = R"j({"format": 1, "title": "Test Mail",
  "views": [
    {"name": "($Inbox)", "folder": true, "documents": ["a", "b", "c"]},
    {"name": "Twice", "folder": true, "documents": ["a"]},
    {"name": "Twice", "folder": false, "documents": ["b", "c"]},
    {"name": "Other", "folder": true, "documents": ["c", "a"]}],
  "documents": [
    {"id": "a", "items": [
      {"name": "Subject", "type": "text", "values": ["First"]},
      {"name": "SendTo", "type": "names", "values": ["CN=A/O=X", "b@example.org", "CN=C/O=X"]},
      {"name": "subject", "type": "text", "values": ["shadowed"]},
      {"name": "Count", "type": "number", "values": [3, 2.5]},
      {"name": "PostedDate", "type": "datetime", "values": ["2008-10-26T02:30:00+01:00"]},
      {"name": "Empty", "type": "text", "values": []},
      {"name": "Secret", "type": "text", "values": ["hidden"], "unreadable": true},
      {"name": "Body", "type": "richtext", "values": ["Body text"], "embedded": [
        {"name": "big.bin", "content_text": "0123456789", "repeat": 300000},
        {"name": "Chart", "type": 1453, "content_text": "ole"},
        {"name": "locked.txt", "content_text": "x", "unreadable": true}]}]},
    {"id": "b", "size": 2560, "items": [
      {"name": "Subject", "type": "text", "values": ["Second"]},
      {"name": "Body", "type": "text", "values": ["plain"]}],
     "attachments": [{"name": "loose.txt", "content_text": "loose"}]},
    {"id": "c", "items": [
      {"name": "Subject", "type": "text", "values": ["Third"]},
      {"name": "Body", "type": "richtext", "values": ["x"], "unreadable": true,
       "embedded": [{"name": "e.txt", "content_text": "e"}]}]}]})j";

bool fails(const std::function<void()>& step)
{
    try {
        step();
    } catch (const OperationError&) {
        return true;
    }
    return false;
}

const QByteArray noViewsMail = R"j({"format": 1, "title": "", "views": [], "documents": []})j";
const QByteArray replacedMail =
    R"j({"format": 1, "title": "Replaced", "views": [], "documents": []})j";

void runSql(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    sqlite3_close(db);
    QCOMPARE(rc, SQLITE_OK);
}

qint64 rootPage(const QString& path, const char* table)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT rootpage FROM sqlite_schema WHERE name = ?1", -1, &s, nullptr);
    sqlite3_bind_text(s, 1, table, -1, SQLITE_STATIC);
    const qint64 page = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
    sqlite3_finalize(s);
    sqlite3_close(db);
    return page;
}

void overwritePage(const QString& path, qint64 page)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const QByteArray header = f.read(100);
    const qint64 pageSize = (quint8(header[16]) << 8) | quint8(header[17]);
    QVERIFY(f.seek((page - 1) * pageSize));
    f.write(QByteArray(pageSize, '\x5a'));
}

QStringList subjects(NotesView& view)
{
    QStringList out;
    for (auto doc = view.GetFirstDocument(); doc; doc = view.GetNextDocument(doc))
        out << doc->GetItemValue(QStringLiteral("Subject")).textAt(0);
    return out;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestLocalStore : public QObject {
    Q_OBJECT

    StoreFixture m_fixture;
    QString m_store;
    LocalStoreSession m_session;

    std::shared_ptr<NotesDatabase> open() { return m_session.GetDatabase({}, m_store); }
    std::shared_ptr<NotesDocument> first(const QString& view)
    {
        return open()->GetView(view)->GetFirstDocument();
    }

private Q_SLOTS:
    void initTestCase() { m_store = m_fixture.buildStore(testMail, QStringLiteral("test.nsf")); }

    void databaseAndViews()
    {
        const auto db = open();
        QCOMPARE(db->Title(), QStringLiteral("Test Mail"));
        const auto views = db->Views();
        QVERIFY(views);
        QStringList listed;
        for (const auto& v : *views)
            listed << QStringLiteral("%1/%2/%3")
                          .arg(v->Name())
                          .arg(v->isfolder())
                          .arg(v->AllEntries().Count());
        QCOMPARE(listed.join(u'|'), QStringLiteral("($Inbox)/1/3|Twice/1/1|Twice/0/2|Other/1/2"));
        // A name given twice gives the first view; names are exact.
        QCOMPARE(db->GetView(QStringLiteral("Twice"))->AllEntries().Count(), 1);
        QVERIFY(!db->GetView(QStringLiteral("twice")));
        QVERIFY(!db->GetView(QString()));
        QVERIFY(fails([&] { m_session.GetDatabase(QStringLiteral("srv"), m_store); }));

        const QString noViews = m_fixture.buildStore(noViewsMail);
        QVERIFY(!m_session.GetDatabase({}, noViews)->Views());
    }

    void walkInViewOrder()
    {
        const auto db = open();
        const auto inbox = db->GetView(QStringLiteral("($Inbox)"));
        QCOMPARE(subjects(*inbox).join(u'|'), QStringLiteral("First|Second|Third"));
        const auto other = db->GetView(QStringLiteral("Other"));
        QCOMPARE(subjects(*other).join(u'|'), QStringLiteral("Third|First"));

        auto doc = inbox->GetFirstDocument();
        QVERIFY(failureOf([&] { other->GetNextDocument(doc); }).contains(u"does not belong"));
        QVERIFY(failureOf([&] { inbox->GetNextDocument(nullptr); }).contains(u"No current"));
        // The same view opened again carries on from a document of the first opening.
        const auto again = open()->GetView(QStringLiteral("($Inbox)"));
        doc = again->GetNextDocument(again->GetNextDocument(doc));
        QCOMPARE(doc->GetItemValue(QStringLiteral("Subject")).textAt(0), QStringLiteral("Third"));
        QVERIFY(!inbox->GetNextDocument(doc));
        QVERIFY(
            !open()
                 ->GetView(QStringLiteral("Twice"))
                 ->GetNextDocument(open()->GetView(QStringLiteral("Twice"))->GetFirstDocument()));

        // A walk asked for the next of an earlier document, or again after its end or
        // from the start, goes on from that document; two walks of one view interleave.
        const auto subject = [](const std::shared_ptr<NotesDocument>& d) {
            return d ? d->GetItemValue(QStringLiteral("Subject")).textAt(0) : QStringLiteral("-");
        };
        const auto d1 = inbox->GetFirstDocument();
        const auto d2 = inbox->GetNextDocument(d1);
        const auto d3 = inbox->GetNextDocument(d2);
        QStringList order;
        order << subject(inbox->GetNextDocument(d3)) << subject(inbox->GetNextDocument(d3))
              << subject(inbox->GetNextDocument(d1)) << subject(inbox->GetFirstDocument())
              << subject(inbox->GetNextDocument(d2)) << subject(inbox->GetNextDocument(d1));
        QCOMPARE(order.join(u'|'), QStringLiteral("-|-|Second|First|Third|Second"));
        auto x = inbox->GetFirstDocument();
        auto y = inbox->GetFirstDocument();
        QStringList interleaved;
        for (; x && y; x = inbox->GetNextDocument(x), y = inbox->GetNextDocument(y))
            interleaved << subject(x) + subject(y);
        QCOMPARE(interleaved.join(u'|'), QStringLiteral("FirstFirst|SecondSecond|ThirdThird"));
    }

    void itemNamesIgnoreCase()
    {
        // ASCII names are compared by their bytes, others as texts: both ignore case
        // as Qt folds it, where a name of other letters can match an ASCII one.
        const QByteArray json = R"j({"format": 1, "title": "Names",
          "views": [{"name": "V", "folder": true, "documents": ["a"]}],
          "documents": [{"id": "a", "items": [
            {"name": "\u00c4nderung", "type": "text", "values": ["umlaut"]},
            {"name": "Subject", "type": "text", "values": ["ascii"]},
            {"name": "\u212aey", "type": "text", "values": ["kelvin"]},
            {"name": "Stra\u00dfe", "type": "text", "values": ["sharp s"]},
            {"name": "Body", "type": "text", "values": ["b"]}]}]})j";
        const auto doc = m_session.GetDatabase({}, m_fixture.buildStore(json))
                             ->GetView(QStringLiteral("V"))
                             ->GetFirstDocument();
        QStringList got;
        for (const QString& name :
             {QStringLiteral("\u00e4NDERUNG"), QStringLiteral("SUBJECT"), QStringLiteral("subjecT"),
              QStringLiteral("\u017fubject"), QStringLiteral("Subjec"), QStringLiteral("KEY"),
              QStringLiteral("\u212aEY"), QStringLiteral("STRASSE"), QStringLiteral("STRA\u00dfE"),
              QStringLiteral("body")})
            got << (doc->hasitem(name) ? doc->GetItemValue(name).textAt(0) : QStringLiteral("-"));
        QCOMPARE(got.join(u'|'),
                 QStringLiteral("umlaut|ascii|ascii|ascii|-|kelvin|kelvin|-|sharp s|b"));
        QCOMPARE(doc->GetFirstItem(QStringLiteral("\u00e4nderung"))->Name(),
                 QStringLiteral("\u00c4nderung"));
    }

    void itemValues()
    {
        const auto a = first(QStringLiteral("($Inbox)"));
        // Look-up ignores case and gives the first item of a name.
        QCOMPARE(a->GetItemValue(QStringLiteral("SUBJECT")).textAt(0), QStringLiteral("First"));
        QVERIFY(a->hasitem(QStringLiteral("sendto")));
        const auto to = a->GetItemValue(QStringLiteral("SendTo"));
        QCOMPARE(to.upperBound(), 2);
        QCOMPARE(to.textAt(1), QStringLiteral("b@example.org"));
        const auto count = a->GetItemValue(QStringLiteral("Count"));
        QCOMPARE(count.at(1).kind(), ValueKind::Number);
        QCOMPARE(count.textAt(0) + u' ' + count.textAt(1), QStringLiteral("3 2.5"));
        const auto posted = a->GetItemValue(QStringLiteral("PostedDate")).at(0);
        QCOMPARE(posted.kind(), ValueKind::DateTime);
        QCOMPARE(posted.dateTime().offsetFromUtc(), 3600);
        QCOMPARE(posted.toText(), QStringLiteral("2008-10-26 02:30:00 +01:00"));

        // A missing item is one empty text; an empty item has no element 0.
        QVERIFY(!a->hasitem(QStringLiteral("CopyTo")));
        const auto missing = a->GetItemValue(QStringLiteral("CopyTo"));
        QCOMPARE(missing.size(), 1);
        QCOMPARE(missing.textAt(0), QString());
        const auto empty = a->GetItemValue(QStringLiteral("Empty"));
        QCOMPARE(empty.upperBound(), -1);
        QVERIFY(fails([&] { empty.at(0); }));

        const auto b = open()->GetView(QStringLiteral("($Inbox)"))->GetNextDocument(a);
        QCOMPARE(b->Size(), 2560);
        QVERIFY(a->Size() > 3000000); // computed: includes the repeated object
        QVERIFY(a->HasEmbedded());
        QVERIFY(b->HasEmbedded()); // by its attachment alone
    }

    void unreadableItems()
    {
        const auto a = first(QStringLiteral("($Inbox)"));
        QVERIFY(a->hasitem(QStringLiteral("secret")));
        QVERIFY(failureOf([&] {
                    a->GetItemValue(QStringLiteral("Secret"));
                }).contains(u"\"Secret\" cannot be read"));
        QCOMPARE(a->GetItemValue(QStringLiteral("Subject")).textAt(0), QStringLiteral("First"));

        const auto c = first(QStringLiteral("Other"));
        const auto body = c->GetFirstItem(QStringLiteral("body"));
        QVERIFY(body);
        QCOMPARE(body->Name(), QStringLiteral("Body"));
        QVERIFY(fails([&] { body->Type(); }));
        QVERIFY(fails([&] { body->EmbeddedObjects(); }));
        QCOMPARE(c->GetItemValue(QStringLiteral("Subject")).textAt(0), QStringLiteral("Third"));
    }

    void embeddedObjects()
    {
        const auto a = first(QStringLiteral("($Inbox)"));
        const auto body = a->GetFirstItem(QStringLiteral("Body"));
        QCOMPARE(body->Type(), 1);
        const auto objects = body->EmbeddedObjects();
        QVERIFY(objects);
        QStringList listed;
        for (const auto& o : *objects)
            listed << o->Name() + u'/' + QString::number(o->Type());
        QCOMPARE(listed.join(u'|'), QStringLiteral("big.bin/1454|Chart/1453|locked.txt/1454"));
        QVERIFY(!a->GetFirstItem(QStringLiteral("Subject"))->EmbeddedObjects());
        QVERIFY(!a->GetFirstItem(QStringLiteral("Nothing")));

        // Every item in order, duplicates and unreadable ones included; the
        // objects of the rich-text item come with it.
        QStringList items;
        for (const auto& item : a->Items())
            items << item->Name();
        QCOMPARE(items.join(u'|'),
                 QStringLiteral("Subject|SendTo|subject|Count|PostedDate|Empty|Secret|Body"));
        QVERIFY(fails([&] { a->Items().at(6)->Type(); }));
        QCOMPARE(a->Items().at(7)->EmbeddedObjects()->size(), 3);
        QVERIFY(!a->EmbeddedObjects()); // all its objects are in its Body

        // A document-level attachment is in no item, and only there.
        const auto b = open()->GetView(QStringLiteral("($Inbox)"))->GetNextDocument(a);
        QCOMPARE(b->GetFirstItem(QStringLiteral("Body"))->Type(), 1280);
        QVERIFY(!b->GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects());
        const auto loose = b->EmbeddedObjects();
        QVERIFY(loose);
        QCOMPARE(loose->size(), 1);
        QCOMPARE(loose->at(0)->Name(), QStringLiteral("loose.txt"));
        QCOMPARE(loose->at(0)->Type(), 1454);
        const QString target = m_fixture.path(QStringLiteral("loose.txt"));
        loose->at(0)->ExtractFile(target);
        QCOMPARE(readAll(target), QByteArrayLiteral("loose"));
    }

    void extractFile()
    {
        const auto objects = *first(QStringLiteral("($Inbox)"))
                                  ->GetFirstItem(QStringLiteral("Body"))
                                  ->EmbeddedObjects();
        const QString target = m_fixture.path(QStringLiteral("big.bin"));
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write(QByteArray(4000000, 'z')); // longer than the object: truncated
        old.close();
        objects[0]->ExtractFile(target);
        QCOMPARE(readAll(target), QByteArrayLiteral("0123456789").repeated(300000));
        objects[1]->ExtractFile(m_fixture.path(QStringLiteral("chart")));
        QCOMPARE(readAll(m_fixture.path(QStringLiteral("chart"))), QByteArrayLiteral("ole"));

        const QString locked = m_fixture.path(QStringLiteral("locked.txt"));
        QVERIFY(fails([&] { objects[2]->ExtractFile(locked); }));
        QVERIFY(!QFile::exists(locked));
        QVERIFY(failureOf([&] {
                    objects[1]->ExtractFile(m_fixture.path(QStringLiteral("no/such/x")));
                }).contains(u"Cannot write"));

        // A link at the target is not followed; a named pipe does not block.
        const QString victim = m_fixture.path(QStringLiteral("victim"));
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write("keep") == 4);
        v.close();
        const QString link = m_fixture.path(QStringLiteral("link"));
        QVERIFY(QFile::link(victim, link));
        QVERIFY(fails([&] { objects[1]->ExtractFile(link); }));
        QCOMPARE(readAll(victim), QByteArrayLiteral("keep"));
        const QByteArray storeHash = StoreFixture::fileHash(m_store);
        QVERIFY(failureOf([&] { objects[1]->ExtractFile(m_store); }).contains(u"mail store"));
        QCOMPARE(StoreFixture::fileHash(m_store), storeHash);
        const QString fifo = m_fixture.path(QStringLiteral("fifo"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(fails([&] { objects[1]->ExtractFile(fifo); }));
    }

    void extractFailureLeavesNoFile()
    {
        // A file-size limit makes writing fail part of the way, as a full disk does.
        const auto objects = *first(QStringLiteral("($Inbox)"))
                                  ->GetFirstItem(QStringLiteral("Body"))
                                  ->EmbeddedObjects();
        const QString target = m_fixture.path(QStringLiteral("cut.bin"));
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1000000;
        setrlimit(RLIMIT_FSIZE, &small);
        const QString why = failureOf([&] { objects[0]->ExtractFile(target); });
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY2(why.startsWith(u"Cannot write"), qPrintable(why));
        QVERIFY(!QFile::exists(target));
    }

    void lifetime()
    {
        std::shared_ptr<NotesEmbeddedObject> object;
        std::shared_ptr<NotesDocument> doc;
        {
            LocalStoreSession session;
            doc = session.GetDatabase({}, m_store)
                      ->GetView(QStringLiteral("Other"))
                      ->GetFirstDocument();
            doc = session.GetDatabase({}, m_store)
                      ->GetView(QStringLiteral("Other"))
                      ->GetNextDocument(doc);
            object = doc->GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects()->at(1);
        }
        QCOMPARE(doc->GetItemValue(QStringLiteral("subject")).textAt(0), QStringLiteral("First"));
        object->ExtractFile(m_fixture.path(QStringLiteral("after")));
        QCOMPARE(readAll(m_fixture.path(QStringLiteral("after"))), QByteArrayLiteral("ole"));
    }

    void badFiles_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << QStringLiteral("missing")
                                 << QStringLiteral("cannot be opened: No such file");
        QTest::newRow("folder") << QStringLiteral("folder")
                                << QStringLiteral("is a folder, not a Tarvik mail store");
        QTest::newRow("empty") << QStringLiteral("empty")
                               << QStringLiteral("is empty, not a Tarvik mail store");
        QTest::newRow("text") << QStringLiteral("text")
                              << QStringLiteral("is not a Tarvik mail store");
        QTest::newRow("other database")
            << QStringLiteral("other") << QStringLiteral("is not a Tarvik mail store");
        QTest::newRow("write-ahead log")
            << QStringLiteral("wal") << QStringLiteral("is not a Tarvik mail store");
        QTest::newRow("truncated")
            << QStringLiteral("truncated") << QStringLiteral("is truncated or damaged");
        QTest::newRow("newer") << QStringLiteral("newer")
                               << QStringLiteral("was made by a newer version (schema 7)");
        // Tests run as root, who reads any file whatever its mode: a path through a
        // regular file stands for a file that cannot be read.
        QTest::newRow("through a file")
            << QStringLiteral("through") << QStringLiteral("cannot be opened: Not a directory");
        QTest::newRow("pipe") << QStringLiteral("pipe") << QStringLiteral("is not a regular file");
    }
    void badFiles()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        StoreFixture fx;
        QString path = fx.path(QStringLiteral("bad.nsf"));
        auto write = [&](const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
        };
        if (kind == u"folder") {
            QDir().mkdir(path);
        } else if (kind == u"empty") {
            write({});
        } else if (kind == u"text") {
            write(QByteArray(5000, 'x'));
        } else if (kind == u"other") {
            runSql(path, "CREATE TABLE t(x); INSERT INTO t VALUES(1)");
        } else if (kind == u"wal") {
            fx.buildStore(testMail, QStringLiteral("bad.nsf"));
            runSql(path, "PRAGMA journal_mode = WAL");
        } else if (kind == u"truncated") {
            fx.buildStore(testMail, QStringLiteral("bad.nsf"));
            QFile::resize(path, QFileInfo(path).size() / 2);
        } else if (kind == u"newer") {
            fx.buildStore(testMail, QStringLiteral("bad.nsf"));
            runSql(path, "UPDATE meta SET value = '7' WHERE key = 'schema_version'");
        } else if (kind == u"through") {
            write("x");
            path += QStringLiteral("/inner.nsf");
        } else if (kind == u"pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        }
        const QStringList before = QDir(fx.folder()).entryList(QDir::AllEntries | QDir::Hidden);
        const bool regular = QFileInfo(path).isFile(); // reading a pipe would block the test
        const QByteArray hash = regular ? StoreFixture::fileHash(path) : QByteArray();
        const QString why = failureOf([&] { m_session.GetDatabase({}, path); });
        QVERIFY2(why.contains(u'"' + path + u'"') && why.contains(message), qPrintable(why));
        QCOMPARE(QDir(fx.folder()).entryList(QDir::AllEntries | QDir::Hidden), before);
        if (regular)
            QCOMPARE(StoreFixture::fileHash(path), hash);
    }

    void damagedStore()
    {
        const QString path = m_fixture.buildStore(testMail);
        overwritePage(path, rootPage(path, "items"));
        const auto db = m_session.GetDatabase({}, path);
        const auto inbox = db->GetView(QStringLiteral("($Inbox)"));
        const auto doc = inbox->GetFirstDocument();
        QVERIFY(failureOf([&] {
                    doc->GetItemValue(QStringLiteral("Subject"));
                }).contains(u"is damaged"));
        QVERIFY(doc->HasEmbedded());

        overwritePage(path, rootPage(path, "view_entries"));
        const auto fresh = m_session.GetDatabase({}, path);
        QVERIFY(failureOf([&] {
                    fresh->GetView(QStringLiteral("Other"))->GetFirstDocument();
                }).contains(u"is damaged"));
        overwritePage(path, rootPage(path, "views"));
        QVERIFY(!m_session.GetDatabase({}, path)->Views());
    }

    void entryWithoutDocument()
    {
        const QString path = m_fixture.buildStore(testMail);
        runSql(path, "DELETE FROM documents WHERE id = 2");
        const auto inbox = m_session.GetDatabase({}, path)->GetView(QStringLiteral("($Inbox)"));
        QCOMPARE(inbox->AllEntries().Count(), 3);
        QCOMPARE(subjects(*inbox).join(u'|'), QStringLiteral("First|Third"));
    }

    void allDocumentsById()
    {
        // Every document once, by id: those in no view too, none twice for being in two.
        const QByteArray json = R"j({"format": 1, "title": "All",
          "views": [{"name": "($Inbox)", "folder": true, "documents": ["c", "a"]},
                    {"name": "Kept", "folder": true, "documents": ["a"]}],
          "documents": [
            {"id": "a", "items": [{"name": "Subject", "type": "text", "values": ["A"]}]},
            {"id": "b", "items": [{"name": "Subject", "type": "text", "values": ["B"]}]},
            {"id": "c", "items": [{"name": "Subject", "type": "text", "values": ["C"]}]}]})j";
        const QString path = m_fixture.buildStore(json);
        const QString damaged = m_fixture.buildStore(json);
        runSql(damaged, "DELETE FROM documents WHERE id = 2");
        const auto db = m_session.GetDatabase({}, path);
        const auto all = db->AllDocuments();
        const auto walk = [](NotesDocumentCollection& c) {
            QStringList got;
            for (auto d = c.GetFirstDocument(); d; d = c.GetNextDocument(d))
                got << d->GetItemValue(QStringLiteral("Subject")).textAt(0);
            return got.join(u'|');
        };
        QCOMPARE(all->Count(), 3);
        QCOMPARE(walk(*all), QStringLiteral("A|B|C"));
        // After the end, and from an earlier document, the walk starts again there.
        const auto a = all->GetFirstDocument();
        const auto c = all->GetNextDocument(all->GetNextDocument(a));
        QVERIFY(!all->GetNextDocument(c));
        QCOMPARE(all->GetNextDocument(a)->GetItemValue(QStringLiteral("Subject")).textAt(0),
                 QStringLiteral("B"));
        QCOMPARE(walk(*all), QStringLiteral("A|B|C"));

        // A view's document is not one of this walk's, nor the other way round.
        const auto inbox = db->GetView(QStringLiteral("($Inbox)"));
        QVERIFY(failureOf([&] {
                    all->GetNextDocument(inbox->GetFirstDocument());
                }).contains(u"does not belong"));
        QVERIFY(failureOf([&] {
                    inbox->GetNextDocument(all->GetFirstDocument());
                }).contains(u"does not belong"));
        QVERIFY(failureOf([&] { all->GetNextDocument(nullptr); }).contains(u"No current"));
        const auto other = m_session.GetDatabase({}, m_store)->AllDocuments();
        QVERIFY(fails([&] { other->GetNextDocument(all->GetFirstDocument()); }));

        // A document the store lost is passed over.
        const auto after = m_session.GetDatabase({}, damaged)->AllDocuments();
        QCOMPARE(after->Count(), 2);
        QCOMPARE(walk(*after), QStringLiteral("A|C"));
    }

    void connectionIsShared()
    {
        const QString path = m_fixture.buildStore(testMail);
        auto registry = NotesSessionRegistry::withDefaults();
        const auto s1 = std::dynamic_pointer_cast<DatabaseFileSession>(
            registry.create(NotesSessionRegistry::dominoProgId));
        const auto s2 = registry.create(NotesSessionRegistry::dominoProgId);
        const auto old = s1->GetDatabase({}, path);
        s2->GetDatabase({}, path);
        s1->GetDatabase({}, QFileInfo(path).absolutePath() + QStringLiteral("/./") +
                                QFileInfo(path).fileName());
        const QString link = path + QStringLiteral(".link");
        QVERIFY(QFile::link(path, link));
        s2->GetDatabase({}, link);
        QCOMPARE(s1->stores()->filesOpened(), 1);

        // A replaced file is opened anew; what was read from the old one stays usable.
        const QString next = m_fixture.buildStore(replacedMail);
        QVERIFY(QFile::remove(path) && QFile::rename(next, path));
        QCOMPARE(s1->GetDatabase({}, path)->Title(), QStringLiteral("Replaced"));
        QCOMPARE(s1->stores()->filesOpened(), 2);
        QCOMPARE(old->Title(), QStringLiteral("Test Mail"));
        QCOMPARE(subjects(*old->GetView(QStringLiteral("Other"))).join(u'|'),
                 QStringLiteral("Third|First"));
    }

    void storeIsNeverWritten()
    {
        const QString path = m_fixture.buildStore(testMail, QStringLiteral("untouched.nsf"));
        const QByteArray hash = StoreFixture::fileHash(path);
        const QStringList files = QDir(m_fixture.folder()).entryList(QDir::Files | QDir::Hidden);
        LocalStoreSession session;
        const auto db = session.GetDatabase({}, path);
        const auto views = db->Views();
        for (const auto& view : *views) {
            for (auto doc = view->GetFirstDocument(); doc; doc = view->GetNextDocument(doc)) {
                for (const char* name : {"Subject", "SendTo", "Secret", "Body", "None"})
                    try {
                        doc->GetItemValue(QLatin1String(name));
                    } catch (const OperationError&) {
                    }
            }
        }
        first(QStringLiteral("Other"))->GetFirstItem(QStringLiteral("Body"));
        QCOMPARE(StoreFixture::fileHash(path), hash);
        QCOMPARE(QDir(m_fixture.folder()).entryList(QDir::Files | QDir::Hidden), files);
    }

    void sampleDatabase()
    {
        StoreFixture fx;
        const auto db = m_session.GetDatabase({}, fx.buildSample());
        QCOMPARE(db->Title(), QStringLiteral("Mira Kestrel - Mail"));
        QStringList counts;
        for (const char* name :
             {"($Inbox)", "($Drafts)", "($Sent)", "($Follow-Up)", "($JunkMail)", "($Trash)",
              "Projects", "Projects\\2008", "Projects\\Archive", "Reisen & Ausflüge", "Old Stuff"})
            counts << QString::number(db->GetView(QString::fromUtf8(name))->AllEntries().Count());
        QCOMPARE(counts.join(u' '), QStringLiteral("21 4 9 3 4 5 3 5 3 3 0"));
        // Every document, the rule that ($All) does not show included.
        QCOMPARE(db->AllDocuments()->Count(), 60);
        QVERIFY(!db->GetView(QStringLiteral("Old Stuff"))->GetFirstDocument());
        QStringList hidden;
        const auto views = db->Views();
        for (const auto& v : *views)
            if (v->Name().startsWith(u'(') || !v->isfolder())
                hidden << v->Name();
        QVERIFY(hidden.contains(QStringLiteral("($All)")) &&
                hidden.contains(QStringLiteral("(Rules)")) &&
                hidden.contains(QStringLiteral("By Category")));

        const auto inbox = db->GetView(QStringLiteral("($Inbox)"));
        QStringList names;
        for (auto doc = inbox->GetFirstDocument(); doc; doc = inbox->GetNextDocument(doc)) {
            if (!doc->HasEmbedded())
                continue;
            const auto objects = doc->GetFirstItem(QStringLiteral("Body"))->EmbeddedObjects();
            for (const auto& o : objects.value_or(NotesEmbeddedObjectList()))
                names << o->Name() + u'/' + QString::number(o->Type());
            if (!objects)
                names << QStringLiteral("(none)");
        }
        QVERIFY(names.contains(QStringLiteral("季度报告-2007Q4.docx/1454")));
        QVERIFY(names.contains(QStringLiteral("Übersicht_März_2008.xlsx/1454")));
        QVERIFY(names.contains(QStringLiteral("Microsoft Excel Chart/1453")));
        QVERIFY(names.contains(QStringLiteral("(none)"))); // attachment outside the body
    }
};

QTEST_GUILESS_MAIN(TestLocalStore)
#include "tst_localstore.moc"
