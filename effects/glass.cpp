// Glass: lays a sheet of coloured glass with flaws over the masked part of
// the layer, refracting and tinting what lies under it.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "bevel/bevel_lighting.h"
#include "bevel/bevel_profile.h"
#include "bevel/height_map.h"
#include "effects/flow.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "noise/noise_field.h"
#include "noise/rgb_color.h"
#include "raster/blur.h"
#include "raster/numeric.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr ParamDecl kGlassParams[] = {
    Popup(22007, 42000, 4, 3, "BevelType"),
    FixedSlider(22001, 0, 50, 0, 300, 20, "Width"),
    FixedSlider(28001, 5, 50, 5, 600, 30, "FlawSpacing"),
    FixedSlider(28002, 0, 100, 0, 100, 30, "FlawThickness"),
    FixedSlider(24003, 0, 100, 0, 100, 50, "Opacity"),
    FixedSlider(28003, 0, 100, 0, 100, 30, "ReflectionParam"),
    FixedSlider(22004, 0, 100, 0, 100, 100, "HighlightBrightness"),
    FixedSlider(22005, 0, 100, 0, 100, 40, "HighlightSharpness"),
    Angle(22008, 315, "Direction"),
    FixedSlider(22009, 0, 90, 0, 90, 45, "Inclination"),
    Color(28004, {255, 128, 128, 128}, "Color"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
};

struct GlassParams {
    int16_t bevelShape = 3;  // 1 Button, 2 Rounded, 3 Flat, 4 Mesa
    double width = 20;
    double flawSpacing = 30;
    double flawThickness = 30;
    double opacity = 50;
    double refraction = 30;
    double highlightBrightness = 100;
    double highlightSharpness = 40;
    double direction = 135;  // degrees counter-clockwise from +x
    double inclination = 45;
    RgbColor color = RgbColor::Bytes(128, 128, 128);
    int16_t randomSeed = 0;
};

