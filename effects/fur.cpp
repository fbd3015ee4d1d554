// Fur: darkens the layer as skin and covers its opaque part with short hairs
// that sway along a wavy noise field.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/result_codes.h"
#include "effects/flow.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "noise/noise_field.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kFurParams[] = {
    FixedSlider(27001, 5, 150, 5, 999, 60, "WaveSpacing"),
    FixedSlider(27002, 0, 100, 0, 100, 20, "WaveSize"),
    FixedSlider(27003, 3, 30, 3, 100, 5, "HairLength"),
    FixedSlider(27004, 0, 100, 0, 100, 70, "Shininess"),
    Checkbox(41001, 27005, true, "Smooth"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
};

struct FurParams {
    double waveSpacing = 60;
    double waviness = 20;
    double hairLength = 15;
    double shininess = 70;
    int16_t randomSeed = 0;
    uint8_t smooth = 1;
};

class Fur final : public EffectOf<Fur, FurParams, FlowingEffect<Fur>> {
public:
    static constexpr int kIndex = 5;
    static constexpr int kNameId = 27000;
    static constexpr int kDescriptionId = 27006;
    static constexpr const char* kKey = "Fur";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kFurParams;

    bool SpareFlagA() const override { return true; }
    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    void ReadBlock(HostParamDef** params, FurParams& block) const {
        block.waveSpacing = ParamFixed(params, 0);
        block.waviness = ParamFixed(params, 1);
        block.hairLength = ParamFixed(params, 2);
        block.shininess = ParamFixed(params, 3);
        block.smooth = ParamBool(params, 4) ? 1 : 0;
        block.randomSeed = ParamInt16(params, 5);
    }

