// Fur: hairs grown from scattered roots over the darkened skin.
#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

#include "base/result_codes.h"
#include "noise/noise_field.h"
#include "tests/support/band_split.h"
#include "tests/support/flow_checks.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

constexpr int kFurIndex = 5;

Image Render(zoka_test::AppliedEffect& fur, const Image& layer, const FrameOptions& options = {}) {
    return zoka_test::RenderChecked(fur, layer, options).image;
}

// The layer with its colour darkened to 192/256: what shows under the hairs.
Image Skin(const Image& layer) {
    Image skin = layer;
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) {
            const Pixel p = layer.At(x, y);
            const auto dark = [](uint8_t v) { return static_cast<uint8_t>(192 * v >> 8); };
            skin.Set(x, y, Pixel{p.a, dark(p.r), dark(p.g), dark(p.b)});
        }
    }
    return skin;
}

// The first position at or after (x0, y0), row by row, where the default
// seed roots a hair.
std::pair<int32_t, int32_t> FirstRoot(int32_t x0, int32_t y0) {
    zoka_test::ModuleMemoryScope memory;
    NoiseField field;
    EXPECT_EQ(field.Init(60, 100, 0, 0), kOk);
    for (int32_t y = y0;; ++y) {
        for (int32_t x = x0; x < x0 + 10; ++x) {
            if (!field.IsDot(x, y, 0.92)) return {x, y};
        }
    }
}

TEST(Fur, WithoutHairsOnlyTheSkinIsLeft) {
    zoka_test::AppliedEffect fur("Fur");
    const Image clear(30, 20, Pixel{0, 200, 100, 41});
    EXPECT_EQ(Render(fur, clear), Skin(clear)) << "a transparent layer roots no hair";

    // 3 pixels at a quarter of the resolution: shorter than one rendered pixel.
    fur.Set("HairLength", "3");
    const Image solid(40, 40, Pixel{255, 200, 100, 41});
    EXPECT_EQ(Render(fur, solid, FrameOptions{0, 30, false, 4}),
              Skin(Image(10, 10, solid.At(0, 0))));
    EXPECT_NE(Render(fur, solid), Skin(solid)) << "at full resolution the hairs grow";
}

// A lone opaque pixel roots one hair; without waves it runs straight down
// (and out of the image at 45 degrees), 5 steps over 3 rows: darkened near
// the root, brightened by the highlight, faded into the skin at its tip.
TEST(Fur, AStraightHairIsShadedFromRootToTip) {
    const auto [x, y] = FirstRoot(4, 4);
    Image layer(20, y + 6, Pixel{0, 0, 0, 0});
    layer.Set(x, y, Pixel{255, 100, 150, 200});
    struct Case {
        const char* shininess;
        Pixel root, middle, tip;
    };
    // Straight down, the highlight is trunc(0.436^4 * 256) = 9, which adds
    // 9 * 70 div 90 = 7 to each channel at Shininess 70 and nothing at 0.
    // The root's colour is last drawn at step 2, darkened by (102 + 127)/256;
    // steps 4 and 5 fade a fifth of the way and then fully into the skin.
    const Case cases[] = {{"70", {255, 95, 140, 185}, {0, 107, 157, 207}, {0, 85, 125, 165}},
                          {"0", {255, 89, 134, 178}, {0, 100, 150, 200}, {0, 80, 120, 160}}};
    for (const Case& c : cases) {
        zoka_test::AppliedEffect fur("Fur");
        fur.Set("WaveSize", "0");
        fur.Set("Smooth", "off");
        fur.Set("Shininess", c.shininess);
        Image expected = Skin(layer);
        expected.Set(x, y, c.root);
        expected.Set(x, y + 1, c.middle);
        expected.Set(x, y + 2, c.tip);
        EXPECT_EQ(Render(fur, layer), expected) << "Shininess " << c.shininess;
    }
}

