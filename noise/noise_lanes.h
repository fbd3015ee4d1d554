// Noise kernels over several samples at once, one sample per vector lane:
// planned octave samples for four rows, and scattered points. Every lane
// performs the scalar operations of the single-sample code in the same
// order, so the result does not depend on the kernel chosen. The AVX2 kernels
// have their own translation unit and are chosen at run time; the portable
// ones take the samples one after another.
#pragma once

#include <cmath>
#include <cstdint>

namespace zoka {

// The lattice index of a floored coordinate: the floor as an integer, 0 for
// what has none (NaN, beyond 2^62); only its low 12 bits are used.
inline int64_t NoiseFloorIndex(double floored) {
    return std::fabs(floored) < 4.6e18 ? static_cast<int64_t>(floored) : 0;
}

// A planned run of samples sharing one cell (NoiseColumns): they end at
// `end`, and the cell's column hashes are a and b.
struct NoiseRun {
    int32_t end;
    int32_t a, b;
    double cellX;
};

// The four rows' parts that do not depend on x: the rows' lattice indices,
// fractions and smoothed fractions.
struct FourNoiseRows {
    int32_t y0[4], y1[4];
    double fy[4], sy[4];
};

// What a kernel reads: the permutation, the lattice, the planned runs and
// the samples' fractions (each sample's fraction, then its smoothed one).
struct PlannedNoise {
    const int32_t* permutation;
    const double* lattice;
    const NoiseRun* runs;
    int32_t runCount;
    const double* fractions;
};

// sums[4 i + k] += weight * (the noise of sample i on row k).
using AddFourRowsFn = void (*)(const PlannedNoise& plan, const FourNoiseRows& rows,
                               double weight, double* sums);

void AddFourRowsScalar(const PlannedNoise& plan, const FourNoiseRows& rows, double weight,
                       double* sums);
void AddFourRowsAvx2(const PlannedNoise& plan, const FourNoiseRows& rows, double weight,
                     double* sums);
// The widest kernel the processor runs.
AddFourRowsFn WidestFourRows();

// out[i] = the noise at (xs[i], ys[i]), with the permutation and lattice.
using NoiseAtPointsFn = void (*)(const int32_t* permutation, const double* lattice,
                                 const double* xs, const double* ys, int32_t count, double* out);

void NoiseAtPointsScalar(const int32_t* permutation, const double* lattice, const double* xs,
                         const double* ys, int32_t count, double* out);
void NoiseAtPointsAvx2(const int32_t* permutation, const double* lattice, const double* xs,
                       const double* ys, int32_t count, double* out);
NoiseAtPointsFn WidestNoiseAtPoints();

}  // namespace zoka
