#pragma once

#include "FakeDialogs.h"
#include "FakeWindow.h"

#include "app/AppContext.h"
#include "app/MainProcedures.h"
#include "ui/QtPorts.h"
#include "ui/frmMain.h"

namespace tarvik::test {

// The real main window with the procedures behind it, its dialogs, help viewer
// and other windows replaced by doubles. For tests that link the windows.
struct ScriptedWindow : frmMain {
    explicit ScriptedWindow(AppContext& context)
        : procedures(context, *this, dialogs, pump, windows, help)
    {
        connectProcedures(procedures);
    }

    FakeDialogs dialogs;
    QtEventPump pump;
    FakeAppWindows windows;
    FakeHelpViewer help;
    MainProcedures procedures;
};

} // namespace tarvik::test
