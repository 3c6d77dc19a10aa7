#pragma once

#include "shell/OperationError.h"

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

} // namespace tarvik
