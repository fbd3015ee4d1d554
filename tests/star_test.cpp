// Star: a filled star with a radial colour ramp composited over the layer.
#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;

constexpr Pixel kWhite{255, 255, 255, 255};
constexpr Pixel kErased{0, 255, 255, 255};  // transparent white

class Star : public ::testing::Test {
protected:
    Image Render(const Image& layer) {
        const auto frame = star.instance.RenderFrame(layer, {});
        EXPECT_EQ(frame.code, kHostNoError) << frame.message;
        EXPECT_EQ(star.host.LiveHandles(), 0u);
        return frame.image;
    }
    // Pixels (x, y) the star covers (true) or leaves (false) on a white layer.
    void ExpectCovered(const Image& result, std::initializer_list<std::pair<int, int>> covered,
                       std::initializer_list<std::pair<int, int>> left) {
        for (const auto& [x, y] : covered) EXPECT_NE(result.At(x, y), kWhite) << x << "," << y;
        for (const auto& [x, y] : left) EXPECT_EQ(result.At(x, y), kWhite) << x << "," << y;
    }

    zoka_test::AppliedEffect star{"Star"};
};

int Covered(const Image& result, const Image& layer) {
    int count = 0;
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) count += result.At(x, y) == layer.At(x, y) ? 0 : 1;
    }
    return count;
}

TEST_F(Star, TheOutlineFollowsSidesIndentationAndOrientation) {
    // R = 100 / 3 = 41.67 around (50, 50). Four sides turned by 45 degrees
    // without indentation: a square with its sides R cos 45 = 29.46 out.
    const Image layer(100, 100, kWhite);
    star.Set("Antialias", "off");
    star.Set("Sides", "4");
    star.Set("Indentation", "0");
    star.Set("Orientation", "45");
    const Image square = Render(layer);
    EXPECT_EQ(Covered(square, layer), 59 * 59);
    ExpectCovered(square, {{21, 21}, {79, 79}, {21, 50}}, {{20, 50}, {50, 80}});
    // Indentation 95: thin spikes to the same corners.
    star.Set("Indentation", "95");
    const Image spiky = Render(layer);
    ExpectCovered(spiky, {{78, 22}, {22, 78}, {50, 48}}, {{50, 22}, {78, 50}});
    EXPECT_LT(Covered(spiky, layer), 59 * 59 / 4);
    // Three sides: the apex straight above the position (y = 8.33), the
    // opposite side R / 2 below (70.83); turned by 180 the other way up.
    star.Set("Sides", "3");
    star.Set("Indentation", "0");
    star.Set("Orientation", "0");
    ExpectCovered(Render(layer), {{50, 9}, {50, 70}}, {{50, 8}, {49, 9}, {51, 9}, {50, 71}});
    star.Set("Orientation", "180");
    ExpectCovered(Render(layer), {{50, 91}, {50, 30}}, {{50, 92}, {50, 29}});
}

TEST_F(Star, ScaleTwentyOnAHundredByFiftyWithAndWithoutSmooth) {
    // R = 50 / 3 x 20 x 0.0125 = 4.17, or 4.67 with Smooth: the square's
    // sides at 2.95 or 3.30 cover 5 x 5 or 7 x 7 pixels.
    star.Set("Sides", "4");
    star.Set("Indentation", "0");
    star.Set("Orientation", "45");
    star.Set("Scale", "20");
    star.Set("Position", "50,25");
    const Image layer(100, 50);
    star.Set("Antialias", "off");
    const Image hard = Render(layer);
    EXPECT_EQ(Covered(hard, layer), 25);
    EXPECT_EQ(hard.At(52, 27).a, 255);
    star.Set("Antialias", "on");
    const Image smooth = Render(layer);
    EXPECT_EQ(Covered(smooth, layer), 49);
    // The outer ring lies 0.30 inside the outline: alpha 255 x 76 >> 8.
    EXPECT_EQ(smooth.At(53, 25).a, 75);
    EXPECT_EQ(smooth.At(47, 22).a, 75);
    EXPECT_EQ(smooth.At(52, 25).a, 255);
}

TEST_F(Star, TheRampAndTheOpacityCompositeOverTheLayer) {
    star.Set("Antialias", "off");
    // At full opacity on an opaque layer: the ramp's colour exactly, red
    // (Inner) and blue (Outer) adding up to one whole.
    const Image ramp = Render(Image(100, 100, kWhite));
    EXPECT_GE(ramp.At(50, 50).r, 254);
    EXPECT_GT(ramp.At(50, 10).b, 200);
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            const Pixel p = ramp.At(x, y);
            if (p == kWhite) continue;
            EXPECT_TRUE(p.a == 255 && p.g == 0 && p.r + p.b >= 254 && p.r + p.b <= 255) << x << "," << y;
        }
    }
    // A black star at 50 % (alpha 127): over white the layer keeps 128 of
    // 255; over a transparent layer the star shows with its own alpha; over
    // half alpha the layer keeps 128 x 128 / 255 = 64 of a total of 191.
    star.Set("InnerColor", "#000000");
    star.Set("OuterColor", "#000000");
    star.Set("Opacity", "50");
    EXPECT_EQ(Render(Image(100, 100, kWhite)).At(50, 50), (Pixel{255, 128, 128, 128}));
    EXPECT_EQ(Render(Image(100, 100, Pixel{0, 30, 60, 90})).At(50, 50), (Pixel{127, 0, 0, 0}));
    EXPECT_EQ(Render(Image(100, 100, Pixel{128, 0, 0, 255})).At(50, 50), (Pixel{191, 0, 0, 85}));
}

TEST_F(Star, EraseLeavesTransparentWhiteAroundTheStarAndUnderIt) {
    star.Set("Antialias", "off");
    star.Set("EraseImage", "on");
    star.Set("Opacity", "50");
    const Image result = Render(zoka_test::TestLayer(100, 100));
    for (int32_t y = 0; y < 100; ++y) {
        for (int32_t x = 0; x < 100; ++x) {
            const Pixel p = result.At(x, y);
            EXPECT_TRUE(p == kErased || p.a == 127) << x << "," << y;
        }
    }
    EXPECT_EQ(result.At(50, 50).g, 0);
    // A star far outside the layer draws nothing, and erases everything.
    star.Set("Position", "-5000,-5000");
    EXPECT_EQ(Render(zoka_test::TestLayer(60, 40)), Image(60, 40, kErased));
    star.Set("EraseImage", "off");
    EXPECT_EQ(Render(zoka_test::TestLayer(60, 40)), zoka_test::TestLayer(60, 40));
}

TEST_F(Star, BandsOfAnySizeGiveTheSameFrameAndFailuresLeaveTheLayer) {
    star.Set("Position", "20,15");
    const Image layer = zoka_test::TestLayer(41, 29);
    for (const char* erase : {"off", "on"}) {
        star.Set("EraseImage", erase);
        star.instance.PrepareTime({});
        zoka_test::ExpectStripsAgree(12, star.instance, layer, std::string("erase ") + erase);
    }
    zoka_test::RunFailureSweep("Star", zoka_test::TestLayer());
    zoka_test::RunFailureSweep("Star", zoka_test::TestLayer(), [](zoka_test::AppliedEffect& e) {
        e.Set("EraseImage", "on");
        e.Set("Position", "12,9");
    });
}

}  // namespace
}  // namespace zoka
