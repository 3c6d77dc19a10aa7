#pragma once

#include <cstdint>

namespace tarvik {

// The process's pseudo-random generator. Never seeded from the clock: every run
// draws the same sequence, so exporting the same mails again gives the same
// file names.
class RandomGenerator {
public:
    // Next value r with 0 <= r < 1.
    float next();

    // The integer part of next() x (high - low + 1), plus low: a number in
    // low..high. Throws OperationError when the result does not fit 32 bits.
    std::int32_t between(std::int32_t low, std::int32_t high);

private:
    std::uint32_t m_state = 0x50000;
};

} // namespace tarvik
