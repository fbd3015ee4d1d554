// Jiggle: displaces every pixel by the twisted gradient of a noise field,
// bubbling over time.
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
#include "raster/numeric.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr ParamDecl kJiggleParams[] = {
    FixedSlider(32001, 1, 100, 1, 999, 30, "BubbleSize"),
    FixedSlider(32002, 1, 100, 1, 199, 30, "WarpAmount"),
    Angle(32003, 20, "Twist"),
    Popup(32004, 42002, 3, 1, "Field"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
};

struct JiggleParams {
    double bubbleSize = 30;
    double warpAmount = 30;
    double twist = 20;  // degrees counter-clockwise from +x
    int16_t movementType = 1;  // 1 Bubbles, 2 Brownian Motion, 3 Turbulence
    int16_t randomSeed = 0;
};

class Jiggle final : public EffectOf<Jiggle, JiggleParams, FlowingEffect<Jiggle>> {
public:
    static constexpr int kIndex = 16;
    static constexpr int kNameId = 32000;
    static constexpr int kDescriptionId = 32005;
    static constexpr const char* kKey = "Jiggle";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kJiggleParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 5 to 7 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, JiggleParams& block) const {
        block.bubbleSize = ParamFixed(params, 0);
        block.warpAmount = ParamFixed(params, 1);
        block.twist = ParamDirection(params, 2);
        block.movementType = ParamInt16(params, 3);
        block.randomSeed = ParamInt16(params, 4);
    }

    // Grown by the warp's reach; the octave sums reach twice as far.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const JiggleParams*>(block);
        const double reach = p.movementType == 1 ? p.warpAmount / scale : 2 * p.warpAmount / scale;
        result = input;
        OutsetRect(result, TruncToInt32(reach));
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

constexpr double kUnit = 0.00392156862745098;   // 1/255 as the kernel uses it
constexpr double kTwistToRadians = 0.017453292;  // degrees to radians, truncated

// Fills the height field with the chosen movement: one octave, the signed
// five-octave sum or the sum of absolute values. 0, 1 when aborted,
// or 8 without memory.
int FillMovement(NoiseField& field, const Raster& heights, const JiggleParams& p,
                 const RenderContext& context, const Drift& drift) {
    const double ox = -context.selectionBounds->left + drift.x;
    const double oy = -context.selectionBounds->top + drift.y;
    const double k = context.divisor;
    switch (p.movementType) {
        case 1:
            return field.Fill(heights, p.bubbleSize, p.bubbleSize, ox, oy, context.abort, k);
        case 2:
            return field.FillFractal(heights, p.bubbleSize, p.bubbleSize, ox, oy, context.abort, k);
        default:
            return field.FillTurbulence(heights, p.bubbleSize, p.bubbleSize, ox, oy, context.abort,
                                        k);
    }
}

void SampleDisplaced(const Raster& source, const ExtrapolatingCell& c, uint8_t* out) {
    const uint8_t* p00 = source.Pixel(c.x0, c.y0);
    const uint8_t* p10 = source.Pixel(c.x1, c.y0);
    const uint8_t* p01 = source.Pixel(c.x0, c.y1);
    const uint8_t* p11 = source.Pixel(c.x1, c.y1);
    const double w00 = (1 - c.fx) * (1 - c.fy), w10 = c.fx * (1 - c.fy);
    const double w01 = (1 - c.fx) * c.fy, w11 = c.fx * c.fy;
    for (int j = 0; j < 4; ++j) {
        const double value = w00 * (p00[j] * kUnit) + w10 * (p10[j] * kUnit) +
                             w01 * (p01[j] * kUnit) + w11 * (p11[j] * kUnit);
        out[j] = UnitToByte(value);
    }
}

// Moves every pixel of the band by the height field's gradient turned by the
// twist; all four channels follow.
int Displace(const RenderContext& context, const PixelRect& band, const Raster& heights,
             double twist) {
    const double theta = twist * kTwistToRadians;
    const double c = std::cos(theta), s = std::sin(theta);
    const Raster& source = *context.source;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        // The height field starts one column left of the band.
        const double* above = heights.RowAs<double>(y - 1) + 1;
        const double* here = heights.RowAs<double>(y) + 1;
        const double* below = heights.RowAs<double>(y + 1) + 1;
        uint8_t* out = context.destination->Pixel(band.left, y);
        for (int32_t i = 0, x = band.left; x < band.right; ++i, ++x, out += 4) {
            const double gx = here[i + 1] - here[i - 1];
            const double gy = below[i] - above[i];
            const double sx = x + (gx * c + gy * s);
            const double sy = y + (gy * c - gx * s);
            SampleDisplaced(source, ExtrapolatingCellAt(source.bounds, sx, sy), out);
        }
    }
    return kOk;
}

int Jiggle::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const JiggleParams*>(context.params);
    const double k = context.divisor;
    // The amplitude grows with the bubble size, so that the gradient (the
    // displacement) follows Warp Amount alone.
    const double warp = p.warpAmount / k * std::max(1.0, p.bubbleSize / k);
    NoiseField field;
    int result = field.Init(0.1 * warp, 0, p.randomSeed, Flow().phase);
    PixelRect area = band;
    OutsetRect(area, 1);
    // Positions summed from the corner of the whole output's field, so that
    // every band samples where the whole frame would.
    field.SumPositionsFrom(context.outputArea->left - 1, context.outputArea->top - 1);
    ScopedRaster heights;
    if (result == kOk) result = heights.Create(area, 1, 8);
    if (result == kOk) {
        result = FillMovement(field, *heights, p, context, FrameDrift(context, Flow()));
    }
    if (result == kOk) result = Displace(context, band, *heights, p.twist);
    return result;
}

}  // namespace

extern const EffectMaker kJiggleMaker = MakerFor<Jiggle>();

}  // namespace zoka
