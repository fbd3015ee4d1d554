// The abstract class of Carve, Inner Bevel and Outer Bevel: one parameter
// record, one band kernel and one output-area rule, with the few decisions
// that differ taken from the effect index.
#pragma once

#include <cstdint>
#include <span>

#include "host/effect.h"
#include "host/params.h"

namespace zoka {

inline constexpr int kCarveIndex = 1;
inline constexpr int kOuterBevelIndex = 11;

// Nine 8-byte slots; Inner and Outer Bevel leave darkenDepths at its default.
struct BevelParams {
    double width = 20;  // pixels at full resolution
    double shadowDepth = 50;
    double smoothness = 5;
    int32_t bevelShape = 2;  // 1 Button, 2 Rounded, 3 Flat, 4 Mesa
    int32_t reserved = 0;
    double highlightBrightness = 80;
    double highlightSharpness = 40;
    double direction = 135;  // degrees counter-clockwise from +x
    double inclination = 45;
    double darkenDepths = 50;
};
static_assert(sizeof(BevelParams) == 72);

// Carve's parameters; Inner and Outer Bevel declare the first eight.
inline constexpr ParamDecl kBevelParams[] = {
    FixedSlider(22001, 0, 180, 0, 600, 20, "Width"),
    FixedSlider(22002, 0, 100, 0, 100, 50, "Shadow"),
    FixedSlider(22003, 0, 10, 0, 10, 5, "Antialias"),
    Popup(22007, 42000, 4, 1, "Bevel"),
    FixedSlider(22004, 0, 100, 0, 100, 80, "HighlightBrightness"),
    FixedSlider(22005, 0, 100, 0, 100, 40, "HighlightSharpness"),
    Angle(22008, 315, "Direction"),
    FixedSlider(22009, 0, 90, 0, 90, 45, "Inclination"),
    FixedSlider(22006, 0, 100, 0, 100, 50, "DarkenDepths"),
};
inline constexpr std::span<const ParamDecl> kRaisedBevelParams = std::span(kBevelParams).first(8);

class BevelEffect : public Effect {
public:
    bool ExpandsOutput() const override { return EffectIndex() == kOuterBevelIndex; }
    bool MasksWithSelection() const override { return EffectIndex() != kOuterBevelIndex; }
    bool SpareFlagC() const override { return true; }

    // Outer Bevel grows by the scaled width, at least 1; the others keep the
    // input area.
    void OutputRect(PixelRect& result, const PixelRect& input, const void* block,
                    double scale) override;
    // Heights from the distance to the mask's edge (inside it, or outside it
    // for Outer Bevel) through the bevel profile, softened by the
    // smoothness, then lit; R, G and B of the band are written.
    int RenderBand(RenderContext& context, const PixelRect& band) override;

protected:
    using Effect::Effect;
    // Rows 0 to 7, and row 8 (Darken Depths) when withDarkenDepths.
    void ReadBevelRows(HostParamDef** params, BevelParams& block, bool withDarkenDepths) const;
};

}  // namespace zoka
