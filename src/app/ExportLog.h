#pragma once

#include <QFile>
#include <QString>

namespace tarvik {

// The export log: plain 8-bit text in the system's code page, one entry a
// line, each ended by carriage return and line feed; control characters other
// than tab inside an entry become blanks. A log that cannot be
// created or written never stops the export; it remembers why, so the run can
// tell the user.
class ExportLog {
public:
    // Creates the file or empties it.
    void open(const QString& path);
    void writeLine(const QString& line);
    void close();

    bool isOpen() const { return m_file.isOpen(); }
    // Empty while every write succeeded.
    const QString& failure() const { return m_failure; }
    const QString& path() const { return m_path; }

private:
    void fail(const QString& why);

    QFile m_file;
    QString m_path;
    QString m_failure;
};

} // namespace tarvik
