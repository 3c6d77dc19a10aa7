#include "StoreFixture.h"
#include "ToolRun.h"

#include "notes/NotesObjects.h"
#include "notes/NotesSessionRegistry.h"
#include "notes/builder/StoreBuilder.h"

#include <QTest>

using namespace tarvik;
using namespace tarvik::notes;
using namespace tarvik::test;

namespace {

ToolRun gendesc(const QStringList& args)
{
    return runTool(builtTool("tarvik-gendesc"), args);
}

// The document count of every view of a generated description, by view name.
QHash<QString, qint64> viewCounts(StoreFixture& fx, const QStringList& args)
{
    const QString description = fx.path(QStringLiteral("generated.json"));
    const QString store = fx.path(QStringLiteral("generated.nsf"));
    if (gendesc(args + QStringList{description}).exitCode != 0)
        return {};
    if (!StoreBuilder::buildFile(description, store, StoreBuilder::Existing::Replace).ok())
        return {};
    const auto db = NotesSessionRegistry::withDefaults()
                        .create(NotesSessionRegistry::dominoProgId)
                        ->GetDatabase(QString(), store);
    QHash<QString, qint64> counts;
    for (const auto& view : db->Views().value_or(NotesViewList()))
        counts.insert(view->Name(), view->AllEntries().Count());
    return counts;
}

// Documents placed once: every view but "($All)" and the follow-up view, which
// flags some of the inbox mail again.
qint64 placedOnce(const QHash<QString, qint64>& counts)
{
    qint64 sum = 0;
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        if (it.key() != QLatin1String("($Follow-Up)") && it.key() != QLatin1String("($All)"))
            sum += it.value();
    }
    return sum;
}

} // namespace

class TestGenDesc : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void largestFolderHoldsExactlyItsDocuments();
    void largestFolderNeedsAFolderAndEnoughDocuments();
    void descriptionsWithoutItStayAsTheyWere();
};

void TestGenDesc::largestFolderHoldsExactlyItsDocuments()
{
    StoreFixture fx;
    auto counts = viewCounts(fx, {QStringLiteral("--documents"), QStringLiteral("400"),
                                  QStringLiteral("--folders"), QStringLiteral("5"),
                                  QStringLiteral("--largest-folder"), QStringLiteral("300")});
    QCOMPARE(counts.value(QStringLiteral("Folder 1")), 300);
    QCOMPARE(counts.value(QStringLiteral("($All)")), 400);
    QCOMPARE(placedOnce(counts), 400);
    // The other documents are spread over the inbox and the other user folders.
    QVERIFY(counts.value(QStringLiteral("($Inbox)")) > 0);
    QVERIFY(counts.value(QStringLiteral("Folder 2")) > 0);
    QVERIFY(counts.value(QStringLiteral("Folder 3\\Sub 4")) > 0);

    // With no other user folder, the rest goes to the standard views.
    counts = viewCounts(fx, {QStringLiteral("--documents"), QStringLiteral("100"),
                             QStringLiteral("--folders"), QStringLiteral("1"),
                             QStringLiteral("--largest-folder"), QStringLiteral("40")});
    QCOMPARE(counts.value(QStringLiteral("Folder 1")), 40);
    QCOMPARE(placedOnce(counts), 100);
}

void TestGenDesc::largestFolderNeedsAFolderAndEnoughDocuments()
{
    QCOMPARE(gendesc({QStringLiteral("--documents"), QStringLiteral("10"),
                      QStringLiteral("--folders"), QStringLiteral("0"),
                      QStringLiteral("--largest-folder"), QStringLiteral("5"), QStringLiteral("-")})
                 .exitCode,
             2);
    QCOMPARE(
        gendesc({QStringLiteral("--documents"), QStringLiteral("10"),
                 QStringLiteral("--largest-folder"), QStringLiteral("11"), QStringLiteral("-")})
            .exitCode,
        2);
}

void TestGenDesc::descriptionsWithoutItStayAsTheyWere()
{
    // Benchmarks compare figures across runs, so the same options give the same
    // bytes; and the bytes are strict JSON (bodies span several lines, so their
    // line breaks must be escaped).
    const QStringList options = {QStringLiteral("--documents"),
                                 QStringLiteral("300"),
                                 QStringLiteral("--folders"),
                                 QStringLiteral("6"),
                                 QStringLiteral("--attachments"),
                                 QStringLiteral("30"),
                                 QStringLiteral("--attachment-size"),
                                 QStringLiteral("100"),
                                 QStringLiteral("--body-min"),
                                 QStringLiteral("20"),
                                 QStringLiteral("--body-max"),
                                 QStringLiteral("900"),
                                 QStringLiteral("--seed"),
                                 QStringLiteral("11"),
                                 QStringLiteral("-")};
    const ToolRun first = gendesc(options);
    QCOMPARE(first.exitCode, 0);
    QCOMPARE(gendesc(options).output, first.output);
    QVERIFY(first.output.contains("\\n"));
    QCOMPARE(StoreBuilder::check(first.output), QStringList());
}

QTEST_GUILESS_MAIN(TestGenDesc)
#include "tst_gendesc.moc"
