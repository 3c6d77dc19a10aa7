#pragma once

#include <QString>

// How Notes names become parts of the paths the export writes. Every function
// returns one path part: never empty, never "." or "..", without separators or
// control characters, and within the file system's length limit, so nothing is
// ever written outside the export root.
namespace tarvik::names {

// A folder name with each of : ? \ / * " < > | replaced by "-".
QString cleanFolderName(const QString& name);

// A subject with each of : ? \ / * " < > | removed.
QString cleanSubject(const QString& subject);

// The sub-folder of a cleaned, trimmed folder name (also the export root's
// folder from the database title). Control characters become "-"; an empty
// name becomes "-".
QString folderPart(const QString& cleanedName);

// A folder part with " (n)" appended, the part cut where needed so that the
// whole stays within the length limit: the distinct name of a folder whose
// part is taken by another ("Inbox (2)").
QString numberedFolderPart(const QString& part, int n);

// The start of a message file's name from a cleaned subject, leaving room for
// reserve more characters' worth of length (the number and ".eml"). Control
// characters are removed; the result may be empty.
QString subjectPart(const QString& cleanedSubject, int reserve);

// A file name made from an attachment name as the database stores it: its
// last part after any folder or drive, without control characters, never
// empty; the extension is kept where the name must be shortened.
QString attachmentFileName(const QString& storedName);

// Cuts text to at most limit of the file system's length units, between
// characters.
QString cutToLength(const QString& text, qsizetype limit);

} // namespace tarvik::names
