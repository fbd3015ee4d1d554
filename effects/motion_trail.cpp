// Motion Trail: smears the layer along one direction over a length and lays
// the smear under the layer; the output grows toward the trail.
#include <algorithm>
#include <cmath>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "effects/motion_trail.h"
#include "host/effect_factory.h"
#include "host/effect_of.h"
#include "host/render_context.h"
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
    static constexpr bool kBandsAgree = true;
    static constexpr const auto& kParams = kMotionTrailParams;

    bool SpareFlagA() const override { return true; }
    bool ExpandsOutput() const override { return true; }
    bool MasksWithSelection() const override { return false; }
    bool SpareFlagC() const override { return true; }
    bool UsesSelectionLayer() const override { return false; }

    void ReadBlock(HostParamDef** params, TrailParams& block) const {
        block.length = ParamInt16(params, 0);
        block.opacity = ParamInt16(params, 1);
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

    int RenderBand(RenderContext& context, const PixelRect& band) override;
};

// ---- Kernel ------------------------------------------------------------------
//
// The smear runs along parallel lines one pixel apart. The sweep walks the
// main axis in the trail's direction, one column (or row) at a time; at each
// step every line takes a sample of the source, interpolated across the
// lines' common 16.16 position, into its running accumulators, and every
// destination pixel of the step is composited from the two lines around it.
// Directions nearer the horizontal sweep columns; the others sweep rows, the
// same kernel with the axes exchanged.

constexpr int kColours = 3;  // R, G, B; alpha is the fourth byte

// The main axis is the one swept; the cross axis runs along a step.
struct SweepAxes {
    bool rows;  // false: columns are swept (main = x); true: rows (main = y)

    const uint8_t* Source(const Raster& r, int32_t main, int32_t cross) const {
        return rows ? r.Pixel(cross, main) : r.Pixel(main, cross);
    }
    uint8_t* Destination(const Raster& r, int32_t main, int32_t cross) const {
        return rows ? r.Pixel(cross, main) : r.Pixel(main, cross);
    }
    int32_t MainLo(const PixelRect& a) const { return rows ? a.top : a.left; }
    int32_t MainHi(const PixelRect& a) const { return rows ? a.bottom : a.right; }
    int32_t CrossLo(const PixelRect& a) const { return rows ? a.left : a.top; }
    int32_t CrossHi(const PixelRect& a) const { return rows ? a.right : a.bottom; }
};

// A source sample: the interpolated colour and mask value.
struct TrailSample {
    int32_t colour[kColours];
    int32_t mask;
};

struct TrailSweep {
    const RenderContext& context;
    const TrailParams& params;
    SweepAxes axes;
    int32_t length;      // L: at least 3 rendered pixels
    int32_t step;        // +1 or -1 along the main axis
    int32_t start;       // the main position the sweep starts at
    int32_t end;         // the last main position, inclusive
    int64_t crossStart;  // 16.16 cross position of line 0 at the start
    int64_t crossStep;   // its change per step
    int32_t tailSteps;   // the uniform smear's box length in steps
    int32_t decay;       // the fading smear's weight loss per step
    int32_t lines;
    int32_t* acc = nullptr;     // kColours per line
    int32_t* weight = nullptr;  // one per line
    int32_t first = 0;          // the band's first main position, in sweep order
    int32_t last = 0;           // and its last
    int32_t lineLo = 0;         // the lines [lineLo, lineHi) the sweep keeps
    int32_t lineHi = 0;         // up to date at the current position

    int64_t CrossAt(int32_t main) const { return crossStart + int64_t{(main - start) * step} * crossStep; }
    // Steps from the sweep's start to `main`.
    int32_t Order(int32_t main) const { return (main - start) * step; }
    bool Reach(const PixelRect& band);
    bool Sample(int32_t main, int64_t cross, int32_t line, TrailSample& sample) const;
    void TakeFading(int32_t line, int32_t main, int64_t cross);
    void AddToBox(int32_t line, int32_t main, int64_t cross);
    void DropFromBox(int32_t line, int32_t main, int64_t cross);
    int32_t FadingStart(int32_t line, int32_t main) const;
    void CatchUp(int32_t line, int32_t main);
    int CatchUpLines(int32_t lo, int32_t hi, int32_t main);
    int FollowLines(int32_t main, const PixelRect& band);
    void Accumulate(int32_t main);
    void Write(int32_t main, const PixelRect& band) const;
    void DecayLine(int32_t line) { weight[line] = std::max(0, weight[line] - decay); }
    void Decay();
};

