// Gaussian Blur: softens the layer with the blur engine; the output grows by
// the blur's reach.
#include <cmath>

#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/result_codes.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kGaussianBlurParams[] = {
    Slider(21001, 0, 100, 0, 999, 20, "Width"),
};

struct GaussianBlurParams {
    int16_t width = 20;  // pixels at full resolution
};

class GaussianBlur final : public EffectOf<GaussianBlur, GaussianBlurParams> {
public:
    static constexpr int kIndex = 21;
    static constexpr int kNameId = 27500;
    static constexpr int kDescriptionId = 27501;
    static constexpr const char* kKey = "GaussianBlur";
    static constexpr const auto& kParams = kGaussianBlurParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }

    void ReadBlock(HostParamDef** params, GaussianBlurParams& block) const {
        block.width = static_cast<int16_t>(ParamInt(params, 0));
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const GaussianBlurParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::ceil(p.width / scale)) + 1);
    }

    int RenderBand(RenderContext&, const PixelRect&) override { return kNotSupported; }
};

}  // namespace

extern const EffectMaker kGaussianBlurMaker = MakerFor<GaussianBlur>();

}  // namespace zoka
