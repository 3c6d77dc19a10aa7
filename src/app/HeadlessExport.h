#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

namespace tarvik {

struct AppContext;

// What the command-line exporter was asked to do.
struct HeadlessOptions {
    QString database;
    QString destination;
    // The folders to export; both empty for every folder. A name in folders is
    // a standard folder's identifier ("Inbox", "Sent", "Drafts", "Trash", ...)
    // or else a user folder's full name; a name in userFolders is always a
    // user folder's, so a user folder named "Inbox" can be chosen too.
    QStringList folders;
    QStringList userFolders;
    // Also every document of the database into the folder "All Documents". Without
    // folders or userFolders, that folder alone.
    bool allDocuments = false;
    bool progressBar = false;
};

// Exit statuses of the command-line exporter.
namespace exitstatus {
inline constexpr int allWritten = 0;
inline constexpr int someFailed = 1;
inline constexpr int notStarted = 2;
} // namespace exitstatus

// Scans the database and exports it with the same procedures the window runs,
// every folder selected as after a scan, or only the named ones. The texts the
// window would show in message boxes, the progress and a summary go to err.
// Returns an exit status.
int runHeadlessExport(const HeadlessOptions& options, AppContext& context, std::FILE* err);

} // namespace tarvik
