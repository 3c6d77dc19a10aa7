#include "ScriptedWindow.h"
#include "StoreFixture.h"
#include "ToolRun.h"

#include "app/AppContext.h"
#include "ui/CommandLine.h"
#include "ui/MainWindow.h"
#include "ui/NotesTab.h"
#include "ui/StartUp.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace tarvik;
using namespace tarvik::test;

namespace {

// Every named control's state as the user sees it: enabled, shown, its text.
QStringList controlStates(frmMain& w)
{
    QStringList states;
    for (QWidget* child : w.findChildren<QWidget*>()) {
        if (child->objectName().isEmpty())
            continue;
        QString state =
            child->objectName() +
            (child->isEnabled() ? QStringLiteral(" on") : QStringLiteral(" off")) +
            (child->isVisibleTo(&w) ? QStringLiteral(" shown") : QStringLiteral(" hidden"));
        if (auto* edit = qobject_cast<QLineEdit*>(child))
            state += QStringLiteral(" \"") + edit->text() + QLatin1Char('"');
        states.append(state);
    }
    for (int i = 1; i <= 6; ++i) {
        if (QAction* button = w.toolbarButton(i))
            states.append(QStringLiteral("toolbar %1 %2").arg(i).arg(button->isEnabled()));
    }
    states.append(QStringLiteral("page %1, page 2 %2")
                      .arg(w.selectedPage())
                      .arg(w.notesTab()->isPageEnabled(2)));
    states.sort();
    return states;
}

} // namespace

// The program's command line: `tarvik [FILE]` chooses the database at start as
// Browse would; nothing is read until Start Scan.
class TestStartUp : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void namedDatabaseChosenAsBrowseChoosesIt();
    void programCommandLine();
};

void TestStartUp::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    // Options with a value that another part of the program reads itself.
    QTest::addColumn<QStringList>("otherOptions");
    QTest::addColumn<QString>("database");
    QTest::addColumn<bool>("usage");
    QTest::addColumn<QString>("error");

    const QStringList none;
    const QStringList id{QStringLiteral("notes-id")};
    QTest::newRow("nothing") << none << none << QString() << false << QString();
    QTest::newRow("relative") << QStringList{QStringLiteral("mail/a.nsf")} << none
                              << QStringLiteral("/work/here/mail/a.nsf") << false << QString();
    QTest::newRow("up") << QStringList{QStringLiteral("../b.nsf")} << none
                        << QStringLiteral("/work/b.nsf") << false << QString();
    QTest::newRow("absolute, blanks") << QStringList{QStringLiteral("/data/My Mail.nsf")} << none
                                      << QStringLiteral("/data/My Mail.nsf") << false << QString();
    QTest::newRow("file named like an option")
        << QStringList{QStringLiteral("--"), QStringLiteral("--help")} << none
        << QStringLiteral("/work/here/--help") << false << QString();
    QTest::newRow("help") << QStringList{QStringLiteral("-h")} << none << QString() << true
                          << QString();
    QTest::newRow("help among others")
        << QStringList{QStringLiteral("a.nsf"), QStringLiteral("--bogus"), QStringLiteral("--help")}
        << none << QString() << true << QStringLiteral("Unknown option 'bogus'.");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("--scan"), QStringLiteral("a.nsf")} << none << QString()
        << false << QStringLiteral("Unknown option 'scan'.");
    QTest::newRow("two databases")
        << QStringList{QStringLiteral("a.nsf"), QStringLiteral("b.nsf")} << none << QString()
        << false << QStringLiteral("one database at a time, not 2");
    QTest::newRow("empty name") << QStringList{QString()} << none << QString() << false
                                << QStringLiteral("the database's name is empty");
    // Another part's option keeps its value, which is no database.
    QTest::newRow("other option's value")
        << QStringList{QStringLiteral("--notes-id"), QStringLiteral("user.id"),
                       QStringLiteral("a.nsf")}
        << id << QStringLiteral("/work/here/a.nsf") << false << QString();
    QTest::newRow("other option, value joined") << QStringList{QStringLiteral("--notes-id=user.id")}
                                                << id << QString() << false << QString();
    QTest::newRow("other option without its value")
        << QStringList{QStringLiteral("a.nsf"), QStringLiteral("--notes-id")} << id << QString()
        << false << QStringLiteral("Missing value after '--notes-id'.");
}

void TestStartUp::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, otherOptions);
    QFETCH(QString, database);
    QFETCH(bool, usage);
    QFETCH(QString, error);
    const CommandLine line =
        readCommandLine(arguments, QStringLiteral("/work/here"), [&](QCommandLineParser& parser) {
            for (const QString& name : otherOptions)
                parser.addOption(QCommandLineOption(name, QString(), QStringLiteral("VALUE")));
        });
    QCOMPARE(line.database, database);
    QCOMPARE(line.usageAsked, usage);
    QCOMPARE(line.error, error);
}

void TestStartUp::namedDatabaseChosenAsBrowseChoosesIt()
{
    StoreFixture fx;
    const QString db = fx.buildSample();

    // The program started with the database named: the main window after the splash.
    AppContext context;
    MainWindow* started = nullptr;
    StartUp startUp(
        [&] {
            auto w = std::make_unique<MainWindow>(context);
            w->setStartDatabase(db);
            started = w.get();
            return w;
        },
        0, [](int) {});
    startUp.start();
    QTRY_VERIFY(started && started->isVisible());

    // The same database picked with Browse in a window started without one.
    AppContext otherContext;
    ScriptedWindow browsed(otherContext);
    browsed.Form_Load();
    browsed.show();
    browsed.dialogs.fileAnswers = {db};
    QTest::mouseClick(browsed.findChild<QPushButton*>(QStringLiteral("CmdBrowse")), Qt::LeftButton);

    QCOMPARE(controlStates(*started), controlStates(browsed));
    QCOMPARE(started->databasePath(), db);
    QVERIFY(started->findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
    // Nothing was opened or read.
    QVERIFY(!context.state.gSession);
    QCOMPARE(started->procedures().tree.nodeCount(), 0);

    // Start Scan reads the database the command line named; its closing message is
    // answered when it opens.
    QString message;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, &answer, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            message = box->text();
            answer.stop();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start();
    QTest::mouseClick(started->findChild<QPushButton*>(QStringLiteral("CmdScan")), Qt::LeftButton);
    QCOMPARE(message, QStringLiteral("Notes Database Scan Completed Successfully"));
    QCOMPARE(started->selectedPage(), 2);
    QVERIFY(started->procedures().tree.nodeCount() > 8);
}

void TestStartUp::programCommandLine()
{
    // The usage needs no screen: no platform plugin is named and no display is set.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        bare.remove(QLatin1String(name));
    QProcess usage;
    usage.setProcessEnvironment(bare);
    usage.start(builtTool("Tarvik"),
                {QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("--help")});
    QVERIFY(usage.waitForFinished(60000));
    QCOMPARE(usage.exitStatus(), QProcess::NormalExit);
    QCOMPARE(usage.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(usage.readAllStandardOutput()), commandLineUsage());

    // A line that cannot be used ends the program with the reason, before any window.
    const ToolRun wrong =
        runTool(builtTool("Tarvik"), {QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                      QStringLiteral("a.nsf"), QStringLiteral("b.nsf")});
    QCOMPARE(wrong.exitCode, 2);
    QVERIFY2(wrong.errors.contains("tarvik: one database at a time, not 2\nUsage: tarvik"),
             wrong.errors.constData());
}

QTEST_MAIN(TestStartUp)
#include "tst_startup.moc"
