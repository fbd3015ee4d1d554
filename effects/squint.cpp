// Squint: replaces each pixel by the alpha-weighted mean of a ring of pixels
// around it, like an unfocused lens.
#include <algorithm>

#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/result_codes.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kSquintParams[] = {
    FixedSlider(35001, 0, 30, 0, 150, 5, "Radius"),
};

struct SquintParams {
    double radius = 6.0;  // pixels at full resolution
};

class Squint final : public EffectOf<Squint, SquintParams> {
public:
    static constexpr int kIndex = 15;
    static constexpr int kNameId = 35000;
    static constexpr int kDescriptionId = 35002;
    static constexpr const char* kKey = "Squint";
    static constexpr const auto& kParams = kSquintParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }

    void ReadBlock(HostParamDef** params, SquintParams& block) const {
        block.radius = ParamFixed(params, 0);
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const SquintParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::max(1.0, p.radius / WholeDivisor(scale))) + 1);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kSquintMaker = MakerFor<Squint>();

}  // namespace zoka
