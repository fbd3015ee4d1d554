// HSB Noise: varies each pixel's hue, saturation, brightness and opacity by
// four smooth noise patterns that drift and undulate over time.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/result_codes.h"
#include "effects/flow.h"
#include "effects/hsv.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "noise/noise_field.h"

namespace zoka {

namespace {

constexpr ParamDecl kHsbNoiseParams[] = {
    FixedSlider(30001, 0, 100, 0, 100, 5, "Hue"),
    FixedSlider(30002, 0, 100, 0, 100, 30, "Saturation"),
    FixedSlider(30003, 0, 100, 0, 100, 40, "Brightness"),
    FixedSlider(30004, 0, 100, 0, 100, 0, "Opacity"),
    FixedSlider(30005, 1, 100, 1, 100, 5, "LumpWidth"),
    FixedSlider(30006, 1, 100, 1, 100, 5, "LumpHeight"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
};

struct HsbNoiseParams {
    double hue = 5;
    double saturation = 30;
    double brightness = 40;
    double opacity = 0;
    double lumpWidth = 5;
    double lumpHeight = 5;
    int32_t randomSeed = 1;
};

class HsbNoise final : public EffectOf<HsbNoise, HsbNoiseParams, FlowingEffect<HsbNoise>> {
public:
    static constexpr int kIndex = 8;
    static constexpr int kNameId = 30000;
    static constexpr int kDescriptionId = 30010;
    static constexpr const char* kKey = "HSBNoise";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kHsbNoiseParams;

    bool SpareFlagA() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 7 to 9 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, HsbNoiseParams& block) const {
        block.hue = ParamFixed(params, 0);
        block.saturation = ParamFixed(params, 1);
        block.brightness = ParamFixed(params, 2);
        block.opacity = ParamFixed(params, 3);
        block.lumpWidth = ParamFixed(params, 4);
        block.lumpHeight = ParamFixed(params, 5);
        block.randomSeed = ParamInt(params, 6);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

constexpr double kUnit = 0.00392156862745098;  // 1/255 as the kernel uses it
// Each pattern is shifted from the one before by 17.3 lumps, which makes the
// four independent.
constexpr double kPatternShift = 17.3;

struct Variation {
    double hue, saturation, saturationLow, brightness, opacity;
};

Variation VariationOf(const HsbNoiseParams& p) {
    const double saturation = p.saturation * 0.01;
    return Variation{p.hue * 0.005, saturation, saturation * 5.0, p.brightness * 0.01,
                     p.opacity * 0.01};
}

// The noise values at one pixel.
struct PixelNoise {
    double hue, saturation, brightness, opacity;
};

// Hue as a fraction of a turn, in [0, 1).
double HueFraction(const HueSixths& hsv) {
    if (hsv.grey) return kGreyHue;
    double h = hsv.h6 / 6;
    if (h < 0) h += 1;
    return h;
}

// Low saturations vary in proportion to themselves; the two rules meet at 0.2.
double VarySaturation(double s, double noise, const Variation& v) {
    const double varied = s >= 0.2 ? s + noise * v.saturation : s + noise * v.saturationLow * s;
    return std::clamp(varied, 0.02, 1.0);
}

// A source colour's hue fraction, saturation and value, remembering the last
// colour: the transparent surroundings and flat areas repeat it.
class ColourAnalysis {
public:
    struct Hsv {
        double hue, s, v;
    };
    const Hsv& Of(const uint8_t* source) {
        const uint32_t colour = source[0] | uint32_t{source[1]} << 8 | uint32_t{source[2]} << 16;
        if (colour != lastColour_) {
            lastColour_ = colour;
            const HueSixths hsv =
                RgbToHueSixths(source[0] * kUnit, source[1] * kUnit, source[2] * kUnit);
            last_ = Hsv{HueFraction(hsv), hsv.s, hsv.v};
        }
        return last_;
    }

private:
    uint32_t lastColour_ = ~0u;  // no colour of three bytes
    Hsv last_{};
};

void VaryPixel(const uint8_t* source, uint8_t* destination, const ColourAnalysis::Hsv& hsv,
               const PixelNoise& n, const Variation& v, bool withOpacity) {
    const double h = hsv.hue + n.hue * v.hue;
    const double hue = WrapToTurn(h);
    const double s = VarySaturation(hsv.s, n.saturation, v);
    const double value = std::clamp(hsv.v + n.brightness * v.brightness, 0.02, 1.0);
    HsvToBytes(hue, s, value, destination);
    if (!withOpacity) return;
    destination[3] = source[3] == 0 ? 0 : UnitToByte((n.opacity * v.opacity + 1) * (source[3] * kUnit));
}

// The four noise patterns over one band; the opacity pattern only when alpha
// is processed.
struct NoisePatterns {
    ScopedRaster hue, saturation, brightness, opacity;

    int Create(const PixelRect& band, bool withOpacity) {
        int result = hue.Create(band, 1, 8);
        if (result == kOk) result = saturation.Create(band, 1, 8);
        if (result == kOk) result = brightness.Create(band, 1, 8);
        if (result == kOk && withOpacity) result = opacity.Create(band, 1, 8);
        return result;
    }
};

// Fills the patterns at their shifted offsets; 0, 1 when aborted, or 8
// without memory.
int FillPatterns(const NoiseField& field, const NoisePatterns& patterns, const HsbNoiseParams& p,
                 const RenderContext& context, const Drift& drift, bool withOpacity) {
    const double k = context.divisor;
    const double ox = drift.x - context.selectionBounds->left;
    const double oy = drift.y - context.selectionBounds->top;
    const double shiftX = kPatternShift * p.lumpWidth / k;
    const double shiftY = kPatternShift * p.lumpHeight / k;
    const auto fill = [&](const ScopedRaster& raster, int shifts) {
        return field.Fill(*raster, p.lumpWidth, p.lumpHeight, ox + shifts * shiftX,
                          oy + shifts * shiftY, context.abort, k);
    };
    int result = fill(patterns.hue, 0);
    if (result == kOk) result = fill(patterns.saturation, 1);
    if (result == kOk) result = fill(patterns.brightness, 2);
    if (result == kOk && withOpacity) result = fill(patterns.opacity, 3);
    return result;
}

int VaryBand(const RenderContext& context, const PixelRect& band, const NoisePatterns& patterns,
             const Variation& variation, bool withOpacity) {
    ColourAnalysis colours;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        const uint8_t* s = context.source->Pixel(band.left, y);
        uint8_t* d = context.destination->Pixel(band.left, y);
        const double* nh = patterns.hue->RowAs<double>(y);
        const double* ns = patterns.saturation->RowAs<double>(y);
        const double* nv = patterns.brightness->RowAs<double>(y);
        const double* na = withOpacity ? patterns.opacity->RowAs<double>(y) : nullptr;
        for (int32_t i = 0; i < band.Width(); ++i, s += 4, d += 4) {
            const PixelNoise noise{nh[i], ns[i], nv[i], na != nullptr ? na[i] : 0};
            VaryPixel(s, d, colours.Of(s), noise, variation, withOpacity);
        }
    }
    return kOk;
}

int HsbNoise::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const HsbNoiseParams*>(context.params);
    const bool withOpacity = context.excludeAlpha != 0;
    NoiseField field;
    int result = field.Init(1.0, 0, static_cast<int16_t>(p.randomSeed), Flow().phase);
    NoisePatterns patterns;
    if (result == kOk) result = patterns.Create(band, withOpacity);
    if (result == kOk) {
        const Drift drift = FrameDrift(context, Flow());
        result = FillPatterns(field, patterns, p, context, drift, withOpacity);
    }
    if (result == kOk) result = VaryBand(context, band, patterns, VariationOf(p), withOpacity);
    return result;
}

}  // namespace

extern const EffectMaker kHsbNoiseMaker = MakerFor<HsbNoise>();

}  // namespace zoka
