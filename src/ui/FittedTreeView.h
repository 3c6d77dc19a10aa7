#pragma once

#include <QTreeView>

namespace tarvik {

// A tree view whose columns are as wide as their contents, as the header's
// ResizeToContents mode makes them, but measured once per change rather than at
// every layout. Qt's mode measures every row again whenever the view's geometry
// is updated, and a view that is shown or filled goes through many such updates:
// a dozen measures of a 500-folder tree were 43 % of a scan's work. Here a column is
// measured when rows are added, removed or changed, a node is expanded or
// collapsed (expandAll(), collapseAll() and expandToDepth() say nothing of it:
// expand the nodes one by one), or the font, style or icon size changes, and not
// before the view is shown. The section is Fixed: the user cannot resize it, as
// under the mode.
class FittedTreeView : public QTreeView {
    Q_OBJECT

public:
    explicit FittedTreeView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // The contents may have changed width: measure them before the view is next
    // painted (a queued call comes before the window's paint request), once
    // however many changes come first.
    void contentsChanged();
    void fitColumn();

    QList<QMetaObject::Connection> m_connections;
    bool m_stale = true;
    bool m_fitQueued = false;
};

} // namespace tarvik
