#pragma once

#include "notes/NotesObjects.h"

#include <QList>
#include <QString>

#include <memory>

namespace tarvik::nsf {
class Database;
}

// The Notes back-end over a Notes database file (.nsf), read with the reader in src/nsf:
// no Notes software is involved. A session and everything it gives are used by one thread.
//
// Views and folders give their documents as the file stores them (the view's index, the
// folder's table); a view whose documents the file does not keep throws on AllEntries, and one
// read in part says so in reading(). Items give their values as Notes' classes do: text, names,
// numbers, date-times in the zone they were written in, rich text as its plain text, a body
// kept as MIME as the text of its text part. A body kept as MIME is presented as rich text (as
// Notes presents it to its classes), whose embedded objects are the message's files. Every
// file attachment of a document is given exactly once: by the rich-text or MIME field that
// shows it, else by the document itself.
namespace tarvik::notes {

class NsfFile;

// Keeps the Notes database files of a process open, one per file (by its canonical path),
// with what was read of their views, because callers open the database again before every
// count, folder and preview. A file that has changed or been replaced since it was opened is
// opened anew. Holds the few most recently used files.
class NsfFileCache {
public:
    explicit NsfFileCache(int capacity = 4);
    ~NsfFileCache();
    NsfFileCache(const NsfFileCache&) = delete;
    NsfFileCache& operator=(const NsfFileCache&) = delete;

    // The open file at path. Throws OperationError naming the file when it cannot be opened
    // or read as a Notes database.
    std::shared_ptr<NsfFile> open(const QString& path);

    // How many times a file has been opened so far.
    qint64 filesOpened() const { return m_filesOpened; }

private:
    struct Entry {
        QString canonicalPath;
        std::shared_ptr<NsfFile> file;
    };
    QList<Entry> m_entries; // most recently used first
    int m_capacity;
    qint64 m_filesOpened = 0;
};

// The database of an open file.
std::shared_ptr<NotesDatabase> nsfDatabase(std::shared_ptr<NsfFile> file);

// The database of a file already opened by the reader (a fuzzer's bytes, a test's copy);
// name stands for the file in messages.
std::shared_ptr<NotesDatabase> nsfDatabase(std::shared_ptr<const nsf::Database> database,
                                           const QString& name);

// The session of the .nsf back-end: opens Notes database files only.
class NsfSession : public NotesSession {
public:
    explicit NsfSession(std::shared_ptr<NsfFileCache> cache = std::make_shared<NsfFileCache>());

    // server must be "" (local); path names the database file.
    std::shared_ptr<NotesDatabase> GetDatabase(const QString& server, const QString& path) override;

    const std::shared_ptr<NsfFileCache>& cache() const { return m_cache; }

private:
    std::shared_ptr<NsfFileCache> m_cache;
};

} // namespace tarvik::notes
