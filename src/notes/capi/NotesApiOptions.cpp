#include "notes/capi/NotesApiOptions.h"

#include "base/OperationError.h"

#include <QCommandLineParser>
#include <QFile>

namespace tarvik::notes::capi {

namespace {

// A password file is one line; anything much larger is the wrong file.
constexpr qint64 maxPasswordFile = 4096;

} // namespace

NotesApiOptions::NotesApiOptions(Password password)
    : m_password(password),
      m_api(QStringLiteral("notes-api"),
            QStringLiteral("Read the database through the installed Notes client or Domino "
                           "server (its C API) instead of directly. Its program folder is looked "
                           "for in Notes_ExecDirectory and the usual places.")),
      m_program(QStringLiteral("notes-program"),
                QStringLiteral("The program folder of the Notes client or Domino server, where "
                               "libnotes.so (nnotes.dll) is. Implies --notes-api."),
                QStringLiteral("FOLDER")),
      m_ini(QStringLiteral("notes-ini"),
            QStringLiteral("The notes.ini Notes starts with (default: the installation's own). "
                           "Implies --notes-api."),
            QStringLiteral("FILE")),
      m_id(QStringLiteral("notes-id"),
           QStringLiteral("The Notes ID to read with (default: the one notes.ini names). Implies "
                          "--notes-api."),
           QStringLiteral("FILE")),
      m_passwordFile(QStringLiteral("notes-password-file"),
                     QStringLiteral("Read the ID's password from the first line of FILE (else "
                                    "from the environment variable %1). Implies --notes-api.")
                         .arg(QLatin1String(passwordVariable)),
                     QStringLiteral("FILE"))
{}

void NotesApiOptions::addTo(QCommandLineParser& parser) const
{
    parser.addOption(m_api);
    parser.addOption(m_program);
    parser.addOption(m_ini);
    parser.addOption(m_id);
    if (m_password == Password::FromFileOrEnvironment)
        parser.addOption(m_passwordFile);
}

std::optional<NotesApiSettings> NotesApiOptions::settings(const QCommandLineParser& parser) const
{
    const bool withFile =
        m_password == Password::FromFileOrEnvironment && parser.isSet(m_passwordFile);
    if (!parser.isSet(m_api) && !parser.isSet(m_program) && !parser.isSet(m_ini) &&
        !parser.isSet(m_id) && !withFile)
        return std::nullopt;
    NotesApiSettings settings;
    settings.programFolder = parser.value(m_program);
    settings.notesIni = parser.value(m_ini);
    settings.idFile = parser.value(m_id);
    if (m_password == Password::FromFileOrEnvironment) {
        if (withFile) {
            settings.passwordSource =
                std::make_shared<KnownPassword>(readPasswordFile(parser.value(m_passwordFile)));
        } else if (qEnvironmentVariableIsSet(passwordVariable)) {
            settings.passwordSource =
                std::make_shared<KnownPassword>(qEnvironmentVariable(passwordVariable));
        }
    }
    return settings;
}

QString readPasswordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw OperationError(
            QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString()));
    if (file.isSequential() || file.size() > maxPasswordFile)
        throw OperationError(
            QStringLiteral("The password file %1 is not a file of one line").arg(path));
    const QByteArray bytes = file.read(maxPasswordFile + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > maxPasswordFile)
        throw OperationError(
            QStringLiteral("Cannot read the password file %1: %2").arg(path, file.errorString()));
    qsizetype end = bytes.indexOf('\n');
    if (end < 0)
        end = bytes.size();
    if (end > 0 && bytes[end - 1] == '\r')
        --end;
    return QString::fromUtf8(bytes.left(end));
}

} // namespace tarvik::notes::capi
