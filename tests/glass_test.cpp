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

constexpr FrameOptions kHalf{0, 30, false, 2};

Image Render(AppliedEffect& glass, const Image& layer, const FrameOptions& options = {}) {
    const auto frame = glass.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(glass.host.LiveHandles(), 0u);
    return frame.image;
}

using Settings = std::vector<std::pair<const char*, const char*>>;

Image RenderWith(const Settings& sets, const Image& layer, const FrameOptions& options = {}) {
    AppliedEffect glass("Glass");
    for (const auto& [key, value] : sets) glass.Set(key, value);
    return Render(glass, layer, options);
}

// Channels of a w x h region that differ by more than one level, between a
// at (ax, ay) and b at (bx, by).
int FarChannels(const Image& a, int32_t ax, int32_t ay, const Image& b, int32_t bx, int32_t by,
                int32_t w, int32_t h) {
    int far = 0;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            const Pixel p = a.At(ax + x, ay + y), q = b.At(bx + x, by + y);
            for (const int d : {p.a - q.a, p.r - q.r, p.g - q.g, p.b - q.b}) far += std::abs(d) > 1;
        }
    }
    return far;
}

int FarChannels(const Image& a, const Image& b) {
    return FarChannels(a, 0, 0, b, 0, 0, a.Width(), a.Height());
}

// An opaque square inset in a layer whose transparent pixels carry colour.
Image SquareLayer(int32_t size, int32_t inset) {
    Image layer(size, size, Pixel{0, 40, 80, 120});
    for (int32_t y = inset; y < size - inset; ++y) {
        for (int32_t x = inset; x < size - inset; ++x) layer.Set(x, y, Pixel{255, 200, 150, 30});
    }
    return layer;
}

TEST(Glass, WithoutRefractionTintOrHighlightTheLayerShowsThrough) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image clear = RenderWith(
        {{"ReflectionParam", "0"}, {"Opacity", "0"}, {"HighlightBrightness", "0"}}, layer);
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

TEST(Glass, AtOpacityZeroTheGlassColourDoesNotMatter) {
    const Image layer = zoka_test::TestLayer(40, 30);
    EXPECT_EQ(RenderWith({{"Opacity", "0"}, {"Color", "#FF0000"}}, layer),
              RenderWith({{"Opacity", "0"}, {"Color", "#0000FF"}}, layer));
    EXPECT_NE(RenderWith({{"Opacity", "100"}, {"Color", "#FF0000"}}, layer),
              RenderWith({{"Opacity", "100"}, {"Color", "#0000FF"}}, layer));
}

TEST(Glass, WithoutBevelWidthTheSheetCoversMaskedAndUnmaskedPixelsAlike) {
    const Image layer = SquareLayer(60, 20);
    const Image bevelled = RenderWith({{"Width", "10"}}, layer);
    const Image sheet = RenderWith({{"Width", "0"}}, layer);
    // Far outside the square: untouched glass-free pixels with a bevel, thick
    // tinted glass without one.
    EXPECT_EQ(FarChannels(bevelled, 4, 4, layer, 4, 4, 12, 12), 0);
    EXPECT_GT(FarChannels(sheet, 4, 4, layer, 4, 4, 12, 12), 12 * 12 * 2);
}

TEST(Glass, FlawThicknessBelowTheWholeDivisorMakesNoFlaws) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image none = RenderWith({{"FlawThickness", "0"}}, layer, kHalf);
    EXPECT_EQ(RenderWith({{"FlawThickness", "1.9"}}, layer, kHalf), none);
    EXPECT_NE(RenderWith({{"FlawThickness", "2"}}, layer, kHalf), none);
}

TEST(Glass, FlawSpacingBelowFiveTimesTheWholeDivisorGivesLumpsOfFive) {
    const Image layer = zoka_test::TestLayer(40, 30);
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
                const Pixel p = lit.At(x, y);
                ASSERT_EQ(p, (Pixel{layer.At(x, y).a, 255, 255, 255})) << x << "," << y;
            }
        }
    }
    EXPECT_NE(lit.At(30, 50).r, 255);  // on the bevel's slope
}

