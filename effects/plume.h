// What Fire and Smoke share: a plume that rises from the layer's shape. Each
// column carries a heat that the blurred shape refreshes and that cools with
// height; a noise pattern, pushed sideways by coarser noise and rising over
// time, breaks it into flames or wisps; a 256-entry ramp colours the result,
// which is laid over the layer.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "host/effect.h"
#include "host/params.h"
#include "host/render_context.h"
#include "noise/rgb_color.h"
#include "raster/numeric.h"
#include "raster/rect.h"

namespace zoka {

// How far the softened shape reaches: the edge softness in rendered pixels,
// plus one, so that even a hard edge is blurred by a pixel (saturating, for
// Smoke's integer softness at the 32-bit limit).
inline int32_t PlumeReach(double edgeSoftness, double divisor) {
    return std::min(TruncToInt32(edgeSoftness / divisor), INT32_MAX - 1) + 1;
}

// The input grown by the edge softness on every side, with room above for
// the plume's height.
inline void PlumeOutputRect(PixelRect& result, const PixelRect& input, double edgeSoftness,
                            int16_t wispHeight, double scale) {
    const int32_t c = PlumeReach(edgeSoftness, scale);
    result = input;
    OutsetRect(result, c);
    result.top = input.top - std::max(c, TruncToInt32(std::max(5.0, wispHeight / scale)));
}

// Fire breaks its flames up with one coarse noise; Smoke pushes its wisps
// with two fractal sums, sideways and up.
enum class PlumeKind { kFlame, kSmoke };

// A plume's settings, taken from Fire's or Smoke's parameter block.
struct PlumeSettings {
    PlumeKind kind;
    int16_t wispWidth;   // pixels at full resolution
    int16_t wispHeight;  // pixels at full resolution
    double displacement;      // how far the pattern is pushed where the plume is cool
    double insideMasking;     // 0..1: how much the plume fades over the opaque shape
    double edgeSoftness;      // pixels at full resolution
    double breakupRoughness;  // Smoke: 0..100, the weight of each finer octave
    bool naturalRamp;         // Fire's black-red-yellow-white ramp instead of the colours
    RgbColor innerColor;
    RgbColor outerColor;
    int16_t randomSeed;
};

// A column's heat and the lowest row up to which it has been carried.
struct PlumeColumn {
    double heat;
    int32_t lastRow;
};

// Where a noise pattern starts and how far it moves per pixel.
struct NoiseTrack {
    double originX = 0;
    double originY = 0;
    double stepX = 0;
    double stepY = 0;
};

inline constexpr size_t kPlumeRampBytes = 256 * 4;

// What PrepareRender works out once per frame for the bands. The column
// table and the ramp share one block of module memory, freed by ReleasePlume,
// which keeps the effect object small.
struct PlumeFrame {
    NoiseTrack fine;    // the pattern itself
    NoiseTrack coarse;  // the (first) sideways push
    NoiseTrack third;   // Smoke's vertical push
    PlumeColumn* columnState = nullptr;  // the block: columnCount entries, then the ramp
    uint8_t* colorRamp = nullptr;        // 256 entries of 4 bytes (work order), by intensity
    int32_t firstColumn = 0;             // the absolute column of columnState[0]
    int32_t columnCount = 0;
    double rise = 0;       // how far the pattern has risen, in cells of the fine noise
    double roughness = 0;  // Smoke
    int32_t octaves = 0;   // Smoke

    PlumeColumn& Column(int32_t x) const { return columnState[x - firstColumn]; }
};

// The coarse noise's size in rendered pixels: five wisp widths.
int32_t PlumeCoarseSize(int16_t wispWidth, double divisor);
// Smoke's octave count: one for each doubling of the coarse size from 4.
int32_t SmokeOctaves(int32_t coarseSize);
// The ramp from the outer colour (entry 0) to the inner one (entry 255), or
// Fire's natural ramp; channels beyond the blended ones hold 255.
void FillColorRamp(const PlumeSettings& settings, int32_t blendedChannels, uint8_t* ramp);

// Draws the noise origins, sets the steps, allocates the column table and
// integrates the rise from the Flow Speed at host index speedIndex. 0, 8, or
// the time integration's failure; on failure the table is already freed.
int PreparePlume(const RenderContext& context, const PlumeSettings& settings,
                 int32_t speedIndex, PlumeFrame& frame);
// Draws the plume over one band (a vertical strip of the output area, rows
// from the bottom up). 0, 1 when cancelled, or 8.
int RenderPlumeBand(const RenderContext& context, const PlumeSettings& settings,
                    PlumeFrame& frame, const PixelRect& band);
// Frees the column table; safe to call again.
void ReleasePlume(PlumeFrame& frame);

// The operations Fire and Smoke answer alike. Derived supplies kParams and
// `static PlumeSettings PlumeOf(const void* block)`. The frame's table lives
// in the effect object, which is released without a destructor, so it is
// freed with the parameter block at the end of the frame.
template <typename Derived>
class PlumeEffect : public Effect {
public:
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override {
        const PlumeSettings s = Derived::PlumeOf(block);
        PlumeOutputRect(result, input, s.edgeSoftness, s.wispHeight, scale);
    }
    int PrepareRender(RenderContext& context) override {
        static constexpr int kSpeedRow = ParamRow(Derived::kParams, "FlowVelocity");
        static_assert(kSpeedRow >= 0, "a plume rises at its FlowVelocity");
        return PreparePlume(context, Derived::PlumeOf(context.params), HostParamIndex(kSpeedRow),
                            frame_);
    }
    int RenderBand(RenderContext& context, const PixelRect& band) override {
        return RenderPlumeBand(context, Derived::PlumeOf(context.params), frame_, band);
    }
    void ReleaseParamBlock(void*) override { ReleasePlume(frame_); }

protected:
    using Effect::Effect;

private:
    PlumeFrame frame_;
};

}  // namespace zoka
