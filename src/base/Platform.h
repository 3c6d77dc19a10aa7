#pragma once

#include "base/os/FileDescriptor.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

// The one place that knows how this operating system does things: where the
// temporary folder and the export log live, how folders are created, how files
// are created without following links and moved into place without replacing
// anything, which program shows the help. Platform.cpp holds what Qt does alike
// everywhere; PlatformPosix.cpp the rest for POSIX systems, PlatformWindows.cpp
// for Windows (CMake builds one of the two).
namespace tarvik::platform {

// An open file descriptor, closed when the object goes (base/os/FileDescriptor.h).
using FileDescriptor = os::FileDescriptor;

// The native path separator ("/" here, "\" on Windows).
QChar separator();

// The system's shared temporary folder, without a trailing separator.
QString systemTempFolder();

// Creates a new folder, private to this user (owner-only permissions), with an
// unpredictable name inside the system's temporary folder. Returns its path
// without a trailing separator, or an empty string on failure.
QString makePrivateTempFolder();

// Removes a folder and everything in it. Links inside it are removed, not followed.
void removeFolderTree(const QString& path);

// Creates every missing folder along path. True when the whole path exists as a
// folder afterwards.
bool createFolderPath(const QString& path);

// The fixed place of the export log.
QString defaultLogPath();

// Creates or truncates a regular file for writing without following a link at
// its final component. Not open on failure (errorText says why).
FileDescriptor openForWriteNoFollow(const QString& path, QString* errorText = nullptr);

// Opens a file for reading. Not open on failure (errorText says why).
FileDescriptor openForRead(const QString& path, QString* errorText = nullptr);

// Replaces the content of a small regular file (creating it if need be)
// without following a link at its final component. The file is overwritten
// in place and cut to the new length, never first emptied: emptying a file
// that is rewritten many times makes some file systems flush it each time.
bool writeFileContent(const QString& path, const QByteArray& content, QString* errorText = nullptr);

// Creates a new file for writing; fails when anything (file or link) already
// has that name. Not open on failure (errorText says why).
FileDescriptor createNewFile(const QString& path, QString* errorText = nullptr);

// Creates a file without a name in folder, for writing; it gets its name with
// linkAnonymousFile once it is complete, so no other name is ever seen in the
// folder. Not open where the system cannot do this (the caller then uses a
// temporary name) or on failure (errorText says why).
FileDescriptor createAnonymousFile(const QString& folder, QString* errorText = nullptr);

// Gives a file made by createAnonymousFile (still open as file) its name; fails,
// changing nothing, when that name exists.
bool linkAnonymousFile(const FileDescriptor& file, const QString& path,
                       QString* errorText = nullptr);

// Lets the memory allocator keep memory that is freed for the next use instead
// of handing it back to the system at once: a run that builds and frees
// many large buffers in turn (one message after another) then stops asking the
// system for memory at every message. The peak is unchanged; memory once used
// stays with the process until it ends. Does nothing where the allocator has
// no such setting.
void keepFreedMemoryForReuse();

// True when anything has this name: a file, a folder, a device, a link (one
// that points nowhere as well). One look at the name, never following it.
bool nameIsTaken(const QString& path);

// Moves from to to within one file system, failing (and leaving both names as
// they are) when to already exists.
bool moveNoReplace(const QString& from, const QString& to, QString* errorText = nullptr);

// What a path names, as far as telling a changed or replaced file apart needs.
struct FileIdentity {
    enum class Kind { Regular, Folder, Other };
    Kind kind = Kind::Other;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // last modification, nanoseconds since the epoch

    bool operator==(const FileIdentity&) const = default;
};

// Examines path, following links. Nothing (errorText says why) when it cannot be examined.
std::optional<FileIdentity> fileIdentity(const QString& path, QString* errorText = nullptr);

// While an instance lives, interrupt and termination signals wait: they are
// delivered when it goes. Covers the moment between creating a file and
// arming a RemoveOnInterrupt for it.
class InterruptsHeld {
public:
    InterruptsHeld();
    ~InterruptsHeld();
    InterruptsHeld(const InterruptsHeld&) = delete;
    InterruptsHeld& operator=(const InterruptsHeld&) = delete;

private:
    unsigned char m_previous[128];
};

// While an instance lives, an interrupt or termination signal removes path before the
// process ends, so a half-written file is not left behind. One instance at a time.
class RemoveOnInterrupt {
public:
    explicit RemoveOnInterrupt(const QString& path);
    ~RemoveOnInterrupt();
    RemoveOnInterrupt(const RemoveOnInterrupt&) = delete;
    RemoveOnInterrupt& operator=(const RemoveOnInterrupt&) = delete;
};

// Writes everything written so far to the file system that holds path to the
// disk. False when the file system reports an error.
bool syncFileSystem(const QString& path, QString* errorText = nullptr);

// Makes a write beyond the process's file-size limit fail with an error the
// writer reports, instead of ending the process.
void ignoreFileSizeLimitSignal();

// The longest file name (one path part) the file system takes, in the units
// nameLength counts.
constexpr int maxNameLength = 255;

// The length of a file name as the file system counts it (bytes of UTF-8 here,
// UTF-16 code units on Windows).
qsizetype nameLength(const QString& name);

// Changes what this system treats specially in a file name that is otherwise
// safe: a leading dot (a hidden file here); reserved device names and trailing
// dots or blanks on Windows.
QString adjustNameForSystem(const QString& name);

// Whether stream writes to a terminal (where a progress bar can redraw its line).
bool isTerminal(std::FILE* stream);

// The programs that show a compiled help file on this system, in the order they
// are tried.
QStringList helpViewers();

// Starts the first of viewers that is installed (a program name looked up on the
// search path, or a path) with helpFile, and returns without waiting. False when
// none is installed or none could be started.
bool startHelpViewer(const QString& helpFile, const QStringList& viewers = helpViewers());

// Font files the windows were designed with that this system has only as loose
// files, not registered with its font configuration (a free Tahoma ships with
// Wine's fonts). Those that exist.
QStringList looseFontFiles();

// The offset from UTC, in seconds, of this machine's local time at an instant. The
// time zone is read once per process (or again after tzset()), not at every call.
std::optional<int> localUtcOffset(qint64 secondsSinceEpoch);

} // namespace tarvik::platform
