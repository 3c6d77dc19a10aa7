#pragma once

#include "notes/capi/NotesRuntime.h"

#include <QCommandLineOption>
#include <QString>

#include <memory>
#include <optional>

class QCommandLineParser;

// How a user chooses to read through an installed Notes client or Domino server: the
// options both programs take (--notes-api, --notes-program, --notes-ini, --notes-id) and,
// for tarvik-export, where the ID's password comes from (a file, or the environment
// variable TARVIK_NOTES_PASSWORD; never the command line).
namespace tarvik::notes::capi {

// The environment variable that may hold the ID's password for tarvik-export.
inline constexpr char passwordVariable[] = "TARVIK_NOTES_PASSWORD";

class NotesApiOptions {
public:
    enum class Password { FromFileOrEnvironment, None };
    explicit NotesApiOptions(Password password);

    void addTo(QCommandLineParser& parser) const;

    // The settings when any of the options was given (each of them chooses the C API),
    // with the password source the options say; nothing when none was given. Throws
    // OperationError for a password file that cannot be read.
    std::optional<NotesApiSettings> settings(const QCommandLineParser& parser) const;

private:
    Password m_password;
    QCommandLineOption m_api;
    QCommandLineOption m_program;
    QCommandLineOption m_ini;
    QCommandLineOption m_id;
    QCommandLineOption m_passwordFile;
};

// A password known in advance; never asks anybody.
class KnownPassword : public NotesPasswordSource {
public:
    explicit KnownPassword(std::optional<QString> password) : m_password(std::move(password)) {}
    std::optional<QString> password(const Request&) override { return m_password; }
    bool asksUser() const override { return false; }

private:
    std::optional<QString> m_password;
};

// The first line of the file, without its line ending. Throws OperationError when the file
// cannot be read or is not a small text file.
QString readPasswordFile(const QString& path);

} // namespace tarvik::notes::capi