class Glass final : public EffectOf<Glass, GlassParams, FlowingEffect<Glass>> {
public:
    static constexpr int kIndex = 6;
    static constexpr int kNameId = 28000;
    static constexpr int kDescriptionId = 28005;
    static constexpr const char* kKey = "Glass";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kGlassParams;

    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 11 to 13 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, GlassParams& block) const {
        block.bevelShape = ParamInt16(params, 0);
        block.width = ParamFixed(params, 1);
        block.flawSpacing = ParamFixed(params, 2);
        block.flawThickness = ParamFixed(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.refraction = ParamFixed(params, 5);
        block.highlightBrightness = ParamFixed(params, 6);
        block.highlightSharpness = ParamFixed(params, 7);
        block.direction = ParamDirection(params, 8);
        block.inclination = ParamFixed(params, 9);
        block.color = FromParamPixel(ParamColor(params, 10));
        block.randomSeed = ParamInt16(params, 14);
    }

    // The needed area holds the farthest refracted lookup, the second the
    // bevel and its blur; nothing asks for them.
    void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect& second,
                    const void* block, double) const override {
        const auto& p = *static_cast<const GlassParams*>(block);
        needed = area;
        OutsetRect(needed, TruncToInt32(p.refraction + 50));
        second = area;
        OutsetRect(second, TruncToInt32(p.width + 3));
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

constexpr double kUnit = 0.00392156862745098;  // 1/255 as the kernel uses it
constexpr double kLog2E = 1.4426950408889634;
// The heights reach past the band for the blur and the slopes.
constexpr int32_t kHeightMargin = 3;
constexpr double kHeightBlur = 2.0;

// What one band's glass is made of: the heights (D outside the glass, 0 in
// its interior) and the light.
struct GlassShading {
    const Raster* source;
    const Raster* destination;
    const Raster* heights;  // one double channel, over the band outset by 3
    ProfileKind profileKind;
    int32_t channels;
    double width;  // W, the bevel width at the render's resolution
    BevelLight light;
    double brightness;  // highlight, 0..1
    double exponent;    // highlight sharpness, 1..64
    double depth;       // D, the lump size: the height outside the glass
};

ProfileKind GlassProfile(int16_t bevelShape) {
    switch (bevelShape) {
        case 1: return ProfileKind::kConvex;
        case 2: return ProfileKind::kSCurve;
        case 4: return ProfileKind::kConcave;
        default: return ProfileKind::kLinear;
    }
}

// The sheet's heights are the inverse of a bevel: D at the mask's edge and
// outside it, falling to 0 at the bevel width inside.
class GlassHeightMap final : public HeightMap {
public:
    explicit GlassHeightMap(const GlassShading& shading) : shading_(shading) {}

protected:
    void SetEdgeHeight(int32_t x, int32_t y, double, double, double value) override {
        Height(x, y) = shading_.depth - BevelProfile(value, shading_.width, 0, shading_.depth,
                                                     shading_.profileKind);
    }
    void SetInteriorHeight(int32_t x, int32_t y) override { Height(x, y) = 0; }
    void SetExteriorHeight(int32_t x, int32_t y) override { Height(x, y) = shading_.depth; }

private:
    double& Height(int32_t x, int32_t y) const {
        return *reinterpret_cast<double*>(shading_.heights->Pixel(x, y));
    }
    GlassShading shading_;
};

// The integer lump size and flaw thickness: the divisor in whole pixels.
struct Flaws {
    int16_t lump;
    int16_t thickness;
};

Flaws FlawsOf(const GlassParams& p, double divisor) {
    const int32_t q = WholeDivisor(divisor);
    return Flaws{TruncToInt16(std::max(5.0, p.flawSpacing / q)), TruncToInt16(p.flawThickness / q)};
}

GlassShading ShadingOf(const GlassParams& p, const RenderContext& context, double depth) {
    constexpr double k = 0.017453292500000002;
    // The glass colour carries red, green and blue only, whatever the raster holds.
    const int32_t channels =
        std::min(3, context.source->channels - (context.excludeAlpha != 0 ? 1 : 0));
    return GlassShading{context.source,
                        context.destination,
                        nullptr,
                        GlassProfile(p.bevelShape),
                        channels,
                        p.width / context.divisor,
                        LightFromAngles(p.direction * k, p.inclination * k),
                        p.highlightBrightness * 0.01,
                        0.63 * p.highlightSharpness + 1,
                        depth};
}

int CreateHeights(const PixelRect& band, ScopedRaster& heights) {
    PixelRect area = band;
    OutsetRect(area, kHeightMargin);
    const int result = heights.Create(area, 1, 8);
    if (result != kOk) return result;
    for (int32_t y = area.top; y < area.bottom; ++y) {
        std::memset(heights->Row(y), 0, sizeof(double) * static_cast<size_t>(area.Width()));
    }
    return kOk;
}

// Without a bevel width the heights stay 0: glass of full thickness everywhere.
int BuildBevel(const RenderContext& context, const PixelRect& band, const GlassShading& shading) {
    if (!(shading.width > 0)) return kOk;
    ModuleObject<GlassHeightMap> map;
    int result = map.Make(shading);
    if (result != kOk) return result;
    result = map->Setup(*context.mask, shading.width, band, true, context.maskOffsetX,
                        context.maskOffsetY);
    if (result != kOk) return result;
    return map->Run(context.abort);
}

// What the light passing through the glass picks up on its way.
struct Transmission {
    double refraction;  // 0..100
    double opacity;     // 0..100
    double colour[3];   // 0..1
};

// The source at (sx, sy) bilinearly; at its border the weights extrapolate.
void Refracted(const Raster& source, double sx, double sy, int32_t channels, double* c) {
    const ExtrapolatingCell cell = ExtrapolatingCellAt(source.bounds, sx, sy);
    const double fx = cell.fx, fy = cell.fy;
    const uint8_t* s00 = source.Pixel(cell.x0, cell.y0);
    const uint8_t* s10 = source.Pixel(cell.x1, cell.y0);
    const uint8_t* s01 = source.Pixel(cell.x0, cell.y1);
    const uint8_t* s11 = source.Pixel(cell.x1, cell.y1);
    for (int32_t k = 0; k < channels; ++k) {
        c[k] = (s00[k] * (1 - fx) * (1 - fy) + s10[k] * fx * (1 - fy) + s01[k] * (1 - fx) * fy +
                s11[k] * fx * fy) *
               kUnit;
    }
}

// The highlight's level for a reflection r in (0, 1], remembering the last
// one: flat glass (and flat surroundings) repeats the same r pixel after pixel.
class HighlightLevels {
public:
    explicit HighlightLevels(const GlassShading& s) : s_(s) {}
    double Of(double r) {
        if (!(r == lastR_)) {
            lastR_ = r;
            lastLevel_ = UnitToByte(s_.brightness * (r <= 1 ? std::pow(r, s_.exponent) : 1)) / 255.0;
        }
        return lastLevel_;
    }

private:
    const GlassShading& s_;
    double lastR_ = -1;  // never a reflection that is asked for
    double lastLevel_ = 0;
};

// Refracted where the glass is flat: the position stays on the pixel, the
// cell's weights are 0 and 1, and the blend gives the pixel's own value
// exactly.
void UnrefractedAt(const Raster& source, int32_t x, int32_t y, int32_t channels, double* c) {
    const uint8_t* p = source.Pixel(x, y);
    for (int32_t k = 0; k < channels; ++k) c[k] = p[k] * kUnit;
}

// The white highlight on a surface of gradient (gx, gy), quantised to whole
// levels.
double Highlight(const GlassShading& s, HighlightLevels& levels, double gx, double gy, double g2) {
    const double h = std::sqrt(g2 + 1);
    const double d = (s.light.z + gx * s.light.x + gy * s.light.y) / h;
    if (!(d >= 0)) return 0;
    const double r = 2 * d / h - s.light.z;
    if (!(r > 0)) return 0;
    return levels.Of(r);
}

// The transparency exp2(t * 0.1 * (-0.02 * opacity) * log2 e), remembering
// the last t for the same reason.
class Transparency {
public:
    explicit Transparency(double opacity) : opacity_(opacity) {}
    double Of(double t) {
        if (!(t == lastT_)) {
            lastT_ = t;
            last_ = std::exp2(t * 0.1 * (-0.02 * opacity_) * kLog2E);
        }
        return last_;
    }

private:
    double opacity_;
    double lastT_ = std::numeric_limits<double>::quiet_NaN();  // equal to no t
    double last_ = 0;
};

// Every pixel of the band, masked or not: outside the glass the heights are
// flat at D, so nothing is displaced or tinted there.
void ShadeGlassBand(const GlassShading& s, const Transmission& tr, const PixelRect& band) {
    const double k1 = (100 - 0.98 * tr.refraction) * 0.01;
    const Raster& heights = *s.heights;
    const int32_t left = heights.bounds.left;
    HighlightLevels levels(s);
    Transparency transparency(tr.opacity);
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const double* above = heights.RowAs<double>(y - 1) - left;
        const double* row = heights.RowAs<double>(y) - left;
        const double* below = heights.RowAs<double>(y + 1) - left;
        uint8_t* out = s.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, out += 4) {
            const double gx = row[x + 1] - row[x - 1];
            const double gy = below[x] - above[x];
            const double g2 = gx * gx + gy * gy;
            const double t = 50 - 50 * row[x] / s.depth;
            const double f = (t + 50) * (k1 - 1) / (k1 * g2 + 1);
            double c[3];
            if (gx == 0 && gy == 0 && std::isfinite(f)) {
                UnrefractedAt(*s.source, x, y, s.channels, c);
            } else {
                Refracted(*s.source, x + f * gx, y + f * gy, s.channels, c);
            }
            const double v = transparency.Of(t);
            const double highlight = Highlight(s, levels, gx, gy, g2);
            for (int32_t k = 0; k < s.channels; ++k) {
                out[k] = UnitToByte(c[k] * (v + (1 - v) * tr.colour[k]) + highlight);
            }
        }
    }
}

