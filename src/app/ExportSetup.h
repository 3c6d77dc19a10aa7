#pragma once

namespace tarvik {

struct AppState;
class AppWindowsPort;
class DialogPort;
class FolderTree;

// "Start Conversion": takes the ticked folders and the destination, then opens
// the export window.
class ExportSetup {
public:
    ExportSetup(AppState& state, const FolderTree& tree, DialogPort& dialogs,
                AppWindowsPort& windows);

    void CmdStartConversion_Click();

private:
    AppState& m_state;
    const FolderTree& m_tree;
    DialogPort& m_dialogs;
    AppWindowsPort& m_windows;
};

} // namespace tarvik
