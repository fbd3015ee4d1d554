// Fur: darkens the layer as skin and covers its opaque part with short hairs
// that sway along a wavy noise field.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"

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

class Fur final : public EffectOf<Fur, FurParams> {
public:
    static constexpr int kIndex = 5;
    static constexpr int kNameId = 27000;
    static constexpr int kDescriptionId = 27006;
    static constexpr const char* kKey = "Fur";
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
        block.randomSeed = static_cast<int16_t>(ParamInt(params, 5));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kFurMaker = MakerFor<Fur>();

}  // namespace zoka
