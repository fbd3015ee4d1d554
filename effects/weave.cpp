// Weave: turns the layer into woven ribbons with a thread grain, shaded where
// they dip under each other; the weave can drift over time.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
#include "host/time_integration.h"
#include "noise/noise_field.h"
#include "noise/rgb_color.h"
#include "raster/numeric.h"

namespace zoka {

namespace {

constexpr ParamDecl kWeaveParams[] = {
    Slider(40001, 1, 50, 1, 600, 30, "RibbonWidth"),
    Slider(40002, 0, 50, 0, 50, 2, "GapWidth"),
    Checkbox(41001, 40006, true, "GapFill"),
    Color(40005, {255, 0, 0, 0}, "GapColor"),
    Slider(22002, 0, 100, 0, 100, 50, "ShadowDepth"),
    Slider(40003, 0, 100, 0, 100, 50, "ThreadDetail"),
    Slider(40004, 3, 30, 3, 100, 8, "ThreadLength"),
    Checkbox(41001, 40007, false, "Smear"),
    Angle(30007, 45, "FlowDirection"),
    FixedSlider(30008, 0, 100, 0, 999, 0, "FlowVelocity"),
};

struct WeaveParams {
    int16_t ribbonWidth = 30;
    int16_t gapWidth = 2;
    int16_t fillGaps = 1;
    RgbColor gapColor = RgbColor::Bytes(0, 0, 0);
    int16_t shadowDepth = 50;
    int16_t threadDetail = 50;
    int16_t threadLength = 8;
    int16_t smearThreads = 0;
};

class Weave final : public EffectOf<Weave, WeaveParams> {
public:
    static constexpr int kIndex = 18;
    static constexpr int kNameId = 40000;
    static constexpr int kDescriptionId = 40009;
    static constexpr const char* kKey = "Weave";
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kWeaveParams;

    bool SpareFlagA() const override { return true; }
    bool SpareFlagC() const override { return true; }
    bool ReadsOtherTimes() const override { return true; }
    bool VariesOverTime() const override { return true; }

    // Rows 8 and 9 (flow) are integrated over time before the bands.
    void ReadBlock(HostParamDef** params, WeaveParams& block) const {
        block.ribbonWidth = ParamInt16(params, 0);
        block.gapWidth = ParamInt16(params, 1);
        block.fillGaps = ParamBool(params, 2) ? 1 : 0;
        block.gapColor = FromParamPixel(ParamColor(params, 3));
        block.shadowDepth = ParamInt16(params, 4);
        block.threadDetail = ParamInt16(params, 5);
        block.threadLength = ParamInt16(params, 6);
        block.smearThreads = ParamBool(params, 7) ? 1 : 0;
    }

    // A thread reaches half its length each way.
    void SourceRect(const PixelRect& area, PixelRect& needed, PixelRect& second, const void* block,
                    double) const override {
        const auto& p = *static_cast<const WeaveParams*>(block);
        needed = area;
        OutsetRect(needed, p.threadLength / 2);
        second = needed;
    }

