#pragma once

#include <QString>

namespace tarvik {

struct AppState;
class EventPump;
class FolderTree;
class MailList;
class MainWindowPort;

// The mail list beside the folder tree: a click on a folder lists its mails.
// Read-only; it changes nothing in the database and nothing of the export.
class MailPreview {
public:
    MailPreview(AppState& state, MainWindowPort& window, EventPump& pump, const FolderTree& tree,
                MailList& list);

    void ContactsTreeView_Click();
    // Fills the list from the named view (none when the name is empty). Any
    // failure ends the filling quietly; the rows already added stay.
    void EnumerateEmails(const QString& viewName);

private:
    void fillFromView(const QString& viewName);

    AppState& m_state;
    MainWindowPort& m_window;
    EventPump& m_pump;
    const FolderTree& m_tree;
    MailList& m_list;
};

// A document size as the list shows it: kilobytes rounded to a whole number,
// halves to the even neighbour, then " KB".
QString sizeInKilobytes(qint64 bytes);

} // namespace tarvik
