#include "ui/IconProxy.h"

#include "app/FolderTree.h"
#include "ui/Artwork.h"
#include "ui/SmallIcons.h"

namespace tarvik {

QVariant IconProxy::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole) {
        const QVariant icon = QIdentityProxyModel::data(index, role::IconIndex);
        return icon.isValid() ? QVariant(smallIcons().icon(icon.toInt())) : QVariant();
    }
    if (role == Qt::FontRole && QIdentityProxyModel::data(index, role::HasDocuments).toBool()) {
        static const QFont bold = art::tahoma(8.25, true);
        return bold;
    }
    return QIdentityProxyModel::data(index, role);
}

} // namespace tarvik
