// Smoke: grows wisps of smoke upward from the opaque parts of the layer,
// broken up by fractal noise and rising over time. The kernel is the plume it
// shares with Fire.
#include "effects/plume.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kSmokeParams[] = {
    Slider(36001, 5, 50, 5, 600, 20, "WispWidth"),
    Slider(36002, 10, 200, 10, 3000, 100, "WispHeight"),
    Slider(36003, 0, 100, 0, 100, 30, "BreakupAmount"),
    Slider(36004, 0, 100, 0, 100, 50, "BreakupRoughness"),
    Slider(26005, 0, 100, 0, 100, 100, "InsideMasking"),
    Slider(26006, 0, 100, 0, 100, 5, "EdgeSoftness"),
    Color(26007, {255, 255, 255, 255}, "InnerColor"),
    Color(26008, {255, 0, 0, 0}, "OuterColor"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    FixedSlider(30008, 0, 500, 0, 999, 200, "FlowVelocity"),
};

// The integer sliders 2 to 5 are held as doubles.
struct SmokeParams {
    int16_t wispWidth = 20;
    int16_t wispHeight = 100;
    double breakupAmount = 30;
    double breakupRoughness = 50;
    double insideMasking = 100;
    double edgeSoftness = 15;
    RgbColor innerColor = RgbColor::Bytes(255, 255, 255);
    RgbColor outerColor = RgbColor::Bytes(0, 0, 0);
    int16_t randomSeed = 1;
};

class Smoke final : public EffectOf<Smoke, SmokeParams, PlumeEffect<Smoke>> {
public:
    static constexpr int kIndex = 14;
    static constexpr int kNameId = 36000;
    static constexpr int kDescriptionId = 36005;
    static constexpr const char* kKey = "Smoke";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kSmokeParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    void ReadBlock(HostParamDef** params, SmokeParams& block) const {
        block.wispWidth = ParamInt16(params, 0);
        block.wispHeight = ParamInt16(params, 1);
        block.breakupAmount = ParamInt(params, 2);
        block.breakupRoughness = ParamInt(params, 3);
        block.insideMasking = ParamInt(params, 4);
        block.edgeSoftness = ParamInt(params, 5);
        block.innerColor = FromParamPixel(ParamColor(params, 6));
        block.outerColor = FromParamPixel(ParamColor(params, 7));
        block.randomSeed = ParamInt16(params, 8);
    }

    // The plume Smoke draws: fractal noise pushes the wisps by 0.1 x Breakup
    // Amount. Flow Speed (row 9) is integrated over time instead.
    static PlumeSettings PlumeOf(const void* block) {
        const auto& p = *static_cast<const SmokeParams*>(block);
        return PlumeSettings{.kind = PlumeKind::kSmoke,
                             .wispWidth = p.wispWidth,
                             .wispHeight = p.wispHeight,
                             .displacement = 0.1 * p.breakupAmount,
                             .insideMasking = p.insideMasking * 0.01,
                             .edgeSoftness = p.edgeSoftness,
                             .breakupRoughness = p.breakupRoughness,
                             .naturalRamp = false,
                             .innerColor = p.innerColor,
                             .outerColor = p.outerColor,
                             .randomSeed = p.randomSeed};
    }
};

}  // namespace

extern const EffectMaker kSmokeMaker = MakerFor<Smoke>();

}  // namespace zoka
