#include "Checks.h"
#include "ToolRun.h"

#include "base/OperationError.h"
#include "base/Platform.h"
#include "base/RandomGenerator.h"
#include "base/StringLists.h"
#include "base/TempFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <cstdio>

using namespace tarvik;
using tarvik::test::commaList;

// The algorithms the procedures share: sorted string lists, the random
// generator, the private temporary folder.
class TestUtility : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sortOrder_data();
    void sortOrder();
    void sortLargeLists();
    void sortRejectsBadRange();
    void duplicatesRemoved_data();
    void duplicatesRemoved();
    void duplicatesRemovalFailsWithoutEntries();
    void randomNumbersInRange();
    void randomSequenceIsTheSameInEveryRun();
    void privateTempFolder();
};

void TestUtility::sortOrder_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("upper before lower, prefix first")
        << commaList("b,B,a,ab") << commaList("B,a,ab,b");
    QTest::newRow("code units, not locale") << commaList("alpha,Zeta,Projects\\2008,Projects")
                                            << commaList("Projects,Projects\\2008,Zeta,alpha");
    QTest::newRow("one entry") << commaList("x") << commaList("x");
    QTest::newRow("repeats stay adjacent") << commaList("c,a,c,b,a") << commaList("a,a,b,c,c");
    QTest::newRow("non-ASCII by code unit")
        << QStringList{QStringLiteral("Ü"), QStringLiteral("z"), QStringLiteral("季度"),
                       QStringLiteral("A")}
        << QStringList{QStringLiteral("A"), QStringLiteral("z"), QStringLiteral("Ü"),
                       QStringLiteral("季度")};
    QTest::newRow("empty entries first") << commaList("b,,a,") << commaList(",,a,b");
}

void TestUtility::sortOrder()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, expected);
    sortStrings(input, 0, input.size() - 1);
    QCOMPARE(input, expected);
}

void TestUtility::sortLargeLists()
{
    // Sorted, reversed and all-equal inputs are the classic quicksort traps.
    for (int shape = 0; shape < 3; ++shape) {
        QStringList list;
        for (int i = 0; i < 40000; ++i) {
            const int v = shape == 0 ? i : shape == 1 ? 40000 - i : 7;
            list.append(QStringLiteral("F%1").arg(v, 6, 10, QLatin1Char('0')));
        }
        QStringList expected = list;
        std::sort(expected.begin(), expected.end());
        sortStrings(list, 0, list.size() - 1);
        QCOMPARE(list, expected);
    }
}

void TestUtility::sortRejectsBadRange()
{
    QStringList list = commaList("b,a");
    QVERIFY_THROWS_EXCEPTION(OperationError, sortStrings(list, 0, 2));
    QCOMPARE(list, commaList("b,a"));
}

void TestUtility::duplicatesRemoved_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("run of three") << commaList("a,a,a,b") << commaList("a,b");
    QTest::newRow("empty entry dropped") << commaList("a,,b") << commaList("a,b");
    QTest::newRow("one entry") << commaList("a") << commaList("a");
    QTest::newRow("only adjacent repeats") << commaList("a,b,a") << commaList("a,b,a");
    QTest::newRow("leading empties") << commaList(",,a,a") << commaList("a");
    QTest::newRow("case matters") << commaList("A,a,a") << commaList("A,a");
}

void TestUtility::duplicatesRemoved()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, expected);
    removeDuplicates(input);
    QCOMPARE(input, expected);
}

void TestUtility::duplicatesRemovalFailsWithoutEntries()
{
    QStringList empties = commaList(",,");
    QVERIFY_THROWS_EXCEPTION(OperationError, removeDuplicates(empties));
    QStringList none;
    QVERIFY_THROWS_EXCEPTION(OperationError, removeDuplicates(none));
}

void TestUtility::randomNumbersInRange()
{
    RandomGenerator random;
    QSet<int> seen;
    for (int i = 0; i < 20000; ++i) {
        const int n = random.between(1, 40000);
        QVERIFY(n >= 1 && n <= 40000);
        seen.insert(n);
        QCOMPARE(random.between(1, 1), 1);
        const int m = random.between(-3, 3);
        QVERIFY(m >= -3 && m <= 3);
    }
    QVERIFY(seen.size() > 15000); // spread over the range, not stuck
    QVERIFY(random.between(INT_MIN, INT_MAX) >= INT_MIN);
}

void TestUtility::randomSequenceIsTheSameInEveryRun()
{
    auto run = [] {
        return test::runTool(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--print-random")})
            .output;
    };
    const QByteArray first = run();
    const QByteArray second = run();
    QCOMPARE(first.count('\n'), 50);
    QCOMPARE(first, second);
    // A new generator in this process starts the same sequence again.
    RandomGenerator random;
    QByteArray here;
    for (int i = 0; i < 50; ++i)
        here += QByteArray::number(random.between(1, 40000)) + '\n';
    QCOMPARE(here, first);
    const QList<QByteArray> lines = first.split('\n');
    QVERIFY(QSet<QByteArray>(lines.begin(), lines.end()).size() > 40);
}

void TestUtility::privateTempFolder()
{
    QString made;
    {
        TempFolder temp;
        const QString path = temp.path();
        QVERIFY(path.endsWith(platform::separator()));
        QCOMPARE(temp.path(), path); // one folder for the run
        made = path;
        QVERIFY(path.startsWith(platform::systemTempFolder()));
        QVERIFY(path != platform::systemTempFolder() + platform::separator());

        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        QCOMPARE(st.st_mode & 0777, 0700u);
        QCOMPARE(st.st_uid, ::getuid());

        QFile f(path + QStringLiteral("sqm.pbs"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("From:x\r\n");
        f.close();

        // Another run gets a folder of its own.
        TempFolder other;
        QVERIFY(other.path() != path);
    }
    QVERIFY(!QFileInfo::exists(made)); // removed with its files when the run ends
}

int main(int argc, char** argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--print-random") == 0) {
        RandomGenerator random;
        for (int i = 0; i < 50; ++i)
            std::printf("%d\n", random.between(1, 40000));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestUtility t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_utility.moc"
