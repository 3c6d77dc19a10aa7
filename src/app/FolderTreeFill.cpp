#include "app/DatabaseScan.h"

#include "app/AppState.h"
#include "app/FolderTree.h"
#include "app/MainWindowPort.h"
#include "app/Ports.h"
#include "app/SmallIconIndex.h"
#include "base/FailureStyles.h"
#include "notes/NotesObjects.h"

namespace tarvik {

qint64 DatabaseScan::CountEmails(const QString& viewName)
{
    try {
        m_state.gDatabase =
            require(m_state.gSession)->GetDatabase(QString(), m_window.databasePath());
        m_state.gView = require(m_state.gDatabase)->GetView(viewName);
        return require(m_state.gView)->AllEntries().Count();
    } catch (const OperationError&) {
        return 0;
    }
}

void DatabaseScan::EmailTreeFill()
{
    m_tree.clear();
    m_window.setArrowVisible(ScanArrow::Emails, true);
    m_pump.pause(10);

    m_state.gInboxCount = CountEmails(QStringLiteral("($Inbox)"));
    m_state.gDraftsCount = CountEmails(QStringLiteral("($Drafts)"));
    m_state.gSentCount = CountEmails(QStringLiteral("($Sent)"));
    m_state.gFollowUpCount = CountEmails(QStringLiteral("($Follow-Up)"));
    m_state.gJunkMailCount = CountEmails(QStringLiteral("($JunkMail)"));
    m_state.gTrashCount = CountEmails(QStringLiteral("($Trash)"));

    auto node = [](const QString& key, const QString& caption, int icon, const QString& parent,
                   const QString& folderName, bool hasDocuments, qint64 count) {
        FolderNode n;
        n.key = key;
        n.caption = caption;
        n.icon = icon;
        n.parentKey = parent;
        n.folderName = folderName;
        n.hasDocuments = hasDocuments;
        n.count = count;
        return n;
    };
    const QString root = QStringLiteral("Lotus Notes Address Book");
    m_tree.addNode(
        node(root, QStringLiteral("Notes Email Database"), icon::Notesico, {}, {}, true, -1));

    const struct {
        const char* key;
        const char* caption;
        int icon;
        qint64 count;
    } standard[] = {
        {"Inbox", "Inbox (", icon::Inbox, m_state.gInboxCount},
        {"Drafts", "Drafts (", icon::Drafts, m_state.gDraftsCount},
        {"Sent", "Sent (", icon::Outbox, m_state.gSentCount},
        {"Follow-Up", "Follow Up (", icon::FollowUp, m_state.gFollowUpCount},
        {"JunkMail", "Junk Mail (", icon::Junk, m_state.gJunkMailCount},
        {"Trash", "Trash (", icon::Trash, m_state.gTrashCount},
    };
    for (const auto& s : standard) {
        const QString key = QString::fromLatin1(s.key);
        const QString caption =
            QString::fromLatin1(s.caption) + QString::number(s.count) + QLatin1Char(')');
        FolderNode n = node(key, caption, s.icon, root, key, s.count > 0, s.count);
        n.kind = FolderKind::Standard;
        m_tree.addNode(n);
    }
    const QString folders = QStringLiteral("Folders");
    m_tree.addNode(node(folders, folders, icon::Email, root, folders, false, -1));
}

} // namespace tarvik
