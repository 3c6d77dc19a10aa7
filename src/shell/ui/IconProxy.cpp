#include "shell/ui/IconProxy.h"

#include "notes/FolderTree.h"
#include "shell/ui/Artwork.h"
#include "shell/ui/SmallIcons.h"

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
