#include "FakeDialogs.h"
#include "StoreFixture.h"

#include "app/AppContext.h"
#include "app/ExportRun.h"
#include "mail/RdoSessionRegistry.h"
#include "notes/NotesObjects.h"
#include "ui/QtPorts.h"
#include "ui/frmSave.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace tarvik;
using namespace tarvik::test;

class TestSaveWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void controls();
    void runFromTheButton();
};

void TestSaveWindow::controls()
{
    AppContext context;
    FakeDialogs dialogs;
    QtEventPump pump;
    frmSave w(context, dialogs, pump, QString());
    QCOMPARE(w.windowTitle(), QStringLiteral("Export to Outlook Express .EML format"));
    QCOMPARE(w.size(), QSize(490, 171));
    QCOMPARE(w.minimumSize(), w.maximumSize());
    QVERIFY(!(w.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    const struct {
        const char* name;
        QRect place;
        const char* text;
    } controls[] = {
        {"CmdConversion", {176, 136, 145, 29}, "&Export Emails"},
        {"ExportFrame", {8, 8, 473, 121}, nullptr},
        {"ImgReadingArrow", {54, 24, 10, 16}, nullptr},
        {"LblSubject", {16, 48, 49, 13}, "Subject :"},
        {"LblProcessing", {72, 48, 395, 37}, ""},
        {"LblFoundLabel", {24, 88, 47, 13}, "Found :"},
        {"LblFound", {72, 88, 115, 13}, ""},
        {"Label1", {296, 88, 49, 13}, "Current :"},
        {"LblCurrent", {352, 88, 99, 13}, ""},
    };
    for (const auto& c : controls) {
        QWidget* widget = w.findChild<QWidget*>(QLatin1String(c.name));
        QVERIFY2(widget, c.name);
        QCOMPARE(widget->geometry(), c.place);
        if (auto* l = qobject_cast<QLabel*>(widget); l && c.text)
            QCOMPARE(l->text(), QString::fromUtf8(c.text));
        if (auto* b = qobject_cast<QPushButton*>(widget))
            QCOMPARE(b->text(), QString::fromUtf8(c.text));
    }
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("LblSaveHeader"))->text(),
             QStringLiteral("Checking Configuration..."));
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("LblSubject"))->font().bold());
    QVERIFY(w.findChild<QLabel*>(QStringLiteral("LblProcessing"))->wordWrap());
}

void TestSaveWindow::runFromTheButton()
{
    StoreFixture fx;
    const QString db = fx.buildStore(R"json({ "format": 1, "title": "Win",
      "views": [ { "name": "($Inbox)", "folder": true, "documents": ["a", "b"] } ],
      "documents": [
        { "id": "a", "items": [ { "name": "Subject", "type": "text", "values": ["first"] } ] },
        { "id": "b", "items": [ { "name": "Subject", "type": "text", "values": ["second"] } ] } ] })json");
    AppContext context;
    context.logPath = fx.path(QStringLiteral("Log.txt"));
    context.state.gDatabaseTitle = QStringLiteral("Win");
    context.state.gSelectedFolders = {FolderId{FolderKind::Standard, QStringLiteral("Inbox")},
                                      FolderId{}};
    context.state.gExportPath = fx.path(QStringLiteral("out"));
    context.state.gSession =
        context.notesSessions.create(notes::NotesSessionRegistry::dominoProgId);
    FakeDialogs dialogs;
    QtEventPump pump;

    {
        // The mail writer is missing: the window stays open for another try.
        context.rdoSessions.removeFactory(mail::rdoSessionProgId);
        frmSave w(context, dialogs, pump, db);
        w.show();
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdConversion")),
                          Qt::LeftButton);
        QCOMPARE(dialogs.messages.last().title, QStringLiteral("Error in Conversion"));
        QVERIFY(w.isVisible());
        QCOMPARE(w.result(), int(QDialog::Rejected));
        QVERIFY(w.findChild<QPushButton*>(QStringLiteral("CmdConversion"))->isEnabled());
    }
    context.rdoSessions.installDefaults();
    frmSave w(context, dialogs, pump, db);
    w.show();
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdConversion")), Qt::LeftButton);
    QCOMPARE(dialogs.messages.last().text.left(34),
             QStringLiteral("Migration Completed Successfully !"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("LblSaveHeader"))->text(),
             QStringLiteral("Saving Emails (Inbox)..."));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("LblProcessing"))->text(),
             QStringLiteral("second"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("LblFound"))->text(), QStringLiteral("2"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("LblCurrent"))->text(), QStringLiteral("1/2"));
    QVERIFY(!w.isVisible()); // unloaded
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QCOMPARE(w.run().summary().written, 2);
}

QTEST_MAIN(TestSaveWindow)
#include "tst_savewindow.moc"
