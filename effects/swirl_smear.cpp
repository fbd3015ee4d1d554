// Swirl's smear, a channel at a time and, for four channels, all channels of
// a sample at once.
#include "effects/swirl_smear.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "base/module_memory.h"
#include "base/result_codes.h"

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

// Each pixel of left..right-1 of row y walked one at a time.
void WalkPixels(const LaneWalker& walker, int32_t y, int32_t left, int32_t right,
                int32_t forward, int32_t backward, uint8_t* out) {
    for (int32_t x = left; x < right; ++x, out += 4) {
        LaneWalker::Walker ahead = walker.Start(x, y, walker.Own(x, y));
        walker.Walk(ahead, 1, forward);
        LaneWalker::Walker back = walker.Start(x, y, ahead.sums);
        walker.Walk(back, -1, backward);
        WriteMean(back.sums, 1 + ahead.steps + back.steps, out);
    }
}

// The bilinear weights as vectors, by fraction: kBelow[f] holds 128 - f in
// every word and kAbove... fy in the next; kAcross[f] the pair (128 - f, f)
// in every 32-bit lane.
struct WeightTables {
    WeightTables() {
        for (int32_t f = 0; f < kOne; ++f) {
            rows[f][0] = _mm_set1_epi16(static_cast<int16_t>(kOne - f));
            rows[f][1] = _mm_set1_epi16(static_cast<int16_t>(f));
            across[f] = _mm_set1_epi32(f << 16 | (kOne - f));
        }
    }
    __m128i rows[kOne][2];
    __m128i across[kOne];
};

// Interior walks read cells packed 8 bytes each: the source pixel, the grain
// plus 128 as an unsigned byte, a zero byte and the vector, so a sample's two
// cells of a row arrive in one load. The bilinear sum is formed down the
// columns first, in 16-bit words ((128 - fy) p0 + fy p1 is at most 128 x
// 255), then across with the pairs (128 - fx, fx): the same integer sum as
// the four products, exact in every order. The grain's offset adds 128 x
// 16384 to its sum, exactly 256 after the shift by 13, taken off at the end.
class PackedWalks {
public:
    static constexpr int32_t kCellBytes = 8;

    PackedWalks(const Streamlines& s, const uint8_t* cells, ptrdiff_t stride, int32_t left)
        : walker_(s), cells_(cells), stride_(stride), left_(left), top_(0),
          fractions_(s.smooth ? kFractionMask : 0),
          evenColours_(_mm_and_si128(walker_.colourLanes, _mm_set1_epi32(~1))),
          grainBias_(_mm_and_si128(walker_.colourLanes, _mm_set1_epi32(256))) {}

    const LaneWalker& walker() const { return walker_; }
    // The row the packed cells start at.
    void MoveTo(int32_t top) { top_ = top; }

    // Pixels x..x+kWalks-1 of row y, whose walks all take every step.
    void Smear(int32_t x, int32_t y, int32_t forward, int32_t backward,
                   uint8_t* out) const {
        __m128i sums[kWalks];
        for (int32_t k = 0; k < kWalks; ++k) sums[k] = walker_.Own(x + k, y);
        Walk<1>(x, y, forward, sums);
        Walk<-1>(x, y, backward, sums);
        const int32_t count = 1 + forward + backward;
        const __m128i bias = _mm_mullo_epi16(grainBias_, _mm_set1_epi32(count - 1));
        for (int32_t k = 0; k < kWalks; ++k) {
            WriteMean(_mm_sub_epi32(sums[k], bias), count, out + 4 * k);
        }
    }

