#pragma once

#include "app/AppState.h"
#include "app/FolderId.h"

#include <QList>
#include <QString>

#include <memory>
#include <span>

namespace tarvik::notes {
class NotesView;
}

// The folders of a mail database as the procedures know them: the six standard
// folders, each described once for the folder tree, the mail list and the export,
// and the user's own folders.
namespace tarvik {

// How the export writes the mails of a standard folder.
enum class StandardExport {
    None,       // shown and counted, never exported
    Copy,       // the message builder gets a trimmed copy of the attachment list
    ListItself, // the builder gets the attachment list itself, which it shortens
    Deleted,    // every item's first value as it stands
};

struct StandardFolder {
    const char* id;       // the tree node's key and folder name ("Follow-Up")
    const char* viewName; // the view that lists it ("($Follow-Up)")
    const char* caption;  // the tree's caption before the count ("Follow Up")
    int icon;             // index into the small-icon list (icon::)
    // Where the scan keeps the view's document count.
    qint64 AppState::*count;
    // The items of the mail list's From/To and Date columns.
    const char* correspondentItem;
    const char* dateItem;
    // The export's sub-folder and rule; the sub-folder is empty when not exported.
    const char* outputFolder;
    StandardExport exportRule;
};

// The six standard folders in the tree's order.
std::span<const StandardFolder> standardFolders();

// The exported standard folders in the order the export writes them.
QList<const StandardFolder*> exportedStandardFolders();

// The standard folder of an identifier compared exactly, or nullptr.
const StandardFolder* standardFolder(const QString& id);

// The standard folder listed by the view of exactly this name, or nullptr.
const StandardFolder* standardFolderOfView(const QString& viewName);

// The view that lists a tree node's own folder: "($Inbox)" for the standard
// folder "Inbox" and its kin, a user folder's view by its exact name, and none
// for the root and the "Folders" node, even where a user folder is named
// "Folders".
QString viewNameOfFolder(const FolderId& folder);

// The name of a view that is one of the user's own folders, as the database
// gives it; empty for any other view: one whose name is empty or starts with
// "(" (the standard folders' and the hidden views), or that is no folder.
// Throws OperationError when the view's name or kind cannot be read.
QString userFolderOfView(const std::shared_ptr<notes::NotesView>& view);

// The folder name of a user folder's view: its name without surrounding
// blanks, or the name as it stands where it holds nothing else, so that such
// a folder is never taken for the root, whose folder name is empty.
QString userFolderName(const QString& viewName);

} // namespace tarvik