int Glass::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const GlassParams*>(context.params);
    const Flaws flaws = FlawsOf(p, context.divisor);
    NoiseField field;
    int result = field.Init(1.0, 0, p.randomSeed, Flow().phase);
    if (result != kOk) return result;

    GlassShading shading = ShadingOf(p, context, flaws.lump);
    ScopedRaster heights;
    result = CreateHeights(band, heights);
    if (result != kOk) return result;
    shading.heights = heights.get();
    result = BuildBevel(context, band, shading);
    if (result != kOk) return result;

    // The flaws lie in the glass interior (heights near 0), drifting with the
    // flow on the frames of a moving sequence, attached to the layer.
    const Drift drift = FrameDrift(context, Flow());
    field.AddNoiseBelow(*heights, shading.depth, flaws.lump, flaws.thickness,
                        drift.x - context.selectionBounds->left,
                        drift.y - context.selectionBounds->top);
    result = BlurRaster(*heights, kHeightBlur, context.abort, EngineRunner(context.input));
    if (result != kOk) return result;

    Transmission transmission{p.refraction, p.opacity, {}};
    p.color.ToUnit(transmission.colour);
    ShadeGlassBand(shading, transmission, band);
    return kOk;
}

}  // namespace

extern const EffectMaker kGlassMaker = MakerFor<Glass>();

}  // namespace zoka
