// Antimatter: inverts the brightness of the layer while keeping each pixel's
// hue; darker results also lose saturation.
#include <cstdint>
#include <cstring>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "effects/hsv.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/render_driver.h"
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
    static constexpr bool kBandsAgree = true;
    static constexpr bool kSharesRows = true;
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

// The inverted colours met so far, by colour: the result depends on R, G and B
// alone (and on the amount, fixed for the band). Direct-mapped; a slot holds
// the source colour with a presence bit above it and the result below.
class InvertedColours {
public:
    int Create() {
        if (slots_.Allocate(kSlots) != kOk) return kOutOfMemory;
        std::memset(slots_.get(), 0, kSlots * sizeof(uint64_t));
        return kOk;
    }
    // Writes the inverted R, G and B of source into destination.
    void Invert(const uint8_t* source, uint8_t* destination, double amount) {
        const uint32_t colour = source[0] | uint32_t{source[1]} << 8 | uint32_t{source[2]} << 16;
        const uint64_t key = uint64_t{colour | kPresent} << 32;
        uint64_t& slot = slots_[(colour * 2654435761u) >> (32 - kSlotBits)];
        if ((slot & ~uint64_t{0xFFFFFFFF}) != key) {
            // Every hue the conversion gives lies in [0, 1], so all three
            // channels are written whatever the result held.
            uint8_t rgb[3] = {source[0], source[1], source[2]};
            InvertBrightness(source, rgb, amount);
            slot = key | rgb[0] | uint32_t{rgb[1]} << 8 | uint32_t{rgb[2]} << 16;
        }
        destination[0] = static_cast<uint8_t>(slot);
        destination[1] = static_cast<uint8_t>(slot >> 8);
        destination[2] = static_cast<uint8_t>(slot >> 16);
    }

private:
    static constexpr int kSlotBits = 15;
    static constexpr size_t kSlots = size_t{1} << kSlotBits;
    static constexpr uint32_t kPresent = 1u << 24;
    ModuleBuffer<uint64_t> slots_;
};

// Whether the mask says to process each pixel of a row. The selection's
// weighting comes later, in the driver's blend.
class MaskRow {
public:
    // Without a fractional offset every sample falls on a pixel.
    explicit MaskRow(const RenderContext& context)
        : context_(context),
          whole_(context.maskOffsetX == 0 && context.maskOffsetY == 0 && !IsEmpty(context.mask->bounds)) {}
    void Start(int32_t y) {
        y_ = y;
        if (whole_) row_ = ClampedSampleRow(*context_.mask, y);
    }
    bool Masked(int32_t x) const {
        if (whole_) return row_[ClampedSampleColumn(context_.mask->bounds, x)] != 0;
        return SampleBilinearClamped(*context_.mask, x - context_.maskOffsetX,
                                     y_ - context_.maskOffsetY) != 0;
    }

private:
    const RenderContext& context_;
    const bool whole_;
    int32_t y_ = 0;
    const uint8_t* row_ = nullptr;
};

// Rows [top, bottom) of the band, with a colour table of their own.
int InvertRows(const RenderContext& context, const PixelRect& band, int32_t top, int32_t bottom,
               double amount) {
    InvertedColours colours;
    if (colours.Create() != kOk) return kOutOfMemory;
    MaskRow mask(context);
    for (int32_t y = top; y < bottom; ++y) {
        if (context.abort(nullptr) != 0) return kCancelled;
        const uint8_t* s = context.source->Pixel(band.left, y);
        uint8_t* d = context.destination->Pixel(band.left, y);
        mask.Start(y);
        for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
            if (mask.Masked(x)) {
                colours.Invert(s, d, amount);
            } else {
                d[0] = s[0];
                d[1] = s[1];
                d[2] = s[2];
            }
            d[3] = s[3];
        }
    }
    return kOk;
}

int Antimatter::RenderBand(RenderContext& context, const PixelRect& band) {
    const double amount = static_cast<const AntimatterParams*>(context.params)->amount * 0.01;
    // Each run of rows fills a table of its own: no thread writes to another's.
    return ShareBandRows(context, band, [&](int32_t top, int32_t bottom) {
        return InvertRows(context, band, top, bottom, amount);
    });
}

}  // namespace

extern const EffectMaker kAntimatterMaker = MakerFor<Antimatter>();

}  // namespace zoka