    int PrepareRender(RenderContext& context) override;
    int RenderBand(RenderContext& context, const PixelRect& band) override;

private:
    // The flow's drift, integrated once per render on the render thread,
    // where a lent motion carry is seen.
    Drift drift_;
};

// ---- Kernel ------------------------------------------------------------------

constexpr int kSpeedRow = ParamRow(kWeaveParams, "FlowVelocity");
constexpr int kDirectionRow = ParamRow(kWeaveParams, "FlowDirection");

// The pattern's sizes in rendered pixels. A period is a ribbon and the gap
// beside it; one over-and-under stretch of a ribbon is a period and a gap.
struct WeaveSizes {
    int32_t ribbon, gap, period, stretch;
    int32_t before, after;  // a thread's reach: rows (or columns) before and after the pixel
};

WeaveSizes SizesOf(const WeaveParams& p, int32_t q) {
    WeaveSizes s{};
    s.ribbon = std::max(1, p.ribbonWidth / q);
    // A negative gap (a width no user can set) is no gap: the shade table
    // and the pattern both assume gap >= 0.
    s.gap = std::max(0, p.gapWidth / q);
    const int32_t length = std::max(3, p.threadLength / q);
    s.before = length / 2;
    s.after = length - s.before;
    // At least three pixels to a period, so a stretch has two ends and a middle.
    if (s.gap < 2) s.ribbon = std::max(s.ribbon, 3 - s.gap);
    s.period = s.ribbon + s.gap;
    s.stretch = s.period + s.gap;
    return s;
}

// The rounded profile of a ribbon along one stretch: 256 (unshaded) where it
// lies highest, halfway over the crossing ribbon, down to 256 - depth at both
// ends, where it dives under.
int BuildShadeTable(ModuleBuffer<int16_t>& table, int32_t n, int16_t shadowDepth) {
    const int result = table.Allocate(static_cast<size_t>(n));
    if (result != kOk) return result;
    const int32_t sd = shadowDepth * 256 / 100;
    const int32_t m = (n - 1) / 2;
    for (int32_t j = 0; j < n; ++j) {
        const int32_t u = j < n / 2 ? j : n - 1 - j;
        const double x = static_cast<double>(u) / m;
        table[j] = static_cast<int16_t>(
            std::clamp(256 - sd + TruncToInt32(sd * std::sqrt(x * (2 - x))), 0, 256));
    }
    return kOk;
}

// What a pattern position shows: a gap crossing, or the vertical or the
// horizontal ribbon with its shade table entry.
enum class Show { kGapCrossing, kVertical, kHorizontal };

struct Spot {
    Show show;
    int32_t shade;  // index into the shade table
};

// Ribbons cross in a checkerboard: in cells of odd parity the vertical one
// lies on top, in even cells the horizontal one; along the gaps the ribbon
// of the other direction shows. px and py are not negative.
Spot SpotAt(const WeaveSizes& s, int32_t px, int32_t py) {
    const int32_t bx = px % s.period, by = py % s.period;
    const int32_t parity = (px / s.period + py / s.period) & 1;
    if (bx < s.gap && by < s.gap) return Spot{Show::kGapCrossing, 0};
    if ((parity == 1 && bx >= s.gap) || by < s.gap) {
        return Spot{Show::kVertical, parity == 1 ? by : by + s.period};
    }
    return Spot{Show::kHorizontal, parity == 1 ? bx + s.period : bx};
}

// Where the pattern lies over the working area: a whole offset, reduced to
// one repeat of the checkerboard (two periods each way) so positions stay
// small and non-negative, and the fraction left over.
struct PatternOffset {
    int32_t x, y;
    double fx, fy;
};

// Floor rather than truncation, so a drift that carries the pattern far
// past its starting point splits the same way as one that does not.
void SplitOffset(double position, int32_t repeat, int32_t& whole, double& fraction) {
    const double floor = std::floor(position);
    fraction = position - floor;
    double reduced = std::fmod(floor, repeat);
    if (reduced < 0) reduced += repeat;
    whole = TruncToInt32(reduced);
}

// The drift is in rendered pixels already; the large constant puts the
// undrifted pattern where it has always been.
PatternOffset OffsetOf(const Drift& drift, const RenderContext& context, const WeaveSizes& s) {
    const double x = drift.x + 1048576 / context.divisor - context.selectionBounds->left;
    const double y = drift.y + 1048576 / context.divisor - context.selectionBounds->top;
    PatternOffset offset{};
    SplitOffset(x, 2 * s.period, offset.x, offset.fx);
    SplitOffset(y, 2 * s.period, offset.y, offset.fy);
    return offset;
}

// The distances from one pixel to the next along a thread, in the mask, the
// grain and the source.
struct Steps {
    ptrdiff_t mask, grain, source;
};

// Everything a band's pixels read.
struct WeaveKernel {
    const RenderContext& context;
    const WeaveParams& p;
    const WeaveSizes& s;
    const Raster& grain;  // one signed byte per source pixel
    const int16_t* shade;
    uint8_t gapColor[3];
    PixelRect reach;  // where threads find source and mask; the grain covers what a band's read
    Steps across, down;
};

// The colour of the thread through (x, y) along one direction, before
// shading: the mask-weighted average of the grain added to the pixel, or of
// the grained source when smearing. False when the mask is empty all along.
bool ThreadColour(const WeaveKernel& k, int32_t x, int32_t y, bool vertical, uint8_t* out) {
    const int32_t at = vertical ? y : x;
    const int32_t first = std::max(at - k.s.before, vertical ? k.reach.top : k.reach.left);
    const int32_t end = std::min(at + k.s.after, vertical ? k.reach.bottom : k.reach.right);
    if (first >= end) return false;
    const int32_t cx = vertical ? x : first, cy = vertical ? first : y;
    const uint8_t* m = k.context.mask->Pixel(cx, cy);
    const auto* g = reinterpret_cast<const int8_t*>(k.grain.Pixel(cx, cy));
    const uint8_t* source = k.context.source->Pixel(cx, cy);
    const Steps& step = vertical ? k.down : k.across;
    int32_t weights = 0, sum[3] = {0, 0, 0};
    for (int32_t i = first; i < end; ++i, m += step.mask, g += step.grain, source += step.source) {
        const int32_t w = *m;
        weights += w;
        if (k.p.smearThreads != 0) {
            for (int c = 0; c < 3; ++c) sum[c] += w * std::clamp(*g + source[c], 0, 255);
        } else {
            sum[0] += w * *g;
        }
    }
    if (weights == 0) return false;
    if (k.p.smearThreads != 0) {
        for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(sum[c] / weights);
    } else {
        const int32_t grain = sum[0] / weights;
        const uint8_t* own = k.context.source->Pixel(x, y);
        for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>(std::clamp(own[c] + grain, 0, 255));
    }
    return true;
}

// The two thread colours of one pixel, each found when first asked for: the
// four samples of a moving pattern share them.
class Threads {
public:
    Threads(const WeaveKernel& kernel, int32_t x, int32_t y) : k_(kernel), x_(x), y_(y) {}

