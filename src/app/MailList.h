#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace tarvik {

// The rows of the mail list: correspondent, subject, size and date of each
// mail of the clicked folder, in the view's order. Added rows wait until
// showAddedRows(), so filling a folder of tens of thousands of mails costs one
// view update.
class MailList : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FromTo, Subject, Size, Date, ColumnCount };

    explicit MailList(QObject* parent = nullptr);

    // Removes every row, shown or waiting.
    void clear();
    // Adds one row, which waits to be shown; its cells in column order.
    void addRow(const QString& fromTo, const QString& subject, const QString& size,
                const QString& date);
    // Sets the icon of a row (counted from 0), given as an index into the small-icon list.
    void setRowIcon(int row, int icon);
    // Shows every waiting row.
    void showAddedRows();

    // Rows added so far, shown or waiting.
    int count() const { return int(m_rows.size() + m_pending.size()); }
    QString cell(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row {
        QString cells[ColumnCount];
        int icon = -1;
    };
    Row& rowAt(int row);
    const Row* rowPtr(int row) const;

    QList<Row> m_rows;    // shown
    QList<Row> m_pending; // added since the last commit
};

} // namespace tarvik
