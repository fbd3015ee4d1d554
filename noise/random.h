// The seeded random generator of every effect that draws random values:
// Park and Miller's minimal standard generator (multiplier 16807, modulus
// 2^31 - 1), computed by Schrage's method so that no step exceeds 32 bits.
#pragma once

#include <cstdint>

namespace zoka {

class RandomGenerator {
public:
    // Seed 0 acts as seed 1.
    constexpr void Seed(int32_t seed) { state_ = seed == 0 ? 1 : seed; }
    // The next state, 1..2147483646.
    constexpr int32_t Next() {
        constexpr int32_t kQuotient = 127773, kRemainder = 2836;
        int32_t next = 16807 * (state_ % kQuotient) - kRemainder * (state_ / kQuotient);
        if (next <= 0) next += 2147483647;
        state_ = next;
        return next;
    }
    // In (0, 1): the next state over 2^31 - 1.
    constexpr double NextUnit() { return Next() * 4.656612875245797e-10; }
    constexpr double Uniform(double lo, double hi) { return lo + NextUnit() * (hi - lo); }

private:
    int32_t state_ = 1;
};

// The hue given to grey pixels: the first unit value of a generator seeded
// with 1, the same for every such pixel.
inline constexpr double kGreyHue = RandomGenerator().NextUnit();

}  // namespace zoka
