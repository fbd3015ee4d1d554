#include "noise/noise_field.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "noise/random.h"
#include "raster/numeric.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace zoka {

namespace {

// The lattice's angle scale: this truncated pi is part of the tables' format.
constexpr double kLatticePi = 3.141592654;
constexpr double kFlowDegToRad = 0.017453292;
constexpr int32_t kMask = NoiseField::kPeriod - 1;

// The floor of x as an integer, 0 for what has none (NaN, beyond 2^62); only
// its low bits are used.
int64_t FloorIndex(double floored) {
    return std::fabs(floored) < 4.6e18 ? static_cast<int64_t>(floored) : 0;
}

double* Element(const Raster& raster, int32_t x, int32_t y) {
    return reinterpret_cast<double*>(raster.Pixel(x, y));
}

}  // namespace

int NoiseField::Init(double amplitude, int16_t percent, int32_t seed, double phase) {
    const int32_t grainRange = percent * 127 / 100;
    RandomGenerator rng;
    rng.Seed(seed);
    if (permutation_.get() == nullptr && permutation_.Allocate(kPeriod) != kOk) return kOutOfMemory;
    for (int32_t i = 0; i < kPeriod; ++i) permutation_[i] = i;
    for (int32_t i = 0; i < kPeriod; ++i) std::swap(permutation_[i], permutation_[rng.Next() % kPeriod]);
    for (double& value : lattice_) value = amplitude * std::sin(rng.Uniform(-1, 1) * kLatticePi + phase);
    for (int8_t& g : grain_) {
        g = static_cast<int8_t>(std::abs(rng.Next()) % (2 * grainRange + 1) - grainRange);
    }
    for (double& level : dotLevel_) level = rng.NextUnit();
    return kOk;
}

int32_t NoiseField::Hash(int32_t a, int32_t b) const { return permutation_[a ^ b] & 255; }

NoiseField::Row::Row(const NoiseField& field, double y) : field_(field) {
    const double floorY = std::floor(y);
    const int64_t iy = FloorIndex(floorY);
    fy_ = y - floorY;
    sy_ = fy_ * fy_ * (3 - 2 * fy_);
    y0_ = static_cast<int32_t>(iy & kMask);
    y1_ = static_cast<int32_t>((iy + 1) & kMask);
}

// The corner hashes of the cell that starts at floorX.
void NoiseField::Row::Enter(double floorX) {
    cellX_ = floorX;
    const int64_t ix = FloorIndex(floorX);
    const int32_t* p = field_.permutation_.get();
    const int32_t a = p[ix & kMask];
    const int32_t b = p[(ix + 1) & kMask];
    h00_ = &field_.lattice_[field_.Hash(a, y0_)];
    h10_ = &field_.lattice_[field_.Hash(b, y0_)];
    h01_ = &field_.lattice_[field_.Hash(a, y1_)];
    h11_ = &field_.lattice_[field_.Hash(b, y1_)];
}

NoiseField::Column NoiseField::ColumnAt(double x) {
    const double floorX = std::floor(x);
    const double fx = x - floorX;
    return Column{floorX, fx, fx * fx * (3 - 2 * fx)};
}

double NoiseField::Row::At(double x) {
    const Column c = ColumnAt(x);
    return AtColumn(c.floorX, c.fx, c.sx);
}

double NoiseField::Row::AtColumn(double floorX, double fx, double sx) {
    if (!(floorX == cellX_)) Enter(floorX);
    const double fy = fy_, sy = sy_;
    // A corner at offset (dx, dy) from the sample: half its value term plus
    // its gradient terms.
    const auto corner = [](const double* l, double dx, double dy) {
        return 0.5 * l[0] + l[1] * dx + l[2] * dy;
    };
    const double c00 = corner(h00_, fx, fy);
    const double c10 = corner(h10_, fx - 1, fy);
    const double c01 = corner(h01_, fx, fy - 1);
    const double c11 = corner(h11_, fx - 1, fy - 1);
    return (1 - sx) * (1 - sy) * c00 + sx * (1 - sy) * c10 + (1 - sx) * sy * c01 + sx * sy * c11;
}

double NoiseField::Noise(double x, double y) const { return Row(*this, y).At(x); }

