// Glow: draws a semi-transparent halo of one colour around the layer or the
// selection, fading with the distance from its edge.
#include <cmath>

#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kGlowParams[] = {
    FixedSlider(29001, 0, 100, 0, 999, 20, "Width"),
    FixedSlider(24003, 0, 100, 0, 100, 100, "Opacity"),
    Color(28004, {255, 255, 255, 255}, "Color"),
    Popup(29002, 42003, 4, 1, "DropoffType"),
    Checkbox(41001, 29003, false, "DrawEverywhere"),
};

struct GlowParams {
    double width = 20;  // pixels at full resolution
    double opacity = 100;
    RgbColor colour = RgbColor::Bytes(255, 255, 255);
    int16_t dropoff = 1;  // 1 Fat, 2 Medium, 3 Thin, 4 Diffuse
    int16_t drawEverywhere = 0;
};

class Glow final : public EffectOf<Glow, GlowParams> {
public:
    static constexpr int kIndex = 7;
    static constexpr int kNameId = 29000;
    static constexpr int kDescriptionId = 29004;
    static constexpr const char* kKey = "Glow";
    static constexpr const auto& kParams = kGlowParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, GlowParams& block) const {
        block.width = ParamFixed(params, 0);
        block.opacity = ParamFixed(params, 1);
        block.colour = FromParamPixel(ParamColor(params, 2));
        block.dropoff = static_cast<int16_t>(ParamInt(params, 3));
        block.drawEverywhere = ParamBool(params, 4) ? 1 : 0;
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const GlowParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::ceil(p.width / scale)) + 1);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kGlowMaker = MakerFor<Glow>();

}  // namespace zoka
