// Chrome: paints the masked part of the layer as polished metal, mixing two
// colours by a banded ramp of the blurred mask's slope along the light.
#include "effects/chrome.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "noise/rgb_color.h"
#include "raster/blur.h"
#include "raster/numeric.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr ParamDecl kChromeParams[] = {
    FixedSlider(23001, 0, 100, 0, 100, 10, "Softness"),
    FixedSlider(23002, 0, 100, 0, 100, 50, "Variation"),
    FixedSlider(23003, 0, 100, 0, 100, 50, "Contrast"),
    FixedSlider(23004, 1, 10, 1, 30, 4, nullptr),
    Angle(23005, 135, "Direction"),
    Color(23006, {255, 0, 0, 0}, "BaseColor"),
    Color(23007, {255, 255, 255, 255}, "HighlightColor"),
};

struct ChromeParams {
    double softness = 10;
    double variation = 50;
    double contrast = 50;
    double bands = 4;
    double lightDirection = 135;  // degrees counter-clockwise from +x
    RgbColor baseColor = RgbColor::Bytes(0, 0, 0);
    RgbColor highlightColor = RgbColor::Bytes(255, 255, 255);
};

class Chrome final : public EffectOf<Chrome, ChromeParams> {
public:
    static constexpr int kIndex = 2;
    static constexpr int kNameId = 23000;
    static constexpr int kDescriptionId = 23008;
    static constexpr const char* kKey = "Chrome";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kChromeParams;

    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, ChromeParams& block) const {
        block.softness = ParamFixed(params, 0);
        block.variation = ParamFixed(params, 1);
        block.contrast = ParamFixed(params, 2);
        block.bands = ParamFixed(params, 3);
        block.lightDirection = ParamDirection(params, 4);
        block.baseColor = FromParamPixel(ParamColor(params, 5));
        block.highlightColor = FromParamPixel(ParamColor(params, 6));
    }

    // The second area holds twice the blur's reach; nothing asks for it.
    void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect& second,
                    const void* block, double) const override {
        const auto& p = *static_cast<const ChromeParams*>(block);
        needed = area;
        second = area;
        OutsetRect(second, 2 * TruncToInt32(p.softness) + 4);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

}  // namespace

// ---- Kernel ------------------------------------------------------------------

void BuildBandTable(double contrast, double bands, int32_t* table) {
    for (int32_t i = 0; i < kBandTableSize; ++i) {
        // The ramp skips 128 so that it ends at 256: full highlight.
        const int32_t ramp = i <= 127 ? i : i + 1;
        const double ripple = contrast * std::sin((bands - 1) * i * 1.40625 * 0.017453292);
        table[i] = TruncToInt32(std::clamp(ripple + ramp, 0.0, 256.0));
    }
}

namespace {

// The blur radius in rendered pixels, at least one.
double BlurRadius(double softness, double divisor) {
    const double r = (softness + 2) / divisor;
    return r < 1 ? 1 : r;
}

// The colours to mix and how the blurred mask is sampled across the light.
struct Lighting {
    uint8_t base[3];
    uint8_t highlight[3];
    int32_t channels;  // colour channels painted; alpha never
    double dx, dy;     // from the pixel to each sample, along the light
};

Lighting LightingOf(const ChromeParams& p, const RenderContext& context, double radius) {
    Lighting l{};
    p.baseColor.ToBytes(l.base);
    p.highlightColor.ToBytes(l.highlight);
    // The colours carry red, green and blue only, whatever the raster holds.
    l.channels = std::min(3, context.source->channels - (context.excludeAlpha != 0 ? 1 : 0));
    const double theta = p.lightDirection * 0.017453292;
    const double d = p.variation * radius * 0.01;
    l.dx = d * std::cos(theta);
    l.dy = -d * std::sin(theta);  // rows grow downward
    return l;
}

// How far the blurred copy reaches past the band for samples at offset d.
int32_t SampleReach(double d) { return std::abs(TruncToInt32(std::ceil(d))); }

// The band outset by the samples' reach, then by the blur's within the mask.
PixelRect SampleArea(const PixelRect& band, const Lighting& l, double radius,
                     const Raster& mask) {
    PixelRect area = band;
    OutsetRect(area, SampleReach(l.dx), SampleReach(l.dy));
    PixelRect grown;
    GrowWithin(area, mask, TruncToInt32(std::ceil(radius)), grown);
    return grown;
}

// Paints the masked pixels of one band row: where the blurred mask is level
// across the light the Highlight Color, where it is steep the Base Color,
// banded by the table in between.
void PaintRow(const RenderContext& context, const Raster& blurred, const Lighting& l,
              const int32_t* table, int32_t y, int32_t left, int32_t right) {
    const uint8_t* m = context.mask->Pixel(left, y);
    uint8_t* d = context.destination->Pixel(left, y);
    for (int32_t x = left; x < right; ++x, ++m, d += 4) {
        if (*m == 0) continue;
        const int a = SampleBilinearClamped(blurred, x - l.dx, y - l.dy);
        const int b = SampleBilinearClamped(blurred, x + l.dx, y + l.dy);
        const int32_t w = table[255 - std::abs(a - b)];
        for (int32_t k = 0; k < l.channels; ++k) {
            d[k] = static_cast<uint8_t>((l.highlight[k] * w + l.base[k] * (256 - w)) >> 8);
        }
    }
}

}  // namespace

int Chrome::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const ChromeParams*>(context.params);
    const double radius = BlurRadius(p.softness, context.divisor);
    const Lighting lighting = LightingOf(p, context, radius);
    int32_t table[kBandTableSize];
    BuildBandTable(p.contrast, p.bands, table);

    const PixelRect area = SampleArea(band, lighting, radius, *context.mask);
    ScopedRaster blurred;
    const int result = BlurMaskRegion(*context.mask, area, radius, context.abort, blurred,
                                      EngineRunner(context.input));
    if (result != kOk) return result;
    return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        for (int32_t y = top; y < bottom; ++y) {
            if (context.abort(nullptr) != 0) return kCancelled;
            PaintRow(context, *blurred, lighting, table, y, band.left, band.right);
        }
        return kOk;
    });
}

extern const EffectMaker kChromeMaker = MakerFor<Chrome>();

}  // namespace zoka
