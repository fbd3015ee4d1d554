// Glow: the halo's dropoff curves, how it is laid over the layer, and where
// it reaches.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
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

constexpr const char* kDropoffs[] = {"Fat", "Medium", "Thin", "Diffuse"};

TEST(GlowDropoff, MediumMeetsItselfAtTheMiddleAndLiesBetweenFatAndThin) {
    EXPECT_EQ(GlowDropoff(0.5, kGlowMedium), 0.5);  // 1 - 2 x 0.25
    EXPECT_NEAR(GlowDropoff(std::nextafter(0.5, 0.0), kGlowMedium), 0.5, 1e-15);  // 2 x 0.25
    for (const double b : {0.0, 0.1, 0.3, 0.49, 0.5, 0.6, 0.9, 1.0}) {
        const double fat = GlowDropoff(b, kGlowFat), medium = GlowDropoff(b, kGlowMedium);
        const double thin = GlowDropoff(b, kGlowThin);
        EXPECT_GE(fat, medium) << b;
        EXPECT_GE(medium, thin) << b;
    }
    for (const int16_t kind : {kGlowFat, kGlowMedium, kGlowThin}) {
        EXPECT_EQ(GlowDropoff(1, kind), 1);
        EXPECT_EQ(GlowDropoff(0, kind), 0);
    }
}

// An opaque square (blue) inset in a layer whose transparent pixels carry a
// colour of their own.
constexpr Pixel kClear{0, 40, 80, 120};
constexpr Pixel kBlue{255, 0, 0, 255};

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

Rendered Render(AppliedEffect& glow, const Image& layer, const FrameOptions& options = {}) {
    const auto frame = glow.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(glow.host.LiveHandles(), 0u);
    return Rendered{frame.image, frame.originX, frame.originY};
}

// The expanded border starts as transparent white.
constexpr Pixel kBorder{0, 255, 255, 255};
// What a reached pixel without alpha or halo becomes.
constexpr Pixel kNothing{0, 0, 0, 0};

TEST(Glow, AtWidthZeroNoHaloIsDrawnAndTheMaskCancelsTheInside) {
    const Image layer = SquareLayer(30, 8);
    for (const char* dropoff : {"Fat", "Medium", "Thin"}) {
        AppliedEffect glow("Glow");
        glow.Set("Width", "0");
        glow.Set("DropoffType", dropoff);
        const Rendered out = Render(glow, layer);
        ASSERT_EQ(out.image.Width(), 32) << dropoff;  // a border of 1
        for (int32_t y = -1; y <= 30; ++y) {
            for (int32_t x = -1; x <= 30; ++x) {
                const bool inInput = x >= 0 && y >= 0 && x < 30 && y < 30;
                ASSERT_EQ(out.At(x, y), inInput ? layer.At(x, y) : kBorder) << x << "," << y;
            }
        }
    }
}

TEST(Glow, DrawnEverywhereTheInsideIsCoveredAtTheOpacity) {
    const Image layer = SquareLayer(30, 8);
    AppliedEffect glow("Glow");
    glow.Set("Width", "0");
    glow.Set("Opacity", "50");
    glow.Set("Color", "#FF0000");
    glow.Set("DrawEverywhere", "on");
    const Rendered out = Render(glow, layer);
    // Half red over blue; outside nothing is within reach.
    EXPECT_EQ(out.At(15, 15), (Pixel{255, 127, 0, 127}));
    EXPECT_EQ(out.At(8, 8), (Pixel{255, 127, 0, 127}));
    EXPECT_EQ(out.At(7, 7), kClear);
}

