#include "mail/RdoSession.h"

#include "base/OperationError.h"
#include "mail/SessionState.h"

#include <QCoreApplication>
#include <QRandomGenerator>

namespace tarvik::mail {

void SessionState::requireLogon(quint64 logonNumber) const
{
    if (!loggedOn || logon != logonNumber)
        throw OperationError(QStringLiteral("The mail session is logged off."));
}

QDateTime SessionState::now() const
{
    return options.clock ? options.clock() : QDateTime::currentDateTime();
}

QString SessionState::newMessageId()
{
    ++messageCount;
    if (options.messageIdGenerator)
        return options.messageIdGenerator();
    static const qint64 processId = QCoreApplication::applicationPid();
    // Time, process and a per-session count keep ids apart on this machine;
    // the random part keeps them apart across machines and sessions.
    return QStringLiteral("%1.%2.%3.%4@tarvik.invalid")
        .arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss")))
        .arg(processId)
        .arg(messageCount)
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

RdoSession::RdoSession(RdoSessionOptions options) : m_state(std::make_shared<SessionState>())
{
    m_state->options = std::move(options);
}

RdoSession::~RdoSession()
{
    // Items still held by a caller must not write through a released session.
    m_state->loggedOn = false;
}

void RdoSession::Logon()
{
    if (m_state->options.logonError)
        throw OperationError(*m_state->options.logonError);
    if (m_state->loggedOn)
        return;
    m_state->loggedOn = true;
    ++m_state->logon;
}

void RdoSession::Logoff()
{
    if (!m_state->loggedOn)
        throw OperationError(QStringLiteral("The mail session is not logged on."));
    m_state->loggedOn = false;
}

bool RdoSession::LoggedOn() const
{
    return m_state->loggedOn;
}

std::shared_ptr<RdoFolder> RdoSession::GetDefaultFolder(int folderType)
{
    if (!m_state->loggedOn)
        throw OperationError(QStringLiteral("The mail session is not logged on."));
    if (folderType != olFolderInbox) {
        throw OperationError(
            QStringLiteral("Folder type %1 is not available; only the Inbox (6) is.")
                .arg(folderType));
    }
    return std::make_shared<RdoFolder>(m_state, m_state->logon);
}

RdoFolder::RdoFolder(std::shared_ptr<SessionState> state, quint64 logon)
    : m_state(std::move(state)), m_logon(logon)
{}

std::shared_ptr<RdoItems> RdoFolder::Items()
{
    m_state->requireLogon(m_logon);
    return std::make_shared<RdoItems>(m_state, m_logon);
}

RdoItems::RdoItems(std::shared_ptr<SessionState> state, quint64 logon)
    : m_state(std::move(state)), m_logon(logon)
{}

std::shared_ptr<RdoMail> RdoItems::Add(int itemType)
{
    m_state->requireLogon(m_logon);
    if (itemType != olMailItem) {
        throw OperationError(
            QStringLiteral("Item type %1 is not available; only mail messages (0) are.")
                .arg(itemType));
    }
    return std::make_shared<RdoMail>(m_state, m_logon);
}

} // namespace tarvik::mail
