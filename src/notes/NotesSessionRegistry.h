#pragma once

#include "notes/NotesObjects.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

namespace tarvik::notes {

// Creates Notes sessions by ProgID, as object creation by name does for the
// automation classes. Owns one factory per ProgID (compared without regard to case);
// callers ask for "Domino.NotesSession" first, then "Notes.NotesSession".
class NotesSessionRegistry {
public:
    using Factory = std::function<std::shared_ptr<NotesSession>()>;

    static inline const QString dominoProgId = QStringLiteral("Domino.NotesSession");
    static inline const QString notesProgId = QStringLiteral("Notes.NotesSession");

    // A registry in which nothing answers.
    NotesSessionRegistry() = default;
    // A registry set up by installDefaults().
    static NotesSessionRegistry withDefaults();

    // The program's own back-ends answer "Domino.NotesSession": a session opens a Notes
    // database file or a local store, whichever the file is (its sessions share one cache of
    // open files of each kind); nothing answers "Notes.NotesSession".
    void installDefaults();

    void setFactory(const QString& progId, Factory factory);
    void removeFactory(const QString& progId);
    bool hasFactory(const QString& progId) const;

    // A new session from progId's factory. Throws OperationError ("Cannot create
    // object ...") when no factory answers, it gives nothing, or it fails.
    std::shared_ptr<NotesSession> create(const QString& progId) const;

private:
    QHash<QString, Factory> m_factories;
};

} // namespace tarvik::notes
