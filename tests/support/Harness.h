#pragma once

#include "FakeDialogs.h"
#include "FakeWindow.h"

#include "app/AppContext.h"
#include "app/MainProcedures.h"

#include <QStringList>

namespace tarvik {

// For QCOMPARE's failure messages.
inline char* toString(const FolderId& folder)
{
    static const char* const kinds[] = {"none", "standard", "user"};
    return qstrdup((QLatin1String(kinds[int(folder.kind)]) + QLatin1Char(':') + folder.name)
                       .toUtf8()
                       .constData());
}

} // namespace tarvik

namespace tarvik::test {

// The procedures behind the main window, wired to doubles of the screen.
struct Harness {
    AppContext context;
    FakeMainWindow window;
    FakeDialogs dialogs;
    FakeEventPump pump;
    FakeAppWindows windows;
    FakeHelpViewer help;
    MainProcedures procedures{context, window, dialogs, pump, windows, help};

    // Chooses the database through Browse, as the user does.
    void browse(const QString& path)
    {
        dialogs.fileAnswers.append(path);
        procedures.scan.CmdBrowse_Click();
    }

    // Each node as "key|caption|parent key|folder name|has documents|tick", in node order.
    QStringList treeLines() const
    {
        QStringList lines;
        const FolderTree& tree = procedures.tree;
        for (int i = 0; i < tree.nodeCount(); ++i) {
            const FolderNode& n = tree.node(i);
            lines.append(QStringList{n.key, n.caption, n.parentKey, n.folderName,
                                     n.hasDocuments ? QStringLiteral("docs") : QStringLiteral("-"),
                                     QString::number(n.tick)}
                             .join(QLatin1Char('|')));
        }
        return lines;
    }

    // Selects the node with the given key and clicks it.
    void clickNode(const QString& key)
    {
        window.selectedNode = procedures.tree.indexOfKey(key);
        procedures.preview.ContactsTreeView_Click();
    }

    // The mail list's rows, cells joined by " | ".
    QStringList listRows() const
    {
        QStringList rows;
        const MailList& list = procedures.mailList;
        for (int r = 0; r < list.count(); ++r) {
            QStringList cells;
            for (int c = 0; c < MailList::ColumnCount; ++c)
                cells.append(list.cell(r, c));
            rows.append(cells.join(QStringLiteral(" | ")));
        }
        return rows;
    }
};

} // namespace tarvik::test
