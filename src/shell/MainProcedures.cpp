#include "shell/MainProcedures.h"

#include "shell/AppContext.h"

namespace tarvik {

MainProcedures::MainProcedures(AppContext& context, MainWindowPort& window, DialogPort& dialogs,
                               EventPump& pump)
    : context(context), scan(context.state, context.notesSessions, window, dialogs, pump, tree),
      preview(context.state, window, pump, tree, mailList)
{}

} // namespace tarvik
