// Cutout: turns the masked area into a hole whose rim casts a shadow onto
// its floor; the floor is a solid fill or transparent.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kCutoutParams[] = {
    Angle(22008, 135, "ShadowDirection"),
    FixedSlider(24001, 0, 100, 0, 600, 10, "ShadowDistance"),
    FixedSlider(24002, 0, 100, 0, 100, 5, "Blur"),
    FixedSlider(24003, 0, 100, 0, 100, 80, "Opacity"),
    Color(24004, {255, 0, 0, 0}, "ShadowColor"),
    Checkbox(41001, 24006, true, "SolidFill"),
    Color(24005, {255, 255, 255, 255}, "FillColor"),
};

struct CutoutParams {
    double direction = 315;  // degrees counter-clockwise from +x
    double distance = 10;
    double blur = 5;
    double opacity = 80;
    RgbColor shadowColour = RgbColor::Bytes(0, 0, 0);
    int16_t solidFill = 1;
    RgbColor fillColour = RgbColor::Bytes(255, 255, 255);
};

class Cutout final : public EffectOf<Cutout, CutoutParams> {
public:
    static constexpr int kIndex = 3;
    static constexpr int kNameId = 24000;
    static constexpr int kDescriptionId = 24007;
    static constexpr const char* kKey = "Cutout";
    static constexpr const auto& kParams = kCutoutParams;

    bool SpareFlagA() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, CutoutParams& block) const {
        block.direction = ParamDirection(params, 0);
        block.distance = ParamFixed(params, 1);
        block.blur = ParamFixed(params, 2);
        block.opacity = ParamFixed(params, 3);
        block.shadowColour = FromParamPixel(ParamColor(params, 4));
        block.solidFill = ParamBool(params, 5) ? 1 : 0;
        block.fillColour = FromParamPixel(ParamColor(params, 6));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kCutoutMaker = MakerFor<Cutout>();

}  // namespace zoka
