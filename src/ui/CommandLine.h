#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QCommandLineParser;

namespace tarvik {

// What the program's command line asks for: `tarvik [FILE]`, FILE a Notes
// database that the main window takes as if the user had picked it with
// Browse (as a file manager's "Open with" passes it).
struct CommandLine {
    // The database named, absolute, with the system's separators; "" when none.
    QString database;
    // --help or -h anywhere before "--": the usage is printed and the program
    // ends, whatever else the line holds.
    bool usageAsked = false;
    // Why the line cannot be used ("" when it can); the program prints it and
    // the usage on standard error and ends with status 2.
    QString error;
};

// Adds options that other parts of the program read themselves, so that they
// and their values are not taken for a database or refused.
using MoreOptions = std::function<void(QCommandLineParser&)>;

// Reads the arguments after the program's name (Qt's own options already
// taken out by QApplication). Relative paths are taken from currentFolder.
CommandLine readCommandLine(const QStringList& arguments, const QString& currentFolder,
                            const MoreOptions& moreOptions = {});

// The usage text printed for --help, ending in a line break.
QString commandLineUsage();

} // namespace tarvik
