#pragma once

#include <QByteArray>
#include <QStringList>

namespace tarvik::test {

// What a program run by a test gave back. exitCode is -1 when the program
// could not start, crashed or did not end in time.
struct ToolRun {
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
    QString errorText() const { return QString::fromLocal8Bit(errors); }
};

// Runs program with args and waits for it, at most timeoutMs.
ToolRun runTool(const QString& program, const QStringList& args, int timeoutMs = 120000);

// A program the build puts into its top folder (tarvik-export, tarvik-mkstore, ...).
QString builtTool(const char* name);

} // namespace tarvik::test
