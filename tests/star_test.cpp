// Star: a filled star with a radial colour ramp composited over the layer.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;

constexpr int kStarIndex = 12;
constexpr Pixel kOpaqueWhite{255, 255, 255, 255};
constexpr Pixel kClear{0, 0, 0, 0};
constexpr Pixel kErased{0, 255, 255, 255};  // transparent white

class Star : public ::testing::Test {
protected:
    Image Render(const Image& layer) {
        const auto frame = star.instance.RenderFrame(layer, {});
        EXPECT_EQ(frame.code, kHostNoError) << frame.message;
        EXPECT_EQ(star.host.LiveHandles(), 0u);
        return frame.image;
    }
    // A star without a softened edge, so that only the outline decides.
    void Hard() { star.Set("Antialias", "off"); }
    // Four sides turned by 45 degrees: with no indentation, an upright square.
    void Square() {
        star.Set("Sides", "4");
        star.Set("Indentation", "0");
        star.Set("Orientation", "45");
    }

    zoka_test::AppliedEffect star{"Star"};
};

// The pixels the star covers: those that no longer equal the layer.
int Covered(const Image& result, const Image& layer) {
    int count = 0;
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) count += result.At(x, y) == layer.At(x, y) ? 0 : 1;
    }
    return count;
}

TEST_F(Star, IndentationZeroIsTheRegularPolygonAndNinetyFiveASpikyStar) {
    // R = 100 / 3 at scale 100 % is 41.67; the square's sides lie at
    // R cos 45 = 29.46 from the centre (50, 50): columns and rows 21 to 79.
    Hard();
    Square();
    const Image layer(100, 100, kOpaqueWhite);
    const Image square = Render(layer);
    EXPECT_EQ(Covered(square, layer), 59 * 59);
    for (const int32_t edge : {21, 79}) {
        EXPECT_NE(square.At(edge, 50), kOpaqueWhite) << edge;
        EXPECT_NE(square.At(50, edge), kOpaqueWhite) << edge;
        EXPECT_NE(square.At(edge, edge), kOpaqueWhite) << edge;
    }
    for (const int32_t beyond : {20, 80}) {
        EXPECT_EQ(square.At(beyond, 50), kOpaqueWhite) << beyond;
        EXPECT_EQ(square.At(50, beyond), kOpaqueWhite) << beyond;
    }

    // Indentation 95 pulls the inner vertices to 0.095 of the way: thin
    // spikes to the same corners, nothing left at the sides' middles.
    star.Set("Indentation", "95");
    const Image spiky = Render(layer);
    EXPECT_NE(spiky.At(78, 22), kOpaqueWhite);
    EXPECT_NE(spiky.At(22, 78), kOpaqueWhite);
    EXPECT_NE(spiky.At(50, 48), kOpaqueWhite);
    EXPECT_EQ(spiky.At(50, 22), kOpaqueWhite);
    EXPECT_EQ(spiky.At(78, 50), kOpaqueWhite);
    EXPECT_LT(Covered(spiky, layer), 59 * 59 / 4);
}

TEST_F(Star, ThreeSidesPutTheTopPointStraightAboveThePosition) {
    // The apex lies R = 41.67 above (50, 50), at y = 8.33; the opposite side
    // lies R / 2 below, at y = 70.83.
    Hard();
    star.Set("Sides", "3");
    star.Set("Indentation", "0");
    const Image layer(100, 100, kOpaqueWhite);
    const Image triangle = Render(layer);
    EXPECT_NE(triangle.At(50, 9), kOpaqueWhite);
    EXPECT_EQ(triangle.At(49, 9), kOpaqueWhite);
    EXPECT_EQ(triangle.At(51, 9), kOpaqueWhite);
    EXPECT_NE(triangle.At(50, 70), kOpaqueWhite);
    EXPECT_EQ(triangle.At(50, 71), kOpaqueWhite);
    for (int32_t x = 0; x < 100; ++x) EXPECT_EQ(triangle.At(x, 8), kOpaqueWhite) << x;

    // Turned by 180 degrees the apex points down instead.
    star.Set("Orientation", "180");
    const Image turned = Render(layer);
    EXPECT_NE(turned.At(50, 91), kOpaqueWhite);
    EXPECT_EQ(turned.At(50, 92), kOpaqueWhite);
    EXPECT_NE(turned.At(50, 30), kOpaqueWhite);
    EXPECT_EQ(turned.At(50, 29), kOpaqueWhite);
}

TEST_F(Star, FullOpacityOnAnOpaqueLayerTakesTheRampColourExactly) {
    Hard();
    const Image layer(100, 100, kOpaqueWhite);
    const Image result = Render(layer);
    // The Inner Color at the centre (within the last bit of the ramp), the
    // Outer Color at the outline, and in between a mix of the two whose red
    // and blue add up to one whole.
    EXPECT_GE(result.At(50, 50).r, 254);
    int mixed = 0;
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            const Pixel p = result.At(x, y);
            if (p == kOpaqueWhite) continue;
            EXPECT_EQ(p.a, 255);
            EXPECT_EQ(p.g, 0);
            EXPECT_GE(p.r + p.b, 254) << x << "," << y;
            EXPECT_LE(p.r + p.b, 255) << x << "," << y;
            mixed += p.r > 20 && p.b > 20 ? 1 : 0;
        }
    }
    EXPECT_GT(mixed, 200);
    // Near the first point's tip, straight above the centre, the Outer Color
    // dominates.
    EXPECT_GT(result.At(50, 10).b, 200);
}

