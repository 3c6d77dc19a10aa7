#include "app/MailList.h"

#include "app/FolderTree.h"
#include "base/OperationError.h"

namespace tarvik {

MailList::MailList(QObject* parent) : QAbstractTableModel(parent)
{}

void MailList::clear()
{
    beginResetModel();
    m_rows.clear();
    m_pending.clear();
    endResetModel();
}

void MailList::addRow(const QString& fromTo, const QString& subject, const QString& size,
                      const QString& date)
{
    m_pending.append(Row{{fromTo, subject, size, date}, -1});
}

MailList::Row& MailList::rowAt(int row)
{
    if (row < 0 || row >= count())
        throw OperationError(QStringLiteral("Invalid row index %1").arg(row));
    return row < m_rows.size() ? m_rows[row] : m_pending[row - m_rows.size()];
}

const MailList::Row* MailList::rowPtr(int row) const
{
    if (row < 0 || row >= count())
        return nullptr;
    return row < m_rows.size() ? &m_rows.at(row) : &m_pending.at(row - m_rows.size());
}

void MailList::setRowIcon(int row, int icon)
{
    rowAt(row).icon = icon;
    if (row < m_rows.size())
        Q_EMIT dataChanged(index(row, 0), index(row, 0), {role::IconIndex});
}

void MailList::showAddedRows()
{
    if (m_pending.isEmpty())
        return;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(m_pending.size()) - 1);
    if (m_rows.isEmpty())
        m_rows.swap(m_pending); // a whole folder's rows, shown without a copy
    else
        m_rows.append(std::move(m_pending));
    m_pending = {};
    endInsertRows();
}

QString MailList::cell(int row, int column) const
{
    const Row* r = rowPtr(row);
    return r && column >= 0 && column < ColumnCount ? r->cells[column] : QString();
}

int MailList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int MailList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant MailList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return r.cells[index.column()];
    case Qt::TextAlignmentRole:
        return index.column() == Size ? int(Qt::AlignRight | Qt::AlignVCenter)
                                      : int(Qt::AlignLeft | Qt::AlignVCenter);
    case role::IconIndex:
        return index.column() == FromTo && r.icon >= 0 ? QVariant(r.icon) : QVariant();
    default:
        return {};
    }
}

QVariant MailList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    static const char* const captions[] = {"From/To", "Subject", "Size", "Date"};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(captions[section]);
    if (role == Qt::TextAlignmentRole)
        return section == Size ? int(Qt::AlignRight | Qt::AlignVCenter)
                               : int(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

} // namespace tarvik
