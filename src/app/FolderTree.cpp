#include "app/FolderTree.h"

#include "base/OperationError.h"

namespace tarvik {

FolderTree::FolderTree(QObject* parent) : QAbstractItemModel(parent)
{}

void FolderTree::clear()
{
    beginResetModel();
    m_nodes.clear();
    m_topNodes.clear();
    m_byKey.clear();
    endResetModel();
}

void FolderTree::addNode(const FolderNode& node)
{
    if (m_byKey.contains(node.key))
        throw OperationError(
            QStringLiteral("Key is not unique in collection: \"%1\"").arg(node.key));
    int parent = -1;
    if (!node.parentKey.isEmpty()) {
        parent = m_byKey.value(node.parentKey, -1);
        if (parent < 0)
            throw OperationError(
                QStringLiteral("Element not found: no parent node \"%1\"").arg(node.parentKey));
    }
    const int row = int(parent < 0 ? m_topNodes.size() : m_nodes.at(parent).children.size());
    const int index = int(m_nodes.size());
    beginInsertRows(parent < 0 ? QModelIndex() : modelIndexOfNode(parent), row, row);
    m_nodes.append(Entry{node, parent, row, {}});
    // Only now take the parent's list: appending may have moved the nodes.
    (parent < 0 ? m_topNodes : m_nodes[parent].children).append(index);
    m_byKey.insert(node.key, index);
    endInsertRows();
}

void FolderTree::setTick(int index, int tick)
{
    if (index < 0 || index >= m_nodes.size() || m_nodes.at(index).data.tick == tick)
        return;
    m_nodes[index].data.tick = tick;
    const QModelIndex mi = modelIndexOfNode(index);
    Q_EMIT dataChanged(mi, mi, {Qt::CheckStateRole});
}

QModelIndex FolderTree::modelIndexOfNode(int index) const
{
    if (index < 0 || index >= m_nodes.size())
        return {};
    return createIndex(m_nodes.at(index).row, 0, quintptr(index));
}

QModelIndex FolderTree::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    const QList<int>& siblings =
        parent.isValid() ? m_nodes.at(int(parent.internalId())).children : m_topNodes;
    if (row >= siblings.size())
        return {};
    return createIndex(row, 0, quintptr(siblings.at(row)));
}

QModelIndex FolderTree::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    return modelIndexOfNode(m_nodes.at(int(child.internalId())).parent);
}

int FolderTree::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(m_topNodes.size());
    if (parent.column() != 0)
        return 0;
    return int(m_nodes.at(int(parent.internalId())).children.size());
}

int FolderTree::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant FolderTree::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int n = int(index.internalId());
    const FolderNode& node = m_nodes.at(n).data;
    switch (role) {
    case Qt::DisplayRole:
        return node.caption;
    case Qt::CheckStateRole:
        return node.tick == 1 ? Qt::Checked : Qt::Unchecked;
    case Qt::ToolTipRole:
        if (node.unreadable.isEmpty())
            return {};
        return QStringLiteral("The mails of this folder cannot be read from the database: ") +
               node.unreadable;
    case role::IconIndex:
        return node.icon;
    case role::HasDocuments:
        return node.hasDocuments;
    case role::Key:
        return node.key;
    case role::FolderName:
        return node.folderName;
    case role::NodeIndex:
        return n;
    default:
        return {};
    }
}

bool FolderTree::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::CheckStateRole)
        return false;
    setTick(int(index.internalId()), value.toInt() == Qt::Checked ? 1 : 0);
    return true;
}

Qt::ItemFlags FolderTree::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

QVariant FolderTree::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Notes Database");
    return {};
}

} // namespace tarvik
