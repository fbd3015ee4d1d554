// Perspective Shadow: lays the layer's silhouette down behind it as a shadow
// stretching from its bottom edge toward a vanishing point.
#include <cmath>

#include "base/result_codes.h"
#include "effects/shadow_projection.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "noise/rgb_color.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kPerspectiveShadowParams[] = {
    Angle(34001, 45, "VanishingPointDirection"),
    FixedSlider(34002, 1, 100, 1, 100, 40, "VanishingPointDistance"),
    FixedSlider(34003, 0, 100, 0, 100, 50, "Length"),
    FixedSlider(24002, 0, 100, 0, 100, 10, "Blur"),
    FixedSlider(24003, 0, 100, 0, 100, 90, "Opacity"),
    Color(28004, {255, 0, 0, 0}, "ShadowColor"),
    Checkbox(41001, 29003, false, "DrawEverywhere"),
};

struct PerspectiveShadowParams {
    double direction = 45;  // degrees counter-clockwise from +x
    double vanishingDistance = 40;
    double length = 50;
    double blur = 10;
    double opacity = 90;
    RgbColor shadowColour = RgbColor::Bytes(0, 0, 0);
    int16_t drawEverywhere = 0;
};

class PerspectiveShadow final
    : public EffectOf<PerspectiveShadow, PerspectiveShadowParams> {
public:
    static constexpr int kIndex = 20;
    static constexpr int kNameId = 34000;
    static constexpr int kDescriptionId = 34004;
    static constexpr const char* kKey = "PerspectiveShadow";
    static constexpr const auto& kParams = kPerspectiveShadowParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }

    void ReadBlock(HostParamDef** params, PerspectiveShadowParams& block) const {
        block.direction = ParamDirection(params, 0);
        block.vanishingDistance = ParamFixed(params, 1);
        block.length = ParamFixed(params, 2);
        block.blur = ParamFixed(params, 3);
        block.opacity = ParamFixed(params, 4);
        block.shadowColour = FromParamPixel(ParamColor(params, 5));
        block.drawEverywhere = ParamBool(params, 6) ? 1 : 0;
    }

    // The shadow's area for the input rectangle, grown by the unscaled blur.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double) override {
        const auto& p = *static_cast<const PerspectiveShadowParams*>(block);
        projection_.Build(p.vanishingDistance, p.direction, p.length, input);
        PixelRect shadow;
        projection_.Bounds(shadow);
        OutsetRect(shadow, TruncToInt32(std::ceil(p.blur)));
        UnionRect(shadow, input, result);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }

private:
    ShadowProjection projection_;
};

}  // namespace

extern const EffectMaker kPerspectiveShadowMaker = MakerFor<PerspectiveShadow>();

}  // namespace zoka
