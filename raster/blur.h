// The one Gaussian blur of the module. A raster of 8-bit or double channels
// is blurred in place, every channel, rows then columns, with a Gaussian of
// weight exp(-(2d / (r + 1))^2) and zeros outside the raster; by a direct
// convolution (doubles, r <= 16), a convolution through a product table
// (8-bit, r <= 30), or an FFT convolution (beyond).
#pragma once

#include <cstdint>
#include <vector>

#include "base/parts.h"
#include "raster/abort_check.h"
#include "raster/raster.h"

namespace zoka {

// 0 (also for r <= 0: nothing to do), 1 when abortCheck asked to stop
// (lines done stay blurred), 8 out of memory (before the row pass: the
// raster is untouched), also when the FFT method meets a line whose length
// plus ceil(radius) exceeds its longest transform, 1,441,440 samples.
// The lines of each pass are shared among the runner's threads (abortCheck
// is then called on each of them); every line gives the same bytes however
// they are shared, and all memory is taken on the calling thread.
int BlurRaster(const Raster& raster, double radius, AbortCheck abortCheck,
               const PartRunner& runner = PartRunner{});

// The mask over area (0 beyond the mask's bounds) in a raster of its own,
// blurred by radius: the softened silhouette that shadows, glows and plumes
// read. 0, 1 when abortCheck stopped the blur, or 8; on failure blurred holds
// nothing.
int BlurMaskRegion(const Raster& mask, const PixelRect& area, double radius,
                   AbortCheck abortCheck, ScopedRaster& blurred,
                   const PartRunner& runner = PartRunner{});

// The weight at distance d for radius r: exp(-(2d / (r + 1))^2).
double GaussWeight(double d, double r);
// The half kernel of the direct methods: s = ceil(r) taps (at least 2), the
// full symmetric kernel summing to 1.
int32_t HalfKernelTaps(double r);
void GaussKernelHalf(double r, int32_t taps, double* w);
// The half kernel in units of 2^-kTableShift for the table method's integer
// shortcut (scaled, taps values); returns the shortcut's slack, or -1 where
// it cannot be used.
int32_t ScaleTableKernel(const double* w, int32_t taps, int32_t* scaled);
// The FFT method's circular kernel of length n, summing to 1 / n.
void GaussKernelCircular(double r, int32_t n, double* k);

// out[i] = w[0] in[i] + sum over d = 1..s-1 of w[d] (in[i - d] + in[i + d]),
// in[] zero outside 0..length-1, for any length.
void ConvolveSymmetric(int32_t length, int32_t taps, const double* w, const double* in,
                       double* out);

// The method BlurRaster chooses for a channel width and radius.
enum class BlurMethod { kNone, kTable, kDirect, kFft };
BlurMethod ChooseBlurMethod(int32_t channelBytes, double radius);

}  // namespace zoka
