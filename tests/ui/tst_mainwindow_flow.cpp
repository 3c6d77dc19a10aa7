#include "FakeDialogs.h"
#include "ScriptedWindow.h"
#include "StoreFixture.h"

#include "app/AppContext.h"
#include "app/ExportRun.h"
#include "app/FolderTree.h"
#include "app/MainProcedures.h"
#include "ui/QtPorts.h"
#include "ui/frmMain.h"
#include "ui/frmSave.h"

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

using namespace tarvik;
using namespace tarvik::test;

using Window = ScriptedWindow;

class TestMainWindowFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scanFillsTheVisibleTreeAndClickLists();
    void realNotesDatabaseScansPreviewsAndExports();
};

void TestMainWindowFlow::scanFillsTheVisibleTreeAndClickLists()
{
    StoreFixture fx;
    AppContext context;
    Window w(context);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    w.dialogs.fileAnswers = {fx.buildSample()};
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdBrowse")), Qt::LeftButton);
    QVERIFY(w.findChild<QPushButton*>(QStringLiteral("CmdScan"))->isEnabled());
    QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdScan")), Qt::LeftButton);
    QCOMPARE(w.selectedPage(), 2);

    QTreeView* view = w.contactsTreeView();
    const FolderTree& tree = w.procedures.tree;
    QVERIFY(tree.nodeCount() > 8);
    for (int i = 0; i < tree.nodeCount(); ++i) {
        // Map the node to the view's model and check it is shown, ticked and
        // bold exactly when its folder holds mail.
        QModelIndex index = view->model()->index(0, 0);
        QList<int> path;
        for (int n = i; n >= 0; n = tree.indexOfKey(tree.node(n).parentKey))
            path.prepend(tree.modelIndexOfNode(n).row());
        index = QModelIndex();
        for (int row : path)
            index = view->model()->index(row, 0, index);
        QVERIFY2(index.isValid(), qPrintable(tree.node(i).key));
        QCOMPARE(index.data().toString(), tree.node(i).caption);
        QVERIFY2(!view->isRowHidden(index.row(), index.parent()), qPrintable(tree.node(i).key));
        QVERIFY2(!index.parent().isValid() || view->isExpanded(index.parent()),
                 qPrintable(tree.node(i).key));
        QCOMPARE(index.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(index.data(Qt::FontRole).value<QFont>().bold(), tree.node(i).hasDocuments);
        QVERIFY(!index.data(Qt::DecorationRole).isNull());
    }

    // A click on Inbox lists its mails with the mail icon.
    const QModelIndex inbox = view->model()->index(0, 0, view->model()->index(0, 0));
    QCOMPARE(inbox.data(role::Key).toString(), QStringLiteral("Inbox"));
    view->scrollTo(inbox);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(inbox).center());
    QCOMPARE(w.selectedTreeNode(), tree.indexOfKey(QStringLiteral("Inbox")));
    QTableView* list = w.mailList();
    QCOMPARE(list->model()->rowCount(), int(context.state.gInboxCount));
    QVERIFY(!list->model()->index(0, 0).data(Qt::DecorationRole).isNull());
    QCOMPARE(list->columnWidth(1), 240);
}

void TestMainWindowFlow::realNotesDatabaseScansPreviewsAndExports()
{
    AppContext context;
    Window w(context);
    w.Form_Load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto scan = [&](const char* name) {
        w.dialogs.fileAnswers = {QStringLiteral(TARVIK_NSF_SAMPLES "/") + QLatin1String(name)};
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdBrowse")), Qt::LeftButton);
        QTest::mouseClick(w.findChild<QPushButton*>(QStringLiteral("CmdScan")), Qt::LeftButton);
    };

    // billdrv.nsf's folder is in the tree with its count, shown by the view.
    scan("billdrv.nsf");
    QCOMPARE(w.selectedPage(), 2);
    const FolderTree& tree = w.procedures.tree;
    const int favorites = tree.indexOfKey(QStringLiteral("My Favorites"));
    QVERIFY(favorites >= 0);
    QCOMPARE(tree.node(favorites).caption, QStringLiteral("My Favorites (0)"));
    QCOMPARE(tree.node(favorites).parentKey, QStringLiteral("Folders"));
    QTreeView* view = w.contactsTreeView();
    const int foldersRow = tree.modelIndexOfNode(tree.indexOfKey(QStringLiteral("Folders"))).row();
    const QModelIndex folders = view->model()->index(foldersRow, 0, view->model()->index(0, 0));
    QVERIFY(view->isExpanded(folders));
    QCOMPARE(view->model()->index(0, 0, folders).data().toString(),
             QStringLiteral("My Favorites (0)"));

    // A real view's mails in the list: discuss.nsf's "Main View", in its stored order.
    scan("discuss.nsf");
    QCOMPARE(w.selectedPage(), 2);
    w.procedures.preview.EnumerateEmails(QStringLiteral("Main View"));
    QTableView* list = w.mailList();
    QCOMPARE(list->model()->rowCount(), 4);
    for (int row = 0; row < 4; ++row)
        QVERIFY(!list->model()->index(row, 1).data().toString().isEmpty());

    // The export window writes a real database's mails: MIMEMsg.nsf's memos, all documents.
    scan("MIMEMsg.nsf");
    QCOMPARE(w.selectedPage(), 2);
    QTemporaryDir out;
    context.logPath = out.filePath(QStringLiteral("Log.txt"));
    context.state.gSelectedFolders = {FolderId{}};
    context.state.gExportPath = out.filePath(QStringLiteral("mail"));
    FakeDialogs dialogs;
    QtEventPump pump;
    frmSave save(context, dialogs, pump, QStringLiteral(TARVIK_NSF_SAMPLES "/MIMEMsg.nsf"));
    save.run().setAllDocuments(true);
    save.show();
    QTest::mouseClick(save.findChild<QPushButton*>(QStringLiteral("CmdConversion")),
                      Qt::LeftButton);
    // One attachment of the memos is shorter in the file than its record: the closing
    // message is the warning that counts it.
    QVERIFY(dialogs.messages.last().text.startsWith(
        QStringLiteral("Migration completed with errors.\r\n3 mails were written, 0 could not be "
                       "written.\r\n1 attachments were saved with fewer bytes than the database "
                       "records for them.")));
    QCOMPARE(save.findChild<QLabel*>(QStringLiteral("LblFound"))->text(), QStringLiteral("3"));
    QCOMPARE(save.run().summary().written, 3);
    QCOMPARE(save.run().summary().attachments, 8);
    QCOMPARE(save.run().summary().attachmentsIncomplete, 1);
}

QTEST_MAIN(TestMainWindowFlow)
#include "tst_mainwindow_flow.moc"
