#include "Checks.h"
#include "StoreFixture.h"
#include "ToolRun.h"
#include "base/OperationError.h"
#include "notes/LocalStore.h"
#include "notes/builder/StoreBuilder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cmath>
#include <csignal>

using namespace tarvik::notes;
using tarvik::OperationError;
using tarvik::test::builtTool;
using tarvik::test::failureOf;
using tarvik::test::runTool;
using tarvik::test::StoreFixture;
using tarvik::test::ToolRun;

namespace {

// A sound description with one document; the cases below damage one part of it.
QByteArray withDocument(const QByteArray& document, const QByteArray& views = "[]")
{
    return "{\"format\": 1, \"title\": \"T\", \"views\": " + views + ", \"documents\": [" +
           document + "]}";
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

const QString mkstore = builtTool("tarvik-mkstore");

} // namespace

class TestStoreBuilder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void faults_data()
    {
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<QString>("faults");
        QTest::newRow("syntax") << QByteArray("{\n  \"format\": 1,\n  \"title\" \"x\"\n}")
                                << QStringLiteral("line 3, column 11: missing name separator");
        QTest::newRow("empty") << QByteArray(" \n")
                               << QStringLiteral("line 2, column 1: the description is empty");
        QTest::newRow("syntax in a later document")
            << withDocument("{\"id\": \"a\", \"items\": []},\n{\"id\": \"b\" \"items\": []}")
            << QStringLiteral("line 2, column 13: unterminated object");
        QTest::newRow("garbage after")
            << QByteArray(R"j({"format": 1, "title": "", "views": [], "documents": []} x)j")
            << QStringLiteral("line 1, column 58: garbage at the end of the document");
        QTest::newRow("raw line break in a string")
            << QByteArray("{\"format\": 1, \"title\": \"a\nb\", \"views\": [], \"documents\": []}")
            << QStringLiteral("line 1, column 26: control character in a string");
        QTest::newRow("not an object")
            << QByteArray("[]") << QStringLiteral("top level: expected an object");
        QTest::newRow("top level")
            << QByteArray(R"j({"format": 2, "title": 1, "view": []})j")
            << QStringLiteral("format: this version reads format 1, not 2\n"
                              "title: expected a string\n"
                              "top level: unknown key \"view\"\n"
                              "top level: missing required key \"views\"\n"
                              "top level: missing required key \"documents\"");
        QTest::newRow("missing items")
            << withDocument(R"j({"id": "m1"})j")
            << QStringLiteral("documents[0]: missing required key \"items\"");
        QTest::newRow("unknown type")
            << withDocument(R"j({"id": "m1", "items": [{"name": "X", "type": "blob",
                "values": []}]})j")
            << QStringLiteral("documents[0].items[0].type: unknown type \"blob\"");
        QTest::newRow("unknown id")
            << withDocument(R"j({"id": "m1", "items": []})j",
                            R"j([{"name": "A", "folder": "yes", "documents": ["m1", "m9"]}])j")
            << QStringLiteral("views[0].folder: expected true or false\n"
                              "views[0].documents[1]: no document has the id \"m9\"");
        QTest::newRow("values")
            << withDocument(R"j({"id": "m1", "size": 1.5, "items": [
                {"name": "D", "type": "datetime", "values": ["2008-03-14 10:32:05", 7,
                 "2008-03-14T10:32:05Z", "2008-02-30T10:32:05+01:00", "0001-01-01T23:59:59Z"]},
                {"name": "N", "type": "number", "values": [1, "2"]},
                {"name": "S", "type": "text", "values": ["\ud800"], "unreadable": 1}]})j")
            << QStringLiteral(
                   "documents[0].items[0].values[0]: \"2008-03-14 10:32:05\" is not a date-time "
                   "with seconds and a UTC offset, such as 2008-03-14T10:32:05+01:00\n"
                   "documents[0].items[0].values[1]: expected a string\n"
                   "documents[0].items[0].values[3]: \"2008-02-30T10:32:05+01:00\" is not a "
                   "date-time with seconds and a UTC offset, such as 2008-03-14T10:32:05+01:00\n"
                   "documents[0].items[0].values[4]: \"0001-01-01T23:59:59Z\" is outside "
                   "0001-01-02 to 9999-12-30\n"
                   "documents[0].items[1].values[1]: expected a number\n"
                   "documents[0].items[2].unreadable: expected true or false\n"
                   "documents[0].items[2].values[0]: the string holds an unpaired surrogate\n"
                   "documents[0].size: expected a whole number");
        QTest::newRow("objects")
            << withDocument(R"j({"id": "m1", "items": [{"name": "T", "type": "text",
                "values": [], "embedded": [{"name": "a", "content_text": "x"}]}],
                "attachments": [{"name": "b"}, {"name": "c", "content_text": "x",
                "content_base64": "eA=="}, {"name": "d", "content_base64": "e A", "repeat": 0}]})j")
            << QStringLiteral(
                   "documents[0].items[0].embedded: only richtext items have embedded objects\n"
                   "documents[0].attachments[0]: missing required key \"content_base64\" or "
                   "\"content_text\"\n"
                   "documents[0].attachments[1]: has both \"content_base64\" and "
                   "\"content_text\"\n"
                   "documents[0].attachments[2].content_base64: not valid base64\n"
                   "documents[0].attachments[2].repeat: expected a count of 1 or more");
        QTest::newRow("duplicate id")
            << withDocument(R"j({"id": "m1", "items": []}, {"id": "m1", "items": []})j")
            << QStringLiteral("documents[1].id: the id \"m1\" is used by documents[0] as well");
    }
    void faults()
    {
        QFETCH(QByteArray, description);
        QFETCH(QString, faults);
        QCOMPARE(StoreBuilder::check(description).join(u'\n'), faults);
        StoreFixture fx;
        const auto result = StoreBuilder::build(description, fx.path(QStringLiteral("x.nsf")));
        QCOMPARE(result.faults.join(u'\n'), faults);
        QCOMPARE(entries(fx.folder()), QStringList()); // nothing left behind
    }

    void faultsAreCapped()
    {
        QByteArray docs;
        for (int i = 0; i < 150; ++i)
            docs += QByteArray(i ? "," : "") + "{\"items\": []}";
        const QStringList faults = StoreBuilder::check(withDocument(docs));
        QCOMPARE(faults.size(), StoreBuilder::maxFaults + 1);
        QCOMPARE(faults.last(), QStringLiteral("... and 50 more faults"));
    }

    // Every kind of value reads back through the back-end as it was described.
    void valuesRoundTrip()
    {
        StoreFixture fx;
        const QString longText = QStringLiteral("0123456789").repeated(2000); // 2-byte length
        const QString path =
            fx.buildStore(withDocument(QByteArray(
                                           R"j({"id": "m", "items": [
                {"name": "T", "type": "text", "values": ["", "a\u0000b", "Grüße 季度 🎉", "."]},
                {"name": "Long", "type": "text", "values": ["LONG"]},
                {"name": "N", "type": "number", "values": [0, -0.125, 1e-300, 9007199254740993]},
                {"name": "D", "type": "datetime", "values": ["2008-03-30T02:30:00+08:45",
                 "0001-01-02T00:00:00Z", "9999-12-30T09:59:59-14:00", "2008-01-01T00:00:00+14:00"]},
                {"name": "R", "type": "richtext", "values": ["rich"]},
                {"name": "L", "type": "names", "values": ["CN=A/O=B"]}]})j")
                                           .replace("LONG", longText.toUtf8()),
                                       R"j([{"name": "V", "folder": true, "documents": ["m"]}])j"));
        const auto doc = LocalStoreSession()
                             .GetDatabase({}, path)
                             ->GetView(QStringLiteral("V"))
                             ->GetFirstDocument();
        QCOMPARE(doc->GetItemValue(QStringLiteral("Long")).textAt(0), longText);
        const auto t = doc->GetItemValue(QStringLiteral("T")).values();
        QCOMPARE(t.size(), 4);
        QCOMPARE(t[1].text(), QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
        QCOMPARE(t[2].text(), QStringLiteral("Grüße 季度 🎉"));
        const auto n = doc->GetItemValue(QStringLiteral("N")).values();
        QVERIFY(std::signbit(n[1].number()) && n[1].number() == -0.125);
        QCOMPARE(n[2].number(), 1e-300);
        QCOMPARE(n[3].number(), 9007199254740992.0);
        const auto d = doc->GetItemValue(QStringLiteral("D")).values();
        QCOMPARE(d[0].dateTime(), QDateTime(QDate(2008, 3, 29), QTime(17, 45), Qt::UTC));
        QCOMPARE(d[0].dateTime().offsetFromUtc(), 8 * 3600 + 45 * 60);
        QCOMPARE(d[1].dateTime().date(), QDate(1, 1, 2));
        QCOMPARE(d[2].dateTime().offsetFromUtc(), -14 * 3600);
        QCOMPARE(doc->GetFirstItem(QStringLiteral("R"))->Type(), 1);
        QCOMPARE(doc->GetFirstItem(QStringLiteral("L"))->Type(), 1074);
        QCOMPARE(doc->GetFirstItem(QStringLiteral("N"))->Type(), 768);
        QCOMPARE(doc->GetFirstItem(QStringLiteral("D"))->Type(), 1024);
        QCOMPARE(doc->GetFirstItem(QStringLiteral("T"))->Type(), 1280);
    }

    // Without a size the builder adds the item names and packed values and the object
    // names and contents: "Subject" (7) + "abc" (1 + 3), "a.txt" (5) + 3 x "xy".
    void computedSize()
    {
        StoreFixture fx;
        const QString path = fx.buildStore(withDocument(
            R"j({"id": "m", "items": [
                {"name": "Subject", "type": "text", "values": ["abc"]}],
                "attachments": [{"name": "a.txt", "content_text": "xy", "repeat": 3}]})j",
            R"j([{"name": "V", "folder": true, "documents": ["m"]}])j"));
        const auto doc = LocalStoreSession()
                             .GetDatabase({}, path)
                             ->GetView(QStringLiteral("V"))
                             ->GetFirstDocument();
        QCOMPARE(doc->Size(), 22);
    }

    // Views may come before or after the documents they name (and a byte order mark
    // before the text is passed over).
    void memberOrder()
    {
        StoreFixture fx;
        const QString path = fx.buildStore("\xEF\xBB\xBF"
                                           R"j({"documents": [
            {"id": "x", "items": [{"name": "Subject", "type": "text", "values": ["X"]}]},
            {"id": "y", "items": [{"name": "Subject", "type": "text", "values": ["Y"]}]}],
            "views": [{"name": "V", "folder": true, "documents": ["y", "x"]}],
            "title": "Order", "format": 1})j");
        const auto view = LocalStoreSession().GetDatabase({}, path)->GetView(QStringLiteral("V"));
        const auto first = view->GetFirstDocument();
        QCOMPARE(first->GetItemValue(QStringLiteral("Subject")).textAt(0), QStringLiteral("Y"));
        QCOMPARE(view->GetNextDocument(first)->GetItemValue(QStringLiteral("Subject")).textAt(0),
                 QStringLiteral("X"));
    }

    void existingOutput()
    {
        StoreFixture fx;
        const QString out = fx.buildStore(withDocument({}), QStringLiteral("out.nsf"));
        const QByteArray hash = StoreFixture::fileHash(out);
        const QByteArray other = R"j({"format": 1, "title": "New", "views": [], "documents": []})j";
        QVERIFY(failureOf([&] { StoreBuilder::build(other, out); }).contains(u"already exists"));
        QCOMPARE(StoreFixture::fileHash(out), hash);
        QVERIFY(StoreBuilder::build(other, out, StoreBuilder::Existing::Replace).ok());
        QCOMPARE(LocalStoreSession().GetDatabase({}, out)->Title(), QStringLiteral("New"));

        // A folder in the way, or no folder to write into: refused, nothing left behind.
        QDir(fx.folder()).mkdir(QStringLiteral("dir.nsf"));
        QVERIFY(failureOf([&] {
                    StoreBuilder::build(other, fx.path(QStringLiteral("dir.nsf")),
                                        StoreBuilder::Existing::Replace);
                }).contains(u"is a folder"));
        QVERIFY(failureOf([&] {
                    StoreBuilder::build(other, fx.path(QStringLiteral("none/x.nsf")));
                }).contains(u"does not exist"));
        QCOMPARE(entries(fx.folder()),
                 QStringList({QStringLiteral("dir.nsf"), QStringLiteral("out.nsf")}));
    }

    void tool()
    {
        StoreFixture fx;
        const QString good = fx.path(QStringLiteral("good.json"));
        const QString bad = fx.path(QStringLiteral("bad.json"));
        {
            QFile f(good);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(R"j({"format": 1, "title": "", "views": [], "documents": []})j");
            QFile g(bad);
            QVERIFY(g.open(QIODevice::WriteOnly));
            g.write(withDocument(R"j({"id": "m1"})j"));
        }
        auto run = [&](const QStringList& args, QString* err = nullptr) {
            const ToolRun r = runTool(mkstore, args);
            if (err)
                *err = r.errorText();
            return r.exitCode;
        };
        const QString out = fx.path(QStringLiteral("out.nsf"));
        QString err;
        QCOMPARE(run({QStringLiteral("--help")}), 0);
        QCOMPARE(run({good}), 2);
        QCOMPARE(run({good, out}), 0);
        QCOMPARE(run({good, out}, &err), 2);
        QVERIFY(err.contains(u"already exists (use --force to replace it)"));
        QCOMPARE(run({QStringLiteral("--force"), good, out}), 0);
        QCOMPARE(run({bad, fx.path(QStringLiteral("bad.nsf"))}, &err), 1);
        QCOMPARE(err, bad + QStringLiteral(": documents[0]: missing required key \"items\"\n"));
        QCOMPARE(run({fx.path(QStringLiteral("none.json")), fx.path(QStringLiteral("n.nsf"))}), 2);
        QCOMPARE(run({QStringLiteral("--force"), good, good}), 2);
        QCOMPARE(entries(fx.folder()).join(u' '), QStringLiteral("bad.json good.json out.nsf"));
    }

    // A build stopped by a signal removes its temporary file.
    void interruptedBuildLeavesNothing()
    {
        StoreFixture fx;
        QByteArray docs;
        QByteArray ids;
        for (int i = 0; i < 40000; ++i) {
            const QByteArray id = "d" + QByteArray::number(i);
            docs +=
                QByteArray(i ? "," : "") + "{\"id\": \"" + id +
                "\", \"items\": [{\"name\": \"Body\", \"type\": \"text\", \"values\": [\"x\"]}]}";
            ids += QByteArray(i ? ",\"" : "\"") + id + "\"";
        }
        const QString description = fx.path(QStringLiteral("big.json"));
        QFile f(description);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(withDocument(docs, "[{\"name\": \"V\", \"folder\": true, \"documents\": [" + ids +
                                       "]}]"));
        f.close();
        QProcess p;
        p.start(mkstore, {description, fx.path(QStringLiteral("big.nsf"))});
        QVERIFY(p.waitForStarted());
        bool seen = false;
        for (int i = 0; i < 2000 && !seen && p.state() == QProcess::Running; ++i) {
            seen = entries(fx.folder()).size() > 1;
            if (!seen)
                QTest::qSleep(2);
        }
        if (!seen)
            QSKIP("the build ended before it could be interrupted");
        ::kill(pid_t(p.processId()), SIGTERM);
        p.waitForFinished();
        QCOMPARE(p.exitStatus(), QProcess::CrashExit);
        QCOMPARE(entries(fx.folder()), QStringList({QStringLiteral("big.json")}));
    }
};

QTEST_GUILESS_MAIN(TestStoreBuilder)
#include "tst_storebuilder.moc"
