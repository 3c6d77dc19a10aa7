#include "EmlCheck.h"
#include "ExportHarness.h"
#include "StoreFixture.h"

#include "app/FileNames.h"
#include "app/MessageBuilder.h"
#include "app/UtilityProcedures.h"
#include "mail/RdoSession.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

qsizetype bytes(const QString& s)
{
    return s.toUtf8().size();
}

// A part of a path is safe when it is a single, visible, non-special name
// within the length limit.
void verifySafePart(const QString& part)
{
    QVERIFY2(!part.isEmpty(), "empty");
    QVERIFY2(part != QLatin1String(".") && part != QLatin1String(".."), qPrintable(part));
    QVERIFY2(!part.contains(QLatin1Char('/')) && !part.contains(QLatin1Char('\\')),
             qPrintable(part));
    QVERIFY2(!part.startsWith(QLatin1Char('.')), qPrintable(part));
    QVERIFY2(bytes(part) <= 255, qPrintable(QString::number(bytes(part))));
    for (QChar c : part)
        QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7F, qPrintable(part));
}

QJsonObject textItem(const QString& name, const QString& value)
{
    return {{QStringLiteral("name"), name},
            {QStringLiteral("type"), QStringLiteral("text")},
            {QStringLiteral("values"), QJsonArray{value}}};
}

} // namespace

class TestExportNames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleaning();
    void safeParts_data();
    void safeParts();
    void attachmentNames_data();
    void attachmentNames();
    void takenNamesAreNeverOverwritten();
    void everyNumberTaken();
    void senderHeaderFileCannotBeWritten();
    void hostileNamesStayInsideTheRoot();
};

void TestExportNames::cleaning()
{
    QCOMPARE(names::cleanFolderName(QStringLiteral("A:B?C\\D/E*F\"G<H>I|J")),
             QStringLiteral("A-B-C-D-E-F-G-H-I-J"));
    QCOMPARE(names::cleanSubject(QStringLiteral(" Re: Budget? <2008> ")),
             QStringLiteral(" Re Budget 2008 "));
    QCOMPARE(names::cleanSubject(QStringLiteral(":?\\/*\"<>|")), QString());
}

void TestExportNames::safeParts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected"); // empty: only check safety
    QTest::newRow("plain") << QStringLiteral("Projects-2008") << QStringLiteral("Projects-2008");
    QTest::newRow("dot") << QStringLiteral(".") << QStringLiteral("-");
    QTest::newRow("dot dot") << QStringLiteral("..") << QStringLiteral("--");
    QTest::newRow("hidden") << QStringLiteral(".Trash") << QStringLiteral("_Trash");
    QTest::newRow("empty") << QString() << QStringLiteral("-");
    QTest::newRow("controls") << QStringLiteral("a\tb\nc\x01") << QStringLiteral("a-b-c-");
    QTest::newRow("300 characters")
        << QString(300, QLatin1Char('x')) << QString(255, QLatin1Char('x'));
    QTest::newRow("long non-ASCII") << QString(200, QChar(0x5B63)) << QString(85, QChar(0x5B63));
    QTest::newRow("emoji at the cut")
        << QString(127, QLatin1Char('a')) + QString::fromUtf8("😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀")
        << QString();
}

void TestExportNames::safeParts()
{
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString part = names::folderPart(name);
    verifySafePart(part);
    if (!expected.isEmpty())
        QCOMPARE(part, expected);
    QVERIFY(QString::fromUtf8(part.toUtf8()) == part); // no broken surrogate pair

    const QString stem = names::subjectPart(name, 14);
    QVERIFY(bytes(stem) + 14 <= 255);
    QVERIFY(!stem.contains(QLatin1Char('/')));
    QVERIFY(!stem.startsWith(QLatin1Char('.')));
}

void TestExportNames::attachmentNames_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("report.pdf") << QStringLiteral("report.pdf");
    QTest::newRow("up and out") << QStringLiteral("../../x") << QStringLiteral("x");
    QTest::newRow("absolute") << QStringLiteral("/etc/passwd") << QStringLiteral("passwd");
    QTest::newRow("drive") << QStringLiteral("C:\\x") << QStringLiteral("x");
    QTest::newRow("drive relative") << QStringLiteral("C:x.txt") << QStringLiteral("x.txt");
    QTest::newRow("device name") << QStringLiteral("con") << QStringLiteral("con");
    QTest::newRow("empty") << QString() << QStringLiteral("attachment");
    QTest::newRow("dots") << QStringLiteral("..") << QStringLiteral("--");
    QTest::newRow("trailing separator") << QStringLiteral("dir/") << QStringLiteral("attachment");
    QTest::newRow("controls") << QStringLiteral("a\r\nb.txt") << QStringLiteral("ab.txt");
    QTest::newRow("long keeps extension")
        << QString(300, QLatin1Char('n')) + QStringLiteral(".docx")
        << QString(250, QLatin1Char('n')) + QStringLiteral(".docx");
}

