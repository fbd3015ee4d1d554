// Weave: turns the layer into woven ribbons with a thread grain, shaded where
// they dip under each other; the weave can drift over time.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kWeaveParams[] = {
    Slider(40001, 1, 50, 1, 600, 30, "RibbonWidth"),
    Slider(40002, 0, 50, 0, 50, 2, "GapWidth"),
    Checkbox(41001, 40006, true, "GapFill"),
    Color(40005, {255, 0, 0, 0}, "GapColor"),
    Slider(22002, 0, 100, 0, 100, 50, "ShadowDepth"),
    Slider(40003, 0, 100, 0, 100, 50, "ThreadDetail"),
    Slider(40004, 3, 30, 3, 100, 8, "ThreadLength"),
    Checkbox(41001, 40007, false, "Smear"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
};

struct WeaveParams {
    int16_t ribbonWidth = 30;
    int16_t gapWidth = 2;
    int16_t fillGaps = 1;
    RgbColor gapColor = RgbColor::Bytes(0, 0, 0);
    int16_t shadowDepth = 50;
    int16_t threadDetail = 50;
    int16_t threadLength = 8;
    int16_t smearThreads = 0;
};

class Weave final : public EffectOf<Weave, WeaveParams> {
public:
    static constexpr int kIndex = 18;
    static constexpr int kNameId = 40000;
    static constexpr int kDescriptionId = 40009;
    static constexpr const char* kKey = "Weave";
    static constexpr const auto& kParams = kWeaveParams;

    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 8 and 9 (flow) are integrated over time by the band kernel.
    void ReadBlock(HostParamDef** params, WeaveParams& block) const {
        block.ribbonWidth = static_cast<int16_t>(ParamInt(params, 0));
        block.gapWidth = static_cast<int16_t>(ParamInt(params, 1));
        block.fillGaps = ParamBool(params, 2) ? 1 : 0;
        block.gapColor = FromParamPixel(ParamColor(params, 3));
        block.shadowDepth = static_cast<int16_t>(ParamInt(params, 4));
        block.threadDetail = static_cast<int16_t>(ParamInt(params, 5));
        block.threadLength = static_cast<int16_t>(ParamInt(params, 6));
        block.smearThreads = ParamBool(params, 7) ? 1 : 0;
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kWeaveMaker = MakerFor<Weave>();

}  // namespace zoka
