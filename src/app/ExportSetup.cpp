#include "app/ExportSetup.h"

#include "app/AppState.h"
#include "app/FolderTree.h"
#include "app/Ports.h"
#include "app/UtilityProcedures.h"

namespace tarvik {

ExportSetup::ExportSetup(AppState& state, const FolderTree& tree, DialogPort& dialogs,
                         AppWindowsPort& windows)
    : m_state(state), m_tree(tree), m_dialogs(dialogs), m_windows(windows)
{}

void ExportSetup::CmdStartConversion_Click()
{
    // One entry per node and one more; the ticked nodes' folders first, in
    // node order, the rest empty. Each entry names the node's own folder, so a
    // user folder called "Inbox" never stands in for the standard Inbox.
    const int n = m_tree.nodeCount();
    m_state.gSelectedFolders = QList<FolderId>(n + 1);
    int k = 0;
    for (int i = 0; i < n; ++i) {
        if (m_tree.node(i).tick == 1)
            m_state.gSelectedFolders[k++] = m_tree.node(i).folder();
    }
    if (k == 0) {
        m_dialogs.showMessage(QStringLiteral("Please Select Folders to Export"),
                              QStringLiteral("Export to Outlook Express"), MessageButtons::Ok,
                              MessageIcon::Information);
        return;
    }
    m_state.gExportPath =
        BrowseForFolder(m_dialogs, QStringLiteral("Select Path to Save PST File"));
    if (m_state.gExportPath.isEmpty())
        return;
    m_windows.showSaveWindow();
}

} // namespace tarvik
