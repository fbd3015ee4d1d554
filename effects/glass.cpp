// Glass: lays a sheet of coloured glass with flaws over the masked part of
// the layer, refracting and tinting what lies under it.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kGlassParams[] = {
    Popup(22007, 42000, 4, 3, "BevelType"),
    FixedSlider(22001, 0, 50, 0, 300, 20, "Width"),
    FixedSlider(28001, 5, 50, 5, 600, 30, "FlawSpacing"),
    FixedSlider(28002, 0, 100, 0, 100, 30, "FlawThickness"),
    FixedSlider(24003, 0, 100, 0, 100, 50, "Opacity"),
    FixedSlider(28003, 0, 100, 0, 100, 30, "ReflectionParam"),
    FixedSlider(22004, 0, 100, 0, 100, 100, "HighlightBrightness"),
    FixedSlider(22005, 0, 100, 0, 100, 40, "HighlightSharpness"),
    Angle(22008, 315, "Direction"),
    FixedSlider(22009, 0, 90, 0, 90, 45, "Inclination"),
    Color(28004, {255, 128, 128, 128}, "Color"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
    FixedSlider(30009, 0, 640, 0, 6400, 0, "PhaseVelocity"),
    Slider(26004, 0, 100, 0, 100, 0, "RandomSeed"),
};

struct GlassParams {
    int16_t bevelShape = 3;  // 1 Button, 2 Rounded, 3 Flat, 4 Mesa
    double width = 20;
    double flawSpacing = 30;
    double flawThickness = 30;
    double opacity = 50;
    double refraction = 30;
    double highlightBrightness = 100;
    double highlightSharpness = 40;
    double direction = 135;  // degrees counter-clockwise from +x
    double inclination = 45;
    RgbColor color = RgbColor::Bytes(128, 128, 128);
    int16_t randomSeed = 0;
};

class Glass final : public EffectOf<Glass, GlassParams> {
public:
    static constexpr int kIndex = 6;
    static constexpr int kNameId = 28000;
    static constexpr int kDescriptionId = 28005;
    static constexpr const char* kKey = "Glass";
    static constexpr const auto& kParams = kGlassParams;

    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 11 to 13 (flow and undulation) are integrated over time instead.
    void ReadBlock(HostParamDef** params, GlassParams& block) const {
        block.bevelShape = static_cast<int16_t>(ParamInt(params, 0));
        block.width = ParamFixed(params, 1);
        block.flawSpacing = ParamFixed(params, 2);
        block.flawThickness = ParamFixed(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.refraction = ParamFixed(params, 5);
        block.highlightBrightness = ParamFixed(params, 6);
        block.highlightSharpness = ParamFixed(params, 7);
        block.direction = ParamDirection(params, 8);
        block.inclination = ParamFixed(params, 9);
        block.color = FromParamPixel(ParamColor(params, 10));
        block.randomSeed = static_cast<int16_t>(ParamInt(params, 14));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kGlassMaker = MakerFor<Glass>();

}  // namespace zoka