    static constexpr int32_t kWalks = 4;

private:
    // The sample at fractions (fx, fy) in the cell, with the grain's offset.
    __m128i Sample(const uint8_t* cell, int32_t fx, int32_t fy) const {
        const __m128i zero = _mm_setzero_si128();
        const __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell));
        const __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cell + stride_));
        const __m128i* wy = weights_.rows[fy];
        const __m128i left = _mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(r0, zero), wy[0]),
                                           _mm_mullo_epi16(_mm_unpacklo_epi8(r1, zero), wy[1]));
        const __m128i right = _mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(r0, zero), wy[0]),
                                            _mm_mullo_epi16(_mm_unpackhi_epi8(r1, zero), wy[1]));
        const __m128i wx = weights_.across[fx];
        const __m128i colour =
            _mm_srai_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(left, right), wx), 14);
        const __m128i grain =
            _mm_srai_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(left, right), wx), 13);
        return _mm_add_epi32(colour,
                             _mm_and_si128(_mm_shuffle_epi32(grain, 0), evenColours_));
    }

    template <int32_t kDirection>
    void Walk(int32_t x, int32_t y, int32_t steps, __m128i* sums) const {
        int32_t X[kWalks], Y[kWalks];
        const uint8_t* cell[kWalks];
        for (int32_t k = 0; k < kWalks; ++k) {
            X[k] = (x + k - left_) * kOne;
            Y[k] = (y - top_) * kOne;
            cell[k] = cells_ + (y - top_) * stride_ + (x + k - left_) * kCellBytes;
        }
        for (int32_t i = 0; i < steps; ++i) {
#pragma GCC unroll 4
            for (int32_t k = 0; k < kWalks; ++k) {
                const auto* v = reinterpret_cast<const int8_t*>(cell[k] + 6);
                X[k] += kDirection * v[0];
                Y[k] += kDirection * v[1];
                cell[k] = cells_ + (Y[k] >> kFractionBits) * stride_ +
                          (X[k] >> kFractionBits) * kCellBytes;
                sums[k] = _mm_add_epi32(
                    sums[k], Sample(cell[k], X[k] & fractions_, Y[k] & fractions_));
            }
        }
    }

    LaneWalker walker_;
    const uint8_t* cells_;
    ptrdiff_t stride_;
    int32_t left_, top_;
    // Without Smooth a sample is the cell's own pixel and twice its grain:
    // the bilinear sum at fraction 0.
    int32_t fractions_;
    __m128i evenColours_;
    __m128i grainBias_;
    WeightTables weights_;
};

// The cells of rows first..last-1, columns left..left+columns-1, packed.
void PackCells(const Streamlines& s, int32_t left, int32_t columns, int32_t first, int32_t last,
               uint8_t* cells) {
    constexpr int32_t kBytes = PackedWalks::kCellBytes;
    for (int32_t y = first; y < last; ++y) {
        const uint8_t* source = s.source.Pixel(left, y);
        const auto* grain = s.grain.Pixel(left, y);
        const uint8_t* vectors = s.vectors.Pixel(left, y);
        uint8_t* out = cells + static_cast<ptrdiff_t>(y - first) * columns * kBytes;
        int32_t i = 0;
        for (; i + 4 <= columns; i += 4) {
            int32_t four;
            std::memcpy(&four, grain + i, 4);
            const __m128i g = _mm_unpacklo_epi8(
                _mm_xor_si128(_mm_cvtsi32_si128(four), _mm_set1_epi8(static_cast<char>(0x80))),
                _mm_setzero_si128());
            const __m128i tail = _mm_unpacklo_epi16(
                g, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(vectors + 2 * i)));
            const __m128i pixels =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 4 * i));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kBytes * i),
                             _mm_unpacklo_epi32(pixels, tail));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kBytes * i + 16),
                             _mm_unpackhi_epi32(pixels, tail));
        }
        for (; i < columns; ++i) {
            uint8_t* cell = out + kBytes * i;
            std::memcpy(cell, source + 4 * i, 4);
            cell[4] = static_cast<uint8_t>(grain[i] ^ 0x80);
            cell[5] = 0;
            cell[6] = vectors[2 * i];
            cell[7] = vectors[2 * i + 1];
        }
    }
}

