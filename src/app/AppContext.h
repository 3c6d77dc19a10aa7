#pragma once

#include "app/AppState.h"
#include "base/Platform.h"
#include "base/RandomGenerator.h"
#include "base/TempFolder.h"
#include "mail/RdoSessionRegistry.h"
#include "notes/NotesSessionRegistry.h"

namespace tarvik {

// Everything one run of Tarvik owns that the procedures reach: the shared
// state, the registries that create the Notes and mail-writer sessions, the
// private temporary folder, the random numbers and the log's place.
struct AppContext {
    AppState state;
    notes::NotesSessionRegistry notesSessions = notes::NotesSessionRegistry::withDefaults();
    mail::RdoSessionRegistry rdoSessions = mail::RdoSessionRegistry::withDefaults();
    TempFolder temp;
    RandomGenerator random;
    QString logPath = platform::defaultLogPath();
};

} // namespace tarvik
