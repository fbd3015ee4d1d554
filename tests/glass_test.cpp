// Glass: refraction, tint and highlight of the sheet, its flaws (lump size,
// thickness, seed, drift) and its lookups at the layer's border.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;
using Settings = std::vector<std::pair<std::string, std::string>>;

constexpr FrameOptions kHalf{0, 30, false, 2};

Image Render(AppliedEffect& glass, const Image& layer, const FrameOptions& options = {}) {
    const auto frame = glass.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(glass.host.LiveHandles(), 0u);
    return frame.image;
}

Image RenderWith(const Settings& sets, const Image& layer, const FrameOptions& options = {}) {
    AppliedEffect glass("Glass");
    for (const auto& [key, value] : sets) glass.Set(key, value);
    return Render(glass, layer, options);
}

// Channels of a w x h region that differ by more than one level, between a
// at (ax, ay) and b at (bx, by); the whole image by default.
int FarChannels(const Image& a, const Image& b, int32_t ax = 0, int32_t ay = 0, int32_t bx = 0,
                int32_t by = 0, int32_t w = -1, int32_t h = -1) {
    int far = 0;
    for (int32_t y = 0; y < (h < 0 ? a.Height() : h); ++y) {
        for (int32_t x = 0; x < (w < 0 ? a.Width() : w); ++x) {
            const Pixel p = a.At(ax + x, ay + y), q = b.At(bx + x, by + y);
            for (const int d : {p.a - q.a, p.r - q.r, p.g - q.g, p.b - q.b}) far += std::abs(d) > 1;
        }
    }
    return far;
}

// An opaque square inset in a layer whose transparent pixels carry colour.
Image SquareLayer(int32_t size, int32_t inset) {
    Image layer(size, size, Pixel{0, 40, 80, 120});
    for (int32_t y = inset; y < size - inset; ++y) {
        for (int32_t x = inset; x < size - inset; ++x) layer.Set(x, y, Pixel{255, 200, 150, 30});
    }
    return layer;
}

// A flat opaque layer: only the glass makes a pattern.
Image FlatLayer() { return Image(100, 40, Pixel{255, 200, 120, 60}); }

TEST(Glass, WithoutRefractionTintOrHighlightTheLayerShowsThrough) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image clear = RenderWith(
        {{"ReflectionParam", "0"}, {"Opacity", "0"}, {"HighlightBrightness", "0"}, {"Color", "#FF0000"}},
        layer);
    // Through 1/255 and back, a level may be lost.
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const Pixel in = layer.At(x, y), out = clear.At(x, y);
            ASSERT_EQ(out.a, in.a);
            for (const auto& [o, i] : {std::pair{out.r, in.r}, {out.g, in.g}, {out.b, in.b}}) {
                ASSERT_TRUE(o == i || o + 1 == i) << x << "," << y;
            }
        }
    }
    // Each of the three alone changes the picture.
    EXPECT_GT(FarChannels(clear, RenderWith({{"Opacity", "0"}, {"HighlightBrightness", "0"}}, layer)), 20);
    EXPECT_GT(FarChannels(clear, RenderWith({{"ReflectionParam", "0"}, {"HighlightBrightness", "0"}}, layer)), 20);
    EXPECT_GT(FarChannels(clear, RenderWith({{"ReflectionParam", "0"}, {"Opacity", "0"}}, layer)), 20);
}

TEST(Glass, WithoutBevelWidthTheSheetCoversMaskedAndUnmaskedPixelsAlike) {
    const Image layer = SquareLayer(60, 20);
    // Far outside the square: untouched pixels with a bevel, thick tinted
    // glass without one.
    EXPECT_EQ(FarChannels(RenderWith({{"Width", "10"}}, layer), layer, 4, 4, 4, 4, 12, 12), 0);
    EXPECT_GT(FarChannels(RenderWith({{"Width", "0"}}, layer), layer, 4, 4, 4, 4, 12, 12), 12 * 12 * 2);
}

TEST(Glass, TheFlawsAreMeasuredInWholeDivisorsLumpsOfAtLeastFive) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image none = RenderWith({{"FlawThickness", "0"}}, layer, kHalf);
    EXPECT_EQ(RenderWith({{"FlawThickness", "1.9"}}, layer, kHalf), none);
    EXPECT_NE(RenderWith({{"FlawThickness", "2"}}, layer, kHalf), none);

    const Image five = RenderWith({{"FlawSpacing", "10"}}, layer, kHalf);
    for (const char* spacing : {"5", "9", "11.9"}) {
        EXPECT_EQ(RenderWith({{"FlawSpacing", spacing}}, layer, kHalf), five) << spacing;
    }
    EXPECT_NE(RenderWith({{"FlawSpacing", "12"}}, layer, kHalf), five);
}