void TestExportNames::attachmentNames()
{
    QFETCH(QString, stored);
    QFETCH(QString, expected);
    const QString name = names::attachmentFileName(stored);
    QCOMPARE(name, expected);
    verifySafePart(name);
}

void TestExportNames::takenNamesAreNeverOverwritten()
{
    StoreFixture fx;
    TempFolder temp;
    RandomGenerator random;
    const QString root = fx.folder() + QLatin1Char('/');
    QVERIFY(QDir().mkpath(root + QStringLiteral("Inbox")));
    // The first numbers of the run's sequence are taken already.
    RandomGenerator preview;
    for (int i = 0; i < 5; ++i) {
        QFile f(root + QStringLiteral("Inbox/Same%1.eml").arg(RandomNumber(preview, 1, 40000)));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("theirs");
    }
    mail::RdoSession session;
    session.Logon();
    MessageBuilder builder(temp, random);
    for (int i = 0; i < 50; ++i) {
        EmailItem message;
        message.folderName = QStringLiteral("Inbox");
        message.from = QStringLiteral("a@example.com");
        message.subject = QStringLiteral("Same");
        message.to = QStringLiteral("b@example.com");
        message.body = QStringLiteral("body");
        const MessageOutcome out = builder.CreateEmailItem(&session, root, message);
        QVERIFY2(out.saved, qPrintable(out.failure));
    }
    const QStringList files = QDir(root + QStringLiteral("Inbox")).entryList(QDir::Files);
    QCOMPARE(files.size(), 55);
    int theirs = 0;
    for (const QString& f : files) {
        QFile file(root + QStringLiteral("Inbox/") + f);
        QVERIFY(file.open(QIODevice::ReadOnly));
        theirs += file.readAll() == "theirs";
    }
    QCOMPARE(theirs, 5);
    // Once the builder finishes, the sender header file holds the last sender,
    // as one header line.
    QCOMPARE(builder.finish(), QString());
    QFile header(temp.pathIfMade() + QStringLiteral("sqm.pbs"));
    QVERIFY(header.open(QIODevice::ReadOnly));
    QCOMPARE(header.readAll(), QByteArray("From:a@example.com\r\n"));
}

void TestExportNames::senderHeaderFileCannotBeWritten()
{
    // A folder where the sender header file belongs: the file cannot be
    // written, yet every message keeps its sender, and finishing says why the
    // file is missing, once.
    StoreFixture fx;
    TempFolder temp;
    RandomGenerator random;
    const QString root = fx.folder() + QLatin1Char('/');
    QVERIFY(QDir().mkpath(root + QStringLiteral("Inbox")));
    QVERIFY(QDir().mkpath(GetTempFolder(temp) + QStringLiteral("sqm.pbs")));
    mail::RdoSession session;
    session.Logon();
    MessageBuilder builder(temp, random);
    QStringList paths;
    for (const QString& from :
         {QStringLiteral("Ann <ann@example.com>"), QStringLiteral("bob@example.com")}) {
        EmailItem message;
        message.folderName = QStringLiteral("Inbox");
        message.from = from;
        message.subject = QStringLiteral("Hello");
        message.body = QStringLiteral("body");
        const MessageOutcome out = builder.CreateEmailItem(&session, root, message);
        QVERIFY2(out.saved, qPrintable(out.failure));
        QCOMPARE(out.problems, QStringList());
        paths.append(out.path);
    }
    QCOMPARE(checkEml(paths.at(0)).from.value(0).address, QStringLiteral("ann@example.com"));
    QCOMPARE(checkEml(paths.at(1)).from.value(0).address, QStringLiteral("bob@example.com"));
    const QString why = builder.finish();
    QVERIFY2(why.startsWith(QStringLiteral("Cannot write ")) && why.contains(u"sqm.pbs"),
             qPrintable(why));
    // Reported once: nothing was built since.
    QCOMPARE(builder.finish(), QString());
}

