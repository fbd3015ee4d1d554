// Swirl: smears the layer along the streamlines of a random whirlpool field,
// with streaks of grain; the field drifts and undulates over time.
#include <algorithm>
#include <cstdint>

#include "base/result_codes.h"
#include "effects/flow.h"
#include "effects/swirl_smear.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "noise/noise_field.h"

namespace zoka {

namespace {

constexpr ParamDecl kSwirlParams[] = {
    Slider(38001, 5, 100, 5, 999, 30, "WhirlpoolSpacing"),
    Slider(38002, 3, 30, 3, 100, 5, "SmearLength"),
    Angle(32003, 45, "Twist"),
    Slider(38003, 1, 100, 1, 100, 40, "StreakDetail"),
    Checkbox(41001, 38004, true, "Warp"),
    Checkbox(41001, 27005, true, "Smooth"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
};

struct SwirlParams {
    int16_t whirlpoolSpacing = 30;
    int16_t smearLength = 15;
    double twist = 70;  // degrees counter-clockwise from +x
    int16_t streakDetail = 40;
    uint8_t warp = 1;
    uint8_t smooth = 1;
    int16_t randomSeed = 0;
};

class Swirl final : public EffectOf<Swirl, SwirlParams, FlowingEffect<Swirl>> {
public:
    static constexpr int kIndex = 13;
    static constexpr int kNameId = 38000;
    static constexpr int kDescriptionId = 38005;
    static constexpr const char* kKey = "Swirl";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kSwirlParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 7 to 9 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, SwirlParams& block) const {
        block.whirlpoolSpacing = ParamInt16(params, 0);
        block.smearLength = ParamInt16(params, 1);
        block.twist = ParamDirection(params, 2);
        block.streakDetail = ParamInt16(params, 3);
        block.warp = ParamBool(params, 4) ? 1 : 0;
        block.smooth = ParamBool(params, 5) ? 1 : 0;
        block.randomSeed = ParamInt16(params, 6);
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const SwirlParams*>(block);
        result = input;
        OutsetRect(result, std::max(3, p.smearLength / WholeDivisor(scale)));
    }

    // A walk moves less than a pixel per step and takes at most Smear Length
    // steps each way (fewer at a lower resolution), and at least 3; Warp
    // walks twice as far, forward only.
    void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect&, const void* block,
                    double) const override {
        const auto& p = *static_cast<const SwirlParams*>(block);
        const int32_t steps = std::max<int32_t>(3, p.smearLength);
        needed = area;
        OutsetRect(needed, p.warp != 0 ? 2 * steps : steps);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

int Swirl::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const SwirlParams*>(context.params);
    const int32_t t = WholeDivisor(context.divisor);
    const int32_t steps = std::max(3, p.smearLength / t);
    const auto lump = static_cast<int16_t>(std::max(5, p.whirlpoolSpacing / t));
    NoiseField field;
    int result = field.Init(1.0, p.streakDetail, p.randomSeed, Flow().phase);
    // A walk of n steps stays within n cells to the left and above its start
    // and n - 1 to the right and below, so the grown area already holds the
    // right and lower neighbours that smooth sampling reads.
    PixelRect area, unused;
    SourceRect(band, area, unused, &p, context.divisor);
    const Drift drift = FrameDrift(context, Flow());
    ScopedRaster vectors, grain;
    if (result == kOk) {
        result = field.FillFlowVectors(vectors.Receive(), area, lump, p.twist,
                                       drift.x - context.selectionBounds->left,
                                       drift.y - context.selectionBounds->top);
    }
    if (result == kOk) result = field.FillGrain(grain.Receive(), area);
    if (result != kOk) return result;
    const int32_t channels = context.source->channels;
    const Streamlines streamlines{*context.source,
                                  *vectors,
                                  *grain,
                                  WalkableCells(*context.source, *vectors),
                                  context.excludeAlpha != 0 ? channels - 1 : channels,
                                  channels,
                                  p.smooth != 0};
    // Warp smears forward only, twice as far; otherwise both ways alike.
    const bool warp = p.warp != 0;
    return SmearBand(streamlines, band, warp ? 2 * steps : steps, warp ? 0 : steps,
                     *context.destination, context.abort);
}

}  // namespace

extern const EffectMaker kSwirlMaker = MakerFor<Swirl>();

}  // namespace zoka