namespace {

// The running position at element `first` of a sum that starts with `start`
// at element `origin` and adds step at every element after it.
double SummedFrom(double start, double step, int32_t origin, int32_t first) {
    for (int32_t i = origin; i < first; ++i) start += step;
    return start;
}

}  // namespace

void NoiseField::SumPositionsFrom(int32_t left, int32_t top) {
    sumsFromOrigin_ = true;
    sumLeft_ = left;
    sumTop_ = top;
}

int NoiseField::Fill(const Raster& raster, double w, double h, double ox, double oy,
                     AbortCheck abortCheck, double scale) const {
    const PixelRect& b = raster.bounds;
    const double stepX = scale / w, stepY = scale / h;
    if (IsEmpty(b)) return kOk;
    // Every row samples the same x positions: their floors and weights are
    // found once.
    const auto width = static_cast<size_t>(b.Width());
    ModuleBuffer<Column> columns;
    if (columns.Allocate(width) != kOk) return kOutOfMemory;
    const int32_t left = SumLeft(b), top = SumTop(b);
    double x = SummedFrom((left + ox) * stepX, stepX, left, b.left);
    for (size_t i = 0; i < width; ++i, x += stepX) columns[i] = ColumnAt(x);
    double y = SummedFrom((top + oy) * stepY, stepY, top, b.top);
    for (int32_t row = b.top; row < b.bottom; ++row, y += stepY) {
        if (abortCheck(nullptr) != 0) return kCancelled;
        double* out = Element(raster, b.left, row);
        Row noise(*this, y);
        for (const Column* c = columns.get(); c != columns.get() + width; ++c) {
            *out++ = noise.AtColumn(c->floorX, c->fx, c->sx);
        }
    }
    return kOk;
}

int NoiseField::Fill(const Raster& raster, double w, double h, AbortCheck abortCheck,
                     double scale) const {
    return Fill(raster, w, h, 0, 0, abortCheck, scale);
}

int NoiseField::AddOctaves(const Raster& raster, double w, double h, double ox, double oy,
                           AbortCheck abortCheck, double scale, bool absolute) {
    const PixelRect& b = raster.bounds;
    double stepX = scale / w, stepY = scale / h;
    int result = kOk;
    for (int octave = 0; octave < 4 && result == kOk; ++octave) {
        stepX *= 2;
        stepY *= 2;
        const double x0 = SummedFrom(stepX * (SumLeft(b) + ox) + 17.1, stepX, SumLeft(b), b.left);
        double y = SummedFrom(stepY * (SumTop(b) + oy) + 23.7, stepY, SumTop(b), b.top);
        for (double& value : lattice_) value *= 0.5;
        for (int32_t row = b.top; row < b.bottom; ++row, y += stepY) {
            if (abortCheck(nullptr) != 0) {
                result = kCancelled;
                break;
            }
            double x = x0;
            double* out = Element(raster, b.left, row);
            Row noise(*this, y);
            for (int32_t column = b.left; column < b.right; ++column, x += stepX) {
                const double n = noise.At(x);
                *out++ += absolute ? std::fabs(n) : n;
            }
        }
    }
    std::copy(std::begin(latticeSaved_), std::end(latticeSaved_), lattice_);
    return result;
}

int NoiseField::FillFractal(const Raster& raster, double w, double h, double ox, double oy,
                            AbortCheck abortCheck, double scale) {
    const int result = Fill(raster, w, h, abortCheck, scale);
    if (result != kOk) return result;
    std::copy(std::begin(lattice_), std::end(lattice_), latticeSaved_);
    return AddOctaves(raster, w, h, ox, oy, abortCheck, scale, false);
}

int NoiseField::FillTurbulence(const Raster& raster, double w, double h, double ox, double oy,
                               AbortCheck abortCheck, double scale) {
    std::copy(std::begin(lattice_), std::end(lattice_), latticeSaved_);
    const PixelRect& b = raster.bounds;
    const double stepX = scale / w, stepY = scale / h;
    const double x0 = SummedFrom(stepX * (SumLeft(b) + ox) + 17.1, stepX, SumLeft(b), b.left);
    double y = SummedFrom(stepY * (SumTop(b) + oy) + 23.7, stepY, SumTop(b), b.top);
    for (int32_t row = b.top; row < b.bottom; ++row, y += stepY) {
        double x = x0;
        double* out = Element(raster, b.left, row);
        Row noise(*this, y);
        for (int32_t column = b.left; column < b.right; ++column, x += stepX) {
            *out++ = std::fabs(noise.At(x));
        }
    }
    return AddOctaves(raster, w, h, ox, oy, abortCheck, scale, true);
}