    // The roots whose hairs can reach the area: a hair moves less than one
    // pixel per step for its length.
    void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect&, const void* block,
                    double scale) const override {
        const auto& p = *static_cast<const FurParams*>(block);
        needed = area;
        OutsetRect(needed, TruncToInt32(p.hairLength / scale) + 1);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

// A hair grows from positions whose dot level is at least this: about 8 %.
constexpr double kRootLevel = 0.92;
// The depth buffer's value where no hair has been drawn.
constexpr double kNoHair = -0.1;

// What the hairs of one band read and write.
struct Pelt {
    const Raster& source;
    const Raster& destination;
    const Raster& heights;  // the waves, over the whole source
    const Raster& depth;    // the depth buffer, over the band
    PixelRect band;
    double length;     // hair length in rendered pixels
    double waviness;   // how far the waves' slope bends a hair
    int32_t shine;     // highlight strength, 0..100
    int32_t colours;   // colour channels of a pixel
    bool smooth;
};

// A hair's direction: down the image and out of it, bent by the waves.
struct Direction {
    double dx = 0, dy = 0, dz = 0;
};

// An element of a raster of doubles.
double& ElementAt(const Raster& raster, int32_t x, int32_t y) {
    return *reinterpret_cast<double*>(raster.Pixel(x, y));
}

// Turns the hair along the slope of the waves at (cx, cy), where the cell and
// its right and lower neighbours have heights; elsewhere it keeps its course.
void Steer(const Pelt& pelt, int32_t cx, int32_t cy, Direction& d) {
    const PixelRect& h = pelt.heights.bounds;
    if (cx < h.left || cx > h.right - 2 || cy < h.top || cy > h.bottom - 2) return;
    const double here = ElementAt(pelt.heights, cx, cy);
    const double gx = (ElementAt(pelt.heights, cx + 1, cy) - here) * pelt.waviness;
    const double gy = (ElementAt(pelt.heights, cx, cy + 1) - here) * pelt.waviness;
    const double down = gy + 1;
    const double norm = SafeReciprocal(std::sqrt(gx * gx + down * down + 1));
    d = Direction{gx * norm, down * norm, norm};
}

// The specular highlight, 0..256: the z component of a fixed light reflected
// off the hair, to the fourth power.
int32_t Highlight(const Direction& d) {
    const double facing = -0.218 * d.dx - 0.436 * d.dy + 0.873 * d.dz;
    const double s = 0.873 - 2 * d.dz * facing;
    return std::clamp(TruncToInt32(s * s * s * s * 256), 0, 256);
}

// The hair's colour at step e: its root's colour with the highlight added,
// darker in the first half, so the root is about half as bright as the middle.
void HairColour(const Pelt& pelt, const uint8_t* root, int32_t highlight, double e,
                int32_t* colour) {
    const int32_t gloss = highlight * pelt.shine / 90;
    for (int32_t j = 0; j < pelt.colours; ++j) colour[j] = std::min(255, root[j] + gloss);
    if (!(e < 0.5 * pelt.length)) return;
    const int32_t f = static_cast<uint8_t>(TruncToInt32(256 * e / pelt.length)) + 127;
    for (int32_t j = 0; j < std::min(3, pelt.colours); ++j) colour[j] = (f * colour[j]) >> 8;
}

// Hard drawing: the cell takes the colour where the hair lies above what is
// there, fading into it over the last quarter of the hair.
void DrawHard(const Pelt& pelt, int32_t cx, int32_t cy, double pz, double e,
              const int32_t* colour) {
    double& depth = ElementAt(pelt.depth, cx, cy);
    if (!(depth < pz)) return;
    uint8_t* out = pelt.destination.Pixel(cx, cy);
    const double L = pelt.length;
    const bool tip = e > 0.75 * L;
    for (int32_t j = 0; j < pelt.colours; ++j) {
        if (!tip) {
            out[j] = static_cast<uint8_t>(colour[j]);
            continue;
        }
        const double mixed = ((L - e) * colour[j] + (e - 0.75 * L) * out[j]) / (0.25 * L);
        out[j] = static_cast<uint8_t>(std::clamp(TruncToInt32(mixed), 0, 255));
    }
    depth = pz;
}

// Smooth drawing: the hair's position spreads over the cell and its right
// and lower neighbours by bilinear weights. Only neighbours inside the band
// count; the depth is mixed only where all four count.
void DrawSmooth(const Pelt& pelt, double px, double py, int32_t cx, int32_t cy, double pz,
                double e, const int32_t* colour) {
    const PixelRect& b = pelt.band;
    const double fx = px - cx, fy = py - cy;
    struct Neighbour {
        int32_t x, y;
        double weight;
        bool counts;
    };
    Neighbour n[4] = {
        {cx, cy, (1 - fx) * (1 - fy), cx >= b.left && cy >= b.top},
        {cx, cy + 1, (1 - fx) * fy, cx >= b.left && cy + 1 < b.bottom},
        {cx + 1, cy, fx * (1 - fy), cx + 1 < b.right && cy >= b.top},
        {cx + 1, cy + 1, fx * fy, cx + 1 < b.right && cy + 1 < b.bottom},
    };
    double weights = 0, weighted = 0;
    bool all = true;
    for (const Neighbour& q : n) {
        all = all && q.counts;
        if (!q.counts) continue;
        weights += q.weight;
        weighted += q.weight * ElementAt(pelt.depth, q.x, q.y);
    }
    // No weight on the counting neighbours: nothing to draw there.
    if (weights == 0) return;
    const double mean = weighted / weights;
    const double fade = std::min(pelt.length - e, 1.0);
    if (fade < 1) {
        for (Neighbour& q : n) q.weight *= fade;
    }
    if (!(pz > mean)) return;
    for (const Neighbour& q : n) {
        if (!q.counts) continue;
        if (all) {
            double& depth = ElementAt(pelt.depth, q.x, q.y);
            depth = q.weight * pz + (1 - q.weight) * depth;
        }
        const int32_t w = std::clamp(TruncToInt32(q.weight * 256), 0, 256);
        uint8_t* out = pelt.destination.Pixel(q.x, q.y);
        for (int32_t j = 0; j < pelt.colours; ++j) {
            out[j] = static_cast<uint8_t>((colour[j] * w + out[j] * (256 - w)) >> 8);
        }
    }
}

// Whether a hair at cell (cx, cy) draws into the band; smooth drawing also
// reaches in from the column left of it and the row above.
bool DrawsInBand(const Pelt& pelt, int32_t cx, int32_t cy) {
    const PixelRect& b = pelt.band;
    const int32_t reach = pelt.smooth ? 1 : 0;
    return cx >= b.left - reach && cx <= b.right - 1 && cy >= b.top - reach && cy <= b.bottom - 1;
}

// Traces the hair rooted at (x, y) for floor(length) steps of one pixel,
// drawing the steps that fall in the band.
void TraceHair(const Pelt& pelt, int32_t x, int32_t y) {
    const uint8_t* root = pelt.source.Pixel(x, y);
    double px = x, py = y, pz = 0;
    int32_t cx = x, cy = y;
    Direction d;
    for (double e = 1; e <= pelt.length; e += 1) {
        Steer(pelt, cx, cy, d);
        if (DrawsInBand(pelt, cx, cy)) {
            int32_t colour[4];
            HairColour(pelt, root, Highlight(d), e, colour);
            if (pelt.smooth) {
                DrawSmooth(pelt, px, py, cx, cy, pz, e, colour);
            } else {
                DrawHard(pelt, cx, cy, pz, e, colour);
            }
        }
        px += d.dx;
        py += d.dy;
        pz += d.dz;
        cx = TruncToInt32(px);
        cy = TruncToInt32(py);
    }
}

// The skin under the hairs: the layer darkened to 192/256.
void DarkenSkin(const RenderContext& context, const PixelRect& band) {
    for (int32_t y = band.top; y < band.bottom; ++y) {
        const uint8_t* in = context.source->Pixel(band.left, y);
        uint8_t* out = context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, in += 4, out += 4) {
            for (int j = 0; j < 3; ++j) out[j] = static_cast<uint8_t>((192 * in[j]) >> 8);
            out[3] = in[3];
        }
    }
}

