#pragma once

#include "mail/RdoSession.h"

namespace tarvik::mail {

// What a session shares with the folders, item lists, items and recipients
// it handed out: they work only while the logon they came from is current.
struct SessionState {
    RdoSessionOptions options;
    bool loggedOn = false;
    quint64 logon = 0; // number of the current (or last) logon
    quint64 messageCount = 0;

    // Throws OperationError unless the logon numbered logonNumber is current.
    void requireLogon(quint64 logonNumber) const;
    QDateTime now() const;
    QString newMessageId();
};

} // namespace tarvik::mail