void TestExportNames::everyNumberTaken()
{
    StoreFixture fx;
    TempFolder temp;
    RandomGenerator random;
    const QString root = fx.folder() + QLatin1Char('/');
    const QString folder = root + QStringLiteral("F/");
    QVERIFY(QDir().mkpath(folder));
    for (int n = 1; n <= 40000; ++n) {
        QFile f(folder + QStringLiteral("x%1.eml").arg(n));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    mail::RdoSession session;
    session.Logon();
    MessageBuilder builder(temp, random);
    QStringList written;
    for (int i = 0; i < 3; ++i) {
        EmailItem message;
        message.folderName = QStringLiteral("F");
        message.subject = QStringLiteral("x");
        const MessageOutcome out = builder.CreateEmailItem(&session, root, message);
        QVERIFY2(out.saved, qPrintable(out.failure));
        written.append(QFileInfo(out.path).fileName());
    }
    QCOMPARE(written, (QStringList{QStringLiteral("x40001.eml"), QStringLiteral("x40002.eml"),
                                   QStringLiteral("x40003.eml")}));
}

void TestExportNames::hostileNamesStayInsideTheRoot()
{
    StoreFixture fx;
    QJsonArray views;
    QJsonArray docs;
    const QStringList folders = {
        QStringLiteral("."),         QStringLiteral(".."),           QStringLiteral("a/b"),
        QStringLiteral("tab\there"), QStringLiteral("../../escape"), QString(300, QLatin1Char('L')),
        QStringLiteral(" "),         QStringLiteral(".hidden")};
    int n = 0;
    for (const QString& f : folders) {
        const QString id = QStringLiteral("d%1").arg(n++);
        views.append(QJsonObject{{QStringLiteral("name"), f},
                                 {QStringLiteral("folder"), true},
                                 {QStringLiteral("documents"), QJsonArray{id}}});
        docs.append(QJsonObject{
            {QStringLiteral("id"), id},
            {QStringLiteral("items"),
             QJsonArray{textItem(QStringLiteral("Subject"), QString(100000, QLatin1Char('s')))}}});
    }
    // Two attachments of one name, and names that point elsewhere.
    QJsonArray embedded;
    for (const QString& a :
         {QStringLiteral("same.txt"), QStringLiteral("same.txt"), QStringLiteral("../../x"),
          QStringLiteral("/etc/passwd"), QStringLiteral("C:\\x"), QString()})
        embedded.append(
            QJsonObject{{QStringLiteral("name"), a},
                        {QStringLiteral("content_text"), QStringLiteral("content of %1").arg(a)}});
    views.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("($Inbox)")},
                             {QStringLiteral("folder"), true},
                             {QStringLiteral("documents"), QJsonArray{QStringLiteral("att")}}});
    docs.append(QJsonObject{
        {QStringLiteral("id"), QStringLiteral("att")},
        {QStringLiteral("items"),
         QJsonArray{textItem(QStringLiteral("Subject"),
                             QStringLiteral("../../../etc/cron.d/x\r\nBcc: evil@example.com")),
                    QJsonObject{{QStringLiteral("name"), QStringLiteral("Body")},
                                {QStringLiteral("type"), QStringLiteral("richtext")},
                                {QStringLiteral("values"), QJsonArray{QStringLiteral("b")}},
                                {QStringLiteral("embedded"), embedded}}}}});
    const QByteArray json =
        QJsonDocument(QJsonObject{{QStringLiteral("format"), 1},
                                  {QStringLiteral("title"), QStringLiteral("../..")},
                                  {QStringLiteral("views"), views},
                                  {QStringLiteral("documents"), docs}})
            .toJson();
    ExportHarness h(fx.path(QStringLiteral("Log.txt")));
    h.scan(fx.buildStore(json));
    const QString dest = fx.path(QStringLiteral("out"));
    h.exportTo(dest);
    QCOMPARE(h.summary().failed, 0);
    QCOMPARE(h.summary().written, qint64(folders.size()) + 1);
    QCOMPARE(h.summary().attachments, 6);

    // Everything is below the root, in safe parts; nothing anywhere else.
    const QStringList files = filesBelow(dest);
    QCOMPARE(files.size(), folders.size() + 1);
    for (const QString& f : files) {
        QVERIFY2(QFileInfo(dest + QLatin1Char('/') + f)
                     .canonicalFilePath()
                     .startsWith(QDir(dest).canonicalPath() + QLatin1Char('/')),
                 qPrintable(f));
        for (const QString& part : f.split(QLatin1Char('/')))
            verifySafePart(part);
    }
    QCOMPARE(QDir(dest).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("_.-..")});
    QVERIFY(!QFileInfo::exists(fx.path(QStringLiteral("x"))));
    QVERIFY(!QFileInfo::exists(fx.folder() + QStringLiteral("/../escape")));

    // The message keeps every attachment under its readable name.
    const QStringList inbox = QDir(dest + QStringLiteral("/_.-../Inbox")).entryList(QDir::Files);
    QCOMPARE(inbox.size(), 1);
    const EmlReport r = checkEml(dest + QStringLiteral("/_.-../Inbox/") + inbox[0]);
    QVERIFY2(r.ok(), qPrintable(r.defects.join(QLatin1Char('\n'))));
    QVERIFY(r.bcc.isEmpty()); // the subject's line break added no header
    QStringList attached;
    for (const EmlAttachment& a : r.attachments)
        attached.append(a.fileName + QLatin1Char('=') +
                        QString::fromUtf8(a.data.value_or(QByteArray())));
    QCOMPARE(attached.size(), 6);
    QCOMPARE(attached[0], QStringLiteral("same.txt=content of same.txt"));
    QCOMPARE(attached[1], QStringLiteral("same.txt=content of same.txt"));
    QVERIFY(attached[2].endsWith(QStringLiteral("=content of ../../x")));
    QVERIFY(attached[3].endsWith(QStringLiteral("=content of /etc/passwd")));
}

QTEST_GUILESS_MAIN(TestExportNames)
#include "tst_exportnames.moc"
