#pragma once

#include "base/LoadedLibrary.h"
#include "base/OperationError.h"
#include "notes/capi/NotesCApi.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <thread>
#include <vector>

// The Notes runtime of one process: the C API library of an installed Notes client or
// Domino server, loaded at run time, started with NotesInitExtended and ended with NotesTerm
// once nothing uses it any more. Every object that holds a Notes handle holds the runtime
// too, so NotesTerm always comes after the last handle is closed.
namespace tarvik::notes::capi {

// Notes itself refused to start (NotesInitExtended failed): it is not tried again in the
// same process.
class NotesNotStarted : public OperationError {
public:
    using OperationError::OperationError;
};

// What the ID's password is asked of: the window asks the user, tarvik-export reads a file
// or the environment, tests answer as they are told.
class NotesPasswordSource {
public:
    struct Request {
        QString idFile;
        int attempt = 1; // 1 for the first time this ID's password is asked for
        QString refusal; // why Notes refused the last password, or why one is needed
    };

    virtual ~NotesPasswordSource() = default;
    // The password, or nothing when there is none to give (the user cancelled, no file or
    // variable holds one).
    virtual std::optional<QString> password(const Request& request) = 0;
    // Whether the source asks someone (and may be asked again after a wrong password) or
    // only knows a password it was given; one that only knows its password is not asked
    // again, and its password is tried without first trying none.
    virtual bool asksUser() const = 0;
    // How many times a refused password is asked for again.
    virtual int attempts() const { return asksUser() ? 3 : 1; }
};

// How to reach the installation.
struct NotesApiSettings {
    // The installation's program folder (where libnotes.so, nnotes.dll or libnotes.dylib
    // is); empty: looked for (notesProgramFolders()).
    QString programFolder;
    // The notes.ini to start with; empty: the installation's own.
    QString notesIni;
    // The ID file to use; empty: the one notes.ini names (KeyFileName, else
    // ServerKeyFileName).
    QString idFile;
    std::shared_ptr<NotesPasswordSource> passwordSource;
};

// The file name of the C API library on this system.
QString notesLibraryFileName();

// The folders looked in, in order, when no program folder is given: the folder in
// Notes_ExecDirectory, then the places Notes and Domino install to on this system.
QStringList notesProgramFolders();

class NotesRuntime : public std::enable_shared_from_this<NotesRuntime> {
public:
    // Loads the library, resolves every entry point and starts Notes. Throws OperationError
    // saying what is missing or what Notes reported. A runtime for a library already started
    // in this process is shared.
    static std::shared_ptr<NotesRuntime> start(const NotesApiSettings& settings);

    // Switches to the ID the settings name, or else the one notes.ini names, asking the
    // password source for its password where it has one; once that worked, does nothing.
    // Without a password source and without an ID named in the settings, Notes goes on with
    // the ID it has. Throws OperationError for an ID file that does not exist and for a
    // password that is refused or not given; it may be tried again.
    void useId(const NotesApiSettings& settings);

    ~NotesRuntime();
    NotesRuntime(const NotesRuntime&) = delete;
    NotesRuntime& operator=(const NotesRuntime&) = delete;

    // The entry points, for a call from the current thread: a thread other than the one
    // that started Notes is set up for Notes (NotesInitThread) at its first call, and ended
    // (NotesTermThread) when it ends. Throws OperationError when Notes refuses the thread.
    const EntryPoints& api();

    const QString& libraryPath() const { return m_library.path(); }
    const QString& programFolder() const { return m_programFolder; }
    // The user name of the ID switched to; empty when the installation's ID was left as it is.
    const QString& userName() const { return m_userName; }

    // Notes' text for a status, with the status number: "File does not exist (Notes error
    // 0x0103)". Never throws.
    QString errorText(STATUS status);
    // Throws OperationError "<what>: <errorText>" unless status is NOERROR.
    void check(STATUS status, const QString& what);

    // Text from Notes (LMBCS) as a QString; a NUL inside becomes a line break, as Notes
    // stores line breaks in text values.
    QString fromLmbcs(const char* data, std::size_t length);
    QString fromLmbcs(const QByteArray& bytes)
    {
        return fromLmbcs(bytes.constData(), bytes.size());
    }
    // Text for Notes: LMBCS, without a terminating NUL.
    QByteArray toLmbcs(const QString& text);

private:
    NotesRuntime() = default;
    void resolveEntryPoints();
    void initialise(const NotesApiSettings& settings);
    QString environmentString(const char* name);
    void registerThread();

    LoadedLibrary m_library;
    EntryPoints m_api;
    QString m_programFolder;
    QString m_notesIni;
    QString m_userName;
    std::thread::id m_initThread;
    bool m_initialised = false;
    bool m_idSwitched = false;

    friend struct ThreadRegistrations;
};

// Splits LMBCS text into pieces of at most maxBytes bytes without cutting a character (a
// group byte and the one or two bytes after it stay together), so each piece can be
// translated alone. The offsets where pieces begin, the first being 0.
std::vector<std::size_t> lmbcsPieces(const char* data, std::size_t length, std::size_t maxBytes);

} // namespace tarvik::notes::capi
