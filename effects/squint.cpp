// Squint: replaces each pixel by the alpha-weighted mean of a ring of pixels
// around it, like an unfocused lens.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "effects/squint.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kSquintParams[] = {
    FixedSlider(35001, 0, 30, 0, 150, 5, "Radius"),
};

struct SquintParams {
    double radius = 6.0;  // pixels at full resolution
};

// The ring of pixel offsets sampled around each pixel: built once per render,
// before the bands, kept in the render's effect object (which every band
// reads) and released with the parameter block.
struct SquintRing {
    int32_t count = 0;
    int32_t* offsets = nullptr;  // dx, dy pairs
};

class Squint final : public EffectOf<Squint, SquintParams> {
public:
    static constexpr int kIndex = 15;
    static constexpr int kNameId = 35000;
    static constexpr int kDescriptionId = 35002;
    static constexpr const char* kKey = "Squint";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kSquintParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }

    void ReadBlock(HostParamDef** params, SquintParams& block) const {
        block.radius = ParamFixed(params, 0);
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const SquintParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::max(1.0, p.radius / WholeDivisor(scale))) + 1);
    }

    int PrepareRender(RenderContext& context) override;
    int RenderBand(RenderContext& context, const PixelRect& band) override;
    void ReleaseParamBlock(void*) override {
        if (ring_.offsets != nullptr) HostFree(ring_.offsets);
        ring_ = SquintRing{};
    }

private:
    SquintRing ring_;
};

// ---- Kernel ------------------------------------------------------------------

int Squint::PrepareRender(RenderContext& context) {
    const double r = static_cast<const SquintParams*>(context.params)->radius / context.divisor;
    const int32_t n = SquintRingSize(r);
    int32_t* offsets = nullptr;
    if (HostAllocChecked(offsets, sizeof(int32_t) * 2 * static_cast<size_t>(n)) != kOk) {
        return kOutOfMemory;
    }
    BuildSquintRing(r, n, offsets);
    ring_ = SquintRing{n, offsets};
    return kOk;
}

// Each pixel becomes the alpha-weighted mean colour of its ring and the
// ring's mean alpha; a ring of transparent pixels leaves a transparent pixel
// with its colour.
int Squint::RenderBand(RenderContext& context, const PixelRect& band) {
    if (ring_.count < 4) return kOk;
    return SquintBand(*context.source, ring_.offsets, ring_.count, band,
                      *context.destination, context.abort);
}

constexpr int64_t kMaxWindowBytes = int64_t{64} << 20;

// One pixel from its ring's sums: the colour sums are the alpha-weighted
// channels.
template <typename Sum>
void WriteMean(const Sum* sums, Sum alpha, int32_t count, uint8_t* d) {
    if (alpha > 0) {
        for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(sums[c] / alpha);
        d[3] = static_cast<uint8_t>(alpha / count);
    } else {
        d[3] = 0;
    }
}

// The premultiplied source over a block of the band's rows, grown by the
// ring's reach on every side: four 16-bit values a pixel (each colour times
// alpha, then alpha), read through the mirroring, so a ring never leaves it.
class PremultipliedWindow {
public:
    PremultipliedWindow(const Raster& source, const PixelRect& band, int32_t reach,
                        int32_t blockRows)
        : source_(source),
          left_(band.left - reach),
          columns_(band.Width() + 2 * reach),
          reach_(reach),
          blockRows_(blockRows) {}

    int Allocate() {
        const uint64_t values = uint64_t{4} * static_cast<uint64_t>(columns_) *
                                static_cast<uint64_t>(blockRows_ + 2 * reach_);
        if (values > kMaxBlockBytes / sizeof(uint16_t)) return kOutOfMemory;
        return pixels_.Allocate(static_cast<size_t>(values));
    }

    // Fills the window for the block of rows from top, at most blockRows.
    void Fill(int32_t top, int32_t rows) {
        const PixelRect& b = source_.bounds;
        top_ = top;
        uint16_t* out = pixels_.get();
        for (int32_t y = top - reach_; y < top + rows + reach_; ++y) {
            const int32_t sy = ReflectInto(y, b.top, b.bottom);
            for (int32_t x = left_; x < left_ + columns_; ++x, out += 4) {
                const uint8_t* s = source_.Pixel(ReflectInto(x, b.left, b.right), sy);
                for (int c = 0; c < 3; ++c) out[c] = static_cast<uint16_t>(s[c] * s[3]);
                out[3] = s[3];
            }
        }
    }

    // The element offset, from a row's first window pixel, of ring offset
    // (dx, dy).
    ptrdiff_t OffsetOf(int32_t dx, int32_t dy) const {
        return 4 * ((ptrdiff_t{dy} + reach_) * columns_ + dx + reach_);
    }
    // The window's first pixel for band row y's ring offset (-reach, -reach).
    const uint16_t* RowBase(int32_t y) const {
        return pixels_.get() + 4 * ptrdiff_t{y - top_} * columns_;
    }

private:
    const Raster& source_;
    const int32_t left_, columns_, reach_, blockRows_;
    int32_t top_ = 0;
    ModuleBuffer<uint16_t> pixels_;
};

