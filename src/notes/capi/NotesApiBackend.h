#pragma once

#include "notes/NotesObjects.h"
#include "notes/capi/NotesRuntime.h"

#include <QString>

#include <memory>
#include <optional>

namespace tarvik::notes {
class NotesSessionRegistry;
}

// The Notes back-end over the C API of an installed Notes client or Domino server. It is
// chosen, never found by itself: installNotesApi() takes "Domino.NotesSession" away from
// the native back-end and gives "Notes.NotesSession" to this one, so the procedures open
// their sessions through it and its failures take that ProgID's path.
namespace tarvik::notes::capi {

class NotesApiBackend {
public:
    explicit NotesApiBackend(NotesApiSettings settings);
    ~NotesApiBackend();
    NotesApiBackend(const NotesApiBackend&) = delete;
    NotesApiBackend& operator=(const NotesApiBackend&) = delete;

    // Starts Notes (once) and switches to the ID (until that worked once). Throws
    // OperationError with what is missing or what Notes said. A failure of Notes itself
    // to start is given again at every later call: it is not tried twice in one process.
    std::shared_ptr<NotesRuntime> runtime();

    // A new session (each one keeps its own open databases). Throws as runtime() does.
    std::shared_ptr<NotesSession> newSession();

    const NotesApiSettings& settings() const { return m_settings; }

private:
    NotesApiSettings m_settings;
    std::shared_ptr<NotesRuntime> m_runtime;
    std::optional<QString> m_startFailure;
};

// Makes the back-end the one the procedures use (see above).
void installNotesApi(NotesSessionRegistry& registry, std::shared_ptr<NotesApiBackend> backend);

// The session of the back-end over one runtime.
std::shared_ptr<NotesSession> makeNotesApiSession(std::shared_ptr<NotesRuntime> runtime);

} // namespace tarvik::notes::capi
