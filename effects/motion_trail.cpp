// Motion Trail: smears the layer along one direction over a length and lays
// the smear under the layer; the output grows toward the trail.
#include <cmath>

#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/result_codes.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kMotionTrailParams[] = {
    Slider(33001, 0, 200, 0, 999, 50, "Length"),
    Slider(24003, 0, 100, 0, 100, 100, "Opacity"),
    Angle(22008, 200, "Direction"),
    Checkbox(41001, 33002, true, "Taper"),
};

struct TrailParams {
    int16_t length = 50;       // full-resolution pixels
    int16_t opacity = 100;     // percent
    double direction = 200.0;  // degrees counter-clockwise from +x
    bool taper = true;         // "Just Smear Edges"
};

constexpr double kTrailDegToRad = 0.017453292522222223;

class MotionTrail final : public EffectOf<MotionTrail, TrailParams> {
public:
    static constexpr int kIndex = 10;
    static constexpr int kNameId = 33000;
    static constexpr int kDescriptionId = 33003;
    static constexpr const char* kKey = "MotionTrail";
    static constexpr const auto& kParams = kMotionTrailParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }
    bool UsesSelectionLayer() const override { return false; }

    void ReadBlock(HostParamDef** params, TrailParams& block) const {
        block.length = static_cast<int16_t>(ParamInt(params, 0));
        block.opacity = static_cast<int16_t>(ParamInt(params, 1));
        block.direction = ParamDirection(params, 2);
        block.taper = ParamBool(params, 3);
    }

    // The input area grown toward the trail by the scaled length.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const TrailParams*>(block);
        const int32_t n = static_cast<int16_t>(p.length / WholeDivisor(scale));
        const double c = std::cos(p.direction * kTrailDegToRad);
        const double e = -std::sin(p.direction * kTrailDegToRad);
        result = input;
        if (c > 0) result.right += TruncToInt32(n * c);
        if (c < 0) result.left += TruncToInt32(n * c);
        if (e > 0) result.bottom += TruncToInt32(n * e);
        if (e < 0) result.top += TruncToInt32(n * e);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kMotionTrailMaker = MakerFor<MotionTrail>();

}  // namespace zoka
