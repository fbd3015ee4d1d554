// The blur's three convolutions over several lines at once: each line is a
// lane of a vector, and every lane performs the scalar operations in the same
// order, so the result does not depend on how many lanes the processor
// offers. Each instruction set has its translation unit; the widest the
// processor runs is chosen at run time.
#pragma once

#include <cstdint>

#include "raster/fft_plan.h"

namespace zoka {

// Lines are held sample by sample: lane w of sample i at [i * width + w].
// Buffers of doubles the kernels write are aligned to 64 bytes.

// The FFT method: lines of n real samples convolved circularly.
struct LineConvolution {
    int32_t n;                     // real transform length
    const FftPlan* forward;        // complex, n / 2, sign +1
    const FftPlan* inverse;        // complex, n / 2, sign -1
    const double* kernelSpectrum;  // n / 2 + 1 complex values
    // sin(t / 2) and sin(t) of the real-input wrappers' angles.
    double forwardHalfSine, forwardSine;
    double inverseHalfSine, inverseSine;
};
// data: n samples, replaced by the results; spectrum: (n / 2 + 1) * 2 lanes.
using FftLinesFn = void (*)(const LineConvolution& c, double* data, double* spectrum);

// The direct method over doubles: out = w[0] in + sum over d of w[d] (left +
// right), d ascending, with taps - 1 zero samples padding each end of in.
struct DirectConvolution {
    int32_t taps;
    const double* weights;
};
using DirectLinesFn = void (*)(const DirectConvolution& c, int32_t length, const double* in,
                               double* out);

// The table method over bytes: T[0][v] + sum over d of (T[d][left] +
// T[d][right]), d ascending, the products from the table (d-major, 256 per
// tap; row v of tap d holds v w[d]), truncated toward zero into a byte. It
// takes kTableLanes lines at once, whatever the vector width, so that a
// column pass moves whole cache lines of each row: in holds the byte values
// (sample i of lane w at [i * kTableLanes + w]) with taps - 1 zeros padding
// each end; out the results.
struct TableConvolution {
    int32_t taps;
    const double* table;
    // The result of a window whose samples all equal v, by the same sum (256
    // entries, 32 bits each so that vector lanes can gather them).
    const int32_t* flat;
    // The integer shortcut: the weights times 2^kTableShift, rounded, and the
    // slack, in the same units, that bounds how far the table sum can lie
    // from the integer sum. Where the integer sum plus or minus the slack
    // truncates to one value, that is the table sum's value too; elsewhere
    // the table sum is formed. A negative slack turns the shortcut off.
    const int32_t* scaled;
    int32_t slack;
};
constexpr int32_t kTableShift = 23;
constexpr int32_t kTableLanes = 64;
using TableLinesFn = void (*)(const TableConvolution& c, int32_t length, const uint8_t* in,
                              uint8_t* out);

struct LaneKernels {
    int32_t width;
    FftLinesFn fft;
    DirectLinesFn direct;
    TableLinesFn table;
};

// 8 lanes (AVX-512), 4 (AVX2), 2 (SSE2), or 1 where none of those exists.
LaneKernels WidestLaneKernels();
// One lane, the reference the others reproduce.
LaneKernels ScalarLaneKernels();

LaneKernels LaneKernels2();
LaneKernels LaneKernels4();
LaneKernels LaneKernels8();

}  // namespace zoka
