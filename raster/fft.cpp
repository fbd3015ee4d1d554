#include "raster/fft.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "raster/lanes.h"

namespace zoka {

namespace {

// One lane: the reference arithmetic, and the kernels where no vector
// instruction set is known.
using V = double;
constexpr int32_t kLanes = 1;
inline V Load(const double* p) { return *p; }

typedef int32_t ChunkInts __attribute__((vector_size(8)));
inline ChunkInts WidenChunk(const uint8_t* p) { return ChunkInts{p[0], p[1]}; }
inline void StoreChunkBytes(ChunkInts v, uint8_t* out) {
    out[0] = static_cast<uint8_t>(v[0]);
    out[1] = static_cast<uint8_t>(v[1]);
}
inline uint32_t DifferingLanes(ChunkInts a, ChunkInts b) {
    return static_cast<uint32_t>(a[0] != b[0]) | static_cast<uint32_t>(a[1] != b[1]) << 1;
}
inline ChunkInts GatherFlat(ChunkInts into, uint32_t lanes, ChunkInts indices, const int32_t* table) {
    for (int32_t w = 0; w < 2; ++w) {
        if ((lanes >> w) & 1) into[w] = table[indices[w]];
    }
    return into;
}

#include "raster/lane_kernels.inl"

// The 240 divisors of 720720 = 2^4 3^2 5 7 11 13 in increasing order.
constexpr std::array<int32_t, 240> MakeDivisors() {
    std::array<int32_t, 240> d{};
    size_t count = 0;
    for (int32_t a = 1; a <= 16; a *= 2) {
        for (int32_t b = 1; b <= 9; b *= 3) {
            for (int32_t c : {1, 5}) {
                for (int32_t e : {1, 7}) {
                    for (int32_t f : {1, 11}) {
                        for (int32_t g : {1, 13}) d[count++] = a * b * c * e * f * g;
                    }
                }
            }
        }
    }
    std::sort(d.begin(), d.end());
    return d;
}

// The factors of the prime factor algorithm, tried in this order; each one
// that divides the length still left is used once.
constexpr int32_t kFactors[] = {16, 13, 11, 9, 8, 7, 5, 4, 3, 2};

// 2 pi to ten significant digits, for the short transforms' constants.
constexpr double kTwoPi = 6.283185307;
// 2 pi as the real-input wrappers' twiddle recurrence takes it.
constexpr double kWrapperTwoPi = 6.2831853;

// sin(t / 2) and sin(t) of the wrapper angle t = 2 pi / n, negated for sign
// -1 (forward) or sign +1 (inverse).
void WrapperAngle(bool negative, int32_t n, double& halfSine, double& sine) {
    const double t = negative ? -kWrapperTwoPi / n : kWrapperTwoPi / n;
    halfSine = std::sin(t / 2);
    sine = std::sin(t);
}

}  // namespace

void MakeFftPlan(int sign, int32_t n, FftPlan& plan) {
    plan = FftPlan{};
    plan.n = n;
    plan.sign = sign;
    int32_t left = n;
    for (const int32_t f : kFactors) {
        if (left % f != 0) continue;
        left /= f;
        FftFactor& factor = plan.factors[plan.passes++];
        factor.f = f;
        const int32_t m = n / f;
        int32_t mu = 1;
        while ((int64_t{mu} * m) % f != 1 && mu < f) ++mu;
        factor.mu = sign < 0 ? f - mu : mu;
        factor.step = static_cast<int32_t>((int64_t{m} * factor.mu) % n);
        for (int32_t t = 0; t < f; ++t) {
            factor.cos[t] = std::cos(kTwoPi * t / f);
            factor.sin[t] = std::sin(kTwoPi * t / f);
        }
    }
}

int32_t FftSize(int32_t n) {
    static constexpr std::array<int32_t, 240> kDivisors = MakeDivisors();
    const int32_t m = (n + 1) / 2;
    if (m > 360360) return 2 * 720720;
    return 2 * *std::lower_bound(kDivisors.begin(), kDivisors.end() - 1, m);
}

void PfaComplexFft(int sign, int32_t n, double* z) {
    FftPlan plan;
    MakeFftPlan(sign, n, plan);
    ComplexFft(plan, reinterpret_cast<Cx<double>*>(z));
}

void RealFftForward(int sign, int32_t n, const double* x, double* s) {
    for (int32_t j = 0; j < n; ++j) s[j] = x[j] / 2;
    FftPlan half;
    MakeFftPlan(sign, n / 2, half);
    double halfSine, sine;
    WrapperAngle(sign < 0, n, halfSine, sine);
    RealForwardFinish(half, reinterpret_cast<Cx<double>*>(s), halfSine, sine);
}

void RealFftInverse(int sign, int32_t n, const double* s, double* x) {
    FftPlan half;
    MakeFftPlan(sign, n / 2, half);
    double halfSine, sine;
    WrapperAngle(sign > 0, n, halfSine, sine);
    RealInverse(half, reinterpret_cast<const Cx<double>*>(s), reinterpret_cast<Cx<double>*>(x),
                halfSine, sine);
}

void MakeLineConvolution(int32_t n, const double* kernelSpectrum, FftPlan& forward,
                         FftPlan& inverse, LineConvolution& c) {
    MakeFftPlan(1, n / 2, forward);
    MakeFftPlan(-1, n / 2, inverse);
    c.n = n;
    c.forward = &forward;
    c.inverse = &inverse;
    c.kernelSpectrum = kernelSpectrum;
    WrapperAngle(false, n, c.forwardHalfSine, c.forwardSine);
    WrapperAngle(false, n, c.inverseHalfSine, c.inverseSine);
}

LaneKernels ScalarLaneKernels() {
    return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry};
}

LaneKernels WidestLaneKernels() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("avx512f")) return LaneKernels8();
    if (__builtin_cpu_supports("avx2")) return LaneKernels4();
    return LaneKernels2();
#else
    return ScalarLaneKernels();
#endif
}

}  // namespace zoka
