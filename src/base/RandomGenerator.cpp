#include "base/RandomGenerator.h"

#include "base/OperationError.h"

#include <cmath>
#include <limits>

namespace tarvik {

float RandomGenerator::next()
{
    // A 24-bit linear congruential generator; its fixed start gives the same
    // sequence in every run.
    m_state = (m_state * 1140671485u + 12820163u) & 0xFFFFFFu;
    return static_cast<float>(m_state) / 16777216.0f;
}

std::int32_t RandomGenerator::between(std::int32_t low, std::int32_t high)
{
    const double r = next();
    const double value = std::floor(r * (double(high) - double(low) + 1.0)) + double(low);
    if (value < double(std::numeric_limits<std::int32_t>::min()) ||
        value > double(std::numeric_limits<std::int32_t>::max()))
        throw OperationError(QStringLiteral("Overflow"));
    return static_cast<std::int32_t>(value);
}

} // namespace tarvik
