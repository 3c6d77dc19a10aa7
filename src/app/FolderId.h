#pragma once

#include <QString>

namespace tarvik {

// What a node of the folder tree stands for.
enum class FolderKind {
    None,     // the root and the "Folders" group node: no folder of their own
    Standard, // one of the six standard folders ("Inbox", "Drafts", ...)
    User,     // a folder of the user's own
};

// One Notes folder, as the tree node that shows it names it: a standard folder
// by its identifier ("Inbox", "Sent", ...), a user folder by its view's exact
// name. A user folder called "Inbox" and the standard Inbox are two different
// folders, whatever their captions say.
struct FolderId {
    FolderKind kind = FolderKind::None;
    QString name;

    bool isFolder() const { return kind != FolderKind::None; }
    friend bool operator==(const FolderId&, const FolderId&) = default;
};

} // namespace tarvik