// A flat opaque layer: only the glass makes a pattern.
Image FlatLayer() { return Image(100, 40, Pixel{255, 200, 120, 60}); }

TEST(Glass, AStillFrameDoesNotDrift) {
    const Settings flowing = {{"FlowVelocity", "40"}, {"Width", "0"}};
    const Image start = RenderWith(flowing, FlatLayer());
    EXPECT_EQ(RenderWith(flowing, FlatLayer(), FrameOptions{2.0, 30, true}), start);
    EXPECT_NE(RenderWith(flowing, FlatLayer(), FrameOptions{2.0}), start);
}

TEST(Glass, TheFlowCarriesTheFlawsAlongItsDirection) {
    const Settings flowing = {{"FlowVelocity", "30"}, {"FlowDirection", "90"}, {"Width", "0"}};
    const Image start = RenderWith(flowing, FlatLayer());
    const Image later = RenderWith(flowing, FlatLayer(), FrameOptions{1.0});
    EXPECT_GT(FarChannels(start, 5, 5, later, 5, 5, 60, 30), 100);
    // One second later the flaws lie 30 pixels further right.
    EXPECT_EQ(FarChannels(start, 5, 5, later, 35, 5, 60, 30), 0);
}

TEST(Glass, TheSameSeedAndTimeGiveTheSameFlaws) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const auto moving = [](const char* seed) {
        return Settings{{"FlowVelocity", "20"}, {"PhaseVelocity", "90"}, {"RandomSeed", seed}};
    };
    const FrameOptions at{1.5};
    const Image seven = RenderWith(moving("7"), layer, at);
    EXPECT_EQ(RenderWith(moving("7"), layer, at), seven);
    EXPECT_NE(RenderWith(moving("8"), layer, at), seven);
}

TEST(Glass, AFrameDependsOnlyOnItsTimeNotOnTheFramesBefore) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const auto configure = [](AppliedEffect& e) {
        e.Set("FlowVelocity", "25");
        e.Set("FlowDirection", "200");
        e.Set("PhaseVelocity", "100");
    };
    AppliedEffect fresh("Glass"), used("Glass");
    configure(fresh);
    configure(used);
    const Image wanted = Render(fresh, layer, FrameOptions{2.0});
    Render(used, layer, FrameOptions{3.0});
    Render(used, layer, FrameOptions{0.5});
    EXPECT_EQ(Render(used, layer, FrameOptions{2.0}), wanted);
}

// A square selection, opaque but for a transparent rim of 5 pixels.
Image SelectionSquare() {
    Image selection(30, 30);
    for (int32_t y = 5; y < 25; ++y) {
        for (int32_t x = 5; x < 25; ++x) selection.Set(x, y, Pixel{255, 0, 0, 0});
    }
    return selection;
}

TEST(Glass, TheSheetAndItsFlawsMoveWithTheSelection) {
    const auto at = [](double x, double y) {
        AppliedEffect glass("Glass");
        glass.Set("Width", "4");  // an interior with flaws
        glass.instance.SetSelection(SelectionSquare(), x, y);
        return Render(glass, FlatLayer());
    };
    const Image first = at(10, 4), second = at(57, 7);
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 30; ++x) ASSERT_EQ(first.At(10 + x, 4 + y), second.At(57 + x, 7 + y));
    }
    // Beyond the selection the layer is untouched.
    EXPECT_EQ(first.At(45, 20), FlatLayer().At(45, 20));
}

TEST(Glass, RefractedLookupsStayInsideLayersOnePixelWideOrHigh) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}}) {
        AppliedEffect glass("Glass");
        glass.Set("ReflectionParam", "100");
        glass.Set("Width", "0");
        glass.Set("FlawThickness", "100");
        Image layer(w, h, Pixel{255, 9, 9, 9});
        layer.Set(w - 1, h - 1, Pixel{200, 250, 250, 250});
        const Image out = Render(glass, layer);
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
