#pragma once

#include "notes/NotesObjects.h"

#include <QString>

#include <memory>

namespace tarvik {
struct AppContext;
}

namespace tarvik::test {

// Where the Notes back-end made by installFaultyNotes fails. Everything else is
// answered by the local store.
struct NotesFaults {
    QString reason = QStringLiteral("Notes error: the view's index is damaged");
    // The view (by exact name) whose walk fails.
    QString view;
    // GetFirstDocument of that view throws.
    bool firstFails = false;
    // Its documents cannot be read at all: AllEntries, GetFirstDocument and reading throw.
    bool unreadable = false;
    // Its reading() says it was read in part, with these problems.
    QStringList partialProblems;
    // GetNextDocument of that view throws once the view has given this many
    // documents (0: never).
    int nextFailsAfter = 0;
    // Once the walk of this view has begun, every GetDatabase throws: the
    // database has gone away.
    QString databaseGoneAfter;
    bool databaseGone = false;
};

// Makes "Domino.NotesSession" give sessions of the local store that fail as
// faults says; faults may be changed while they are in use.
void installFaultyNotes(AppContext& context, std::shared_ptr<NotesFaults> faults);

} // namespace tarvik::test
