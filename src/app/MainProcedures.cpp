#include "app/MainProcedures.h"

#include "app/AppContext.h"

namespace tarvik {

MainProcedures::MainProcedures(AppContext& context, MainWindowPort& window, DialogPort& dialogs,
                               EventPump& pump, AppWindowsPort& windows, HelpViewerPort& help)
    : context(context), scan(context.state, context.notesSessions, window, dialogs, pump, tree),
      preview(context.state, window, pump, tree, mailList),
      exportSetup(context.state, tree, dialogs, windows),
      commands(scan, exportSetup, dialogs, windows, help)
{}

} // namespace tarvik
