#include "app/DatabaseScan.h"

#include "app/AppState.h"
#include "app/FolderTree.h"
#include "app/MailFolders.h"
#include "app/MainWindowPort.h"
#include "app/NotesSessionFallback.h"
#include "app/Ports.h"
#include "app/SmallIconIndex.h"
#include "app/UtilityProcedures.h"
#include "base/AppIdentity.h"
#include "base/FailureStyles.h"
#include "base/Text.h"
#include "notes/NotesObjects.h"
#include "notes/NotesSessionRegistry.h"

namespace tarvik {

using notes::NotesSessionRegistry;

QString notesNotInstalledText()
{
    const QStringList lines = {
        QStringLiteral("Lotus Notes NOT INSTALLED or CONFIGURED Properly."),
        QString(),
        QStringLiteral("If Lotus Notes is installed and configured properly and you still get "
                       "this error message"),
        QStringLiteral("then make sure your Lotus Notes Client is configured as stand alone "
                       "client (does not look for Domino)."),
        QStringLiteral("It is RECOMMENDED that you install a Notes Client on a fresh disk to "
                       "perform the conversion."),
        QStringLiteral("Please contact our technical team at ") + identity::supportEmail +
            QStringLiteral(" for further assistance."),
        QString(),
        QStringLiteral("Make sure you logged in under same user account through which Notes is "
                       "installed."),
    };
    return lines.join(QStringLiteral("\r\n"));
}

DatabaseScan::DatabaseScan(AppState& state, NotesSessionRegistry& sessions, MainWindowPort& window,
                           DialogPort& dialogs, EventPump& pump, FolderTree& tree)
    : m_state(state), m_sessions(sessions), m_window(window), m_dialogs(dialogs), m_pump(pump),
      m_tree(tree)
{}

void DatabaseScan::CmdBrowse_Click()
{
    chooseDatabase(m_dialogs.openFile(QStringLiteral("Notes Database (*.nsf)")));
}

void DatabaseScan::chooseDatabase(const QString& chosen)
{
    const QString before = m_window.databasePath();
    m_window.setDatabasePath(chosen);
    if (chosen != before)
        txtNotesDatabaseFile_Change();
    m_window.setPageEnabled(2, false);
    // The tree belongs to the database scanned last, not to the file now
    // chosen, so exporting from it waits for the next scan, as the preview
    // page does.
    m_window.setToolbarButtonEnabled(4, false);
    m_window.setArrowVisible(ScanArrow::Reading, false);
    m_window.setArrowVisible(ScanArrow::Emails, false);
    m_window.setArrowVisible(ScanArrow::MailFolder, false);
    if (chosen.isEmpty())
        m_window.setScanFrameVisible(false);
}

void DatabaseScan::txtNotesDatabaseFile_Change()
{
    const bool hasPath = !m_window.databasePath().isEmpty();
    m_window.setScanButtonEnabled(hasPath);
    m_window.setToolbarButtonEnabled(2, hasPath);
}

void DatabaseScan::showNotesNotInstalled()
{
    m_dialogs.showMessage(notesNotInstalledText(), QStringLiteral("Notes Not Installed/Configured"),
                          MessageButtons::Ok, MessageIcon::Information);
}

void DatabaseScan::CmdScan_Click()
{
    if (m_window.selectedPage() != 1)
        return;
    const QString path = m_window.databasePath();
    if (path.isEmpty()) {
        m_dialogs.showMessage(
            QStringLiteral("Please select a Notes database and click Start Scan to proceed."),
            QStringLiteral("Select Notes Database"), MessageButtons::Ok, MessageIcon::Information);
        m_window.selectPage(1);
        m_window.setBrowseButtonEnabled(true);
        return;
    }

    m_window.setArrowVisible(ScanArrow::Reading, true);
    m_window.setFolderNameCaption(QString());
    m_window.setScanFrameVisible(true);
    m_window.setArrowVisible(ScanArrow::MailFolder, true);
    m_pump.pause(10);

    // A new session, and nothing of the last scan's database: a database that
    // cannot be opened must not leave the previous one in its place.
    m_state.gSession.reset();
    m_state.gDatabase.reset();
    m_state.gView.reset();
    m_state.gDocument.reset();
    m_state.gDatabaseTitle.clear();
    m_userFolderKeys.clear();
    const OpenedNotesSession opened = openNotesSession(m_sessions);
    if (!opened.session) {
        showNotesNotInstalled();
        return;
    }
    m_state.gSession = opened.session;
    // With the first ProgID's session every step is skipped on failure; with the
    // second's, the first failure up to the walk of the views ends the scan.
    StepRunner steps(opened.fromFallback ? StepRunner::Mode::Guard : StepRunner::Mode::Skip);
    try {
        steps.run([&] { EmailTreeFill(); });
        steps.run(
            [&] { m_state.gDatabase = require(m_state.gSession)->GetDatabase(QString(), path); });
        steps.run([&] { m_state.gDatabaseTitle = require(m_state.gDatabase)->Title(); });

        std::optional<notes::NotesViewList> views;
        steps.run([&] { views = require(m_state.gDatabase)->Views(); });
        if (!views) {
            m_dialogs.showMessage(
                QStringLiteral("No Data Found in NSF file or NSF file is encrypted"),
                identity::applicationTitle, MessageButtons::Ok, MessageIcon::None);
            m_window.setScanFrameVisible(false);
            m_state.gSession.reset();
            return;
        }

        QStringList folders;
        folders.resize(views->size());
        int taken = 0;
        for (const std::shared_ptr<notes::NotesView>& view : std::as_const(*views)) {
            steps.setMode(StepRunner::Mode::Skip);
            QString name;
            // A view whose name or kind cannot be read is passed over.
            if (!steps.run([&] { name = userFolderOfView(view); }) || name.isEmpty())
                continue;
            folders[taken++] = name;
            m_window.setFolderNameCaption(name);
            m_pump.repaint();
        }

        if (taken > 0) {
            steps.run([&] { SortAndRemoveDuplicates(folders); });
            for (const QString& name : std::as_const(folders)) {
                if (name.isEmpty())
                    continue;
                // Counted by the view's exact name: a name with surrounding
                // blanks is still found.
                QString unreadable;
                const qint64 n = CountEmails(name, &unreadable);
                const QStringList parts = name.split(QLatin1Char('\\'));
                const QString shown = parts.size() >= 2 ? parts.last() : name;
                m_window.setFolderNameCaption(unreadable.isEmpty() ? shown + QStringLiteral(" (") +
                                                                         QString::number(n) +
                                                                         QStringLiteral(" Emails)")
                                                                   : unreadableCaption(shown));
                m_pump.repaint();
                steps.run([&] { addUserFolderNode(name, n, unreadable); });
            }
        }

        steps.run([&] {
            for (int i = 0; i < m_tree.nodeCount(); ++i)
                m_tree.setTick(i, 1);
        });
        m_dialogs.showMessage(QStringLiteral("Notes Database Scan Completed Successfully"),
                              QStringLiteral("Scan Completed..."), MessageButtons::Ok,
                              MessageIcon::Information);
        m_window.setToolbarButtonEnabled(4, true);
        m_window.setPageEnabled(2, true);
        m_window.selectPage(2);
    } catch (const StepRunner::GuardTripped&) {
        showNotesNotInstalled();
    }
}

qint64 DatabaseScan::CountEmails(const QString& viewName, QString* unreadable)
{
    try {
        m_state.gDatabase =
            require(m_state.gSession)->GetDatabase(QString(), m_window.databasePath());
        m_state.gView = require(m_state.gDatabase)->GetView(viewName);
        require(m_state.gView);
    } catch (const OperationError&) {
        return 0;
    }
    try {
        return m_state.gView->AllEntries().Count();
    } catch (const OperationError& e) {
        if (unreadable)
            *unreadable = e.message();
        return 0;
    }
}

QString DatabaseScan::unreadableCaption(const QString& name)
{
    return name + QStringLiteral(" (cannot be read)");
}

void DatabaseScan::EmailTreeFill()
{
    m_tree.clear();
    m_window.setArrowVisible(ScanArrow::Emails, true);
    m_pump.pause(10);

    m_unreadableStandard.clear();
    for (const StandardFolder& folder : standardFolders()) {
        QString unreadable;
        m_state.*folder.count = CountEmails(QLatin1String(folder.viewName), &unreadable);
        if (!unreadable.isEmpty())
            m_unreadableStandard.insert(QLatin1String(folder.id), unreadable);
    }

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
    for (const StandardFolder& folder : standardFolders()) {
        const QString id = QLatin1String(folder.id);
        const qint64 count = m_state.*folder.count;
        const QString unreadable = m_unreadableStandard.value(id);
        const QString caption = unreadable.isEmpty()
                                    ? QLatin1String(folder.caption) + QStringLiteral(" (") +
                                          QString::number(count) + QLatin1Char(')')
                                    : unreadableCaption(QLatin1String(folder.caption));
        FolderNode n = node(id, caption, folder.icon, root, id, count > 0, count);
        n.kind = FolderKind::Standard;
        n.unreadable = unreadable;
        m_tree.addNode(n);
    }
    const QString folders = QStringLiteral("Folders");
    m_tree.addNode(node(folders, folders, icon::Email, root, folders, false, -1));
}

void DatabaseScan::addUserFolderNode(const QString& name, qint64 count, const QString& unreadable)
{
    const QStringList parts = name.split(QLatin1Char('\\'));
    const QString leaf = parts.size() >= 2 ? parts.last() : name;

    // Every node gets a key of its own: the full folder name, made unique
    // where it meets a fixed node's key or a name that differs only in blanks.
    QString key = name;
    for (int n = 2; m_tree.containsKey(key); ++n)
        key = name + QStringLiteral(" (%1)").arg(n);

    // Under the nearest listed ancestor, else under "Folders".
    QString parentKey = QStringLiteral("Folders");
    for (qsizetype levels = parts.size() - 1; levels >= 1; --levels) {
        const QString ancestor = parts.mid(0, levels).join(QLatin1Char('\\'));
        const auto it = m_userFolderKeys.constFind(ancestor);
        if (it != m_userFolderKeys.constEnd()) {
            parentKey = it.value();
            break;
        }
    }

    FolderNode node;
    node.key = key;
    node.caption = unreadable.isEmpty()
                       ? leaf + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')')
                       : unreadableCaption(leaf);
    node.unreadable = unreadable;
    node.icon = icon::Email;
    node.parentKey = parentKey;
    node.folderName = userFolderName(name);
    node.kind = FolderKind::User;
    node.hasDocuments = count > 0;
    node.count = count;
    node.viewName = name;
    m_tree.addNode(node);
    m_userFolderKeys.insert(name, key);
}

} // namespace tarvik
