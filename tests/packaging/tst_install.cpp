#include "ToolRun.h"

#include "app/InstallLayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

namespace {

bool makeFile(const QString& path)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

} // namespace

// Where the program finds its help: beside itself in a build folder, in the data
// folder once installed; and that an install puts it there.
class TestInstall : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void helpLookup_data();
    void helpLookup();
    void installUnderAnyPrefix();
};

void TestInstall::helpLookup_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("dataFromProgram");
    QTest::addColumn<QString>("expected");

    const QString rel = QStringLiteral("../share/tarvik");
    QTest::newRow("build folder") << QStringList{QStringLiteral("bin/Help.chm")} << rel
                                  << QStringLiteral("bin/Help.chm");
    QTest::newRow("build folder, HTML only") << QStringList{QStringLiteral("bin/help/index.html")}
                                             << rel << QStringLiteral("bin/Help.chm");
    QTest::newRow("installed") << QStringList{QStringLiteral("share/tarvik/Help.chm"),
                                              QStringLiteral("share/tarvik/help/index.html")}
                               << rel << QStringLiteral("share/tarvik/Help.chm");
    QTest::newRow("installed, HTML only")
        << QStringList{QStringLiteral("share/tarvik/help/index.html")} << rel
        << QStringLiteral("share/tarvik/Help.chm");
    // A copy beside the program is what its user put there: it comes first.
    QTest::newRow("both") << QStringList{QStringLiteral("bin/Help.chm"),
                                         QStringLiteral("share/tarvik/Help.chm")}
                          << rel << QStringLiteral("bin/Help.chm");
    // Other files of the same names are not the guide.
    QTest::newRow("folders of the guide's names")
        << QStringList{QStringLiteral("bin/Help.chm/x"), QStringLiteral("bin/help/index.html/x"),
                       QStringLiteral("share/tarvik/help/index.html")}
        << rel << QStringLiteral("share/tarvik/Help.chm");
    QTest::newRow("nowhere") << QStringList{QStringLiteral("share/other/Help.chm")} << rel
                             << QStringLiteral("bin/Help.chm");
    QTest::newRow("data beside the program") << QStringList{QStringLiteral("share/tarvik/Help.chm")}
                                             << QString() << QStringLiteral("bin/Help.chm");
    QTest::newRow("data folder is the program's")
        << QStringList{QStringLiteral("share/tarvik/Help.chm")} << QStringLiteral("../bin/")
        << QStringLiteral("bin/Help.chm");
    // An absolute data folder is taken as it is (the root is put before it below).
    QTest::newRow("absolute data folder")
        << QStringList{QStringLiteral("opt/guide/help/index.html")} << QStringLiteral("/opt/guide")
        << QStringLiteral("opt/guide/Help.chm");
}

void TestInstall::helpLookup()
{
    QFETCH(QStringList, files);
    QFETCH(QString, dataFromProgram);
    QFETCH(QString, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    for (const QString& file : files)
        QVERIFY(makeFile(root.filePath(file)));
    QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("bin"))));
    if (QDir::isAbsolutePath(dataFromProgram))
        dataFromProgram = root.path() + dataFromProgram;
    QCOMPARE(install::findHelpFile(root.filePath(QStringLiteral("bin")), dataFromProgram),
             QDir::toNativeSeparators(root.filePath(expected)));
}

void TestInstall::installUnderAnyPrefix()
{
    // The build's own install rules, into a prefix of the test's choosing, stripped as
    // the package is: the installed program must find the guide the install put in.
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    const ToolRun install =
        runTool(QStringLiteral(TARVIK_CMAKE_COMMAND),
                {QStringLiteral("--install"), QStringLiteral(TARVIK_BINARY_DIR),
                 QStringLiteral("--prefix"), prefix.path(), QStringLiteral("--strip")});
    QVERIFY2(install.exitCode == 0, install.errorText().toUtf8().constData());

    const QString bin = prefix.filePath(QStringLiteral(TARVIK_INSTALL_DIR));
    for (const char* program :
         {"tarvik", "tarvik-export", "tarvik-nsfdump", "tarvik-mkstore", "tarvik-gendesc"})
        QVERIFY2(QFileInfo(bin + QLatin1Char('/') + QLatin1String(program)).isExecutable(),
                 program);
    QVERIFY(!QFileInfo::exists(bin + QStringLiteral("/Tarvik")));

    const QFileInfo help(install::findHelpFile(bin));
    const QDir helpFolder = help.absoluteDir();
    QVERIFY2(helpFolder != QDir(bin), qPrintable(help.filePath()));
    QVERIFY(QFileInfo(helpFolder.filePath(QStringLiteral("help/index.html"))).isFile());
    if (!QStringLiteral(TARVIK_HELP_CHM).isEmpty())
        QVERIFY(help.isFile());
    const QString sample = helpFolder.filePath(QStringLiteral("samples/sample-mail.nsf"));
    QVERIFY(QFileInfo(sample).isFile());

#ifdef Q_OS_LINUX
    // Every installed command has its manual page.
    const QDir man(prefix.filePath(QStringLiteral("share/man/man1")));
    const QStringList programs = QDir(bin).entryList(QDir::Files);
    QVERIFY(!programs.isEmpty());
    for (const QString& program : programs)
        QVERIFY2(QFileInfo(man.filePath(program + QStringLiteral(".1.gz"))).isFile(),
                 qPrintable(program));
#endif

    // The installed programs run from there, the export on the installed sample.
    const ToolRun usage = runTool(bin + QStringLiteral("/tarvik"), {QStringLiteral("--help")});
    QCOMPARE(usage.exitCode, 0);
    QVERIFY(usage.output.startsWith("Usage: tarvik"));
    const ToolRun exported =
        runTool(bin + QStringLiteral("/tarvik-export"),
                {QStringLiteral("--log"), prefix.filePath(QStringLiteral("out.log")), sample,
                 prefix.filePath(QStringLiteral("out"))});
    QVERIFY2(exported.exitCode == 0, exported.errorText().toUtf8().constData());
    QVERIFY(QFileInfo(prefix.filePath(QStringLiteral("out.log"))).size() > 0);
}

QTEST_GUILESS_MAIN(TestInstall)
#include "tst_install.moc"