TEST(Glass, LightFromStraightAboveAtFullBrightnessTurnsFlatPixelsWhite) {
    const Image layer = SquareLayer(100, 20);
    const Image lit = RenderWith({{"Inclination", "90"}, {"FlawThickness", "0"}}, layer);
    // Outside the square and in its interior beyond the bevel, away from the
    // layer's border.
    for (const auto& [x0, y0] : {std::pair{3, 3}, {45, 45}, {85, 40}}) {
        for (int32_t y = y0; y < y0 + 10; ++y) {
            for (int32_t x = x0; x < x0 + 10; ++x) {
                ASSERT_EQ(lit.At(x, y), (Pixel{layer.At(x, y).a, 255, 255, 255})) << x << "," << y;
            }
        }
    }
    EXPECT_NE(lit.At(30, 50).r, 255);  // on the bevel's slope
}

TEST(Glass, TheFlowCarriesTheFlawsAlongItsDirectionOnMovingFramesOnly) {
    const Settings flowing = {{"FlowVelocity", "30"}, {"FlowDirection", "90"}, {"Width", "0"}};
    const Image start = RenderWith(flowing, FlatLayer());
    EXPECT_EQ(RenderWith(flowing, FlatLayer(), FrameOptions{1.0, 30, true}), start);
    const Image later = RenderWith(flowing, FlatLayer(), FrameOptions{1.0});
    EXPECT_GT(FarChannels(start, later, 5, 5, 5, 5, 60, 30), 100);
    // One second later the flaws lie 30 pixels further right.
    EXPECT_EQ(FarChannels(start, later, 5, 5, 35, 5, 60, 30), 0);
}

TEST(Glass, TheUndulationTurnsTheFlawsOfStillFramesToo) {
    const Settings undulating = {{"PhaseVelocity", "90"}, {"Width", "0"}};
    EXPECT_GT(FarChannels(RenderWith(undulating, FlatLayer()),
                          RenderWith(undulating, FlatLayer(), FrameOptions{1.0, 30, true})),
              100);
}

TEST(Glass, AFrameDependsOnlyOnItsSeedAndTime) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const auto moving = [](const char* seed) {
        return Settings{{"FlowVelocity", "25"}, {"FlowDirection", "200"}, {"PhaseVelocity", "100"},
                        {"RandomSeed", seed}};
    };
    const Image wanted = RenderWith(moving("7"), layer, FrameOptions{2.0});
    EXPECT_NE(RenderWith(moving("8"), layer, FrameOptions{2.0}), wanted);
    AppliedEffect used("Glass");
    for (const auto& [key, value] : moving("7")) used.Set(key, value);
    Render(used, layer, FrameOptions{3.0});
    Render(used, layer, FrameOptions{0.5});
    EXPECT_EQ(Render(used, layer, FrameOptions{2.0}), wanted);
}

TEST(Glass, TheSheetAndItsFlawsMoveWithTheSelection) {
    // A square selection, opaque but for a transparent rim of 5 pixels.
    Image selection(30, 30);
    for (int32_t y = 5; y < 25; ++y) {
        for (int32_t x = 5; x < 25; ++x) selection.Set(x, y, Pixel{255, 0, 0, 0});
    }
    const auto at = [&](double x, double y) {
        AppliedEffect glass("Glass");
        glass.Set("Width", "4");  // an interior with flaws
        glass.instance.SetSelection(selection, x, y);
        return Render(glass, FlatLayer());
    };
    const Image first = at(10, 4), second = at(57, 7);
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(first.At(10 + x, 4 + y), second.At(57 + x, 7 + y));
    }
    EXPECT_EQ(first.At(45, 20), FlatLayer().At(45, 20));  // beyond the selection
}

TEST(Glass, RefractedLookupsStayInsideLayersOnePixelWideOrHigh) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}}) {
        Image layer(w, h, Pixel{255, 9, 9, 9});
        layer.Set(w - 1, h - 1, Pixel{200, 250, 250, 250});
        const Image out =
            RenderWith({{"ReflectionParam", "100"}, {"Width", "0"}, {"FlawThickness", "100"}}, layer);
        // Alpha is never written (the sanitizer build checks every read).
        for (int32_t i = 0; i < w * h; ++i) {
            EXPECT_EQ(out.At(i % w, i / w).a, layer.At(i % w, i / w).a) << w << "x" << h;
        }
    }
}

TEST(Glass, FailureSweep) {
    const Image layer = zoka_test::TestLayer();
    zoka_test::RunFailureSweep("Glass", layer);
    zoka_test::RunFailureSweep("Glass", layer, [](AppliedEffect& e) {
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
    });
    zoka_test::RunFailureSweep("Glass", layer, {}, kHalf);
    zoka_test::RunFailureSweep("Glass", layer, [](AppliedEffect& e) {
        e.Set("FlowVelocity", "12");
        e.Set("PhaseVelocity", "200");
        e.Set("BevelType", "Button");
    }, FrameOptions{0.5, 24});
    zoka_test::RunFailureSweep("Glass", layer, [](AppliedEffect& e) { e.Set("Width", "0"); });
}

}  // namespace
}  // namespace zoka
