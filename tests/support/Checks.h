#pragma once

#include "base/OperationError.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace tarvik::test {

// The message of the OperationError a step throws, or "(no failure)".
inline QString failureOf(const std::function<void()>& step)
{
    try {
        step();
    } catch (const OperationError& e) {
        return e.message();
    }
    return QStringLiteral("(no failure)");
}

// "a,,b" as the list a, (empty), b.
inline QStringList commaList(const char* text)
{
    return QString::fromUtf8(text).split(QLatin1Char(','));
}

} // namespace tarvik::test
