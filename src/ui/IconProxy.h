#pragma once

#include <QIdentityProxyModel>

namespace tarvik {

// Shows a logic model's icon indexes as pictures from the small-icon list, and
// folders that hold mail in bold.
class IconProxy : public QIdentityProxyModel {
    Q_OBJECT

public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
};

} // namespace tarvik
