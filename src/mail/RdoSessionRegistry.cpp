#include "mail/RdoSessionRegistry.h"

#include "base/OperationError.h"
#include "mail/RdoSession.h"

namespace tarvik::mail {

RdoSessionRegistry RdoSessionRegistry::withDefaults()
{
    RdoSessionRegistry registry;
    registry.installDefaults();
    return registry;
}

void RdoSessionRegistry::installDefaults()
{
    setFactory(rdoSessionProgId, [] { return std::make_shared<RdoSession>(); });
}

void RdoSessionRegistry::setFactory(const QString& progId, Factory factory)
{
    m_factories.insert(progId.toLower(), std::move(factory));
}

void RdoSessionRegistry::removeFactory(const QString& progId)
{
    m_factories.remove(progId.toLower());
}

std::shared_ptr<RdoSession> RdoSessionRegistry::create(const QString& progId) const
{
    const QString message = QStringLiteral("Cannot create object \"%1\"").arg(progId);
    const auto it = m_factories.constFind(progId.toLower());
    if (it == m_factories.cend() || !*it)
        throw OperationError(message);
    std::shared_ptr<RdoSession> session;
    try {
        session = (*it)();
    } catch (const OperationError& e) {
        throw OperationError(message + QStringLiteral(": ") + e.message());
    }
    if (!session)
        throw OperationError(message);
    return session;
}

} // namespace tarvik::mail
