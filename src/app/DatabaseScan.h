#pragma once

#include <QHash>
#include <QString>

namespace tarvik {

struct AppState;
class DialogPort;
class EventPump;
class FolderTree;
class MainWindowPort;

namespace notes {
class NotesSessionRegistry;
}

// Choosing a database and scanning it: the Browse and Start Scan buttons, the
// path's change, and the folder tree's fill with the document counts.
class DatabaseScan {
public:
    DatabaseScan(AppState& state, notes::NotesSessionRegistry& sessions, MainWindowPort& window,
                 DialogPort& dialogs, EventPump& pump, FolderTree& tree);

    void CmdBrowse_Click();
    // What Browse does with the file the user picked ("" when cancelled): the
    // path box shows it and Start Scan waits for the user. Also takes the
    // database named when the program starts; nothing is opened or scanned.
    void chooseDatabase(const QString& chosen);
    void txtNotesDatabaseFile_Change();
    void CmdScan_Click();

    // Empties the tree and adds the root, the six standard folders with their
    // counts and the "Folders" node.
    void EmailTreeFill();
    // The number of documents of the named view of the chosen database, or 0
    // when it cannot be opened or counted.
    qint64 CountEmails(const QString& viewName);

private:
    void addUserFolderNode(const QString& name, qint64 count);
    void showNotesNotInstalled();

    AppState& m_state;
    notes::NotesSessionRegistry& m_sessions;
    MainWindowPort& m_window;
    DialogPort& m_dialogs;
    EventPump& m_pump;
    FolderTree& m_tree;
    // The key of each user folder's node in the scan under way, by folder name.
    QHash<QString, QString> m_userFolderKeys;
};

// The text of the message shown when no Notes session can be had, its lines
// joined by carriage return and line feed.
QString notesNotInstalledText();

} // namespace tarvik
