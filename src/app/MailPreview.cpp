#include "app/MailPreview.h"

#include "app/AppState.h"
#include "app/FolderTree.h"
#include "app/MailFolders.h"
#include "app/MailList.h"
#include "app/MainWindowPort.h"
#include "app/Ports.h"
#include "app/SmallIconIndex.h"
#include "base/FailureStyles.h"
#include "base/Text.h"
#include "notes/NotesObjects.h"

#include <QLocale>

#include <cmath>

namespace tarvik {

namespace {

struct ColumnItems {
    QString correspondent;
    QString date;
};

// The items that fill the From/To and Date cells, by the view's exact name: a
// standard folder's own, the recipients and the posting date for the others.
ColumnItems columnItemsOf(const QString& viewName)
{
    if (const StandardFolder* folder = standardFolderOfView(viewName))
        return {QLatin1String(folder->correspondentItem), QLatin1String(folder->dateItem)};
    return {QStringLiteral("SendTo"), QStringLiteral("PostedDate")};
}

// The date cell of a value: a date-time in this machine's local time, as the
// locale writes a short date and a long time ("14.03.08 10:32:05 CET" in
// German); any other value in its default text form.
QString listDateText(const notes::NotesValue& value, const QLocale& locale, const QString& format)
{
    if (value.kind() != notes::ValueKind::DateTime)
        return value.toText();
    if (!value.dateTime().isValid())
        return {};
    return locale.toString(value.dateTime().toLocalTime(), format);
}

// The locale's short date, a blank, its long time.
QString listDateFormat(const QLocale& locale)
{
    return locale.dateFormat(QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.timeFormat(QLocale::LongFormat);
}

} // namespace

QString sizeInKilobytes(qint64 bytes)
{
    // rint rounds halves to the even neighbour in the default rounding mode.
    const double kb = std::rint(double(bytes) / 1024.0);
    return QString::number(qint64(kb)) + QStringLiteral(" KB");
}

MailPreview::MailPreview(AppState& state, MainWindowPort& window, EventPump& pump,
                         const FolderTree& tree, MailList& list)
    : m_state(state), m_window(window), m_pump(pump), m_tree(tree), m_list(list)
{}

void MailPreview::ContactsTreeView_Click()
{
    const int node = m_window.selectedTreeNode();
    if (node < 0 || node >= m_tree.nodeCount())
        return;
    m_list.clear();
    EnumerateEmails(viewNameOfFolder(m_tree.node(node).folder()));
}

void MailPreview::EnumerateEmails(const QString& viewName)
{
    m_window.setArrowVisible(ScanArrow::Emails, true);
    m_pump.pause(10);
    m_list.clear();
    if (!viewName.isEmpty())
        fillFromView(viewName);
    m_list.showAddedRows();
    m_pump.repaint();
}

void MailPreview::fillFromView(const QString& viewName)
{
    try {
        m_state.gDatabase =
            require(m_state.gSession)->GetDatabase(QString(), m_window.databasePath());
        m_state.gView = require(m_state.gDatabase)->GetView(viewName);
        const std::shared_ptr<notes::NotesView> view = require(m_state.gView);
        std::shared_ptr<notes::NotesDocument> first = view->GetFirstDocument();
        if (first) {
            m_state.gDocument = std::move(first);
            const ColumnItems items = columnItemsOf(viewName);
            const QString subjectItem = QStringLiteral("Subject");
            // Dates as the system's regional settings write them, taken anew
            // for each list.
            const QLocale locale = QLocale::system();
            const QString dateFormat = listDateFormat(locale);
            // A view that yields fewer documents than it counts leaves no
            // current document; require() then ends the filling there.
            for (qint64 i = 0; i < view->AllEntries().Count(); ++i) {
                notes::NotesDocument& doc = *require(m_state.gDocument, "Document");
                const QString fromTo = trimBlanks(doc.GetItemValue(items.correspondent).textAt(0));
                const QString subject = trimBlanks(doc.GetItemValue(subjectItem).textAt(0));
                const QString size = sizeInKilobytes(doc.Size());
                const QString date =
                    listDateText(doc.GetItemValue(items.date).at(0), locale, dateFormat);
                m_list.addRow(fromTo, subject, size, date);
                m_list.setRowIcon(int(i), icon::Mail);
                m_state.gDocument = view->GetNextDocument(m_state.gDocument);
            }
        }
    } catch (const OperationError&) {
    }
}

} // namespace tarvik
