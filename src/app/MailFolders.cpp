#include "app/MailFolders.h"

#include "app/SmallIconIndex.h"
#include "base/FailureStyles.h"
#include "base/Text.h"
#include "notes/NotesObjects.h"

namespace tarvik {

namespace {

// In the tree's order; the fields as StandardFolder lists them.
constexpr StandardFolder table[] = {
    {"Inbox", "($Inbox)", "Inbox", icon::Inbox, &AppState::gInboxCount, "From", "PostedDate",
     "Inbox", StandardExport::Copy},
    {"Drafts", "($Drafts)", "Drafts", icon::Drafts, &AppState::gDraftsCount, "SendTo", "$Revisions",
     "Drafts", StandardExport::ListItself},
    {"Sent", "($Sent)", "Sent", icon::Outbox, &AppState::gSentCount, "SendTo", "PostedDate",
     "Sent Items", StandardExport::ListItself},
    {"Follow-Up", "($Follow-Up)", "Follow Up", icon::FollowUp, &AppState::gFollowUpCount, "SendTo",
     "PostedDate", "", StandardExport::None},
    {"JunkMail", "($JunkMail)", "Junk Mail", icon::Junk, &AppState::gJunkMailCount, "From",
     "DeliveredDate", "", StandardExport::None},
    {"Trash", "($Trash)", "Trash", icon::Trash, &AppState::gTrashCount, "SendTo", "PostedDate",
     "Deleted Items", StandardExport::Deleted},
};
// The export writes Inbox, Sent Items, Drafts and Deleted Items, in that order.
constexpr const char* exportOrder[] = {"Inbox", "Sent", "Drafts", "Trash"};

} // namespace

std::span<const StandardFolder> standardFolders()
{
    return table;
}

QList<const StandardFolder*> exportedStandardFolders()
{
    QList<const StandardFolder*> folders;
    for (const char* id : exportOrder)
        folders.append(standardFolder(QLatin1String(id)));
    return folders;
}

const StandardFolder* standardFolder(const QString& id)
{
    for (const StandardFolder& folder : table) {
        if (id == QLatin1String(folder.id))
            return &folder;
    }
    return nullptr;
}

const StandardFolder* standardFolderOfView(const QString& viewName)
{
    for (const StandardFolder& folder : table) {
        if (viewName == QLatin1String(folder.viewName))
            return &folder;
    }
    return nullptr;
}

QString viewNameOfFolder(const FolderId& folder)
{
    switch (folder.kind) {
    case FolderKind::Standard:
        if (const StandardFolder* standard = standardFolder(folder.name))
            return QLatin1String(standard->viewName);
        break;
    case FolderKind::User:
        return folder.name;
    case FolderKind::None:
        break;
    }
    return {};
}

QString userFolderOfView(const std::shared_ptr<notes::NotesView>& view)
{
    const QString name = require(view)->Name();
    const bool userFolder =
        !name.isEmpty() && !name.startsWith(QLatin1Char('(')) && view->isfolder();
    return userFolder ? name : QString();
}

QString userFolderName(const QString& viewName)
{
    const QString trimmed = trimBlanks(viewName);
    return trimmed.isEmpty() ? viewName : trimmed;
}

} // namespace tarvik
