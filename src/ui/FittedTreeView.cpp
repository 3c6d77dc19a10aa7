#include "ui/FittedTreeView.h"

#include <QEvent>
#include <QHeaderView>

namespace tarvik {

FittedTreeView::FittedTreeView(QWidget* parent) : QTreeView(parent)
{
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::Fixed);
    connect(this, &QTreeView::expanded, this, &FittedTreeView::contentsChanged);
    connect(this, &QTreeView::collapsed, this, &FittedTreeView::contentsChanged);
    connect(this, &QAbstractItemView::iconSizeChanged, this, &FittedTreeView::contentsChanged);
}

void FittedTreeView::setModel(QAbstractItemModel* model)
{
    for (const QMetaObject::Connection& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    QTreeView::setModel(model);
    if (model) {
        auto watch = [this, model](auto signal) {
            m_connections.append(connect(model, signal, this, &FittedTreeView::contentsChanged));
        };
        watch(&QAbstractItemModel::rowsInserted);
        watch(&QAbstractItemModel::rowsRemoved);
        watch(&QAbstractItemModel::rowsMoved);
        watch(&QAbstractItemModel::modelReset);
        watch(&QAbstractItemModel::layoutChanged);
        watch(&QAbstractItemModel::dataChanged);
        watch(&QAbstractItemModel::headerDataChanged);
    }
    contentsChanged();
}

void FittedTreeView::showEvent(QShowEvent* event)
{
    // Shown after changes made while hidden: measured now, before the first paint.
    if (m_stale)
        fitColumn();
    QTreeView::showEvent(event);
}

void FittedTreeView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        contentsChanged();
    QTreeView::changeEvent(event);
}

void FittedTreeView::contentsChanged()
{
    m_stale = true;
    // A hidden view is measured when it is shown.
    if (!isVisible() || m_fitQueued)
        return;
    m_fitQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_fitQueued = false;
            if (m_stale)
                fitColumn();
        },
        Qt::QueuedConnection);
}

void FittedTreeView::fitColumn()
{
    if (!isVisible())
        return;
    m_stale = false;
    // The header's own measure of the contents, as its ResizeToContents mode takes
    // it, applied once.
    header()->resizeSections(QHeaderView::ResizeToContents);
}

} // namespace tarvik