TEST(Glow, WithoutDrawEverywhereAFullyOpaqueMaskKeepsTheSource) {
    const Image layer = SquareLayer(40, 10);
    for (const char* dropoff : kDropoffs) {
        AppliedEffect glow("Glow");
        glow.Set("Width", "12");
        glow.Set("DropoffType", dropoff);
        const Rendered out = Render(glow, layer);
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
        AppliedEffect glow("Glow");
        glow.Set("Width", "6");
        glow.Set("Opacity", "0");
        glow.Set("DropoffType", dropoff);
        const Rendered out = Render(glow, layer);
        const Pixel faint = out.At(20, 7);
        EXPECT_EQ(faint.a, 100);
        // The colour goes through its share of the alpha and back: within a level.
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

// Alpha of the halo along row 30 going right from the square's edge at
// x = 40 (white halo over transparent black).
std::vector<int> HaloRow(const char* dropoff, int32_t& reach) {
    Image layer(70, 60, Pixel{0, 0, 0, 0});
    for (int32_t y = 10; y < 50; ++y) {
        for (int32_t x = 10; x < 40; ++x) layer.Set(x, y, kBlue);
    }
    AppliedEffect glow("Glow");
    glow.Set("DropoffType", dropoff);
    const Rendered out = Render(glow, layer);
    std::vector<int> alpha;
    reach = 0;
    for (int32_t x = 40; x < 70; ++x) {
        const Pixel p = out.At(x, 30);
        alpha.push_back(p.a);
        if (p != Pixel{0, 0, 0, 0}) reach = x - 39;
    }
    return alpha;
}

TEST(Glow, TheDistanceDropoffsFadeOutAtTheWidthFatAboveMediumAboveThin) {
    int32_t reach[3];
    const std::vector<int> fat = HaloRow("Fat", reach[0]);
    const std::vector<int> medium = HaloRow("Medium", reach[1]);
    const std::vector<int> thin = HaloRow("Thin", reach[2]);
    // Distances run from 0.71 (next to the edge) by whole pixels; the width
    // is 20, and reached pixels too faint to show take the halo's colour.
    for (const int32_t r : reach) EXPECT_EQ(r, 20);
    EXPECT_GE(fat[0], 250);
    for (size_t i = 0; i < 20; ++i) {
        EXPECT_GE(fat[i], medium[i]) << i;
        EXPECT_GE(medium[i], thin[i]) << i;
        if (i > 0) {
            EXPECT_LE(fat[i], fat[i - 1]) << i;
        }
    }
    EXPECT_GT(fat[10], medium[10] + 30);
    EXPECT_GT(medium[10], thin[10] + 30);
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
    AppliedEffect glow("Glow");
    glow.Set("DropoffType", "Diffuse");
    glow.Set("Width", "10");
    glow.instance.SetSelection(selection, 0, 0);
    const Rendered out = Render(glow, layer);
    EXPECT_NE(out.At(16, 10), layer.At(16, 10));
    for (int32_t y = 0; y < 60; ++y) {
        for (int32_t x = 0; x < 80; ++x) {
            if (x < 40 && y < 40) continue;
            const Pixel want = layer.At(x, y).a == 0 ? Pixel{0, 0, 0, 0} : layer.At(x, y);
            ASSERT_EQ(out.At(x, y), want) << x << "," << y;
        }
    }
}

TEST(Glow, AtHalfResolutionTheWidthIsHalved) {
    const Image layer = SquareLayer(48, 12);
    for (const char* dropoff : {"Medium", "Diffuse"}) {
        AppliedEffect full("Glow"), half("Glow");
        full.Set("Width", "7");
        half.Set("Width", "14");
        for (AppliedEffect* e : {&full, &half}) e->Set("DropoffType", dropoff);
        EXPECT_EQ(Render(full, layer.Shrunk(2)).image,
                  Render(half, layer, FrameOptions{0, 30, false, 2}).image)
            << dropoff;
    }
}

TEST(Glow, FailureSweep) {
    const Image layer = zoka_test::TestLayer();
    for (const char* dropoff : kDropoffs) {
        zoka_test::RunFailureSweep("Glow", layer, [&](AppliedEffect& e) {
            e.Set("DropoffType", dropoff);
        });
    }
    zoka_test::RunFailureSweep("Glow", layer, [](AppliedEffect& e) {
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
    });
    zoka_test::RunFailureSweep("Glow", layer, [](AppliedEffect& e) {
        e.Set("DropoffType", "Diffuse");
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), -2.5, 4.75);
    }, FrameOptions{0, 30, false, 2});
    zoka_test::RunFailureSweep("Glow", layer, [](AppliedEffect& e) {
        e.Set("DropoffType", "Diffuse");
        e.Set("Width", "40");  // the blur's FFT
    });
    zoka_test::RunFailureSweep("Glow", layer, [](AppliedEffect& e) {
        e.Set("Width", "0");
        e.Set("DrawEverywhere", "on");
    });
}

}  // namespace
}  // namespace zoka
