#pragma once

#include "app/DatabaseScan.h"
#include "app/ExportSetup.h"
#include "app/FolderTree.h"
#include "app/MailList.h"
#include "app/MailPreview.h"
#include "app/WindowCommands.h"

namespace tarvik {

struct AppContext;
class AppWindowsPort;
class DialogPort;
class EventPump;
class HelpViewerPort;
class MainWindowPort;

// The procedures behind the main window and the content they fill: the folder
// tree and the mail list. The window shows the content and forwards its
// events; the procedures reach the window only through the ports.
class MainProcedures {
public:
    MainProcedures(AppContext& context, MainWindowPort& window, DialogPort& dialogs,
                   EventPump& pump, AppWindowsPort& windows, HelpViewerPort& help);

    AppContext& context;
    FolderTree tree;
    MailList mailList;
    DatabaseScan scan;
    MailPreview preview;
    ExportSetup exportSetup;
    WindowCommands commands;
};

} // namespace tarvik
