// HSB Noise: varies each pixel's hue, saturation, brightness and opacity by
// four smooth noise patterns that drift and undulate over time.
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/result_codes.h"

namespace zoka {

namespace {

constexpr ParamDecl kHsbNoiseParams[] = {
    FixedSlider(30001, 0, 100, 0, 100, 5, "Hue"),
    FixedSlider(30002, 0, 100, 0, 100, 30, "Saturation"),
    FixedSlider(30003, 0, 100, 0, 100, 40, "Brightness"),
    FixedSlider(30004, 0, 100, 0, 100, 0, "Opacity"),
    FixedSlider(30005, 1, 100, 1, 100, 5, "LumpWidth"),
    FixedSlider(30006, 1, 100, 1, 100, 5, "LumpHeight"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
};

struct HsbNoiseParams {
    double hue = 5;
    double saturation = 30;
    double brightness = 40;
    double opacity = 0;
    double lumpWidth = 5;
    double lumpHeight = 5;
    int32_t randomSeed = 1;
};

class HsbNoise final : public EffectOf<HsbNoise, HsbNoiseParams> {
public:
    static constexpr int kIndex = 8;
    static constexpr int kNameId = 30000;
    static constexpr int kDescriptionId = 30010;
    static constexpr const char* kKey = "HSBNoise";
    static constexpr const auto& kParams = kHsbNoiseParams;

    bool SpareFlagA() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 7 to 9 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, HsbNoiseParams& block) const {
        block.hue = ParamFixed(params, 0);
        block.saturation = ParamFixed(params, 1);
        block.brightness = ParamFixed(params, 2);
        block.opacity = ParamFixed(params, 3);
        block.lumpWidth = ParamFixed(params, 4);
        block.lumpHeight = ParamFixed(params, 5);
        block.randomSeed = ParamInt(params, 6);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kHsbNoiseMaker = MakerFor<HsbNoise>();

}  // namespace zoka
