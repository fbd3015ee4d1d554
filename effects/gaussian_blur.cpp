// Gaussian Blur: softens the layer with the blur engine; the output grows by
// the blur's reach.
#include <cmath>

#include <cstring>

#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
#include "raster/blur.h"
#include "raster/numeric.h"
#include "raster/pixel_ops.h"

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
    static constexpr bool kBandsAgree = false;
    static constexpr const auto& kParams = kGaussianBlurParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }

    void ReadBlock(HostParamDef** params, GaussianBlurParams& block) const {
        block.width = ParamInt16(params, 0);
    }

    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const auto& p = *static_cast<const GaussianBlurParams*>(block);
        result = input;
        OutsetRect(result, TruncToInt16(std::ceil(p.width / scale)) + 1);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

// Blurs the band grown by the blur's reach (clipped to the source), all four
// channels alike; content fades toward transparent black where the grown
// band meets the source's edge.
int GaussianBlur::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const GaussianBlurParams*>(context.params);
    const double r = p.width / context.divisor;
    PixelRect area;
    GrowWithin(band, *context.source, TruncToInt32(std::ceil(r)), area);
    Raster* copy = nullptr;
    int result = CreateRaster(area, 4, 1, copy);
    if (result != kOk) return result;
    CopyRasterOverlap(*context.source, *copy);
    result = BlurRaster(*copy, r, context.abort, EngineRunner(context.input));
    if (result == kOk) {
        for (int32_t y = band.top; y < band.bottom; ++y) {
            std::memcpy(context.destination->Pixel(band.left, y), copy->Pixel(band.left, y),
                        static_cast<size_t>(band.Width()) * 4);
        }
    }
    DestroyRaster(copy);
    return result;
}

}  // namespace

extern const EffectMaker kGaussianBlurMaker = MakerFor<GaussianBlur>();

}  // namespace zoka
