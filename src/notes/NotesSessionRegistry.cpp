#include "notes/NotesSessionRegistry.h"

#include "base/OperationError.h"
#include "notes/DatabaseFileSession.h"
#include "notes/LocalStore.h"
#include "notes/NsfStore.h"

#include <exception>

namespace tarvik::notes {

namespace {

QString key(const QString& progId)
{
    return progId.toCaseFolded();
}

QString cannotCreate(const QString& progId)
{
    return QStringLiteral("Cannot create object \"%1\"").arg(progId);
}

} // namespace

NotesSessionRegistry NotesSessionRegistry::withDefaults()
{
    NotesSessionRegistry registry;
    registry.installDefaults();
    return registry;
}

void NotesSessionRegistry::installDefaults()
{
    auto stores = std::make_shared<StoreConnectionCache>();
    auto nsfFiles = std::make_shared<NsfFileCache>();
    setFactory(dominoProgId, [stores, nsfFiles] {
        return std::make_shared<DatabaseFileSession>(stores, nsfFiles);
    });
    removeFactory(notesProgId);
}

void NotesSessionRegistry::setFactory(const QString& progId, Factory factory)
{
    if (factory)
        m_factories.insert(key(progId), std::move(factory));
    else
        m_factories.remove(key(progId));
}

void NotesSessionRegistry::removeFactory(const QString& progId)
{
    m_factories.remove(key(progId));
}

bool NotesSessionRegistry::hasFactory(const QString& progId) const
{
    return m_factories.contains(key(progId));
}

std::shared_ptr<NotesSession> NotesSessionRegistry::create(const QString& progId) const
{
    const auto it = m_factories.constFind(key(progId));
    if (it == m_factories.cend())
        throw OperationError(cannotCreate(progId));
    std::shared_ptr<NotesSession> session;
    try {
        session = (*it)();
    } catch (const OperationError& e) {
        throw OperationError(cannotCreate(progId) + QStringLiteral(": ") + e.message());
    } catch (const std::exception& e) {
        throw OperationError(cannotCreate(progId) + QStringLiteral(": ") +
                             QString::fromLocal8Bit(e.what()));
    }
    if (!session)
        throw OperationError(cannotCreate(progId));
    return session;
}

} // namespace tarvik::notes
