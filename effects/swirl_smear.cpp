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

// A raster's pixel addressing held in plain values, which the compiler keeps
// in registers across the vector stores (which may alias anything).
template <int32_t kPixelBytes>
struct Grid {
    explicit Grid(const Raster& r) : rows(r.rowTable), left(r.bounds.left), top(r.bounds.top) {}
    const uint8_t* At(int32_t x, int32_t y) const {
        return rows[y - top] + static_cast<ptrdiff_t>(x - left) * kPixelBytes;
    }
    const uint8_t* const* rows;
    int32_t left, top;
};

// What a walk reads, as plain values.
struct LaneWalker {
    explicit LaneWalker(const Streamlines& s)
        : source(s.source),
          vectors(s.vectors),
          grain(s.grain),
          cells(s.walkable),
          smooth(s.smooth),
          colourLanes(_mm_setr_epi32(s.colours > 0 ? -1 : 0, s.colours > 1 ? -1 : 0,
                                     s.colours > 2 ? -1 : 0, s.colours > 3 ? -1 : 0)) {}

    // AddSample with the four channels in one register.
    __m128i Sample(int32_t X, int32_t Y, int32_t cx, int32_t cy) const {
        __m128i sum;
        int32_t g;
        if (smooth) {
            const int32_t fx = X & kFractionMask, fy = Y & kFractionMask;
            const int32_t w00 = (kOne - fx) * (kOne - fy), w10 = fx * (kOne - fy);
            const int32_t w01 = (kOne - fx) * fy, w11 = fx * fy;
            sum = _mm_srai_epi32(_mm_add_epi32(WeighPair(source.At(cx, cy), w00, w10),
                                               WeighPair(source.At(cx, cy + 1), w01, w11)),
                                 14);
            const auto* g0 = reinterpret_cast<const int8_t*>(grain.At(cx, cy));
            const auto* g1 = reinterpret_cast<const int8_t*>(grain.At(cx, cy + 1));
            g = ((w00 * g0[0] + w10 * g0[1] + w01 * g1[0] + w11 * g1[1]) >> 13) & ~1;
        } else {
            sum = Widen(source.At(cx, cy));
            g = 2 * *reinterpret_cast<const int8_t*>(grain.At(cx, cy));
        }
        return _mm_add_epi32(sum, _mm_and_si128(_mm_set1_epi32(g), colourLanes));
    }

    // One walk's state: its fixed-point position, its cell, the steps it
    // completed and its sums.
    struct Walker {
        int32_t X, Y, cx, cy;
        int32_t steps;
        bool going;
        __m128i sums;
    };

    Walker Start(int32_t x, int32_t y, __m128i sums) const {
        return Walker{x * kOne, y * kOne, x, y, 0, true, sums};
    }

    // One step of a walk, which ends where it would leave the walkable cells.
    void Step(Walker& w, int32_t direction) const {
        const auto* v = reinterpret_cast<const int8_t*>(vectors.At(w.cx, w.cy));
        const int32_t X = w.X + direction * v[0], Y = w.Y + direction * v[1];
        const int32_t cx = X >> kFractionBits, cy = Y >> kFractionBits;
        if (cx < cells.left || cx >= cells.right || cy < cells.top || cy >= cells.bottom) {
            w.going = false;
            return;
        }
        w = Walker{X, Y, cx, cy, w.steps + 1, true, _mm_add_epi32(w.sums, Sample(X, Y, cx, cy))};
    }

    // Steps a walk until it ends or has taken `steps`.
    void Walk(Walker& w, int32_t direction, int32_t steps) const {
        for (int32_t i = 0; i < steps && w.going; ++i) Step(w, direction);
    }

    // The pixel's own value and grain, where its sums start.
    __m128i Own(int32_t x, int32_t y) const {
        const int32_t g = *reinterpret_cast<const int8_t*>(grain.At(x, y));
        return _mm_add_epi32(Widen(source.At(x, y)),
                             _mm_and_si128(_mm_set1_epi32(g), colourLanes));
    }

    Grid<4> source;
    Grid<2> vectors;
    Grid<1> grain;
    PixelRect cells;
    bool smooth;
    __m128i colourLanes;
};

// The mean of a pixel's sums over count samples, clamped into bytes. The
// quotients are truncated from double divisions: with sums below 2^31 and
// count below 2^22, a rounded quotient never reaches the next integer, so
// they are the integer quotients.
void WriteMean(__m128i sums, int32_t count, uint8_t* out) {
    const __m128d divisor = _mm_set1_pd(count);
    const __m128i low = _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(sums), divisor));
    const __m128i high =
        _mm_cvttpd_epi32(_mm_div_pd(_mm_cvtepi32_pd(_mm_srli_si128(sums, 8)), divisor));
    const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi64(low, high), _mm_setzero_si128());
    const int32_t bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, _mm_setzero_si128()));
    std::memcpy(out, &bytes, 4);
}

