#pragma once

#include <QString>

#include <memory>

namespace tarvik {

namespace notes {
class NotesSession;
class NotesSessionRegistry;
} // namespace notes

// The Notes session a procedure opens: the one "Domino.NotesSession" gives, else
// the one "Notes.NotesSession" gives.
struct OpenedNotesSession {
    std::shared_ptr<notes::NotesSession> session; // nullptr when neither gave one
    bool fromFallback = false;                    // given by "Notes.NotesSession"
    QString failure; // why "Notes.NotesSession" gave none, when neither did
};

OpenedNotesSession openNotesSession(const notes::NotesSessionRegistry& sessions);

} // namespace tarvik
