#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString sourceDir = QStringLiteral(TARVIK_SOURCE_DIR "/docs/help");
const QString htmlDir = QStringLiteral(TARVIK_BINARY_DIR "/help");

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every value of the attribute in the text, as written.
QStringList attributeValues(const QString& text, const QString& attribute)
{
    QStringList values;
    const QRegularExpression re(QStringLiteral("\\b%1\\s*=\\s*\"([^\"]*)\"").arg(attribute),
                                QRegularExpression::CaseInsensitiveOption);
    for (auto it = re.globalMatch(text); it.hasNext();)
        values.append(it.next().captured(1));
    return values;
}

// The "Local" targets of a contents or index file.
QStringList sitemapTargets(const QString& file)
{
    const QString text = QString::fromUtf8(readAll(file));
    QStringList targets;
    const QRegularExpression re(QStringLiteral("<param\\s+name=\"Local\"\\s+value=\"([^\"]*)\""),
                                QRegularExpression::CaseInsensitiveOption);
    for (auto it = re.globalMatch(text); it.hasNext();)
        targets.append(it.next().captured(1));
    return targets;
}

// The [FILES] section of the help project.
QStringList projectFiles()
{
    const QStringList lines = QString::fromUtf8(readAll(sourceDir + QStringLiteral("/Help.hhp")))
                                  .split(QLatin1Char('\n'));
    QStringList files;
    bool inFiles = false;
    for (QString line : lines) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('[')))
            inFiles = line == QLatin1String("[FILES]");
        else if (inFiles && !line.isEmpty())
            files.append(line);
    }
    return files;
}

// Whether target (a page with an optional "#id") names an existing page and,
// where given, an element of it with that id.
bool resolves(const QString& dir, const QString& target, QString* why)
{
    const QString file = target.section(QLatin1Char('#'), 0, 0);
    const QString id = target.section(QLatin1Char('#'), 1);
    const QString path = dir + QLatin1Char('/') + file;
    if (!QFileInfo(path).isFile()) {
        *why = QStringLiteral("no file ") + file;
        return false;
    }
    if (!id.isEmpty() &&
        !attributeValues(QString::fromUtf8(readAll(path)), QStringLiteral("id")).contains(id)) {
        *why = QStringLiteral("no id ") + id + QStringLiteral(" in ") + file;
        return false;
    }
    return true;
}

} // namespace

class TestHelpGuide : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void linksResolveAndEveryPageIsReached();
    void projectContentsAndIndexNameTheGuide();
    void compiledHelpHoldsTheGuide();
};

void TestHelpGuide::linksResolveAndEveryPageIsReached()
{
    const QStringList pages = QDir(htmlDir).entryList({QStringLiteral("*.html")}, QDir::Files);
    QVERIFY(pages.contains(QStringLiteral("index.html")));
    QVERIFY(pages.size() >= 8);
    QHash<QString, QStringList> linksOf;
    for (const QString& page : pages) {
        const QString text = QString::fromUtf8(readAll(htmlDir + QLatin1Char('/') + page));
        const QRegularExpression title(QStringLiteral("<title>\\s*\\S[^<]*</title>"));
        QVERIFY2(title.match(text).hasMatch(), qPrintable(page));
        const QStringList targets = attributeValues(text, QStringLiteral("href")) +
                                    attributeValues(text, QStringLiteral("src"));
        for (const QString& target : targets) {
            if (target.contains(QLatin1Char(':')))
                continue; // a web or mail address
            QString why;
            const QString local = target.startsWith(QLatin1Char('#')) ? page + target : target;
            QVERIFY2(resolves(htmlDir, local, &why), qPrintable(page + QStringLiteral(": ") + why));
            if (local.endsWith(QLatin1String(".html")) || local.contains(QLatin1String(".html#")))
                linksOf[page].append(local.section(QLatin1Char('#'), 0, 0));
        }
    }
    // Every page can be reached from the first one.
    QSet<QString> reached{QStringLiteral("index.html")};
    QStringList queue{QStringLiteral("index.html")};
    while (!queue.isEmpty()) {
        for (const QString& next : linksOf.value(queue.takeFirst())) {
            if (!reached.contains(next)) {
                reached.insert(next);
                queue.append(next);
            }
        }
    }
    for (const QString& page : pages)
        QVERIFY2(reached.contains(page), qPrintable(page));
}

void TestHelpGuide::projectContentsAndIndexNameTheGuide()
{
    // The project lists exactly the files copied beside the program, so no
    // page is left out of the compiled file.
    QStringList listed = projectFiles();
    QStringList copied = QDir(htmlDir).entryList(QDir::Files);
    listed.sort();
    copied.sort();
    QCOMPARE(listed, copied);

    const QStringList contents = sitemapTargets(sourceDir + QStringLiteral("/Help.hhc"));
    const QStringList index = sitemapTargets(sourceDir + QStringLiteral("/Help.hhk"));
    QVERIFY(index.size() >= 20);
    for (const QString& target : contents + index) {
        QString why;
        QVERIFY2(resolves(htmlDir, target, &why), qPrintable(why));
    }
    for (const QString& page : QDir(htmlDir).entryList({QStringLiteral("*.html")}, QDir::Files))
        QVERIFY2(contents.contains(page), qPrintable(page + QStringLiteral(" not in contents")));
}

void TestHelpGuide::compiledHelpHoldsTheGuide()
{
    const QString chm = QStringLiteral(TARVIK_HELP_CHM);
    if (chm.isEmpty())
        QSKIP("chmcmd was not found when the build was configured");
    const QString extractor = QStringLiteral(TARVIK_EXTRACT_CHMLIB);
    if (extractor.isEmpty())
        QSKIP("extract_chmLib (libchm-bin) is not installed");
    QVERIFY2(QFileInfo(chm).isFile(), qPrintable(chm));

    QTemporaryDir out;
    QProcess extract;
    extract.start(extractor, {chm, out.path()});
    QVERIFY(extract.waitForFinished(60000));
    QCOMPARE(extract.exitCode(), 0);
    const QStringList inside = QDir(out.path()).entryList(QDir::Files);
    QVERIFY2(inside.contains(QStringLiteral("#SYSTEM")), qPrintable(inside.join(u' ')));
    for (const QString& name : {QStringLiteral("Help.hhc"), QStringLiteral("Help.hhk")})
        QVERIFY2(inside.contains(name), qPrintable(name));
    for (const QString& file : QDir(htmlDir).entryList(QDir::Files)) {
        QVERIFY2(inside.contains(file), qPrintable(file));
        QCOMPARE(readAll(out.path() + QLatin1Char('/') + file),
                 readAll(htmlDir + QLatin1Char('/') + file));
    }
}

QTEST_GUILESS_MAIN(TestHelpGuide)
#include "tst_helpguide.moc"
