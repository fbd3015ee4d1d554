// Jiggle: displaces every pixel by the twisted gradient of a noise field,
// bubbling over time.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "raster/numeric.h"

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

class Jiggle final : public EffectOf<Jiggle, JiggleParams> {
public:
    static constexpr int kIndex = 16;
    static constexpr int kNameId = 32000;
    static constexpr int kDescriptionId = 32005;
    static constexpr const char* kKey = "Jiggle";
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
        block.movementType = static_cast<int16_t>(ParamInt(params, 3));
        block.randomSeed = static_cast<int16_t>(ParamInt(params, 4));
    }

    // Grown by the warp's reach; the octave sums reach twice as far.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const JiggleParams*>(block);
        const double reach = p.movementType == 1 ? p.warpAmount / scale : 2 * p.warpAmount / scale;
        result = input;
        OutsetRect(result, TruncToInt32(reach));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kJiggleMaker = MakerFor<Jiggle>();

}  // namespace zoka