// Without waves the hairs of a one-column layer stay in that column, smooth
// or hard; with waves they sway out of it.
TEST(Fur, WavinessBendsHairsOutOfTheirColumn) {
    Image layer(30, 40, Pixel{0, 0, 0, 0});
    for (int32_t y = 0; y < 40; ++y) layer.Set(12, y, Pixel{255, 250, 250, 250});
    const auto outside = [&](const Image& out) {
        int changed = 0;
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 30; ++x) changed += x != 12 && out.At(x, y) != Pixel{} ? 1 : 0;
        }
        return changed;
    };
    for (const char* smooth : {"on", "off"}) {
        zoka_test::AppliedEffect fur("Fur");
        fur.Set("Smooth", smooth);
        fur.Set("HairLength", "12");
        fur.Set("WaveSize", "100");
        EXPECT_GT(outside(Render(fur, layer)), 0) << "Smooth " << smooth;
        fur.Set("WaveSize", "0");
        EXPECT_EQ(outside(Render(fur, layer)), 0) << "Smooth " << smooth;
    }
}

TEST(Fur, RootsStayPutWhileTheWavesMove) {
    const Image layer = zoka_test::TestLayer(40, 30);
    zoka_test::AppliedEffect fur("Fur");
    fur.Set("FlowVelocity", "40");
    fur.Set("PhaseVelocity", "90");
    fur.Set("WaveSize", "0");
    EXPECT_EQ(Render(fur, layer, FrameOptions{2.0}), Render(fur, layer));
    fur.Set("WaveSize", "20");
    EXPECT_NE(Render(fur, layer, FrameOptions{2.0}), Render(fur, layer));
}

// Hairs far longer than the layer, on steep short waves: steps beyond the
// waves keep their course, and nothing is read or drawn outside the layer.
TEST(Fur, LongHairsOnATinyLayerStayInsideIt) {
    for (const char* smooth : {"on", "off"}) {
        zoka_test::AppliedEffect fur("Fur");
        fur.Set("Smooth", smooth);
        fur.Set("HairLength", "100");
        fur.Set("WaveSize", "100");
        fur.Set("WaveSpacing", "5");
        for (const int32_t size : {1, 2, 3, 6}) {
            const Image layer(size, size + 1, Pixel{255, 200, 100, 50});
            EXPECT_EQ(Render(fur, layer).Width(), size);
            Render(fur, layer, FrameOptions{0, 30, false, 3});
        }
    }
}

TEST(Fur, AFrameFollowsItsTimeAndSeedAlone) {
    zoka_test::ExpectFramesFollowTimeAndSeedAlone(
        "Fur",
        [](zoka_test::AppliedEffect& e) {
            e.Set("FlowVelocity", "30");
            e.Set("FlowDirection", "200");
            e.Set("PhaseVelocity", "100");
        },
        zoka_test::TestLayer(40, 30));
}

// Each band traces every hair that reaches it; hard-drawn hairs then give
// the same pixels at any split. Smooth drawing mixes depths only where all
// four neighbours lie in the band, so there bands differ at their borders;
// it still reads and writes inside each band.
TEST(Fur, HardDrawnHairsGiveTheSameFrameAtAnySplitAndSmoothOnesStayInTheirBand) {
    for (const char* smooth : {"off", "on"}) {
        zoka_test::AppliedEffect fur("Fur");
        fur.Set("Smooth", smooth);
        fur.Set("HairLength", "9");
        fur.Set("FlowVelocity", "30");
        fur.Set("PhaseVelocity", "45");
        fur.instance.PrepareTime(FrameOptions{1.5});
        const Image layer = zoka_test::TestLayer(37, 23);
        // Smooth hairs need only render in every split.
        const bool hard = smooth[1] == 'f';
        zoka_test::ExpectStripsAgree(kFurIndex, fur.instance, layer, std::string("Smooth ") + smooth,
                                     hard ? 0 : 255);
    }
}

TEST(Fur, FailureSweep) {
    zoka_test::RunFailureSweep("Fur", zoka_test::TestLayer());
    zoka_test::RunFailureSweep(
        "Fur", zoka_test::TestLayer(),
        [](zoka_test::AppliedEffect& e) {
            e.Set("Smooth", "off");
            e.Set("FlowVelocity", "12");
            e.Set("PhaseVelocity", "50");
            e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        },
        FrameOptions{0.5, 24, false, 2});
}

}  // namespace
}  // namespace zoka
