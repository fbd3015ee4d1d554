// Star: draws a filled star with a radial colour ramp over the layer.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kStarParams[] = {
    Slider(37001, 3, 50, 3, 50, 5, "Sides"),
    FixedSlider(37002, 0, 95, 0, 95, 50, "Indentation"),
    FixedSlider(37003, 20, 200, 20, 200, 100, "Scale"),
    Point(37008, 0x320000, 0x320000, "Position"),
    FixedSlider(24003, 0, 100, 0, 100, 100, "Opacity"),
    Angle(37006, 0, "Orientation"),
    Color(26007, {255, 255, 0, 0}, "InnerColor"),
    Color(26008, {255, 0, 0, 255}, "OuterColor"),
    Checkbox(41001, 27005, true, "Antialias"),
    Checkbox(41001, 37007, false, "EraseImage"),
};

struct StarParams {
    int16_t sides = 5;
    double indentation = 50;
    double scale = 100;
    double positionX = 0;  // layer pixels
    double positionY = 0;
    double opacity = 100;
    double orientation = 0;  // degrees
    RgbColor innerColor = RgbColor::Bytes(255, 0, 0);
    RgbColor outerColor = RgbColor::Bytes(0, 0, 255);
    bool smooth = true;
    bool eraseImage = false;
};

class Star final : public EffectOf<Star, StarParams> {
public:
    static constexpr int kIndex = 12;
    static constexpr int kNameId = 37000;
    static constexpr int kDescriptionId = 37009;
    static constexpr const char* kKey = "Star";
    static constexpr const auto& kParams = kStarParams;

    bool SpareFlagA() const override { return true; }
    bool UsesSelectionLayer() const override { return false; }

    void ReadBlock(HostParamDef** params, StarParams& block) const {
        block.sides = static_cast<int16_t>(ParamInt(params, 0));
        block.indentation = ParamFixed(params, 1);
        block.scale = ParamFixed(params, 2);
        block.positionX = ParamPointX(params, 3);
        block.positionY = ParamPointY(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.orientation = ParamDirection(params, 5) + 90;
        block.innerColor = FromParamPixel(ParamColor(params, 6));
        block.outerColor = FromParamPixel(ParamColor(params, 7));
        block.smooth = ParamBool(params, 8);
        block.eraseImage = ParamBool(params, 9);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kStarMaker = MakerFor<Star>();

}  // namespace zoka
