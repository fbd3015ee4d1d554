// Squint: replaces each pixel by the alpha-weighted mean of a ring of pixels
// around it, like an unfocused lens.
#include <algorithm>
#include <cmath>

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
// before the bands, and released with the parameter block. The module keeps
// one, so one Squint frame renders at a time.
struct SquintRing {
    int32_t count = 0;
    int32_t* offsets = nullptr;  // dx, dy pairs
};
SquintRing gSquintRing;

void ReleaseSquintRing() {
    if (gSquintRing.offsets != nullptr) HostFree(gSquintRing.offsets);
    gSquintRing = SquintRing{};
}

class Squint final : public EffectOf<Squint, SquintParams> {
public:
    static constexpr int kIndex = 15;
    static constexpr int kNameId = 35000;
    static constexpr int kDescriptionId = 35002;
    static constexpr const char* kKey = "Squint";
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
    void ReleaseParamBlock(void*) override { ReleaseSquintRing(); }
};

// ---- Kernel ------------------------------------------------------------------

int Squint::PrepareRender(RenderContext& context) {
    ReleaseSquintRing();
    const double r = static_cast<const SquintParams*>(context.params)->radius / context.divisor;
    const int32_t n = SquintRingSize(r);
    int32_t* offsets = nullptr;
    if (HostAllocChecked(offsets, sizeof(int32_t) * 2 * static_cast<size_t>(n)) != kOk) {
        return kOutOfMemory;
    }
    BuildSquintRing(r, n, offsets);
    gSquintRing = SquintRing{n, offsets};
    return kOk;
}

// Each pixel becomes the alpha-weighted mean colour of its ring and the
// ring's mean alpha; a ring of transparent pixels leaves a transparent pixel
// with its colour.
int Squint::RenderBand(RenderContext& context, const PixelRect& band) {
    const int32_t n = gSquintRing.count;
    if (n < 4) return kOk;
    const PixelRect& bounds = context.source->bounds;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        uint8_t* d = context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, d += 4) {
            int64_t sums[3] = {0, 0, 0};
            int64_t alpha = 0;
            for (int32_t i = 0; i < n; ++i) {
                const int32_t sx = ReflectInto(x + gSquintRing.offsets[2 * i], bounds.left, bounds.right);
                const int32_t sy =
                    ReflectInto(y + gSquintRing.offsets[2 * i + 1], bounds.top, bounds.bottom);
                const uint8_t* s = context.source->Pixel(sx, sy);
                alpha += s[3];
                for (int c = 0; c < 3; ++c) sums[c] += int64_t{s[c]} * s[3];
            }
            if (alpha > 0) {
                for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(sums[c] / alpha);
                d[3] = static_cast<uint8_t>(alpha / n);
            } else {
                d[3] = 0;
            }
        }
    }
    return kOk;
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

extern const EffectMaker kSquintMaker = MakerFor<Squint>();

}  // namespace zoka