// Grows hairs from the roots of `roots` (its last row and column excluded,
// so a root's first step finds the waves' slope). 0, or 1 when aborted.
int GrowHairs(const RenderContext& context, const NoiseField& field, const Pelt& pelt,
              const PixelRect& roots) {
    for (int32_t y = roots.top; y < roots.bottom - 1; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        for (int32_t x = roots.left; x < roots.right - 1; ++x) {
            if (field.IsDot(x, y, kRootLevel) || pelt.source.Pixel(x, y)[3] == 0) continue;
            TraceHair(pelt, x, y);
        }
    }
    return kOk;
}

int Fur::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const FurParams*>(context.params);
    const double k = context.divisor;
    NoiseField field;
    int result = field.Init(p.waveSpacing / k, 100, p.randomSeed, Flow().phase);
    ScopedRaster heights, depth;
    if (result == kOk) result = heights.Create(context.source->bounds, 1, 8);
    if (result == kOk) {
        // The waves are drifted but, unlike the other noise effects, not
        // shifted by the selection's origin.
        const Drift drift = FrameDrift(context, Flow());
        result = field.Fill(*heights, p.waveSpacing, p.waveSpacing, drift.x, drift.y,
                            context.abort, k);
    }
    if (result == kOk) result = depth.Create(band, 1, 8);
    if (result != kOk) return result;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        std::fill_n(&ElementAt(*depth, band.left, y), band.Width(), kNoHair);
    }
    DarkenSkin(context, band);
    const Pelt pelt{*context.source,
                    *context.destination,
                    *heights,
                    *depth,
                    band,
                    p.hairLength / k,
                    0.05 * p.waviness,
                    TruncToInt32(p.shininess),
                    context.excludeAlpha != 0 ? context.source->channels - 1
                                              : context.source->channels,
                    p.smooth != 0};
    if (pelt.length < 1) return kOk;
    PixelRect roots, unused;
    SourceRect(band, roots, unused, &p, k);
    IntersectRect(roots, *context.source, roots);
    return GrowHairs(context, field, pelt, roots);
}

}  // namespace

extern const EffectMaker kFurMaker = MakerFor<Fur>();

}  // namespace zoka
