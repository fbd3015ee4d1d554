// Planned octave samples for four rows at once, one row per lane: every lane
// performs the scalar operations of NoiseField::AddNoiseAlongRow in the same
// order, so the result does not depend on the kernel chosen. The AVX2 kernel
// has its own translation unit and is chosen at run time; the portable one
// runs the rows one after another.
#pragma once

#include <cstdint>

namespace zoka {

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

}  // namespace zoka
