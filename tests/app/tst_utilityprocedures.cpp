#include "Checks.h"
#include "FakeDialogs.h"

#include "app/UtilityProcedures.h"
#include "base/OperationError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using tarvik::test::commaList;

// The shared procedures as their callers use them: the steps they add to the
// algorithms of base.
class TestUtilityProcedures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void sortAndRemoveDuplicates_data();
    void sortAndRemoveDuplicates();
    void createFolderPath();
    void createFolderPathThatCannotSucceed();
    void browseForFolderPassesCancel();
};

void TestUtilityProcedures::sortAndRemoveDuplicates_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("folder names") << commaList("Projects,Inbox,Projects,,Archive,Inbox")
                                  << commaList("Archive,Inbox,Projects");
    QTest::newRow("case and blanks kept apart")
        << commaList("a ,A,a,A, a") << commaList(" a,A,a,a ");
    QTest::newRow("repeats apart in the input") << commaList("b,a,b,a,b") << commaList("a,b");
    QTest::newRow("one entry") << commaList("x") << commaList("x");
}

void TestUtilityProcedures::sortAndRemoveDuplicates()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, expected);
    SortAndRemoveDuplicates(input);
    QCOMPARE(input, expected);

    QStringList onlyEmpty = commaList(",,");
    QVERIFY_THROWS_EXCEPTION(OperationError, SortAndRemoveDuplicates(onlyEmpty));
}

void TestUtilityProcedures::createFolderPath()
{
    QTemporaryDir dir;
    const QString withSep = dir.path() + QStringLiteral("/a/b/c/");
    const QString withoutSep = dir.path() + QStringLiteral("/x/y/z");
    QVERIFY(CreateFolderPath(QDir::toNativeSeparators(withSep)));
    QVERIFY(CreateFolderPath(QDir::toNativeSeparators(withoutSep)));
    QVERIFY(QFileInfo(dir.path() + QStringLiteral("/a/b/c")).isDir());
    QVERIFY(QFileInfo(dir.path() + QStringLiteral("/x/y/z")).isDir());
    // Existing folders are success, not failure.
    QVERIFY(CreateFolderPath(QDir::toNativeSeparators(withoutSep)));
}

void TestUtilityProcedures::createFolderPathThatCannotSucceed()
{
    QTemporaryDir dir;
    QFile blocker(dir.path() + QStringLiteral("/file"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // A path through a regular file cannot exist as a folder, even for root.
    QVERIFY(!CreateFolderPath(dir.path() + QStringLiteral("/file/sub")));
    QVERIFY(!CreateFolderPath(dir.path() + QStringLiteral("/file")));
}

void TestUtilityProcedures::browseForFolderPassesCancel()
{
    test::FakeDialogs dialogs;
    QCOMPARE(BrowseForFolder(dialogs, QStringLiteral("Pick")), QString());
    dialogs.folderAnswers = {QStringLiteral("/srv/out")};
    QCOMPARE(BrowseForFolder(dialogs, QStringLiteral("Pick")), QStringLiteral("/srv/out"));
    QCOMPARE(dialogs.folderTitles, (QStringList{QStringLiteral("Pick"), QStringLiteral("Pick")}));
}

QTEST_GUILESS_MAIN(TestUtilityProcedures)
#include "tst_utilityprocedures.moc"
