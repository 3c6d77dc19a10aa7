#pragma once

#include "base/OperationError.h"

#include <QStringList>

#include <optional>
#include <type_traits>
#include <utility>

namespace tarvik {

// Skip mode: run one step; a failing step is skipped and the caller goes on.
// Returns whether the step succeeded. A value the step would have set keeps
// what it had, because the step never got to assign it.
template <class Step>
bool skipStep(Step&& step)
{
    try {
        std::forward<Step>(step)();
        return true;
    } catch (const OperationError&) {
        return false;
    }
}

// Skip mode for a step that yields a value: nothing when it failed.
template <class Step>
auto trySkip(Step&& step) -> std::optional<std::invoke_result_t<Step>>
{
    try {
        return std::forward<Step>(step)();
    } catch (const OperationError&) {
        return std::nullopt;
    }
}

// Record mode: run one step; a failing step adds "what: reason" to failures and
// is passed over. Gives the step's value, or its type's default when the step
// failed; for a step without a value, whether it succeeded.
template <class Step>
auto recordFailure(QStringList& failures, const QString& what, Step&& step)
{
    using Result = std::invoke_result_t<Step>;
    try {
        if constexpr (std::is_void_v<Result>) {
            std::forward<Step>(step)();
            return true;
        } else {
            return Result(std::forward<Step>(step)());
        }
    } catch (const OperationError& e) {
        failures.append(what + QStringLiteral(": ") + e.message());
        if constexpr (std::is_void_v<Result>)
            return false;
        else
            return Result();
    }
}

// Runs the steps of a procedure under its failure style. In skip mode a failing
// step is passed over and run() says so; in guard mode the first failure ends
// the procedure: run() throws GuardTripped, which the procedure catches once to
// show its message.
class StepRunner {
public:
    enum class Mode { Skip, Guard };

    struct GuardTripped {
        QString reason;
    };

    explicit StepRunner(Mode mode) : m_mode(mode) {}

    Mode mode() const { return m_mode; }
    void setMode(Mode mode) { m_mode = mode; }

    template <class Step>
    bool run(Step&& step)
    {
        try {
            std::forward<Step>(step)();
            return true;
        } catch (const OperationError& e) {
            if (m_mode == Mode::Guard)
                throw GuardTripped{e.message()};
            return false;
        }
    }

private:
    Mode m_mode;
};

// The object a step needs, or the failure of using an unset one.
template <class Pointer>
Pointer& require(Pointer& object, const char* what = "Object variable")
{
    if (!object)
        throw OperationError(QStringLiteral("%1 not set").arg(QLatin1String(what)));
    return object;
}

} // namespace tarvik
