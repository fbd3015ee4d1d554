// Swirl: smears the layer along the streamlines of a random whirlpool field,
// with streaks of grain; the field drifts and undulates over time.
#include <algorithm>

#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"

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

class Swirl final : public EffectOf<Swirl, SwirlParams> {
public:
    static constexpr int kIndex = 13;
    static constexpr int kNameId = 38000;
    static constexpr int kDescriptionId = 38005;
    static constexpr const char* kKey = "Swirl";
    static constexpr const auto& kParams = kSwirlParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 7 to 9 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, SwirlParams& block) const {
        block.whirlpoolSpacing = static_cast<int16_t>(ParamInt(params, 0));
        block.smearLength = static_cast<int16_t>(ParamInt(params, 1));
        block.twist = ParamDirection(params, 2);
        block.streakDetail = static_cast<int16_t>(ParamInt(params, 3));
        block.warp = ParamBool(params, 4) ? 1 : 0;
        block.smooth = ParamBool(params, 5) ? 1 : 0;
        block.randomSeed = static_cast<int16_t>(ParamInt(params, 6));
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const SwirlParams*>(block);
        result = input;
        OutsetRect(result, std::max(3, p.smearLength / WholeDivisor(scale)));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kSwirlMaker = MakerFor<Swirl>();

}  // namespace zoka
