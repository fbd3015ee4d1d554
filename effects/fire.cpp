// Fire: grows a flame upward from the opaque parts of the layer, its pattern
// rising over time. The kernel is the plume it shares with Smoke.
#include "effects/plume.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kFireParams[] = {
    Slider(26001, 5, 50, 5, 600, 15, "WispWidth"),
    Slider(26002, 10, 200, 10, 3000, 45, "WispHeight"),
    FixedSlider(26003, 0, 100, 0, 100, 30, "Movement"),
    FixedSlider(26005, 0, 100, 0, 100, 100, "InsideMasking"),
    FixedSlider(26006, 0, 100, 0, 100, 5, "EdgeSoftness"),
    Popup(28004, 42001, 2, 1, "FireColor"),
    Color(26007, {255, 255, 255, 128}, "InnerColor"),
    Color(26008, {255, 255, 128, 0}, "OuterColor"),
    Slider(26004, 1, 100, 1, 100, 1, "RandomSeed"),
    FixedSlider(30008, 0, 500, 0, 999, 200, "FlowVelocity"),
};

struct FireParams {
    int16_t wispWidth = 20;
    int16_t wispHeight = 100;
    double movement = 30;
    double insideMasking = 100;
    double edgeSoftness = 15;
    int16_t fireColor = 1;  // 1 Natural, 2 User Defined
    RgbColor innerColor = RgbColor::Bytes(255, 255, 128);
    RgbColor outerColor = RgbColor::Bytes(255, 128, 0);
    int16_t randomSeed = 1;
};

class Fire final : public EffectOf<Fire, FireParams, PlumeEffect<Fire>> {
public:
    static constexpr int kIndex = 19;
    static constexpr int kNameId = 26000;
    static constexpr int kDescriptionId = 26009;
    static constexpr const char* kKey = "Fire";
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kFireParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    void ReadBlock(HostParamDef** params, FireParams& block) const {
        block.wispWidth = ParamInt16(params, 0);
        block.wispHeight = ParamInt16(params, 1);
        block.movement = ParamFixed(params, 2);
        block.insideMasking = ParamFixed(params, 3);
        block.edgeSoftness = ParamFixed(params, 4);
        block.fireColor = ParamInt16(params, 5);
        block.innerColor = FromParamPixel(ParamColor(params, 6));
        block.outerColor = FromParamPixel(ParamColor(params, 7));
        block.randomSeed = ParamInt16(params, 8);
    }

    // The plume Fire draws: one coarse noise pushes the flames sideways by
    // 0.2 x Movement. Flow Speed (row 9) is integrated over time instead.
    static PlumeSettings PlumeOf(const void* block) {
        const auto& p = *static_cast<const FireParams*>(block);
        return PlumeSettings{.kind = PlumeKind::kFlame,
                             .wispWidth = p.wispWidth,
                             .wispHeight = p.wispHeight,
                             .displacement = 0.2 * p.movement,
                             .insideMasking = p.insideMasking * 0.01,
                             .edgeSoftness = p.edgeSoftness,
                             .breakupRoughness = 0,
                             .naturalRamp = p.fireColor == 1,
                             .innerColor = p.innerColor,
                             .outerColor = p.outerColor,
                             .randomSeed = p.randomSeed};
    }
};

}  // namespace

extern const EffectMaker kFireMaker = MakerFor<Fire>();

}  // namespace zoka
