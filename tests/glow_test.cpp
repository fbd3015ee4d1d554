// Glow: the dropoff curves, how the halo is laid over the layer, and where it
// reaches.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "effects/glow.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;
using Settings = std::vector<std::pair<std::string, std::string>>;

constexpr const char* kDropoffs[] = {"Fat", "Medium", "Thin", "Diffuse"};

TEST(GlowDropoff, MediumMeetsItselfAtTheMiddleAndLiesBetweenFatAndThin) {
    EXPECT_EQ(GlowDropoff(0.5, kGlowMedium), 0.5);  // 1 - 2 x 0.25
    EXPECT_NEAR(GlowDropoff(std::nextafter(0.5, 0.0), kGlowMedium), 0.5, 1e-15);  // 2 x 0.25
    for (const double b : {0.0, 0.1, 0.3, 0.49, 0.6, 0.9, 1.0}) {
        EXPECT_GE(GlowDropoff(b, kGlowFat), GlowDropoff(b, kGlowMedium)) << b;
        EXPECT_GE(GlowDropoff(b, kGlowMedium), GlowDropoff(b, kGlowThin)) << b;
    }
}

// Transparent pixels carrying a colour, the opaque blue of the squares, the
// transparent white the expanded border starts as, and what a reached pixel
// without alpha or halo becomes.
constexpr Pixel kClear{0, 40, 80, 120};
constexpr Pixel kBlue{255, 0, 0, 255};
constexpr Pixel kBorder{0, 255, 255, 255};
constexpr Pixel kNothing{0, 0, 0, 0};

Image SquareLayer(int32_t size, int32_t inset) {
    Image layer(size, size, kClear);
    for (int32_t y = inset; y < size - inset; ++y) {
        for (int32_t x = inset; x < size - inset; ++x) layer.Set(x, y, kBlue);
    }
    return layer;
}

struct Rendered {
    Image image;
    int32_t ox, oy;  // where the input's top-left pixel lies in image
    Pixel At(int32_t x, int32_t y) const { return image.At(x + ox, y + oy); }
};

Rendered RenderWith(const Settings& sets, const Image& layer, const FrameOptions& options = {},
                    const Image* selection = nullptr) {
    AppliedEffect glow("Glow");
    for (const auto& [key, value] : sets) glow.Set(key, value);
    if (selection != nullptr) glow.instance.SetSelection(*selection, 0, 0);
    const auto frame = glow.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(glow.host.LiveHandles(), 0u);
    return Rendered{frame.image, frame.originX, frame.originY};
}

TEST(Glow, AtWidthZeroNoHaloIsDrawnAndTheMaskCancelsTheInsideUnlessDrawnEverywhere) {
    const Image layer = SquareLayer(30, 8);
    for (const char* dropoff : {"Fat", "Medium", "Thin"}) {
        const Rendered out = RenderWith({{"Width", "0"}, {"DropoffType", dropoff}}, layer);
        ASSERT_EQ(out.image.Width(), 32) << dropoff;  // a border of 1
        for (int32_t y = -1; y <= 30; ++y) {
            for (int32_t x = -1; x <= 30; ++x) {
                const bool inInput = x >= 0 && y >= 0 && x < 30 && y < 30;
                ASSERT_EQ(out.At(x, y), inInput ? layer.At(x, y) : kBorder) << x << "," << y;
            }
        }
    }
    const Rendered everywhere = RenderWith(
        {{"Width", "0"}, {"Opacity", "50"}, {"Color", "#FF0000"}, {"DrawEverywhere", "on"}}, layer);
    EXPECT_EQ(everywhere.At(15, 15), (Pixel{255, 127, 0, 127}));  // half red over blue
    EXPECT_EQ(everywhere.At(8, 8), (Pixel{255, 127, 0, 127}));
    EXPECT_EQ(everywhere.At(7, 7), kClear);
}

TEST(Glow, WithoutDrawEverywhereAFullyOpaqueMaskKeepsTheSource) {
    const Image layer = SquareLayer(40, 10);
    for (const char* dropoff : kDropoffs) {
        const Rendered out = RenderWith({{"Width", "12"}, {"DropoffType", dropoff}}, layer);
        for (int32_t y = 10; y < 30; ++y) {
            for (int32_t x = 10; x < 30; ++x) ASSERT_EQ(out.At(x, y), kBlue) << dropoff << " " << x << "," << y;
        }
        EXPECT_NE(out.At(9, 20), kClear) << dropoff;
    }
}

