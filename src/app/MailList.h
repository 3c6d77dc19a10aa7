#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>

namespace tarvik {

// The rows of the mail list: correspondent, subject, size and date of each
// mail of the clicked folder, in the view's order. Rows added while the list is
// being filled are shown together when the update lock is set off, so filling
// a folder of tens of thousands of mails costs one view update.
class MailList : public QAbstractTableModel {
    Q_OBJECT

public:
    enum Column { FromTo, Subject, Size, Date, ColumnCount };

    explicit MailList(QObject* parent = nullptr);

    void Clear();
    // Appends one row; its cells in column order.
    void AddItem(const QString& fromTo, const QString& subject, const QString& size,
                 const QString& date);
    // Sets the icon of a row (counted from 0), given as an index into the small-icon list.
    void SetReportIcon(int row, int icon);
    // Locked, added rows wait; unlocked, every waiting row is shown.
    void LockUpdate(bool locked);

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
    void commitPending();

    QList<Row> m_rows;    // shown
    QList<Row> m_pending; // added since the last commit
};

} // namespace tarvik
