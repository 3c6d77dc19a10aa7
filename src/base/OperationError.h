#pragma once

#include <QString>

#include <stdexcept>

namespace tarvik {

// The one failure of every Notes, mail-writer and utility operation: a readable
// message. Callers decide by their own failure style whether it skips a step,
// ends a procedure with a message box, or ends it silently.
class OperationError : public std::runtime_error {
public:
    explicit OperationError(const QString& message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {}

    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};

} // namespace tarvik
