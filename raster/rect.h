// Integer and real rectangles: top, left, bottom, right, half-open.
#pragma once

#include <cstdint>

namespace zoka {

struct Raster;

// Holds the pixels with top <= y < bottom and left <= x < right.
struct PixelRect {
    int32_t top = 0;
    int32_t left = 0;
    int32_t bottom = 0;
    int32_t right = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

struct RealRect {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;

    friend bool operator==(const RealRect&, const RealRect&) = default;
};

void SetRect(PixelRect& r, int32_t top, int32_t left, int32_t bottom, int32_t right);
bool IsEmpty(const PixelRect& r);

// Coordinates saturate at the int32 range instead of overflowing.
void OffsetRect(PixelRect& r, int32_t dx, int32_t dy);
void OffsetRect(RealRect& r, double dx, double dy);
void OutsetRect(PixelRect& r, int32_t dx, int32_t dy);
void OutsetRect(PixelRect& r, int32_t n);

// out may alias a or b. An empty intersection is the all-zero rectangle.
void IntersectRect(const PixelRect& a, const PixelRect& b, PixelRect& out);
void IntersectRect(const PixelRect& a, const Raster& b, PixelRect& out);
// An empty operand yields the other one unchanged.
void UnionRect(const PixelRect& a, const PixelRect& b, PixelRect& out);
// The union of r and r outset by n clipped to the raster: the source area a
// filter of reach n needs around r.
void GrowWithin(const PixelRect& r, const Raster& raster, int32_t n, PixelRect& out);

}  // namespace zoka
