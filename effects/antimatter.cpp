// Antimatter: inverts the brightness of the layer while keeping each pixel's
// hue; darker results also lose saturation.
#include <cstdint>

#include "base/result_codes.h"
#include "effects/hsv.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "raster/sampler.h"

namespace zoka {

namespace {

constexpr ParamDecl kAntimatterParams[] = {
    FixedSlider(21001, 0, 100, 0, 100, 100, "Amount", true),
};

struct AntimatterParams {
    double amount;  // percent
};

class Antimatter final : public EffectOf<Antimatter, AntimatterParams> {
public:
    static constexpr int kIndex = 0;
    static constexpr int kNameId = 21000;
    static constexpr int kDescriptionId = 21002;
    static constexpr const char* kKey = "Antimatter";
    static constexpr const auto& kParams = kAntimatterParams;

    bool SpareFlagB() const override { return false; }

    void ReadBlock(HostParamDef** params, AntimatterParams& block) const {
        block.amount = ParamFixed(params, 0);
    }

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------

constexpr double kUnit = 0.00392156862745098;  // 1/255 as the kernel uses it

// The brightness moves from V (amount 0) through 1/2 to 1 - V (amount 1);
// results darker than half brightness lose saturation toward grey at black.
void InvertBrightness(const uint8_t* source, uint8_t* destination, double amount) {
    const HueSixths hsv = RgbToHueSixths(source[0] * kUnit, source[1] * kUnit, source[2] * kUnit);
    double h = kGreyHue;
    if (!hsv.grey) {
        h = hsv.h6 * 0.16666666666666666;
        if (h < 0) h += 1;
    }
    const double v = amount + (1 - 2 * amount) * hsv.v;
    double s = hsv.s;
    if (v <= 0.5) {
        const double k = 2 * (0.5 - v);
        s = hsv.s * (1 - k * k);
    }
    HsvToBytes(h, s, v, destination);
}

int Antimatter::RenderBand(RenderContext& context, const PixelRect& band) {
    const double amount = static_cast<const AntimatterParams*>(context.params)->amount * 0.01;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        const uint8_t* s = context.source->Pixel(band.left, y);
        uint8_t* d = context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
            // The selection's weighting comes later, in the driver's blend; here
            // the mask only decides whether the pixel is processed.
            const int m = SampleBilinearClamped(*context.mask, x - context.maskOffsetX,
                                                y - context.maskOffsetY);
            if (m == 0) {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            } else {
                InvertBrightness(s, d, amount);
            }
            d[3] = s[3];
        }
    }
    return kOk;
}

}  // namespace

extern const EffectMaker kAntimatterMaker = MakerFor<Antimatter>();

}  // namespace zoka