// How many rows of pixels one packing serves.
constexpr int32_t kPackedRows = 64;

}  // namespace

void SmearRow(const Streamlines& s, int32_t y, int32_t left, int32_t right, int32_t forward,
              int32_t backward, uint8_t* out) {
    if (s.channels != 4) {
        for (int32_t x = left; x < right; ++x, out += 4) SmearPixelDirect(s, x, y, forward, backward, out);
        return;
    }
    WalkPixels(LaneWalker(s), y, left, right, forward, backward, out);
}

// Rows whose walks may reach beyond the walkable cells, and the pixels of
// the others near their ends, walk with the bounds test; the rest over the
// packed cells, packed afresh every kPackedRows rows (with the reach above
// and below them).
int SmearBand(const Streamlines& s, const PixelRect& band, int32_t forward, int32_t backward,
              const Raster& destination, AbortCheck abort) {
    const PixelRect& w = s.walkable;
    const int32_t reach = std::max(forward, backward);
    const int64_t columns = int64_t{w.Width()} + 1;
    const int64_t rowsHeld = int64_t{kPackedRows} + 2 * int64_t{reach} + 1;
    ModuleBuffer<uint8_t> cells;
    const bool packs = s.channels == 4 && w.Width() > 2 * reach && w.Height() > 2 * reach &&
                       columns * rowsHeld < PTRDIFF_MAX / 2 / PackedWalks::kCellBytes;
    if (packs && cells.Allocate(static_cast<size_t>(columns * rowsHeld) *
                                PackedWalks::kCellBytes) != kOk) {
        return kOutOfMemory;
    }
    const auto stride = static_cast<ptrdiff_t>(columns) * PackedWalks::kCellBytes;
    PackedWalks packed(s, cells.get(), stride, w.left);
    const int32_t inLeft = std::clamp(w.left + reach, band.left, band.right);
    const int32_t inRight = std::clamp(w.right - reach + 1, inLeft, band.right);
    int32_t coveredFirst = 0, coveredLast = 0;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (abort(nullptr) != 0) return kCancelled;
        uint8_t* out = destination.Pixel(band.left, y);
        if (!packs || y - reach < w.top || y + reach > w.bottom) {
            SmearRow(s, y, band.left, band.right, forward, backward, out);
            continue;
        }
        if (y < coveredFirst || y >= coveredLast) {
            const int32_t first = y - reach;
            const auto last =
                static_cast<int32_t>(std::min<int64_t>(first + rowsHeld, int64_t{w.bottom} + 1));
            PackCells(s, w.left, static_cast<int32_t>(columns), first, last, cells.get());
            packed.MoveTo(first);
            coveredFirst = y;
            coveredLast = last - reach;
        }
        const LaneWalker& walker = packed.walker();
        WalkPixels(walker, y, band.left, inLeft, forward, backward, out);
        int32_t x = inLeft;
        for (; x + PackedWalks::kWalks <= inRight; x += PackedWalks::kWalks) {
            packed.Smear(x, y, forward, backward, out + 4 * (x - band.left));
        }
        WalkPixels(walker, y, x, band.right, forward, backward, out + 4 * (x - band.left));
    }
    return kOk;
}


#else

void SmearRow(const Streamlines& s, int32_t y, int32_t left, int32_t right, int32_t forward,
              int32_t backward, uint8_t* out) {
    for (int32_t x = left; x < right; ++x, out += 4) SmearPixelDirect(s, x, y, forward, backward, out);
}

int SmearBand(const Streamlines& s, const PixelRect& band, int32_t forward, int32_t backward,
              const Raster& destination, AbortCheck abort) {
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (abort(nullptr) != 0) return kCancelled;
        SmearRow(s, y, band.left, band.right, forward, backward, destination.Pixel(band.left, y));
    }
    return kOk;
}

#endif

}  // namespace zoka
