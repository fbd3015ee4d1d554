// Glow: draws a semi-transparent halo of one colour around the layer or the
// selection, fading with the distance from its edge.
#include "effects/glow.h"

#include <cmath>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "bevel/height_map.h"
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

constexpr ParamDecl kGlowParams[] = {
    FixedSlider(29001, 0, 100, 0, 999, 20, "Width"),
    FixedSlider(24003, 0, 100, 0, 100, 100, "Opacity"),
    Color(28004, {255, 255, 255, 255}, "Color"),
    Popup(29002, 42003, 4, 1, "DropoffType"),
    Checkbox(41001, 29003, false, "DrawEverywhere"),
};

struct GlowParams {
    double width = 20;  // pixels at full resolution
    double opacity = 100;
    RgbColor colour = RgbColor::Bytes(255, 255, 255);
    int16_t dropoff = kGlowFat;  // GlowDropoffItem
    int16_t drawEverywhere = 0;
};

class Glow final : public EffectOf<Glow, GlowParams> {
public:
    static constexpr int kIndex = 7;
    static constexpr int kNameId = 29000;
    static constexpr int kDescriptionId = 29004;
    static constexpr const char* kKey = "Glow";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kGlowParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, GlowParams& block) const {
        block.width = ParamFixed(params, 0);
        block.opacity = ParamFixed(params, 1);
        block.colour = FromParamPixel(ParamColor(params, 2));
        block.dropoff = ParamInt16(params, 3);
        block.drawEverywhere = ParamBool(params, 4) ? 1 : 0;
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const GlowParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::ceil(p.width / scale)) + 1);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

}  // namespace

// ---- Kernel ------------------------------------------------------------------

double GlowDropoff(double b, int16_t dropoff) {
    const double t = 1 - b;
    switch (dropoff) {
        case kGlowMedium: return b >= 0.5 ? 1 - 2 * t * t : 2 * b * b;
        case kGlowThin: return b * b;
        default: return 1 - t * t;
    }
}

namespace {

// The halo laid over the source, one pixel at a time.
struct GlowHalo {
    const Raster* source;
    const Raster* destination;
    const Raster* mask;
    double maskOffsetX, maskOffsetY;
    double opacity;    // 0..1
    double colour[3];  // 0..1
    bool drawEverywhere;

    // Lays the halo colour over the source pixel with coverage b: alpha
    // b + (1 - b) a, colour the mean of halo and source weighted by their
    // shares. Unless drawn everywhere, the mask holds the halo back, so the
    // layer itself stays visible. Nothing covered at all becomes (0, 0, 0, 0).
    void GlowComposite(int32_t x, int32_t y, double b) const {
        if (!drawEverywhere) {
            const int m = SampleBilinearClamped(*mask, x - maskOffsetX, y - maskOffsetY);
            b = b * (1 - m / 255.0);
        }
        const uint8_t* s = source->Pixel(x, y);
        uint8_t* d = destination->Pixel(x, y);
        const double a = s[3] / 255.0;
        const double g = (1 - b) * a;
        const double k = SafeReciprocal(b + g);
        for (int i = 0; i < 3; ++i) d[i] = UnitToByte((colour[i] * b + s[i] / 255.0 * g) * k);
        d[3] = UnitToByte(b + g);
    }
};

GlowHalo HaloOf(const GlowParams& p, const RenderContext& context) {
    GlowHalo halo{context.source, context.destination, context.mask, context.maskOffsetX,
                  context.maskOffsetY, p.opacity * 0.01, {}, p.drawEverywhere != 0};
    halo.colour[0] = p.colour.red / 255.0;
    halo.colour[1] = p.colour.green / 255.0;
    halo.colour[2] = p.colour.blue / 255.0;
    return halo;
}

// The distance dropoffs: the engine measures, outside the mask, the distance
// from its edge up to the width; inside pixels count as at the edge, and
// pixels beyond the width keep the input.
class GlowHeightMap final : public HeightMap {
public:
    GlowHeightMap(const GlowHalo& halo, double width, int16_t dropoff)
        : halo_(halo), width_(width), dropoff_(dropoff) {}

protected:
    void SetEdgeHeight(int32_t x, int32_t y, double, double, double value) override {
        const double b = width_ > 0 ? 1 - value / width_ : 1;
        halo_.GlowComposite(x, y, GlowDropoff(b, dropoff_) * halo_.opacity);
    }
    void SetInteriorHeight(int32_t x, int32_t y) override { SetEdgeHeight(x, y, x, y, 0); }
    void SetExteriorHeight(int32_t, int32_t) override {}

private:
    GlowHalo halo_;
    double width_;
    int16_t dropoff_;
};

int RenderDistanceDropoff(const RenderContext& context, const PixelRect& band,
                          const GlowHalo& halo, double width, int16_t dropoff) {
    ModuleObject<GlowHeightMap> map;
    int result = map.Make(halo, width, dropoff);
    if (result != kOk) return result;
    result = map->Setup(*context.mask, width, band, false, context.maskOffsetX,
                        context.maskOffsetY);
    if (result != kOk) return result;
    return map->Run(context.abort);
}

// Diffuse: the halo follows the mask blurred by the width. The blur is the
// only place that polls for a cancel.
int RenderDiffuse(const RenderContext& context, const PixelRect& band, const GlowHalo& halo,
                  double width) {
    PixelRect area;
    GrowWithin(band, *context.mask, TruncToInt32(std::ceil(width)), area);
    ScopedRaster blurred;
    const int result = BlurMaskRegion(*context.mask, area, width, context.abort, blurred,
                                      EngineRunner(context.input));
    if (result != kOk) return result;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        for (int32_t x = band.left; x < band.right; ++x) {
            const int w = SampleBilinearClamped(*blurred, x - halo.maskOffsetX, y - halo.maskOffsetY);
            halo.GlowComposite(x, y, w / 255.0 * halo.opacity);
        }
    }
    return kOk;
}

int Glow::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const GlowParams*>(context.params);
    const double width = p.width / context.divisor;
    const GlowHalo halo = HaloOf(p, context);
    if (p.dropoff == kGlowDiffuse) return RenderDiffuse(context, band, halo, width);
    return RenderDistanceDropoff(context, band, halo, width, p.dropoff);
}

}  // namespace

extern const EffectMaker kGlowMaker = MakerFor<Glow>();

}  // namespace zoka
