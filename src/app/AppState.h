#pragma once

#include "app/FolderId.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace tarvik::notes {
class NotesSession;
class NotesDatabase;
class NotesView;
class NotesDocument;
class NotesItem;
} // namespace tarvik::notes

namespace tarvik {

// The state the procedures share, under the names they know it by. One object,
// owned by the application and passed to the procedures explicitly.
struct AppState {
    // The current Notes session, open database, view and document. Each
    // procedure that reads the database opens it again and replaces them.
    std::shared_ptr<notes::NotesSession> gSession;
    std::shared_ptr<notes::NotesDatabase> gDatabase;
    std::shared_ptr<notes::NotesView> gView;
    std::shared_ptr<notes::NotesDocument> gDocument;

    // The database's title, read by each scan; names the export root's folder.
    QString gDatabaseTitle;

    // The document counts of the six standard views, from the last tree fill.
    qint64 gInboxCount = 0;
    qint64 gDraftsCount = 0;
    qint64 gSentCount = 0;
    qint64 gFollowUpCount = 0;
    qint64 gJunkMailCount = 0;
    qint64 gTrashCount = 0;

    // The folders of the ticked tree nodes, taken when the export is set up:
    // one entry per node and one more, the ticked nodes' folders first in node
    // order. The root and the "Folders" node stand for no folder.
    QList<FolderId> gSelectedFolders;
    // The chosen destination folder.
    QString gExportPath;

    // Message values of the document being exported.
    QString gCC;
    QString gBCC;
    QString gAttachList;
    std::shared_ptr<notes::NotesItem> gBodyItem;
};

} // namespace tarvik
