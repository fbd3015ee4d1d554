#include "raster/rect.h"

#include <algorithm>
#include <limits>

#include "raster/raster.h"

namespace zoka {

namespace {

int32_t SaturatingAdd(int32_t a, int64_t b) {
    const int64_t sum = int64_t{a} + b;
    return static_cast<int32_t>(std::clamp<int64_t>(sum, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

}  // namespace

void SetRect(PixelRect& r, int32_t top, int32_t left, int32_t bottom, int32_t right) {
    r = PixelRect{top, left, bottom, right};
}

bool IsEmpty(const PixelRect& r) { return !(r.top < r.bottom && r.left < r.right); }

void OffsetRect(PixelRect& r, int32_t dx, int32_t dy) {
    r.left = SaturatingAdd(r.left, dx);
    r.right = SaturatingAdd(r.right, dx);
    r.top = SaturatingAdd(r.top, dy);
    r.bottom = SaturatingAdd(r.bottom, dy);
}

void OffsetRect(RealRect& r, double dx, double dy) {
    r.left += dx;
    r.right += dx;
    r.top += dy;
    r.bottom += dy;
}

void OutsetRect(PixelRect& r, int32_t dx, int32_t dy) {
    r.left = SaturatingAdd(r.left, -int64_t{dx});
    r.right = SaturatingAdd(r.right, dx);
    r.top = SaturatingAdd(r.top, -int64_t{dy});
    r.bottom = SaturatingAdd(r.bottom, dy);
}

void OutsetRect(PixelRect& r, int32_t n) { OutsetRect(r, n, n); }

void IntersectRect(const PixelRect& a, const PixelRect& b, PixelRect& out) {
    const PixelRect result{std::max(a.top, b.top), std::max(a.left, b.left),
                           std::min(a.bottom, b.bottom), std::min(a.right, b.right)};
    out = IsEmpty(result) ? PixelRect{} : result;
}

void IntersectRect(const PixelRect& a, const Raster& b, PixelRect& out) {
    IntersectRect(a, b.bounds, out);
}

void UnionRect(const PixelRect& a, const PixelRect& b, PixelRect& out) {
    if (IsEmpty(a)) {
        out = b;
    } else if (IsEmpty(b)) {
        out = a;
    } else {
        out = PixelRect{std::min(a.top, b.top), std::min(a.left, b.left),
                        std::max(a.bottom, b.bottom), std::max(a.right, b.right)};
    }
}

void GrowWithin(const PixelRect& r, const Raster& raster, int32_t n, PixelRect& out) {
    PixelRect grown = r;
    OutsetRect(grown, n);
    IntersectRect(grown, raster, grown);
    UnionRect(r, grown, out);
}

}  // namespace zoka
