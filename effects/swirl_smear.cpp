// Swirl's smear, a channel at a time and, for four channels, all channels of
// a sample at once.
#include "effects/swirl_smear.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace zoka {

namespace {

// Walks step in fixed point with 7 fractional bits: a vector of length 127
// moves just under one pixel.
constexpr int kFractionBits = 7;
constexpr int32_t kFractionMask = (1 << kFractionBits) - 1;
constexpr int32_t kOne = 1 << kFractionBits;

int32_t GrainAt(const Raster& grain, int32_t x, int32_t y) {
    return *reinterpret_cast<const int8_t*>(grain.Pixel(x, y));
}

// Adds the source at fixed-point position (X, Y) in cell (cx, cy) to the
// sums, and the grain term to the colour sums: bilinear with Smooth (the
// grain about doubled), the cell's own pixel and twice its grain without.
void AddSample(const Streamlines& s, int32_t X, int32_t Y, int32_t cx, int32_t cy, int32_t* sums) {
    int32_t grain;
    if (s.smooth) {
        const int32_t fx = X & kFractionMask, fy = Y & kFractionMask;
        const int32_t w00 = (kOne - fx) * (kOne - fy), w10 = fx * (kOne - fy);
        const int32_t w01 = (kOne - fx) * fy, w11 = fx * fy;
        const uint8_t* p00 = s.source.Pixel(cx, cy);
        const uint8_t* p10 = p00 + s.source.PixelBytes();
        const uint8_t* p01 = s.source.Pixel(cx, cy + 1);
        const uint8_t* p11 = p01 + s.source.PixelBytes();
        for (int32_t j = 0; j < s.channels; ++j) {
            sums[j] += (w00 * p00[j] + w10 * p10[j] + w01 * p01[j] + w11 * p11[j]) >> 14;
        }
        const int32_t g = w00 * GrainAt(s.grain, cx, cy) + w10 * GrainAt(s.grain, cx + 1, cy) +
                          w01 * GrainAt(s.grain, cx, cy + 1) +
                          w11 * GrainAt(s.grain, cx + 1, cy + 1);
        grain = (g >> 13) & ~1;
    } else {
        const uint8_t* p = s.source.Pixel(cx, cy);
        for (int32_t j = 0; j < s.channels; ++j) sums[j] += p[j];
        grain = 2 * GrainAt(s.grain, cx, cy);
    }
    for (int32_t j = 0; j < s.colours; ++j) sums[j] += grain;
}

// Follows the field from pixel (x, y) for up to `steps` steps, along the
// vectors (direction 1) or against them (-1), sampling after each step. A
// walk ends where it would leave the walkable cells; the result is the
// number of steps completed.
int32_t Walk(const Streamlines& s, int32_t x, int32_t y, int32_t direction, int32_t steps,
             int32_t* sums) {
    int32_t X = x * kOne, Y = y * kOne;
    int32_t cx = x, cy = y;
    const PixelRect& cells = s.walkable;
    for (int32_t i = 0; i < steps; ++i) {
        const auto* v = reinterpret_cast<const int8_t*>(s.vectors.Pixel(cx, cy));
        X += direction * v[0];
        Y += direction * v[1];
        cx = X >> kFractionBits;
        cy = Y >> kFractionBits;
        if (cx < cells.left || cx >= cells.right || cy < cells.top || cy >= cells.bottom) return i;
        AddSample(s, X, Y, cx, cy, sums);
    }
    return steps;
}

}  // namespace

PixelRect WalkableCells(const Raster& source, const Raster& field) {
    PixelRect cells;
    IntersectRect(source.bounds, field.bounds, cells);
    cells.right -= 1;
    cells.bottom -= 1;
    return cells;
}

// Each pixel becomes the mean of its own value and the samples along its
// streamline, each colour with grain added.
void SmearPixelDirect(const Streamlines& s, int32_t x, int32_t y, int32_t forward, int32_t backward,
                uint8_t* out) {
    int32_t sums[4];
    const uint8_t* own = s.source.Pixel(x, y);
    const int32_t grain = GrainAt(s.grain, x, y);
    for (int32_t j = 0; j < s.channels; ++j) sums[j] = own[j] + (j < s.colours ? grain : 0);
    const int32_t count = 1 + Walk(s, x, y, 1, forward, sums) + Walk(s, x, y, -1, backward, sums);
    for (int32_t j = 0; j < s.channels; ++j) {
        out[j] = static_cast<uint8_t>(std::clamp(sums[j] / count, 0, 255));
    }
}


