// Perspective Shadow: lays the layer's silhouette down behind it as a shadow
// stretching from its bottom edge toward a vanishing point.
#include <cmath>

#include "base/result_codes.h"
#include "effects/shadow.h"
#include "effects/shadow_projection.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "noise/rgb_color.h"
#include "raster/blur.h"
#include "raster/numeric.h"
#include "raster/pixel_ops.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr ParamDecl kPerspectiveShadowParams[] = {
    Angle(34001, 45, "VanishingPointDirection"),
    FixedSlider(34002, 1, 100, 1, 100, 40, "VanishingPointDistance"),
    FixedSlider(34003, 0, 100, 0, 100, 50, "Length"),
    FixedSlider(24002, 0, 100, 0, 100, 10, "Blur"),
    FixedSlider(24003, 0, 100, 0, 100, 90, "Opacity"),
    Color(28004, {255, 0, 0, 0}, "ShadowColor"),
    Checkbox(41001, 29003, false, "DrawEverywhere"),
};

struct PerspectiveShadowParams {
    double direction = 45;  // degrees counter-clockwise from +x
    double vanishingDistance = 40;
    double length = 50;
    double blur = 10;
    double opacity = 90;
    RgbColor shadowColour = RgbColor::Bytes(0, 0, 0);
    int16_t drawEverywhere = 0;
};

// The shadow the whole silhouette casts, whatever the band: the silhouette,
// its geometry and its blurred coverage.
struct ShadowCast {
    Raster* silhouette = nullptr;
    Raster* blurred = nullptr;
    ShadowProjection projection;
};

class PerspectiveShadow final
    : public EffectOf<PerspectiveShadow, PerspectiveShadowParams> {
public:
    static constexpr int kIndex = 20;
    static constexpr int kNameId = 34000;
    static constexpr int kDescriptionId = 34004;
    static constexpr const char* kKey = "PerspectiveShadow";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kPerspectiveShadowParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, PerspectiveShadowParams& block) const {
        block.direction = ParamDirection(params, 0);
        block.vanishingDistance = ParamFixed(params, 1);
        block.length = ParamFixed(params, 2);
        block.blur = ParamFixed(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.shadowColour = FromParamPixel(ParamColor(params, 5));
        block.drawEverywhere = ParamBool(params, 6) ? 1 : 0;
    }

    // The shadow's area for the input rectangle, grown by the unscaled blur.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double) override {
        const auto& p = *static_cast<const PerspectiveShadowParams*>(block);
        projection_.Build(p.vanishingDistance, p.direction, p.length, input);
        PixelRect shadow;
        projection_.Bounds(shadow);
        OutsetRect(shadow, TruncToInt32(std::ceil(p.blur)));
        UnionRect(shadow, input, result);
    }

    int PrepareRender(RenderContext& context) override;
    int RenderBand(RenderContext& context, const PixelRect& band) override;
    void ReleaseParamBlock(void*) override;

private:
    // Built by OutputRect for the layer's rectangle, held by value.
    ShadowProjection projection_;
    // What every band reads: built once per render, before the bands, and
    // released with the parameter block.
    ShadowCast cast_;
};

// ---- Kernel ------------------------------------------------------------------

// The opacity percentage as a coverage factor 0..255.
int32_t OpacityFactor(double opacity) {
    const double scaled = opacity * 2.55;
    if (!(scaled > 0)) return 0;
    if (scaled > 255) return 255;
    return static_cast<int32_t>(scaled);
}

// The mask cropped to its content and moved by the selection's sub-pixel
// placement: the silhouette that casts the shadow.
int Silhouette(const RenderContext& context, ScopedRaster& silhouette) {
    ScopedRaster crop;
    const int result = CropToContent(*context.mask, crop.Receive());
    if (result != kOk) return result;
    return ResampleShifted(crop->bounds, *crop, context.maskOffsetX, context.maskOffsetY,
                           silhouette.Receive());
}

// The silhouette, its projection and its blur, for every band to read. On
// failure the cast holds nothing.
int PerspectiveShadow::PrepareRender(RenderContext& context) {
    const auto& p = *static_cast<const PerspectiveShadowParams*>(context.params);
    const double r = p.blur / context.divisor;
    ScopedRaster silhouette;
    int result = Silhouette(context, silhouette);
    if (result != kOk) return result;
    // The shadow's geometry follows the silhouette's bounding box, not the
    // layer's rectangle.
    ShadowProjection projection;
    projection.Build(p.vanishingDistance, p.direction, p.length, silhouette->bounds);
    PixelRect area = silhouette->bounds;
    OutsetRect(area, TruncToInt32(std::ceil(r)));
    ScopedRaster blurred;
    result = BlurMaskRegion(*silhouette, area, r, context.abort, blurred,
                            EngineRunner(context.input));
    if (result != kOk) return result;
    cast_.silhouette = silhouette.Release();
    cast_.blurred = blurred.Release();
    cast_.projection = projection;
    return kOk;
}

void PerspectiveShadow::ReleaseParamBlock(void*) {
    DestroyRaster(cast_.silhouette);
    DestroyRaster(cast_.blurred);
    cast_ = ShadowCast{};
}

// Every pixel of the band is traced toward the vanishing point into the
// silhouette's rectangle, where the blurred silhouette gives its coverage.
// The whole silhouette is used whatever the band, so bands agree.
int PerspectiveShadow::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const PerspectiveShadowParams*>(context.params);
    const Raster& silhouette = *cast_.silhouette;
    const Raster& blurred = *cast_.blurred;
    uint8_t colour[3];
    p.shadowColour.ToBytes(colour);
    const int32_t opacity = OpacityFactor(p.opacity);
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const uint8_t* s = context.source->Pixel(band.left, y);
        uint8_t* d = context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
            double sx = 0;
            double sy = 0;
            cast_.projection.Map(x, y, sx, sy);
            int32_t coverage = SampleBilinearZero(blurred, sx, sy);
            if (p.drawEverywhere == 0 && silhouette.Contains(x, y)) {
                coverage = (255 - *silhouette.Pixel(x, y)) * coverage / 255;
            }
            ShadowComposite(s, d, colour, coverage * opacity / 255);
        }
    }
    return kOk;
}

}  // namespace

extern const EffectMaker kPerspectiveShadowMaker = MakerFor<PerspectiveShadow>();

}  // namespace zoka
