#include "ScriptedWindow.h"
#include "StoreFixture.h"

#include "app/AppContext.h"
#include "app/FolderTree.h"
#include "app/MainProcedures.h"
#include "ui/QtPorts.h"
#include "ui/frmMain.h"

#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeView>

using namespace tarvik;
using namespace tarvik::test;

using Window = ScriptedWindow;

class TestMainWindowFlow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scanFillsTheVisibleTreeAndClickLists();
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

QTEST_MAIN(TestMainWindowFlow)
#include "tst_mainwindow_flow.moc"