namespace {

// SafeReciprocal, inline for the per-pixel loop.
inline double Reciprocal(double x) {
    if (x > 1e-7 || x < -1e-7) return 1.0 / x;
    return x > 0 ? 1e7 : -1e7;
}

#ifdef __SSE2__
// Two columns of WriteFlowRow at once, each lane with the scalar operations:
// the length's sum is never negative (NaN aside), the reciprocal is chosen
// as Reciprocal chooses, and values from 2^31 - 1 up are held there before
// truncating, as TruncToInt32 saturates them (NaN and the negative side
// truncate to INT32_MIN as it does, whose low byte is 0 as NaN's 0).
int32_t WriteFlowPairs(const double* above, const double* current, const double* below,
                       int32_t width, double c, double s, int8_t* vectors) {
    const __m128d cosine = _mm_set1_pd(c), sine = _mm_set1_pd(s);
    const __m128d half = _mm_set1_pd(0.5), scale = _mm_set1_pd(127);
    const __m128d tiny = _mm_set1_pd(1e-7), ceiling = _mm_set1_pd(2147483647.0);
    int32_t j = 1;
    for (; j + 1 <= width; j += 2) {
        const __m128d gx = _mm_sub_pd(_mm_loadu_pd(current + j + 1), _mm_loadu_pd(current + j - 1));
        const __m128d gy = _mm_sub_pd(_mm_loadu_pd(below + j), _mm_loadu_pd(above + j));
        const __m128d length = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(gx, gx), _mm_mul_pd(gy, gy)));
        const __m128d divides = _mm_or_pd(_mm_cmpgt_pd(length, tiny),
                                          _mm_cmplt_pd(length, _mm_sub_pd(_mm_setzero_pd(), tiny)));
        const __m128d bound = _mm_or_pd(
            _mm_and_pd(_mm_cmpgt_pd(length, _mm_setzero_pd()), _mm_set1_pd(1e7)),
            _mm_andnot_pd(_mm_cmpgt_pd(length, _mm_setzero_pd()), _mm_set1_pd(-1e7)));
        const __m128d m = _mm_or_pd(_mm_and_pd(divides, _mm_div_pd(_mm_set1_pd(1.0), length)),
                                    _mm_andnot_pd(divides, bound));
        const __m128d ux = _mm_mul_pd(m, gx), uy = _mm_mul_pd(m, gy);
        const __m128d a = _mm_add_pd(
            half, _mm_mul_pd(scale, _mm_add_pd(_mm_mul_pd(cosine, ux), _mm_mul_pd(sine, uy))));
        const __m128d b = _mm_add_pd(
            half, _mm_mul_pd(scale, _mm_sub_pd(_mm_mul_pd(cosine, uy), _mm_mul_pd(sine, ux))));
        const __m128i ints = _mm_unpacklo_epi32(_mm_cvttpd_epi32(_mm_min_pd(ceiling, a)),
                                                _mm_cvttpd_epi32(_mm_min_pd(ceiling, b)));
        // The low byte of each, sign-extended, packs without saturating.
        const __m128i bytes = _mm_srai_epi32(_mm_slli_epi32(ints, 24), 24);
        const __m128i packed = _mm_packs_epi16(_mm_packs_epi32(bytes, bytes), bytes);
        const int32_t four = _mm_cvtsi128_si32(packed);
        std::memcpy(vectors + 2 * (j - 1), &four, 4);
    }
    return j;
}
#endif

// One row of flow vectors from the noise of the rows above, at and below it
// (each indexed by column - left + 1).
void WriteFlowRow(const double* above, const double* current, const double* below,
                  int32_t width, double c, double s, int8_t* vectors) {
#ifdef __SSE2__
    const int32_t first = WriteFlowPairs(above, current, below, width, c, s, vectors);
#else
    const int32_t first = 1;
#endif
    for (int32_t j = first; j <= width; ++j) {
        const double gx = current[j + 1] - current[j - 1];
        const double gy = below[j] - above[j];
        const double sum = gx * gx + gy * gy;
        const double m = Reciprocal(sum < 0 ? 0 : std::sqrt(sum));
        const double ux = m * gx, uy = m * gy;
        vectors[2 * (j - 1)] = static_cast<int8_t>(TruncToInt32(0.5 + 127 * (c * ux + s * uy)));
        vectors[2 * (j - 1) + 1] = static_cast<int8_t>(TruncToInt32(0.5 + 127 * (c * uy - s * ux)));
    }
}

}  // namespace