// The band's main positions the sweep writes at, in sweep order: those of
// the band and the destination from the sweep's start on. False when none.
bool TrailSweep::Reach(const PixelRect& band) {
    const PixelRect& dest = *context.destArea;
    const int32_t lo = std::max(axes.MainLo(band), axes.MainLo(dest));
    const int32_t hi = std::min(axes.MainHi(band), axes.MainHi(dest));
    if (lo >= hi) return false;
    first = step > 0 ? lo : hi - 1;
    last = step > 0 ? hi - 1 : lo;
    if (Order(first) < 0) first = start;
    return Order(last) >= Order(first);
}

// The fading smear's weight of a sample with mask value m: 0 up to m = 15,
// where the sample leaves the line as it was, and 256 at m = 255 alone,
// where it replaces the line's colour and weight outright.
int32_t FadingWeight(int32_t mask) { return mask * mask / 254; }

// The uniform smear's weight of a sample.
int32_t BoxWeight(int32_t mask) { return 256 * mask / 255; }

// Line `line` at main position `main` lies between cross rows r and r + 1 by
// the fraction of `cross`; a line whose row lies outside the source takes no
// sample, and the last line, or one on the mask's last row, reads row r alone.
bool TrailSweep::Sample(int32_t main, int64_t cross, int32_t line, TrailSample& sample) const {
    const Raster& source = *context.source;
    const Raster& mask = *context.mask;
    const int64_t r64 = (cross >> 16) + line;
    if (r64 < axes.CrossLo(source.bounds) || r64 >= axes.CrossHi(source.bounds)) return false;
    const auto r = static_cast<int32_t>(r64);
    const auto f = static_cast<int32_t>(cross & 0xFFFF);
    const bool alone = line == lines - 1 || r + 1 >= axes.CrossHi(mask.bounds);
    const uint8_t* p0 = axes.Source(source, main, r);
    const uint8_t* p1 = alone ? p0 : axes.Source(source, main, r + 1);
    for (int c = 0; c < kColours; ++c) sample.colour[c] = (p0[c] * (65536 - f) + p1[c] * f) >> 16;
    const bool inMask = main >= axes.MainLo(mask.bounds) && main < axes.MainHi(mask.bounds) &&
                        r >= axes.CrossLo(mask.bounds);
    if (!inMask) {
        sample.mask = 0;
        return true;
    }
    const int32_t m0 = *axes.Source(mask, main, r);
    const int32_t m1 = alone ? m0 : *axes.Source(mask, main, r + 1);
    sample.mask = (m0 * (65536 - f) + m1 * f) >> 16;
    return true;
}

void TrailSweep::TakeFading(int32_t line, int32_t main, int64_t cross) {
    TrailSample s;
    if (!Sample(main, cross, line, s)) return;
    const int32_t w = FadingWeight(s.mask);
    int32_t* a = acc + line * kColours;
    for (int c = 0; c < kColours; ++c) a[c] = (a[c] * (256 - w) + s.colour[c] * w) >> 8;
    weight[line] = (weight[line] * (256 - w) >> 8) + w * 255;
}

void TrailSweep::AddToBox(int32_t line, int32_t main, int64_t cross) {
    TrailSample s;
    if (!Sample(main, cross, line, s)) return;
    const int32_t w = BoxWeight(s.mask);
    int32_t* a = acc + line * kColours;
    for (int c = 0; c < kColours; ++c) a[c] += w * s.colour[c];
    weight[line] += w;
}

void TrailSweep::DropFromBox(int32_t line, int32_t main, int64_t cross) {
    TrailSample s;
    if (!Sample(main, cross, line, s)) return;
    const int32_t w = BoxWeight(s.mask);
    int32_t* a = acc + line * kColours;
    for (int c = 0; c < kColours; ++c) a[c] = std::max(0, a[c] - w * s.colour[c]);
    weight[line] = std::max(0, weight[line] - w);
}

// Where a line of the fading smear, from (0, 0), must start to stand before
// `main` as the whole sweep leaves it: at its last sample of weight 256
// before `main`, which sets the line whatever came before; with none, at its
// first sample of nonzero weight, since until then the samples of weight 0,
// the positions without a sample and the decay all leave (0, 0); at `main`
// itself when it has neither, as the line is still (0, 0) there.
int32_t TrailSweep::FadingStart(int32_t line, int32_t main) const {
    int32_t begin = main;
    for (int32_t at = main; at != start;) {
        at -= step;
        TrailSample s;
        if (!Sample(at, CrossAt(at), line, s)) continue;
        const int32_t w = FadingWeight(s.mask);
        if (w != 0) begin = at;
        if (w == 256) break;
    }
    return begin;
}

