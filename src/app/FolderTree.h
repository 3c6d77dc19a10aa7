#pragma once

#include "app/FolderId.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QList>
#include <QString>

namespace tarvik {

// Data roles of the folder tree and mail list beyond Qt's own.
namespace role {
inline constexpr int IconIndex = Qt::UserRole + 1; // index into the small-icon list
inline constexpr int HasDocuments = Qt::UserRole + 2;
inline constexpr int Key = Qt::UserRole + 3;
inline constexpr int FolderName = Qt::UserRole + 4;
inline constexpr int NodeIndex = Qt::UserRole + 5;
} // namespace role

// One node of the folder tree.
struct FolderNode {
    QString key;
    QString caption;
    int icon = 0;
    QString parentKey; // empty for the root
    QString folderName;
    FolderKind kind = FolderKind::None;
    bool hasDocuments = false;
    int tick = 0;      // 1 means ticked
    qint64 count = -1; // documents in the folder; -1 for the root and "Folders"
    // Why the folder's documents cannot be read from the database; empty when they can.
    QString unreadable;
    // A user folder's view name exactly as the database gives it (blanks
    // included); empty for the other nodes.
    QString viewName;

    // The folder the node stands for; none for the root and "Folders".
    FolderId folder() const
    {
        switch (kind) {
        case FolderKind::Standard:
            return {kind, folderName};
        case FolderKind::User:
            return {kind, viewName};
        case FolderKind::None:
            break;
        }
        return {};
    }
};

// The folder tree: the nodes in the order they were added, each under its
// parent, with a tick box per node. A Qt item model, so the window's tree view
// shows it and the tests read it without a screen.
class FolderTree : public QAbstractItemModel {
    Q_OBJECT

public:
    explicit FolderTree(QObject* parent = nullptr);

    void clear();
    // Adds a node under the node keyed parentKey (none for the root). Throws
    // OperationError when the key is taken or the parent does not exist, as a
    // tree control refuses such a node.
    void addNode(const FolderNode& node);
    bool containsKey(const QString& key) const { return m_byKey.contains(key); }

    // Nodes in the order they were added, counted from 0.
    int nodeCount() const { return int(m_nodes.size()); }
    const FolderNode& node(int index) const { return m_nodes.at(index).data; }
    int indexOfKey(const QString& key) const { return m_byKey.value(key, -1); }
    void setTick(int index, int tick);
    QModelIndex modelIndexOfNode(int index) const;

    // QAbstractItemModel
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Entry {
        FolderNode data;
        int parent = -1; // node index of the parent, -1 for a top node
        int row = 0;     // place among its parent's children
        QList<int> children;
    };

    QList<Entry> m_nodes;
    QList<int> m_topNodes;
    QHash<QString, int> m_byKey;
};

} // namespace tarvik
