#include "ui/FittedTreeView.h"

#include <QHeaderView>
#include <QStandardItemModel>
#include <QTest>

using namespace tarvik;

namespace {

// A fitted view and, beside it, a plain view of the same model whose column Qt
// sizes itself (ResizeToContents): the widths the fitted view must match.
struct Views {
    Views()
    {
        model.setHorizontalHeaderLabels({QStringLiteral("Notes Database")});
        fitted = new FittedTreeView(&window);
        plain = new QTreeView(&window);
        plain->header()->setStretchLastSection(false);
        plain->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        fitted->setGeometry(0, 0, 185, 297);
        plain->setGeometry(200, 0, 185, 297);
        for (QTreeView* v : {static_cast<QTreeView*>(fitted), plain})
            v->setModel(&model);
        window.resize(400, 300);
    }

    int fittedWidth() const { return fitted->header()->sectionSize(0); }
    int plainWidth() const { return plain->header()->sectionSize(0); }
    // Expands every node one by one, as a user or the window does.
    void expandAll(const QModelIndex& parent = {})
    {
        for (int row = 0; row < model.rowCount(parent); ++row) {
            const QModelIndex index = model.index(row, 0, parent);
            fitted->expand(index);
            plain->expand(index);
            expandAll(index);
        }
    }

    QStandardItemModel model;
    QWidget window;
    FittedTreeView* fitted = nullptr;
    QTreeView* plain = nullptr;
};

void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

QStandardItem* item(const QString& text)
{
    auto* i = new QStandardItem(text);
    i->setCheckable(true);
    return i;
}

} // namespace

class TestTreeColumn : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followsTheContentsAsQtSizesThem();
    void filledWhileHiddenIsMeasuredWhenShown();
};

void TestTreeColumn::followsTheContentsAsQtSizesThem()
{
    Views v;
    v.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v.window));
    settle();
    // Empty: as wide as the header's caption.
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    const int empty = v.fittedWidth();

    QStandardItem* root = item(QStringLiteral("Notes Email Database"));
    v.model.appendRow(root);
    QStandardItem* folders = item(QStringLiteral("Folders"));
    root->appendRow(item(QStringLiteral("Inbox (3)")));
    root->appendRow(folders);
    QStandardItem* projects = item(QStringLiteral("Projects (2)"));
    folders->appendRow(projects);
    QStandardItem* deep = item(QStringLiteral("A rather long folder name, nested deep (12345)"));
    projects->appendRow(deep);
    v.expandAll();
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    QVERIFY(v.fittedWidth() > empty);
    const int full = v.fittedWidth();

    // Collapsing hides the widest row: the column narrows, and widens again.
    v.fitted->collapse(v.model.indexFromItem(projects));
    v.plain->collapse(v.model.indexFromItem(projects));
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    QVERIFY(v.fittedWidth() < full);
    v.expandAll();
    settle();
    QCOMPARE(v.fittedWidth(), full);

    // Changed data: a longer caption, a bold font.
    root->child(0)->setText(QStringLiteral(
        "Inbox, now with a caption that is longer than any other in the tree (99999)"));
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    QVERIFY(v.fittedWidth() > full);
    QFont bold = v.fitted->font();
    bold.setBold(true);
    bold.setPointSize(bold.pointSize() + 4);
    deep->setFont(bold);
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());

    // Removed rows, then a larger font for the whole view.
    root->removeRow(0);
    folders->removeRow(0);
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    const int few = v.fittedWidth();
    QFont large = v.fitted->font();
    large.setPointSize(large.pointSize() + 6);
    v.fitted->setFont(large);
    v.plain->setFont(large);
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    QVERIFY(v.fittedWidth() > few);
}

void TestTreeColumn::filledWhileHiddenIsMeasuredWhenShown()
{
    Views v;
    v.fitted->hide();
    v.plain->hide();
    v.window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v.window));
    settle();

    // Filled row by row while hidden, as a scan fills the tree behind its page.
    QStandardItem* root = item(QStringLiteral("Notes Email Database"));
    v.model.appendRow(root);
    for (int i = 0; i < 300; ++i) {
        QStandardItem* parent = i % 3 ? root->child(root->rowCount() - 1) : root;
        parent->appendRow(item(QStringLiteral("Folder %1 (%2)").arg(i).arg(i * 37)));
        v.fitted->expand(v.model.indexFromItem(parent));
        v.plain->expand(v.model.indexFromItem(parent));
        if (i % 50 == 0)
            settle();
    }
    v.plain->show();
    settle();
    // Measured while it is shown, before anything is painted.
    v.fitted->show();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
    settle();
    QCOMPARE(v.fittedWidth(), v.plainWidth());
}

QTEST_MAIN(TestTreeColumn)
#include "tst_treecolumn.moc"