// Gives a line the state the whole sweep leaves it in before `main`, from
// its own samples alone: lines are independent of one another. The uniform
// smear's sums hold exactly the samples of the last tailSteps positions (each
// sample dropped was added before, so the clamps never act); the fading
// smear's state is found from where FadingStart says, with each step's decay.
void TrailSweep::CatchUp(int32_t line, int32_t main) {
    std::fill_n(acc + line * kColours, kColours, 0);
    weight[line] = 0;
    if (!params.taper) {
        const int32_t back = std::min(Order(main), tailSteps);
        for (int32_t at = main - step * back; at != main; at += step) AddToBox(line, at, CrossAt(at));
        return;
    }
    for (int32_t at = FadingStart(line, main); at != main; at += step) {
        TakeFading(line, at, CrossAt(at));
        DecayLine(line);
    }
}

int TrailSweep::CatchUpLines(int32_t lo, int32_t hi, int32_t main) {
    for (int32_t j = lo; j < hi; ++j) {
        if (context.abort(nullptr) != 0) return kCancelled;
        CatchUp(j, main);
    }
    return kOk;
}

// Keeps up to date the lines Write reads at `main` and no others: those
// around the band's cross rows v from the step's first row `base` on, v -
// base and v - base - 1. Lines entering the set are caught up; as `base`
// moves monotonically along the sweep, the set slides one way, so a line
// that leaves it is never read again.
int TrailSweep::FollowLines(int32_t main, const PixelRect& band) {
    const int64_t base = CrossAt(main) >> 16;
    const auto lo = static_cast<int32_t>(std::clamp<int64_t>(axes.CrossLo(band) - 1 - base, 0, lines));
    const auto hi = static_cast<int32_t>(std::clamp<int64_t>(axes.CrossHi(band) - base, lo, lines));
    int result = CatchUpLines(lo, std::min(hi, lineLo), main);
    if (result == kOk) result = CatchUpLines(std::max(lo, lineHi), hi, main);
    lineLo = lo;
    lineHi = hi;
    return result;
}

void TrailSweep::Accumulate(int32_t main) {
    const int64_t cross = CrossAt(main);
    if (params.taper) {
        for (int32_t j = lineLo; j < lineHi; ++j) TakeFading(j, main, cross);
        return;
    }
    const int32_t tail = main - step * tailSteps;
    const int64_t tailCross = CrossAt(tail);
    const bool tailInside = Order(tail) >= 0;
    for (int32_t j = lineLo; j < lineHi; ++j) {
        AddToBox(j, main, cross);
        if (tailInside) DropFromBox(j, tail, tailCross);
    }
}

// Composites every destination pixel of the step that lies in the band from
// the two lines around it, the lower weighted 1 - f and the upper f (top 8
// bits of the fraction); the first pixel below line 0 uses that line alone.
void TrailSweep::Write(int32_t main, const PixelRect& band) const {
    const int64_t cross = CrossAt(main);
    const int64_t base = cross >> 16;
    const auto f = static_cast<int32_t>((cross & 0xFFFF) >> 8);
    const int32_t from = static_cast<int32_t>(std::max<int64_t>(axes.CrossLo(band), base));
    for (int32_t v = from; v < axes.CrossHi(band); ++v) {
        const auto lower = static_cast<int32_t>(v - base);
        const int32_t upper = lower - 1;
        const int32_t* al = acc + lower * kColours;
        const int32_t* au = acc + upper * kColours;
        int32_t trail[kColours];
        int32_t w;
        int32_t k;
        if (params.taper) {
            w = upper < 0 ? weight[lower] : (weight[lower] * (256 - f) + weight[upper] * f) >> 8;
            for (int c = 0; c < kColours; ++c) {
                trail[c] = upper < 0 ? al[c] : (al[c] * (256 - f) + au[c] * f) >> 8;
            }
            // In 64 bits: an opacity far beyond 100 (a value no user can set)
            // would overflow; the clamp below bounds the result.
            const int64_t scaled = int64_t{params.opacity * 258 / 100} * w >> 16;
            k = static_cast<int32_t>(std::clamp<int64_t>(scaled, 0, 256));
        } else {
            w = upper < 0 ? weight[lower] : (weight[lower] * (256 - f) + weight[upper] * f) / 256;
            for (int c = 0; c < kColours; ++c) {
                const int32_t mixed =
                    upper < 0 ? al[c] : (al[c] >> 8) * (256 - f) + (au[c] >> 8) * f;
                trail[c] = mixed / std::max(1, w);
            }
            k = (w / length) * (params.opacity * 256 / 100) >> 8;
        }
        k = std::clamp(k, 0, 256);
        const uint8_t* s = axes.Source(*context.source, main, v);
        uint8_t* d = axes.Destination(*context.destination, main, v);
        // The trail takes weight k and the layer A (256 - k) / 255; the alpha
        // is their sum, so it grows where the trail is.
        const int32_t sw = s[3] * (256 - k) / 255;
        const int32_t t = k + sw;
        for (int c = 0; c < kColours; ++c) d[c] = static_cast<uint8_t>((sw * s[c] + k * trail[c]) / std::max(1, t));
        d[3] = static_cast<uint8_t>(t * 255 / 256);
    }
}

