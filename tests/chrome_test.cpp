// Chrome: the band table, and the metal painted from the blurred mask's slope
// across the light.
#include <gtest/gtest.h>

#include <string>

#include "effects/chrome.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

struct Table {
    int32_t at[kBandTableSize];
};

Table BandTable(double contrast, double bands) {
    Table t{};
    BuildBandTable(contrast, bands, t.at);
    return t;
}

// The table without ripple: 0..127, then 129..256.
void ExpectPlainRamp(const Table& t) {
    for (int32_t i = 0; i < kBandTableSize; ++i) EXPECT_EQ(t.at[i], i <= 127 ? i : i + 1) << i;
}

TEST(ChromeBandTable, AtTheDefaultsTheRippleRunsThreePeriods) {
    const Table t = BandTable(50, 4);
    EXPECT_EQ(t.at[0], 0);
    EXPECT_EQ(t.at[1], 4);
    EXPECT_EQ(t.at[21], 70);
    EXPECT_EQ(t.at[64], 14);
    EXPECT_EQ(t.at[127], 130);
    EXPECT_EQ(t.at[128], 129);
    EXPECT_EQ(t.at[200], 242);
    EXPECT_EQ(t.at[255], 252);
}

TEST(ChromeBandTable, WithoutContrastOrWithOneBandItIsThePlainRamp) {
    ExpectPlainRamp(BandTable(0, 4));
    ExpectPlainRamp(BandTable(100, 1));
}

TEST(ChromeBandTable, FullContrastIsClampedToNoneAndFullHighlight) {
    const Table t = BandTable(100, 4);
    // The first trough and the last crest overshoot by far.
    EXPECT_EQ(t.at[49], 4);
    EXPECT_EQ(t.at[50], 0);
    EXPECT_EQ(t.at[74], 0);
    EXPECT_EQ(t.at[181], 250);
    EXPECT_EQ(t.at[182], 256);
    EXPECT_EQ(t.at[206], 256);
}

// An opaque square on a transparent layer, with colour that Chrome must
// ignore.
Image SquareLayer(int32_t size = 60, int32_t inset = 15) {
    Image layer(size, size, Pixel{0, 40, 80, 120});
    for (int32_t y = inset; y < size - inset; ++y) {
        for (int32_t x = inset; x < size - inset; ++x) layer.Set(x, y, Pixel{255, 200, 10, 90});
    }
    return layer;
}

Image Render(AppliedEffect& chrome, const Image& layer, const FrameOptions& options = {}) {
    const auto frame = chrome.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(chrome.host.LiveHandles(), 0u);
    return frame.image;
}

TEST(Chrome, WithoutContrastALevelInteriorTakesExactlyTheHighlightColor) {
    AppliedEffect chrome("Chrome");
    chrome.Set("Contrast", "0");
    chrome.Set("BaseColor", "#102030");
    chrome.Set("HighlightColor", "#E0B050");
    const Image layer(80, 80, Pixel{255, 1, 2, 3});
    const Image out = Render(chrome, layer);
    // Softness 10 blurs 11 pixels deep and the samples lie 4.3 pixels away.
    for (int32_t y = 16; y < 64; ++y) {
        for (int32_t x = 16; x < 64; ++x) {
            ASSERT_EQ(out.At(x, y), (Pixel{255, 0xE0, 0xB0, 0x50})) << x << "," << y;
        }
    }
    // At the layer's edge the blurred mask falls off steeply: darker.
    EXPECT_LT(out.At(0, 40).r, 0xE0);
}

TEST(Chrome, WithoutVariationEveryMaskedPixelTakesTheLastTableEntryAndKeepsItsAlpha) {
    AppliedEffect chrome("Chrome");
    chrome.Set("Variation", "0");
    Image layer = zoka_test::TestLayer(30, 20);
    layer.Set(3, 3, Pixel{1, 7, 8, 9});  // the faintest mask is painted fully
    const Image out = Render(chrome, layer);
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) {
            const Pixel in = layer.At(x, y);
            // White over black by table[255] = 252 of 256.
            const Pixel want = in.a == 0 ? in : Pixel{in.a, 251, 251, 251};
            ASSERT_EQ(out.At(x, y), want) << x << "," << y;
        }
    }
}

