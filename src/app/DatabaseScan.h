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
    // when it cannot be opened or counted. Where the database has the view but
    // cannot read which documents it holds, unreadable (when given) gets why.
    qint64 CountEmails(const QString& viewName, QString* unreadable = nullptr);

    // The caption of a folder whose documents cannot be read: its name and, in
    // place of a count that would claim it empty, that it cannot be read.
    static QString unreadableCaption(const QString& name);

private:
    void addUserFolderNode(const QString& name, qint64 count, const QString& unreadable);
    void showNotesNotInstalled();

    AppState& m_state;
    notes::NotesSessionRegistry& m_sessions;
    MainWindowPort& m_window;
    DialogPort& m_dialogs;
    EventPump& m_pump;
    FolderTree& m_tree;
    // The key of each user folder's node in the scan under way, by folder name.
    QHash<QString, QString> m_userFolderKeys;
    // Why each standard folder's documents cannot be read, by its identifier.
    QHash<QString, QString> m_unreadableStandard;
};

// The text of the message shown when no Notes session can be had, its lines
// joined by carriage return and line feed.
QString notesNotInstalledText();

} // namespace tarvik
