// The constants of one complex transform length, computed once and shared by
// every line transformed at that length: the factors of the prime factor
// algorithm with their rotations and steps, and each factor's short-transform
// constants.
#pragma once

#include <cstdint>

namespace zoka {

inline constexpr int32_t kMaxFftFactor = 16;
inline constexpr int32_t kMaxFftPasses = 6;

struct FftFactor {
    int32_t f;       // the short transform's length
    int32_t mu;      // the rotation: the inverse of n / f modulo f (f - that for sign -1)
    int32_t step;    // between a line's indices: (n / f) mu modulo n
    // Standard short-transform constants for e^(+2 pi i t / f), t = 0..f-1.
    double cos[kMaxFftFactor];
    double sin[kMaxFftFactor];
};

struct FftPlan {
    int32_t n = 0;  // complex length, a divisor of 720720
    int sign = 1;
    int32_t passes = 0;
    FftFactor factors[kMaxFftPasses];
};

// The plan of the complex transform of length n with the given sign.
void MakeFftPlan(int sign, int32_t n, FftPlan& plan);

}  // namespace zoka
