#include "raster/sampler.h"

#include <algorithm>
#include <cstring>

#include "base/result_codes.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

// s in double precision; NaN and negative give 0, above 255 gives 255.
int ToMaskValue(double s) {
    if (!(s >= 0)) return 0;
    if (s > 255) return 255;
    return static_cast<int>(s);
}

double Bilinear(double fx, double fy, int a, int b, int c, int d) {
    return (1 - fy) * ((1 - fx) * a + fx * b) + fy * ((1 - fx) * c + fx * d);
}

}  // namespace

int PixelOrZero(const Raster& mask, int32_t x, int32_t y) {
    return mask.Contains(x, y) ? *mask.Pixel(x, y) : 0;
}

int SampleBilinearZero(const Raster& mask, double x, double y) {
    const PixelRect& b = mask.bounds;
    // Beyond these limits all four neighbours lie outside (with truncation
    // toward zero), so the result is 0; NaN fails the tests as well.
    if (!(x > b.left - 2.0 && x < b.right + 1.0 && y > b.top - 2.0 && y < b.bottom + 1.0)) return 0;
    const auto xi = static_cast<int32_t>(x);
    const auto yi = static_cast<int32_t>(y);
    const double fx = x - xi;
    const double fy = y - yi;
    const int a = PixelOrZero(mask, xi, yi);
    const int bb = PixelOrZero(mask, xi + 1, yi);
    const int c = PixelOrZero(mask, xi, yi + 1);
    const int d = PixelOrZero(mask, xi + 1, yi + 1);
    return ToMaskValue(Bilinear(fx, fy, a, bb, c, d));
}

int SampleBilinearClamped(const Raster& mask, double x, double y) {
    const PixelRect& b = mask.bounds;
    if (IsEmpty(b)) return 0;
    const double maxX = std::max(b.left, b.right - 2);
    const double maxY = std::max(b.top, b.bottom - 2);
    if (!(x >= b.left)) x = b.left;
    if (x > maxX) x = maxX;
    if (!(y >= b.top)) y = b.top;
    if (y > maxY) y = maxY;
    const auto xi = static_cast<int32_t>(x);
    const auto yi = static_cast<int32_t>(y);
    const double fx = x - xi;
    const double fy = y - yi;
    const int32_t x1 = std::min(xi + 1, b.right - 1);
    const int32_t y1 = std::min(yi + 1, b.bottom - 1);
    const uint8_t* row0 = mask.Row(yi);
    const uint8_t* row1 = mask.Row(y1);
    const int a = row0[xi - b.left];
    const int bb = row0[x1 - b.left];
    const int c = row1[xi - b.left];
    const int d = row1[x1 - b.left];
    return ToMaskValue(Bilinear(fx, fy, a, bb, c, d));
}

int BilinearClampedRows::Plan(const Raster& mask, const double* xs, int32_t count) {
    mask_ = &mask;
    count_ = std::max(0, count);
    whole_ = true;
    if (columns_.Allocate(static_cast<size_t>(count_) + 1) != kOk) return kOutOfMemory;
    const PixelRect& b = mask.bounds;
    const double maxX = std::max(b.left, b.right - 2);
    for (int32_t i = 0; i < count_; ++i) {
        double x = xs[i];
        if (!(x >= b.left)) x = b.left;
        if (x > maxX) x = maxX;
        const auto xi = static_cast<int32_t>(x);
        const double fx = x - xi;
        columns_[static_cast<size_t>(i)] =
            Column{xi - b.left, std::min(xi + 1, b.right - 1) - b.left, fx};
        whole_ = whole_ && fx == 0;
    }
    return kOk;
}

// With both weights 0 the interpolation gives the corner pixel exactly:
// (1 - 0) * ((1 - 0) * a + 0 * b) + 0 * (...) is a for bytes.
void BilinearClampedRows::Sample(double y, uint8_t* out) const {
    const PixelRect& b = mask_->bounds;
    if (IsEmpty(b)) {
        std::fill(out, out + count_, uint8_t{0});
        return;
    }
    const double maxY = std::max(b.top, b.bottom - 2);
    if (!(y >= b.top)) y = b.top;
    if (y > maxY) y = maxY;
    const auto yi = static_cast<int32_t>(y);
    const double fy = y - yi;
    const uint8_t* row0 = mask_->Row(yi);
    const uint8_t* row1 = mask_->Row(std::min(yi + 1, b.bottom - 1));
    const Column* columns = columns_.get();
    if (whole_ && fy == 0) {
        for (int32_t i = 0; i < count_; ++i) out[i] = row0[columns[i].x0];
        return;
    }
    for (int32_t i = 0; i < count_; ++i) {
        const Column& c = columns[i];
        out[i] = static_cast<uint8_t>(
            ToMaskValue(Bilinear(c.fx, fy, row0[c.x0], row0[c.x1], row1[c.x0], row1[c.x1])));
    }
}

int SampleClampedAtPixel(const Raster& mask, int32_t x, int32_t y) {
    if (IsEmpty(mask.bounds)) return 0;
    return ClampedSampleRow(mask, y)[ClampedSampleColumn(mask.bounds, x)];
}

namespace {

// Without an offset every sample falls on a pixel and the interpolation
// gives its value exactly: the source's rows are copied, zeros around them.
void CopyWithZerosAround(const Raster& source, const Raster& mask) {
    const PixelRect& area = mask.bounds;
    PixelRect overlap;
    IntersectRect(area, source, overlap);
    for (int32_t y = area.top; y < area.bottom; ++y) {
        uint8_t* out = mask.Row(y);
        std::memset(out, 0, static_cast<size_t>(area.Width()));
        if (y < overlap.top || y >= overlap.bottom) continue;
        std::memcpy(out + (overlap.left - area.left), source.Pixel(overlap.left, y),
                    static_cast<size_t>(overlap.Width()));
    }
}

}  // namespace

int ResampleShifted(const PixelRect& rect, const Raster& source, double dx, double dy,
                    Raster*& mask) {
    PixelRect area = rect;
    OutsetRect(area, 1);
    const int result = CreateRaster(area, 1, 1, mask);
    if (result != kOk) return result;
    if (dx == 0 && dy == 0) {
        CopyWithZerosAround(source, *mask);
        return kOk;
    }
    for (int32_t y = area.top; y < area.bottom; ++y) {
        uint8_t* out = mask->Row(y);
        for (int32_t x = area.left; x < area.right; ++x) {
            *out++ = static_cast<uint8_t>(SampleBilinearZero(source, x - dx, y - dy));
        }
    }
    return kOk;
}

}  // namespace zoka
