#include "effects/bevel_effect.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/result_codes.h"
#include "bevel/bevel_lighting.h"
#include "bevel/bevel_profile.h"
#include "bevel/height_map.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "raster/blur.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr double kDegreesToRadians = 0.017453292522222223;

// The bevel's surface from the distances: the profile between the edge and
// the bevel width, the full depth D on the mask's side beyond it, 0 on the
// other side.
class BevelHeightMap final : public HeightMap {
public:
    // offset: subtracted from the width the profile spans (Outer Bevel's
    // smoothness).
    BevelHeightMap(const BevelShading& shading, double offset) : shading_(shading), offset_(offset) {}

protected:
    void SetEdgeHeight(int32_t x, int32_t y, double, double, double value) override {
        Height(x, y) = BevelProfile(value, shading_.width, offset_, shading_.depth, shading_.profileKind);
    }
    void SetInteriorHeight(int32_t x, int32_t y) override { Height(x, y) = shading_.depth; }
    void SetExteriorHeight(int32_t x, int32_t y) override { Height(x, y) = 0; }

private:
    double& Height(int32_t x, int32_t y) const {
        return *reinterpret_cast<double*>(shading_.heights->Pixel(x, y));
    }

    BevelShading shading_;
    double offset_;
};

// Carve sinks the shape, so its Button and Mesa exchange cross-sections.
ProfileKind ProfileFor(int32_t bevelShape, bool carved) {
    switch (bevelShape) {
        case 1: return carved ? ProfileKind::kConcave : ProfileKind::kConvex;
        case 3: return ProfileKind::kLinear;
        case 4: return carved ? ProfileKind::kConvex : ProfileKind::kConcave;
        default: return ProfileKind::kSCurve;
    }
}

BevelShading ShadingFor(const BevelParams& p, const RenderContext& context, int32_t channels,
                        bool carved) {
    const double width = p.width / context.divisor;
    return BevelShading{
        context.source,
        context.destination,
        nullptr,
        channels,
        ProfileFor(p.bevelShape, carved),
        p.smoothness / context.divisor,
        width,
        LightFromAngles(p.direction * kDegreesToRadians, p.inclination * kDegreesToRadians),
        p.highlightBrightness * 0.01,
        1 + 0.63 * p.highlightSharpness,
        width * (0.1 + 0.005 * p.shadowDepth),
        p.darkenDepths,
        carved,
    };
}

// Carve without a bevel: the whole band darkened by Darken Depths.
void DarkenBand(const RenderContext& context, const PixelRect& band, int32_t channels,
                double darkenDepths) {
    const int32_t step = context.source->PixelBytes();
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const uint8_t* source = context.source->Pixel(band.left, y);
        uint8_t* destination = context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, source += step, destination += step) {
            for (int32_t k = 0; k < channels; ++k) {
                const double v = source[k] * darkenDepths * 0.01;
                destination[k] = v > 255 ? 255 : v > 0 ? static_cast<uint8_t>(v) : 0;
            }
        }
    }
}

// Fills the heights of the shading (0 where the mask ends) from the
// distances to the mask's edge.
int MeasureHeights(const RenderContext& context, const BevelShading& shading, bool outside) {
    ModuleObject<BevelHeightMap> map;
    if (map.Make(shading, outside ? shading.smoothness : 0) != kOk) return kOutOfMemory;
    PixelRect outputRect;
    IntersectRect(shading.heights->bounds, *context.mask, outputRect);
    const int result = map->Setup(*context.mask, shading.width, outputRect, !outside,
                                  context.maskOffsetX, context.maskOffsetY);
    if (result != kOk) return result;
    return map->Run(context.abort);
}

}  // namespace

void BevelEffect::OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                             double scale) {
    result = input;
    if (EffectIndex() != kOuterBevelIndex) return;
    const auto& p = *static_cast<const BevelParams*>(block);
    OutsetRect(result, std::max(1, TruncToInt32(p.width / scale)));
}

// ---- Kernel ------------------------------------------------------------------

int BevelEffect::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const BevelParams*>(context.params);
    const bool carved = EffectIndex() == kCarveIndex;
    const int32_t channels = context.source->channels - (context.excludeAlpha != 0 ? 1 : 0);
    if (p.width == 0) {
        if (carved) DarkenBand(context, band, channels, p.darkenDepths);
        return kOk;
    }
    BevelShading shading = ShadingFor(p, context, channels, carved);
    // Enough around the band for the blur's reach and the central
    // differences: at least one pixel, whatever the smoothness (a negative
    // one blurs nothing).
    PixelRect heightRect = band;
    OutsetRect(heightRect, std::max(0, TruncToInt32(std::ceil(shading.smoothness))) + 1);
    ScopedRaster heights;
    int result = heights.Create(heightRect, 1, 8);
    if (result != kOk) return result;
    for (int32_t y = heightRect.top; y < heightRect.bottom; ++y) {
        std::memset(heights->Row(y), 0, sizeof(double) * static_cast<size_t>(heightRect.Width()));
    }
    shading.heights = heights.get();
    result = MeasureHeights(context, shading, EffectIndex() == kOuterBevelIndex);
    if (result != kOk) return result;
    result = BlurRaster(*heights, shading.smoothness, context.abort, EngineRunner(context.input));
    if (result != kOk) return result;
    ShadeBevelBand(shading, band);
    return kOk;
}

void BevelEffect::ReadBevelRows(HostParamDef** params, BevelParams& block,
                                bool withDarkenDepths) const {
    block.width = ParamFixed(params, 0);
    block.shadowDepth = ParamFixed(params, 1);
    block.smoothness = ParamFixed(params, 2);
    block.bevelShape = ParamInt(params, 3);
    block.highlightBrightness = ParamFixed(params, 4);
    block.highlightSharpness = ParamFixed(params, 5);
    block.direction = ParamDirection(params, 6);
    block.inclination = ParamFixed(params, 7);
    if (withDarkenDepths) block.darkenDepths = ParamFixed(params, 8);
}

}  // namespace zoka
