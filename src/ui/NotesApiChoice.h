#pragma once

#include "notes/capi/NotesRuntime.h"

#include <QStringList>

namespace tarvik {

struct AppContext;

// Asks for a Notes ID's password in a window of its own, with the ID's file and, after a
// refusal, Notes' reason. Answers only on the thread of the windows; elsewhere it gives
// nothing (no window can be shown there).
class NotesPasswordPrompt : public notes::capi::NotesPasswordSource {
public:
    std::optional<QString> password(const Request& request) override;
    bool asksUser() const override { return true; }
};

// Reads the window program's Notes options (--notes-api, --notes-program, --notes-ini,
// --notes-id; other arguments are left alone) and, when any is given, makes the C API
// back-end the one the scan and the export read through, its password asked with
// NotesPasswordPrompt. Returns whether it did.
bool chooseNotesApi(AppContext& context, const QStringList& arguments);

} // namespace tarvik