TEST_F(Star, OpacityCompositesOverTheLayersAlpha) {
    // A grey star: the ramp between equal colours is that colour.
    Hard();
    star.Set("InnerColor", "#000000");
    star.Set("OuterColor", "#000000");
    star.Set("Opacity", "50");  // alpha trunc(50 x 2.55) = 127
    // Over opaque white the layer keeps 128 of 255: (255 x 128 + 0 x 127) / 255.
    EXPECT_EQ(Render(Image(100, 100, kOpaqueWhite)).At(50, 50), (Pixel{255, 128, 128, 128}));
    // Over a transparent layer the star's own colour shows with its alpha.
    const Image clear = Render(Image(100, 100, Pixel{0, 30, 60, 90}));
    EXPECT_EQ(clear.At(50, 50), (Pixel{127, 0, 0, 0}));
    EXPECT_EQ(clear.At(0, 99), (Pixel{0, 30, 60, 90}));
    // Over half alpha: b = 128 x 128 / 255 = 64, total 191, blue 255 x 64 / 191.
    const Image half = Render(Image(100, 100, Pixel{128, 0, 0, 255}));
    EXPECT_EQ(half.At(50, 50), (Pixel{191, 0, 0, 85}));
    // At full opacity the layer's colour is gone, and alpha is whole again.
    star.Set("Opacity", "100");
    EXPECT_EQ(Render(Image(100, 100, Pixel{128, 0, 0, 255})).At(50, 50), (Pixel{255, 0, 0, 0}));
}

TEST_F(Star, ScaleTwentyOnAHundredByFifty) {
    // R = 50 / 3 x 20 x 0.0125 = 4.17 (4.67 with Smooth): the square's
    // sides at 2.95 (3.30) from the centre cover 5 x 5 (7 x 7) pixels.
    Square();
    star.Set("Scale", "20");
    star.Set("Position", "50,25");
    const Image layer(100, 50, kClear);
    Hard();
    const Image hard = Render(layer);
    EXPECT_EQ(Covered(hard, layer), 25);
    for (int32_t y = 0; y < 50; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            const uint8_t a = hard.At(x, y).a;
            EXPECT_TRUE(a == 0 || a == 255) << "a hard edge at " << x << "," << y;
        }
    }

    star.Set("Antialias", "on");
    const Image smooth = Render(layer);
    EXPECT_EQ(Covered(smooth, layer), 49);
    EXPECT_EQ(smooth.At(50, 25).a, 255);
    // The outer ring lies 0.30 inside the outline: alpha 255 x 76 >> 8.
    EXPECT_EQ(smooth.At(53, 25).a, 75);
    EXPECT_EQ(smooth.At(47, 22).a, 75);
    EXPECT_EQ(smooth.At(52, 25).a, 255);
}

TEST_F(Star, EraseOriginalImageLeavesTransparentWhiteAroundTheStar) {
    Hard();
    star.Set("EraseImage", "on");
    star.Set("Opacity", "50");
    const Image layer = zoka_test::TestLayer(100, 100);
    const Image result = Render(layer);
    EXPECT_EQ(result.At(0, 0), kErased);
    EXPECT_EQ(result.At(99, 99), kErased);
    // Inside, the background is transparent white: the star's colour with its alpha.
    EXPECT_EQ(result.At(50, 50).a, 127);
    EXPECT_GE(result.At(50, 50).r, 254);
    EXPECT_EQ(result.At(50, 50).g, 0);
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            const Pixel p = result.At(x, y);
            EXPECT_TRUE(p == kErased || p.a == 127) << x << "," << y;
        }
    }
}

TEST_F(Star, APositionFarOutsideTheLayerDrawsNothing) {
    star.Set("Position", "-5000,-5000");
    const Image layer = zoka_test::TestLayer(60, 40);
    EXPECT_EQ(Render(layer), layer);
    star.Set("EraseImage", "on");
    EXPECT_EQ(Render(layer), Image(60, 40, kErased));
}

TEST_F(Star, BandsOfAnySizeGiveTheSameFrame) {
    star.Set("Position", "20,15");
    star.Set("Opacity", "70");
    const Image layer = zoka_test::TestLayer(41, 29);
    for (const bool erase : {false, true}) {
        star.Set("EraseImage", erase ? "on" : "off");
        star.instance.PrepareTime({});
        for (const auto& [w, h] : {std::pair{1, 29}, {7, 5}, {41, 1}, {16, 16}}) {
            const auto run = zoka_test::RenderWholeAndInStrips(kStarIndex, star.instance, layer, w, h);
            ASSERT_EQ(run.wholeResult, 0);
            ASSERT_EQ(run.splitResult, 0);
            EXPECT_EQ(run.whole, run.split) << w << "x" << h << (erase ? " erasing" : "");
        }
    }
    EXPECT_EQ(Render(layer), Render(layer));
}

TEST_F(Star, FailureSweep) {
    zoka_test::RunFailureSweep("Star", zoka_test::TestLayer());
    zoka_test::RunFailureSweep("Star", zoka_test::TestLayer(), [](zoka_test::AppliedEffect& e) {
        e.Set("EraseImage", "on");
        e.Set("Position", "12,9");
    });
}

}  // namespace
}  // namespace zoka
