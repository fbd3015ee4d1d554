// Chrome: paints the masked part of the layer as polished metal, mixing two
// colours by a banded ramp of the blurred mask's slope along the light.
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"

namespace zoka {

namespace {

constexpr ParamDecl kChromeParams[] = {
    FixedSlider(23001, 0, 100, 0, 100, 10, "Softness"),
    FixedSlider(23002, 0, 100, 0, 100, 50, "Variation"),
    FixedSlider(23003, 0, 100, 0, 100, 50, "Contrast"),
    FixedSlider(23004, 1, 10, 1, 30, 4, nullptr),
    Angle(23005, 135, "Direction"),
    Color(23006, {255, 0, 0, 0}, "BaseColor"),
    Color(23007, {255, 255, 255, 255}, "HighlightColor"),
};

struct ChromeParams {
    double softness = 10;
    double variation = 50;
    double contrast = 50;
    double bands = 4;
    double lightDirection = 135;  // degrees counter-clockwise from +x
    RgbColor baseColor = RgbColor::Bytes(0, 0, 0);
    RgbColor highlightColor = RgbColor::Bytes(255, 255, 255);
};

class Chrome final : public EffectOf<Chrome, ChromeParams> {
public:
    static constexpr int kIndex = 2;
    static constexpr int kNameId = 23000;
    static constexpr int kDescriptionId = 23008;
    static constexpr const char* kKey = "Chrome";
    static constexpr const auto& kParams = kChromeParams;

    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, ChromeParams& block) const {
        block.softness = ParamFixed(params, 0);
        block.variation = ParamFixed(params, 1);
        block.contrast = ParamFixed(params, 2);
        block.bands = ParamFixed(params, 3);
        block.lightDirection = ParamDirection(params, 4);
        block.baseColor = FromParamPixel(ParamColor(params, 5));
        block.highlightColor = FromParamPixel(ParamColor(params, 6));
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kChromeMaker = MakerFor<Chrome>();

}  // namespace zoka