    // Null when the thread has no mask weight.
    const uint8_t* Colour(bool vertical) {
        Thread& t = thread_[vertical ? 1 : 0];
        if (!t.known) {
            t.present = ThreadColour(k_, x_, y_, vertical, t.colour);
            t.known = true;
        }
        return t.present ? t.colour : nullptr;
    }

private:
    struct Thread {
        bool known = false;
        bool present = false;
        uint8_t colour[3];
    };
    const WeaveKernel& k_;
    int32_t x_, y_;
    Thread thread_[2];
};

// The pixel the pattern position (px, py) gives at (x, y), written into d,
// which holds the destination pixel: a gap crossing is painted (or cleared)
// regardless of the mask; a ribbon takes its thread's colour, shaded, and
// leaves d as it is where the mask is empty along the thread.
void WeavePixel(const WeaveKernel& k, Threads& threads, const uint8_t* s, int32_t px, int32_t py,
                uint8_t* d) {
    const Spot spot = SpotAt(k.s, px, py);
    if (spot.show == Show::kGapCrossing) {
        if (k.p.fillGaps != 0) {
            std::copy(k.gapColor, k.gapColor + 3, d);
            d[3] = s[3];
        } else {
            std::copy(s, s + 3, d);
            d[3] = 0;
        }
        return;
    }
    const uint8_t* colour = threads.Colour(spot.show == Show::kVertical);
    if (colour == nullptr) return;
    const int32_t shade = k.shade[spot.shade];
    for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((shade * colour[c]) >> 8);
}

// A pattern between whole pixels: the four neighbouring positions, mixed
// bilinearly, every channel alpha included.
void WeaveBetween(const WeaveKernel& k, Threads& threads, const uint8_t* s, int32_t px, int32_t py,
                  double fx, double fy, uint8_t* d) {
    uint8_t t[4][4];  // at (px, py), (px, py + 1), (px + 1, py), (px + 1, py + 1)
    for (int i = 0; i < 4; ++i) {
        std::copy(d, d + 4, t[i]);
        WeavePixel(k, threads, s, px + i / 2, py + i % 2, t[i]);
    }
    for (int c = 0; c < 4; ++c) {
        const double v = (t[0][c] * (1 - fx) + t[2][c] * fx) * (1 - fy) +
                         (t[1][c] * (1 - fx) + t[3][c] * fx) * fy;
        d[c] = static_cast<uint8_t>(TruncToInt32(std::clamp(v, 0.0, 255.0)));
    }
}

int WeaveRows(const WeaveKernel& k, const PixelRect& band, const PatternOffset& offset) {
    const bool whole = offset.fx == 0 && offset.fy == 0;
    for (int32_t y = band.top; y < band.bottom; ++y) {
        if (k.context.abort(nullptr) != 0) return kCancelled;
        const uint8_t* s = k.context.source->Pixel(band.left, y);
        uint8_t* d = k.context.destination->Pixel(band.left, y);
        for (int32_t x = band.left; x < band.right; ++x, s += 4, d += 4) {
            Threads threads(k, x, y);
            if (whole) {
                WeavePixel(k, threads, s, x + offset.x, y + offset.y, d);
            } else {
                WeaveBetween(k, threads, s, x + offset.x, y + offset.y, offset.fx, offset.fy, d);
            }
        }
    }
    return kOk;
}

int Weave::PrepareRender(RenderContext& context) {
    return IntegrateFlow(context.input, context.output, HostParamIndex(kSpeedRow),
                         HostParamIndex(kDirectionRow), drift_);
}

// The grain the band's threads read: the band grown by a thread's reach each
// way, within the source. Its values depend on the position alone.
PixelRect GrainArea(const PixelRect& band, const WeaveSizes& s, const Raster& source) {
    PixelRect area = band;
    OutsetRect(area, std::max(s.before, s.after));
    IntersectRect(area, source, area);
    return area;
}

int Weave::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const WeaveParams*>(context.params);
    const WeaveSizes s = SizesOf(p, WholeDivisor(context.divisor));
    NoiseField field;
    int result = field.Init(1.0, p.threadDetail, p.ribbonWidth, 0);
    if (result != kOk) return result;
    ScopedRaster grain;
    result = field.FillGrain(grain.Receive(), GrainArea(band, s, *context.source));
    if (result != kOk) return result;
    ModuleBuffer<int16_t> shade;
    result = BuildShadeTable(shade, s.stretch, p.shadowDepth);
    if (result != kOk) return result;

    WeaveKernel kernel{context, p, s, *grain, shade.get(), {}, {}, Steps{1, 1, 4},
                       Steps{RowStride(*context.mask), RowStride(*grain), RowStride(*context.source)}};
    p.gapColor.ToBytes(kernel.gapColor);
    IntersectRect(context.source->bounds, *context.mask, kernel.reach);
    return WeaveRows(kernel, band, OffsetOf(drift_, context, s));
}

}  // namespace

extern const EffectMaker kWeaveMaker = MakerFor<Weave>();

}  // namespace zoka