// The rings' sums of the band's rows: per ring offset, the window's row added
// along the whole band row at once (integer sums, so any order gives the
// same totals; count is small enough for 32 bits).
int SumRows(const Raster& source, const int32_t* offsets, int32_t count, const PixelRect& band,
            const Raster& destination, AbortCheck abort, int32_t reach, int32_t blockRows) {
    const int32_t width = band.Width();
    PremultipliedWindow window(source, band, reach, blockRows);
    ModuleBuffer<int32_t> sums;
    ModuleBuffer<ptrdiff_t> steps;
    if (window.Allocate() != kOk || sums.Allocate(4 * static_cast<size_t>(width)) != kOk ||
        steps.Allocate(static_cast<size_t>(count)) != kOk) {
        return kOutOfMemory;
    }
    for (int32_t i = 0; i < count; ++i) steps[i] = window.OffsetOf(offsets[2 * i], offsets[2 * i + 1]);
    const int32_t values = 4 * width;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (abort(nullptr) != 0) return kCancelled;
        if ((y - band.top) % blockRows == 0) window.Fill(y, std::min(blockRows, band.bottom - y));
        int32_t* total = sums.get();
        std::fill(total, total + values, 0);
        const uint16_t* base = window.RowBase(y);
        for (int32_t i = 0; i < count; ++i) {
            const uint16_t* s = base + steps[i];
            for (int32_t k = 0; k < values; ++k) total[k] += s[k];
        }
        uint8_t* d = destination.Pixel(band.left, y);
        for (int32_t x = 0; x < width; ++x, d += 4) {
            WriteMean(total + 4 * x, total[4 * x + 3], count, d);
        }
    }
    return kOk;
}

// The farthest the ring reaches along either axis.
int64_t RingReach(const int32_t* offsets, int32_t count) {
    int64_t reach = 0;
    for (int32_t i = 0; i < 2 * count; ++i) reach = std::max(reach, std::abs(int64_t{offsets[i]}));
    return reach;
}

}  // namespace

constexpr double kSquintTwoPi = 6.2831853;

int32_t SquintRingSize(double radius) { return std::max(1, TruncToInt32(radius * kSquintTwoPi)); }

void BuildSquintRing(double radius, int32_t count, int32_t* offsets) {
    const double step = kSquintTwoPi / count;
    double a = 0;
    for (int32_t i = 0; i < count; ++i, a += step) {
        offsets[2 * i] = TruncToInt32(radius * std::cos(a) + 0.5);
        offsets[2 * i + 1] = TruncToInt32(radius * std::sin(a) + 0.5);
    }
}

int32_t ReflectInto(int32_t v, int32_t lo, int32_t hi) {
    if (v < lo) v = 2 * lo - v;
    if (v >= hi) v = 2 * hi - v - 2;
    return std::clamp(v, lo, hi - 1);
}

int SquintBand(const Raster& source, const int32_t* offsets, int32_t count,
               const PixelRect& band, const Raster& destination, AbortCheck abort) {
    if (IsEmpty(band)) return kOk;
    // Rings far wider than any default (a window past kMaxWindowBytes, sums
    // past 32 bits) go the way that needs no window.
    const int64_t reach = RingReach(offsets, count);
    const int64_t blockRows = std::max<int64_t>(64, 2 * reach);
    const int64_t windowBytes = 8 * (band.Width() + 2 * reach) * (blockRows + 2 * reach);
    if (reach > 1 << 16 || windowBytes > kMaxWindowBytes || count > INT32_MAX / (255 * 255)) {
        return SquintBandDirect(source, offsets, count, band, destination, abort);
    }
    return SumRows(source, offsets, count, band, destination, abort, static_cast<int32_t>(reach),
                   static_cast<int32_t>(blockRows));
}

int SquintBandDirect(const Raster& source, const int32_t* offsets, int32_t count,
                     const PixelRect& band, const Raster& destination, AbortCheck abort) {
    const PixelRect& bounds = source.bounds;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (abort(nullptr) != 0) return kCancelled;
        uint8_t* d = destination.Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, d += 4) {
            int64_t sums[4] = {0, 0, 0, 0};
            for (int32_t i = 0; i < count; ++i) {
                const int32_t sx = ReflectInto(x + offsets[2 * i], bounds.left, bounds.right);
                const int32_t sy = ReflectInto(y + offsets[2 * i + 1], bounds.top, bounds.bottom);
                const uint8_t* s = source.Pixel(sx, sy);
                sums[3] += s[3];
                for (int c = 0; c < 3; ++c) sums[c] += int64_t{s[c]} * s[3];
            }
            WriteMean(sums, sums[3], count, d);
        }
    }
    return kOk;
}

extern const EffectMaker kSquintMaker = MakerFor<Squint>();

}  // namespace zoka
