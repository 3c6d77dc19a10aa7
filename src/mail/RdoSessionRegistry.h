#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <memory>

namespace tarvik::mail {

class RdoSession;

// The ProgID under which the mail writer's session is created.
inline const QString rdoSessionProgId = QStringLiteral("Redemption.RDOSession");

// Creates mail-writer sessions by ProgID (compared without regard to case).
// The defaults answer "Redemption.RDOSession" with this program's own writer;
// tests replace or remove factories to make creation or logon fail.
class RdoSessionRegistry {
public:
    using Factory = std::function<std::shared_ptr<RdoSession>()>;

    // An empty registry: nothing answers.
    RdoSessionRegistry() = default;
    // A registry with the defaults installed.
    static RdoSessionRegistry withDefaults();

    void installDefaults();
    void setFactory(const QString& progId, Factory factory);
    void removeFactory(const QString& progId);

    // Throws OperationError when no factory answers progId, the factory throws
    // or it gives no session.
    std::shared_ptr<RdoSession> create(const QString& progId) const;

private:
    QHash<QString, Factory> m_factories;
};

} // namespace tarvik::mail