void TrailSweep::Decay() {
    for (int32_t j = lineLo; j < lineHi; ++j) DecayLine(j);
}

// Sweeps the band's positions alone: nothing is written after its last, and
// the lines it reads are brought to their state at its first as they enter.
int RunSweep(TrailSweep& sweep, const PixelRect& band) {
    for (int32_t main = sweep.first;; main += sweep.step) {
        if (sweep.context.abort(nullptr) != 0) return kCancelled;
        const int result = sweep.FollowLines(main, band);
        if (result != kOk) return result;
        sweep.Accumulate(main);
        sweep.Write(main, band);
        if (sweep.params.taper) sweep.Decay();
        if (main == sweep.last) return kOk;
    }
}

}  // namespace

bool TrailSweepsRows(double direction) {
    return (direction >= 45 && direction <= 135) || (direction >= 225 && direction <= 315);
}

namespace {

int MotionTrail::RenderBand(RenderContext& context, const PixelRect& band) {
    const auto& p = *static_cast<const TrailParams*>(context.params);
    if (p.length <= 0) return kOk;
    const bool rows = TrailSweepsRows(p.direction);
    const double c = std::cos(p.direction * kTrailDegToRad);
    const double s = std::sin(p.direction * kTrailDegToRad);
    // The main axis's component of the trail in image coordinates (rows grow
    // downward), and the cross component's trigonometric partner.
    const double mainImage = rows ? -s : c;
    const double mainTrig = rows ? s : c;
    const double crossTrig = rows ? c : s;
    const int32_t step = mainImage >= 0 ? 1 : -1;
    const SweepAxes axes{rows};
    const PixelRect& source = context.source->bounds;
    const PixelRect& dest = *context.destArea;
    const int32_t length = std::max<int32_t>(3, p.length / WholeDivisor(context.divisor));

    TrailSweep sweep{context, p, axes, length, step,
                     step > 0 ? axes.MainLo(source) : axes.MainHi(source) - 1,
                     step > 0 ? axes.MainHi(dest) - 1 : axes.MainLo(dest),
                     int64_t{axes.CrossLo(dest)} * 65536,
                     TruncToInt32(-step * crossTrig / mainTrig * 65536 + 0.5),
                     TruncToInt32(length * std::fabs(mainTrig)),
                     65535 / std::max(1, TruncToInt32(std::fabs(mainTrig) * length)) + 1, 0};
    if ((sweep.end - sweep.start) * step < 0) return kOk;
    // Lines that drift away from the first cross row would leave the pixels
    // behind them uncovered at later steps: start that many whole rows
    // earlier, so every row of every step lies between two lines and each
    // line keeps its position and fraction.
    const int64_t drift = sweep.CrossAt(sweep.end) - sweep.crossStart;
    if (drift > 0) sweep.crossStart -= ((drift + 0xFFFF) >> 16) << 16;
    const int64_t lowest = std::min(sweep.crossStart, sweep.CrossAt(sweep.end)) >> 16;
    sweep.lines = static_cast<int32_t>(std::max<int64_t>(0, axes.CrossHi(dest) - lowest));
    if (sweep.lines == 0 || !sweep.Reach(band)) return kOk;

    const size_t lines = static_cast<size_t>(sweep.lines);
    ModuleBuffer<int32_t> acc, weight;
    int result = acc.Allocate(kColours * lines);
    if (result == kOk) result = weight.Allocate(lines);
    if (result != kOk) return result;
    sweep.acc = acc.get();
    sweep.weight = weight.get();
    return RunSweep(sweep, band);
}

}  // namespace

extern const EffectMaker kMotionTrailMaker = MakerFor<MotionTrail>();

}  // namespace zoka
