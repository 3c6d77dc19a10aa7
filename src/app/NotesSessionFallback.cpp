#include "app/NotesSessionFallback.h"

#include "base/OperationError.h"
#include "notes/NotesSessionRegistry.h"

namespace tarvik {

using notes::NotesSessionRegistry;

OpenedNotesSession openNotesSession(const NotesSessionRegistry& sessions)
{
    OpenedNotesSession opened;
    try {
        opened.session = sessions.create(NotesSessionRegistry::dominoProgId);
        return opened;
    } catch (const OperationError&) {
    }
    try {
        opened.session = sessions.create(NotesSessionRegistry::notesProgId);
        opened.fromFallback = true;
    } catch (const OperationError& e) {
        opened.failure = e.message();
    }
    return opened;
}

} // namespace tarvik