#ifdef __SSE2__

namespace {

// Four 32-bit lanes from four bytes.
__m128i Widen(const uint8_t* p) {
    int32_t four;
    std::memcpy(&four, p, 4);
    const __m128i zero = _mm_setzero_si128();
    return _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
}

// w0 p[j] + w1 p[j + 4] for the four channels of two neighbouring pixels.
__m128i WeighPair(const uint8_t* p, int32_t w0, int32_t w1) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i words = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
    const __m128i pairs = _mm_unpacklo_epi16(words, _mm_srli_si128(words, 8));
    return _mm_madd_epi16(pairs, _mm_set1_epi32(static_cast<int32_t>(
                                     static_cast<uint32_t>(w1) << 16 | static_cast<uint32_t>(w0))));
}

// AddSample with the four channels in one register; colourLanes masks the
// channels that gain grain.
void AddSampleLanes(const Streamlines& s, int32_t X, int32_t Y, int32_t cx, int32_t cy,
                    __m128i colourLanes, __m128i& sums) {
    int32_t grain;
    if (s.smooth) {
        const int32_t fx = X & kFractionMask, fy = Y & kFractionMask;
        const int32_t w00 = (kOne - fx) * (kOne - fy), w10 = fx * (kOne - fy);
        const int32_t w01 = (kOne - fx) * fy, w11 = fx * fy;
        const __m128i sum = _mm_add_epi32(WeighPair(s.source.Pixel(cx, cy), w00, w10),
                                          WeighPair(s.source.Pixel(cx, cy + 1), w01, w11));
        sums = _mm_add_epi32(sums, _mm_srai_epi32(sum, 14));
        const auto* g0 = reinterpret_cast<const int8_t*>(s.grain.Pixel(cx, cy));
        const auto* g1 = reinterpret_cast<const int8_t*>(s.grain.Pixel(cx, cy + 1));
        const int32_t g = w00 * g0[0] + w10 * g0[1] + w01 * g1[0] + w11 * g1[1];
        grain = (g >> 13) & ~1;
    } else {
        sums = _mm_add_epi32(sums, Widen(s.source.Pixel(cx, cy)));
        grain = 2 * GrainAt(s.grain, cx, cy);
    }
    sums = _mm_add_epi32(sums, _mm_and_si128(_mm_set1_epi32(grain), colourLanes));
}

int32_t WalkLanes(const Streamlines& s, int32_t x, int32_t y, int32_t direction, int32_t steps,
                  __m128i colourLanes, __m128i& sums) {
    int32_t X = x * kOne, Y = y * kOne;
    int32_t cx = x, cy = y;
    const PixelRect& cells = s.walkable;
    for (int32_t i = 0; i < steps; ++i) {
        const auto* v = reinterpret_cast<const int8_t*>(s.vectors.Pixel(cx, cy));
        X += direction * v[0];
        Y += direction * v[1];
        cx = X >> kFractionBits;
        cy = Y >> kFractionBits;
        if (cx < cells.left || cx >= cells.right || cy < cells.top || cy >= cells.bottom) return i;
        AddSampleLanes(s, X, Y, cx, cy, colourLanes, sums);
    }
    return steps;
}

}  // namespace

void SmearPixel(const Streamlines& s, int32_t x, int32_t y, int32_t forward, int32_t backward,
                uint8_t* out) {
    if (s.channels != 4) {
        SmearPixelDirect(s, x, y, forward, backward, out);
        return;
    }
    const __m128i colourLanes = _mm_setr_epi32(s.colours > 0 ? -1 : 0, s.colours > 1 ? -1 : 0,
                                               s.colours > 2 ? -1 : 0, s.colours > 3 ? -1 : 0);
    __m128i sums = _mm_add_epi32(Widen(s.source.Pixel(x, y)),
                                 _mm_and_si128(_mm_set1_epi32(GrainAt(s.grain, x, y)), colourLanes));
    const int32_t count = 1 + WalkLanes(s, x, y, 1, forward, colourLanes, sums) +
                          WalkLanes(s, x, y, -1, backward, colourLanes, sums);
    int32_t totals[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(totals), sums);
    for (int32_t j = 0; j < 4; ++j) out[j] = static_cast<uint8_t>(std::clamp(totals[j] / count, 0, 255));
}

#else

void SmearPixel(const Streamlines& s, int32_t x, int32_t y, int32_t forward, int32_t backward,
                uint8_t* out) {
    SmearPixelDirect(s, x, y, forward, backward, out);
}

#endif

}  // namespace zoka
