// Antimatter: inverts the brightness of the layer while keeping each pixel's
// hue; darker results also lose saturation.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/result_codes.h"
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
// The hue of a grey pixel: the first value of a random generator seeded with 1.
constexpr double kGreyHue = 16807.0 / 2147483647.0;

struct Hsv {
    double h, s, v;
};

// Hue as a fraction of a turn in [0, 1).
Hsv RgbToHsv(double r, double g, double b) {
    const double v = std::max({r, g, b});
    const double d = v - std::min({r, g, b});
    const double s = v > 1e-7 ? d / v : 0;
    if (s == 0 || std::fabs(d) < 1e-7) return Hsv{kGreyHue, s, v};
    double h6;
    if (r == v) {
        h6 = (g - b) / d;
    } else if (g == v) {
        h6 = (b - r) / d + 2;
    } else {
        h6 = (r - g) / d + 4;
    }
    double h = h6 * 0.16666666666666666;
    if (h < 0) h += 1;
    return Hsv{h, s, v};
}

uint8_t ToByte(double unit) {
    const double v = unit * 255;
    if (!(v > 0)) return 0;
    return v > 255 ? 255 : static_cast<uint8_t>(v);
}

// Writes the colour of (h, s, v) into rgb; a sector outside 0..5 leaves it.
void HsvToBytes(double h, double s, double v, uint8_t* rgb) {
    const auto i = static_cast<int>(6 * h);
    const double f = 6 * h - i;
    const double p = v * (1 - s);
    const double q = v * (1 - f * s);
    const double t = v * (1 - (1 - f) * s);
    const double sectors[6][3] = {{v, t, p}, {q, v, p}, {p, v, t}, {p, q, v}, {t, p, v}, {v, p, q}};
    if (i < 0 || i > 5) return;
    for (int c = 0; c < 3; ++c) rgb[c] = ToByte(sectors[i][c]);
}

// The brightness moves from V (amount 0) through 1/2 to 1 - V (amount 1);
// results darker than half brightness lose saturation toward grey at black.
void InvertBrightness(const uint8_t* source, uint8_t* destination, double amount) {
    Hsv hsv = RgbToHsv(source[0] * kUnit, source[1] * kUnit, source[2] * kUnit);
    const double v = amount + (1 - 2 * amount) * hsv.v;
    double s = hsv.s;
    if (v <= 0.5) {
        const double k = 2 * (0.5 - v);
        s = hsv.s * (1 - k * k);
    }
    if (hsv.h == 1) hsv.h = 0;
    HsvToBytes(hsv.h, s, v, destination);
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