// Four walks side by side over cells where none can end: a walk of n steps
// from pixel x stays within cells x - n .. x + n - 1 (a step moves less than
// a cell), so pixels at least max(forward, backward) cells inside the
// walkable ones walk every step. Each walk performs Step's operations in the
// same order; the four are interleaved only so that their loads overlap.
class InteriorWalks {
public:
    static constexpr int32_t kWalks = 4;

    explicit InteriorWalks(const LaneWalker& walker) : w_(walker) {}

    // Whether every walk of up to `reach` steps from the pixels left..right-1
    // of row y stays on walkable cells.
    static bool Holds(const PixelRect& cells, int32_t y, int32_t reach) {
        return y - reach >= cells.top && y + reach <= cells.bottom;
    }

    // Pixels x..x+3 of row y, every walk taking all its steps.
    void Smear(int32_t x, int32_t y, int32_t forward, int32_t backward, uint8_t* out) const {
        __m128i sums[kWalks];
        for (int32_t k = 0; k < kWalks; ++k) sums[k] = w_.Own(x + k, y);
        Walk<1>(x, y, forward, sums);
        Walk<-1>(x, y, backward, sums);
        const int32_t count = 1 + forward + backward;
        for (int32_t k = 0; k < kWalks; ++k) WriteMean(sums[k], count, out + 4 * k);
    }

private:
    template <int32_t kDirection>
    void Walk(int32_t x, int32_t y, int32_t steps, __m128i* sums) const {
        int32_t X[kWalks], Y[kWalks];
        for (int32_t k = 0; k < kWalks; ++k) {
            X[k] = (x + k) * kOne;
            Y[k] = y * kOne;
        }
        for (int32_t i = 0; i < steps; ++i) {
#pragma GCC unroll 4
            for (int32_t k = 0; k < kWalks; ++k) {
                const auto* v = reinterpret_cast<const int8_t*>(
                    w_.vectors.At(X[k] >> kFractionBits, Y[k] >> kFractionBits));
                X[k] += kDirection * v[0];
                Y[k] += kDirection * v[1];
                sums[k] = _mm_add_epi32(sums[k], w_.Sample(X[k], Y[k], X[k] >> kFractionBits,
                                                           Y[k] >> kFractionBits));
            }
        }
    }

    const LaneWalker& w_;
};

}  // namespace

void SmearRow(const Streamlines& s, int32_t y, int32_t left, int32_t right, int32_t forward,
              int32_t backward, uint8_t* out) {
    if (s.channels != 4) {
        for (int32_t x = left; x < right; ++x, out += 4) SmearPixelDirect(s, x, y, forward, backward, out);
        return;
    }
    const LaneWalker walker(s);
    const InteriorWalks interior(walker);
    const int32_t reach = std::max(forward, backward);
    // Pixels x with x - reach >= cells.left and x + reach <= cells.right.
    int32_t interiorLeft = right, interiorRight = right;
    if (InteriorWalks::Holds(s.walkable, y, reach)) {
        interiorLeft = std::clamp(s.walkable.left + reach, left, right);
        interiorRight = std::clamp(s.walkable.right - reach + 1, interiorLeft, right);
    }
    for (int32_t x = left; x < right; ++x, out += 4) {
        if (x >= interiorLeft && x + InteriorWalks::kWalks <= interiorRight) {
            interior.Smear(x, y, forward, backward, out);
            x += InteriorWalks::kWalks - 1;
            out += 4 * (InteriorWalks::kWalks - 1);
            continue;
        }
        LaneWalker::Walker ahead = walker.Start(x, y, walker.Own(x, y));
        walker.Walk(ahead, 1, forward);
        LaneWalker::Walker back = walker.Start(x, y, ahead.sums);
        walker.Walk(back, -1, backward);
        WriteMean(back.sums, 1 + ahead.steps + back.steps, out);
    }
}

#else

void SmearRow(const Streamlines& s, int32_t y, int32_t left, int32_t right, int32_t forward,
              int32_t backward, uint8_t* out) {
    for (int32_t x = left; x < right; ++x, out += 4) SmearPixelDirect(s, x, y, forward, backward, out);
}

#endif

}  // namespace zoka
