// The back-end and the stand-in read the C API reference apart from each other. Every
// structure size, field offset, type width and constant both of them declare must come out
// the same, so that a later change to one reading shows here rather than as a wrong value
// read from a real installation.

#include "LayoutFacts.h"

#include <QTest>

#include <map>

class TestCapiLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void bothReadingsAgree();
};

void TestCapiLayout::bothReadingsAgree()
{
    const std::vector<LayoutFact> backend = backendLayout();
    std::map<std::string, std::uint64_t> standin;
    for (const LayoutFact& fact : standinLayout())
        standin.emplace(fact.name, fact.value);
    QCOMPARE(standin.size(), backend.size()); // each name once, the same names

    QStringList differences;
    for (const LayoutFact& fact : backend) {
        const auto found = standin.find(fact.name);
        if (found == standin.end())
            differences << QStringLiteral("%1: only in the back-end")
                               .arg(QString::fromStdString(fact.name));
        else if (found->second != fact.value)
            differences << QStringLiteral("%1: back-end %2, stand-in %3")
                               .arg(QString::fromStdString(fact.name))
                               .arg(fact.value)
                               .arg(found->second);
    }
    if (!differences.isEmpty())
        QFAIL(qPrintable(differences.join(QLatin1Char('\n'))));
}

QTEST_APPLESS_MAIN(TestCapiLayout)
#include "tst_capilayout.moc"