TEST(Glow, AtOpacityZeroReachedPixelsKeepTheirColourOrBecomeTransparentBlack) {
    Image layer = SquareLayer(40, 10);
    layer.Set(20, 7, Pixel{100, 100, 200, 40});  // outside the mask, within reach
    for (const char* dropoff : kDropoffs) {
        const Rendered out =
            RenderWith({{"Width", "6"}, {"Opacity", "0"}, {"DropoffType", dropoff}}, layer);
        // The colour goes through its share of the alpha and back: within a level.
        const Pixel faint = out.At(20, 7);
        EXPECT_EQ(faint.a, 100);
        EXPECT_NEAR(faint.r, 100, 1);
        EXPECT_NEAR(faint.g, 200, 1);
        EXPECT_NEAR(faint.b, 40, 1);
        EXPECT_EQ(out.At(20, 20), kBlue);
        EXPECT_EQ(out.At(6, 20), kNothing) << dropoff;  // 3.5 pixels from the edge
        // 7.5 pixels away, beyond the width: the distance dropoffs leave the
        // input there, Diffuse lays its (empty) halo over the whole output.
        const bool diffuse = std::string(dropoff) == "Diffuse";
        EXPECT_EQ(out.At(2, 20), diffuse ? kNothing : kClear) << dropoff;
        EXPECT_EQ(out.At(-5, 20), diffuse ? kNothing : kBorder) << dropoff;
    }
}

TEST(Glow, TheDistanceDropoffsFadeOutAtTheWidthFatAboveMediumAboveThin) {
    // A white halo over transparent black, along row 30 going right from the
    // square's edge between x = 39 and 40.
    Image layer(70, 60);
    for (int32_t y = 10; y < 50; ++y) {
        for (int32_t x = 10; x < 40; ++x) layer.Set(x, y, kBlue);
    }
    std::vector<Rendered> outs;
    for (const char* dropoff : {"Fat", "Medium", "Thin"}) {
        outs.push_back(RenderWith({{"DropoffType", dropoff}}, layer));
    }
    for (const Rendered& out : outs) {
        // Distances run from 0.71 by whole pixels; pixels within the width of
        // 20 take the halo's colour even where too faint to show.
        const Pixel last = out.At(59, 30);
        EXPECT_EQ((Pixel{0, last.r, last.g, last.b}), (Pixel{0, 255, 255, 255}));
        EXPECT_EQ(out.At(60, 30), kNothing);
    }
    EXPECT_GE(outs[0].At(40, 30).a, 250);
    for (int32_t x = 40; x < 60; ++x) {
        EXPECT_LE(outs[0].At(x + 1, 30).a, outs[0].At(x, 30).a) << x;
        EXPECT_GE(outs[0].At(x, 30).a, outs[1].At(x, 30).a) << x;
        EXPECT_GE(outs[1].At(x, 30).a, outs[2].At(x, 30).a) << x;
    }
    EXPECT_GT(outs[0].At(50, 30).a, outs[1].At(50, 30).a + 30);
    EXPECT_GT(outs[1].At(50, 30).a, outs[2].At(50, 30).a + 30);
}

TEST(Glow, DiffuseFarFromTheSelectionLeavesTheSource) {
    // An opaque layer with a transparent corner, glowing around a small
    // square of a selection as large as the layer.
    Image layer(80, 60, Pixel{255, 90, 60, 30});
    for (int32_t y = 50; y < 60; ++y) {
        for (int32_t x = 70; x < 80; ++x) layer.Set(x, y, kClear);
    }
    Image selection(80, 60);
    for (int32_t y = 5; y < 15; ++y) {
        for (int32_t x = 5; x < 15; ++x) selection.Set(x, y, Pixel{255, 0, 0, 0});
    }
    const Rendered out =
        RenderWith({{"DropoffType", "Diffuse"}, {"Width", "10"}}, layer, {}, &selection);
    EXPECT_NE(out.At(16, 10), layer.At(16, 10));
    for (int32_t y = 0; y < 60; ++y) {
        for (int32_t x = 0; x < 80; ++x) {
            if (x < 40 && y < 40) continue;
            ASSERT_EQ(out.At(x, y), layer.At(x, y).a == 0 ? kNothing : layer.At(x, y)) << x << "," << y;
        }
    }
}

TEST(Glow, AtHalfResolutionTheWidthIsHalved) {
    const Image layer = SquareLayer(48, 12);
    for (const char* dropoff : {"Medium", "Diffuse"}) {
        EXPECT_EQ(RenderWith({{"Width", "7"}, {"DropoffType", dropoff}}, layer.Shrunk(2)).image,
                  RenderWith({{"Width", "14"}, {"DropoffType", dropoff}}, layer, {0, 30, false, 2}).image)
            << dropoff;
    }
}

TEST(Glow, FailureSweep) {
    const Image layer = zoka_test::TestLayer();
    const auto with = [](Settings sets, bool selection = false) {
        return [sets, selection](AppliedEffect& e) {
            for (const auto& [key, value] : sets) e.Set(key, value);
            if (selection) e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        };
    };
    for (const char* dropoff : kDropoffs) zoka_test::RunFailureSweep("Glow", layer, with({{"DropoffType", dropoff}}));
    zoka_test::RunFailureSweep("Glow", layer, with({}, true));
    zoka_test::RunFailureSweep("Glow", layer, with({{"DropoffType", "Diffuse"}}, true), {0, 30, false, 2});
    zoka_test::RunFailureSweep("Glow", layer, with({{"DropoffType", "Diffuse"}, {"Width", "40"}}));  // FFT
    zoka_test::RunFailureSweep("Glow", layer, with({{"Width", "0"}, {"DrawEverywhere", "on"}}));
}

}  // namespace
}  // namespace zoka
