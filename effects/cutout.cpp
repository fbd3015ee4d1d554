// Cutout: turns the masked area into a hole whose rim casts a shadow onto
// its floor; the floor is a solid fill or transparent.
#include "base/result_codes.h"
#include "effects/shadow.h"
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

constexpr ParamDecl kCutoutParams[] = {
    Angle(22008, 135, "ShadowDirection"),
    FixedSlider(24001, 0, 100, 0, 600, 10, "ShadowDistance"),
    FixedSlider(24002, 0, 100, 0, 100, 5, "Blur"),
    FixedSlider(24003, 0, 100, 0, 100, 80, "Opacity"),
    Color(24004, {255, 0, 0, 0}, "ShadowColor"),
    Checkbox(41001, 24006, true, "SolidFill"),
    Color(24005, {255, 255, 255, 255}, "FillColor"),
};

struct CutoutParams {
    double direction = 315;  // degrees counter-clockwise from +x
    double distance = 10;
    double blur = 5;
    double opacity = 80;
    RgbColor shadowColour = RgbColor::Bytes(0, 0, 0);
    int16_t solidFill = 1;
    RgbColor fillColour = RgbColor::Bytes(255, 255, 255);
};

class Cutout final : public EffectOf<Cutout, CutoutParams> {
public:
    static constexpr int kIndex = 3;
    static constexpr int kNameId = 24000;
    static constexpr int kDescriptionId = 24007;
    static constexpr const char* kKey = "Cutout";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kCutoutParams;

    bool SpareFlagA() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, CutoutParams& block) const {
        block.direction = ParamDirection(params, 0);
        block.distance = ParamFixed(params, 1);
        block.blur = ParamFixed(params, 2);
        block.opacity = ParamFixed(params, 3);
        block.shadowColour = FromParamPixel(ParamColor(params, 4));
        block.solidFill = ParamBool(params, 5) ? 1 : 0;
        block.fillColour = FromParamPixel(ParamColor(params, 6));
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

// What every pixel of a band shares: the colours in 0..1 and the opacity
// fraction.
struct HoleShading {
    double shadow[3];
    double fill[3];
    double opacity;
    bool solidFill;

    explicit HoleShading(const CutoutParams& p)
        : shadow{p.shadowColour.red / 255.0, p.shadowColour.green / 255.0,
                 p.shadowColour.blue / 255.0},
          fill{p.fillColour.red / 255.0, p.fillColour.green / 255.0, p.fillColour.blue / 255.0},
          opacity(p.opacity * 0.01),
          solidFill(p.solidFill != 0) {}
};

// 0..255 truncated; what lies beyond is clamped.
uint8_t UnitToByte(double v) {
    if (!(v > 0)) return 0;
    if (v > 255) return 255;
    return static_cast<uint8_t>(v);
}

// One pixel: o (0..1) how much it lies in the hole, u (0..255) how much of
// the rim's shadow reaches it. Inside the hole the layer gives way to the
// fill (or to nothing), and the shadow lies over that.
void ShadeHolePixel(const uint8_t* source, uint8_t* destination, double o, int u,
                    const HoleShading& shading) {
    double a = source[3] / 255.0;
    if (!shading.solidFill) a = a * (1 - o);
    const double g = u / 255.0 * shading.opacity * o;
    const double i = a * (1 - g);
    const double k = SafeReciprocal(g + i);
    for (int c = 0; c < 3; ++c) {
        const double under = shading.solidFill
                                 ? shading.fill[c] * o + (1 - o) * source[c] / 255.0
                                 : source[c] / 255.0;
        destination[c] = UnitToByte((shading.shadow[c] * g + under * i) * k * 255);
    }
    destination[3] = UnitToByte((g + i) * 255);
}

// The mask blurred around the band moved against the shadow's offset, read
// back at the offset: where the hole's rim hides the floor, its shadow falls.
int Cutout::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const CutoutParams*>(context.params);
    const double r = p.blur / context.divisor;
    const ShadowVector offset = ShadowOffset(p.direction, p.distance / context.divisor);
    PixelRect area = band;
    OffsetRect(area, -TruncToInt32(offset.x), -TruncToInt32(offset.y));
    OutsetRect(area, TruncToInt32(r) + 1);
    ScopedRaster rim;
    const int result = BlurMaskRegion(*context.mask, area, r, context.abort, rim,
                                      EngineRunner(context.input));
    if (result != kOk) return result;

    const HoleShading shading(p);
    const double dx = context.maskOffsetX;
    const double dy = context.maskOffsetY;
    return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        for (int32_t y = top; y < bottom; ++y) {
            const uint8_t* s = context.source->Pixel(band.left, y);
            uint8_t* d = context.destination->Pixel(band.left, y);
            for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
                const double o = SampleBilinearClamped(*context.mask, x - dx, y - dy) / 255.0;
                const int u = 255 - SampleBilinearClamped(*rim, x - dx - offset.x, y - dy - offset.y);
                ShadeHolePixel(s, d, o, u, shading);
            }
        }
        return kOk;
    });
}

}  // namespace

extern const EffectMaker kCutoutMaker = MakerFor<Cutout>();

}  // namespace zoka