// The noise is sampled once per position: a row's samples at y + d are the
// next row's own, as its y is reached by the same addition.
int NoiseField::FillFlowVectors(Raster*& out, const PixelRect& rect, int16_t lumpSize,
                                double angle, double ox, double oy) const {
    out = nullptr;
    const int32_t width = std::max(0, rect.Width());
    const size_t row = static_cast<size_t>(width) + 2;
    // Three noise rows and the x positions, each indexed by column - left + 1,
    // covering left - 1..right.
    ModuleBuffer<double> buffers[4];
    for (ModuleBuffer<double>& buffer : buffers) {
        if (buffer.Allocate(row) != kOk) return kOutOfMemory;
    }
    const int result = CreateRaster(rect, 2, 1, out);
    if (result != kOk) return result;
    double* above = buffers[0].get();
    double* current = buffers[1].get();
    double* below = buffers[2].get();
    double* xs = buffers[3].get();
    const double d = SafeReciprocal(lumpSize);
    const double turn = angle * kFlowDegToRad;
    const double c = std::cos(turn), s = std::sin(turn);
    const double xLeft = (rect.left + ox) * d;
    xs[0] = xLeft - d;
    xs[1] = xLeft;
    for (size_t j = 2; j < row; ++j) xs[j] = xs[j - 1] + d;
    const auto count = static_cast<int32_t>(row);
    double y = (rect.top + oy) * d;
    NoiseAlongRow(y - d, xs, count, above);
    NoiseAlongRow(y, xs, count, current);
    for (int32_t r = rect.top; r < rect.bottom; ++r, y += d) {
        NoiseAlongRow(y + d, xs, count, below);
        WriteFlowRow(above, current, below, width, c, s, reinterpret_cast<int8_t*>(out->Row(r)));
        double* reused = above;
        above = current;
        current = below;
        below = reused;
    }
    return kOk;
}

void NoiseField::AddNoiseBelow(const Raster& raster, double ceiling, int16_t lumpSize,
                               int16_t percent, double ox, double oy) const {
    const PixelRect& b = raster.bounds;
    const double d = SafeReciprocal(lumpSize);
    const double a = percent * 0.016666666666666666 * ceiling;
    // Every row samples the same x positions: a strip of columns at a time
    // has their floors and weights found once for all its rows, x carried on
    // from strip to strip as along a row.
    constexpr int32_t kStrip = 256;
    Column columns[kStrip];
    double x = (b.left + ox) * d;
    for (int32_t left = b.left; left < b.right; left += kStrip) {
        const int32_t count = std::min(kStrip, b.right - left);
        for (int32_t i = 0; i < count; ++i, x += d) columns[i] = ColumnAt(x);
        double y = (b.top + oy) * d;
        for (int32_t row = b.top; row < b.bottom; ++row, y += d) {
            double* v = Element(raster, left, row);
            Row noise(*this, y);
            for (const Column* c = columns; c != columns + count; ++c, ++v) {
                if (*v < 0.01) *v = std::min(*v + a * noise.AtColumn(c->floorX, c->fx, c->sx), ceiling);
            }
        }
    }
}

bool NoiseField::IsDot(int32_t column, int32_t row, double threshold) const {
    return dotLevel_[Hash(permutation_[column & kMask], row & kMask)] < threshold;
}

int NoiseField::FillGrain(Raster*& out, const PixelRect& rect) const {
    const int result = CreateRaster(rect, 1, 1, out);
    if (result != kOk) return result;
    for (int32_t row = rect.top; row < rect.bottom; ++row) {
        auto* g = reinterpret_cast<int8_t*>(out->Row(row));
        for (int32_t column = rect.left; column < rect.right; ++column) {
            *g++ = grain_[Hash(row & kMask, permutation_[column & kMask])];
        }
    }
    return kOk;
}

}  // namespace zoka