// Painted pixels well below the white Highlight Color: how much of the shape
// the light darkens.
int Darkened(const Image& out, int32_t x0, int32_t x1, int32_t y0, int32_t y1) {
    int n = 0;
    for (int32_t y = y0; y < y1; ++y) {
        for (int32_t x = x0; x < x1; ++x) {
            const Pixel p = out.At(x, y);
            n += p.a != 0 && p.r < 200 ? 1 : 0;
        }
    }
    return n;
}

TEST(Chrome, EdgesAlongTheLightStayBrightAndEdgesAcrossItDarken) {
    const Image layer = SquareLayer(100, 15);
    AppliedEffect chrome("Chrome");
    chrome.Set("Direction", "0");  // straight up: samples above and below
    chrome.Set("Contrast", "0");
    const Image up = Render(chrome, layer);
    // Mid-height on the left and right edges, the mask does not change
    // vertically; along the top and bottom edges it changes steeply.
    EXPECT_EQ(Darkened(up, 15, 20, 40, 60) + Darkened(up, 80, 85, 40, 60), 0);
    EXPECT_GT(Darkened(up, 40, 60, 15, 20), 40);
    EXPECT_GT(Darkened(up, 40, 60, 80, 85), 40);
}

TEST(Chrome, TheDiagonalsOfTheLightAreNotMirrored) {
    // A triangle: opaque where x + y < 60. Its long edge runs up and to the
    // right, along a light from 45 degrees and across one from 135.
    Image layer(60, 60, Pixel{0, 0, 0, 0});
    for (int32_t y = 0; y < 60; ++y) {
        for (int32_t x = 0; x + y < 60; ++x) layer.Set(x, y, Pixel{255, 0, 0, 0});
    }
    AppliedEffect along("Chrome"), across("Chrome");
    along.Set("Direction", "45");
    across.Set("Direction", "135");
    for (AppliedEffect* e : {&along, &across}) e->Set("Contrast", "0");
    const int alongDark = Darkened(Render(along, layer), 20, 40, 20, 40);
    const int acrossDark = Darkened(Render(across, layer), 20, 40, 20, 40);
    EXPECT_LT(alongDark, 10);
    EXPECT_GT(acrossDark, 5 * alongDark + 20);
}

TEST(Chrome, ATwoPixelBlurIsTheSameAtFullAndAtHalfResolution) {
    const Image layer = SquareLayer(40, 10);
    AppliedEffect full("Chrome");
    full.Set("Softness", "0");  // R = 2
    AppliedEffect half("Chrome");
    half.Set("Softness", "2");  // R = 4 / 2
    EXPECT_EQ(Render(full, layer.Shrunk(2)), Render(half, layer, FrameOptions{0, 30, false, 2}));
}

TEST(Chrome, AtQuarterResolutionTheBlurRadiusStaysAtLeastOnePixel) {
    const Image layer = SquareLayer(80, 20);
    const FrameOptions quarter{0, 30, false, 4};
    AppliedEffect none("Chrome"), two("Chrome"), six("Chrome");
    none.Set("Softness", "0");  // 0.5, raised to 1
    two.Set("Softness", "2");   // 1
    six.Set("Softness", "6");   // 2
    const Image fromNone = Render(none, layer, quarter);
    EXPECT_EQ(fromNone, Render(two, layer, quarter));
    EXPECT_NE(fromNone, Render(six, layer, quarter));
}

TEST(Chrome, ALayerOnePixelWideTakesTheWidestReach) {
    for (const auto& [w, h] : {std::pair{1, 1}, {1, 9}, {9, 1}}) {
        AppliedEffect chrome("Chrome");
        chrome.Set("Softness", "100");
        chrome.Set("Variation", "100");
        const Image out = Render(chrome, Image(w, h, Pixel{255, 9, 9, 9}));
        // Samples a hundred pixels out still read the blurred copy (the
        // sanitizer build checks every read), and the pixel is painted.
        EXPECT_EQ(out.At(0, 0).a, 255);
        EXPECT_NE(out.At(0, 0).r, 9) << w << "x" << h;
    }
}

TEST(Chrome, FailureSweep) {
    const Image layer = zoka_test::TestLayer();
    zoka_test::RunFailureSweep("Chrome", layer);
    zoka_test::RunFailureSweep("Chrome", layer, [](AppliedEffect& e) {
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
    });
    zoka_test::RunFailureSweep("Chrome", layer, {}, FrameOptions{0, 30, false, 2});
    zoka_test::RunFailureSweep("Chrome", layer, [](AppliedEffect& e) {
        e.Set("Softness", "40");  // R = 42: the blur's FFT
    });
}

}  // namespace
}  // namespace zoka
