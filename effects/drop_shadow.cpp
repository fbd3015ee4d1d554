// Drop Shadow: casts the layer's blurred shadow onto what lies behind it.
// Complete in the module but not registered with the host (no PiPL), so its
// name and description ids have no texts.
#include <algorithm>

#include "base/result_codes.h"
#include "effects/shadow.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "noise/rgb_color.h"
#include "raster/blur.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kDropShadowParams[] = {
    Angle("Shadow Direction", 315, "ShadowDirection"),
    Slider("Shadow Distance", 0, 600, 0, 600, 10, "ShadowDistance"),
    Slider("Blur", 0, 100, 0, 100, 10, "Blur"),
    Slider("Opacity", 0, 100, 0, 100, 90, "Opacity"),
    Color("Shadow Color", {255, 0, 0, 0}, "ShadowColor"),
    Checkbox("Draw Everywhere", "Draw Everywhere", false, "DrawEverywhere"),
};

struct DropShadowParams {
    int16_t direction = 315;  // degrees counter-clockwise from +x, truncated
    int16_t distance = 10;
    int16_t blur = 10;
    int16_t opacity = 90;
    RgbColor shadowColour = RgbColor::Bytes(0, 0, 0);
    int16_t drawEverywhere = 0;
};

// How far the blur reaches: a negative blur (a value no user can set)
// blurs nothing.
int32_t BlurReach(int32_t blur) { return std::max(0, blur); }

class DropShadow final : public EffectOf<DropShadow, DropShadowParams> {
public:
    static constexpr int kIndex = 4;
    static constexpr int kNameId = 24500;
    static constexpr int kDescriptionId = 24501;
    static constexpr const char* kKey = "DropShadow";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kDropShadowParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, DropShadowParams& block) const {
        block.direction = TruncToInt16(ParamDirection(params, 0));
        block.distance = ParamInt16(params, 1);
        block.blur = ParamInt16(params, 2);
        block.opacity = ParamInt16(params, 3);
        block.shadowColour = FromParamPixel(ParamColor(params, 4));
        block.drawEverywhere = ParamBool(params, 5) ? 1 : 0;
    }

    // The input moved by the unscaled shadow offset and grown by the blur.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double) override {
        const auto& p = *static_cast<const DropShadowParams*>(block);
        const ShadowVector offset = ShadowOffset(p.direction, p.distance);
        result = input;
        OffsetRect(result, TruncToInt32(offset.x), TruncToInt32(offset.y));
        OutsetRect(result, BlurReach(p.blur));
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

// The mask blurred around the band moved against the shadow's offset, read
// back at the offset and laid behind the layer, in whole pixels and integer
// arithmetic. Under the layer the layer's own mask cancels the shadow unless
// it is to be drawn everywhere.
int DropShadow::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const DropShadowParams*>(context.params);
    const int32_t q = WholeDivisor(context.divisor);
    const int32_t blur = BlurReach(p.blur / q);
    const ShadowVector offset = ShadowOffset(p.direction, p.distance / q);
    const int32_t ix = TruncToInt32(offset.x);
    const int32_t iy = TruncToInt32(offset.y);
    PixelRect area = band;
    OffsetRect(area, -ix, -iy);
    OutsetRect(area, blur);
    ScopedRaster shadow;
    const int result = BlurMaskRegion(*context.mask, area, blur, context.abort, shadow,
                                      EngineRunner(context.input));
    if (result != kOk) return result;

    uint8_t colour[3];
    p.shadowColour.ToBytes(colour);
    const int32_t opacity = p.opacity * 255 / 100;
    const Raster& mask = *context.mask;
    return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        for (int32_t y = top; y < bottom; ++y) {
            const uint8_t* cast = shadow->Pixel(band.left - ix, y - iy);
            const uint8_t* s = context.source->Pixel(band.left, y);
            uint8_t* d = context.destination->Pixel(band.left, y);
            for (int32_t x = band.left; x < band.right; ++x, ++cast, s += 4, d += 4) {
                int32_t coverage = *cast * opacity / 255;
                if (p.drawEverywhere == 0 && mask.Contains(x, y)) {
                    coverage = (255 - *mask.Pixel(x, y)) * coverage / 255;
                }
                ShadowComposite(s, d, colour, coverage);
            }
        }
        return kOk;
    });
}

}  // namespace

extern const EffectMaker kDropShadowMaker = MakerFor<DropShadow>();

}  // namespace zoka
