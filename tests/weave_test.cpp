// Weave: ribbons of the layer's own colour crossing over and under, with gap
// crossings painted between them, drifting with the flow.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>

#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

constexpr int kWeaveIndex = 18;
constexpr Pixel kLayerColour{255, 200, 0, 50};  // no green, so painted gaps stand out

class Weave : public ::testing::Test {
protected:
    static Image Render(zoka_test::AppliedEffect& effect, const Image& layer,
                        const FrameOptions& options = {}) {
        const auto frame = effect.instance.RenderFrame(layer, options);
        EXPECT_EQ(frame.code, kHostNoError) << frame.message;
        EXPECT_EQ(effect.host.LiveHandles(), 0u);
        EXPECT_EQ(effect.instance.OutstandingCheckouts(), 0);
        return frame.image;
    }
    Image Render(const Image& layer, const FrameOptions& options = {}) {
        return Render(weave, layer, options);
    }
    // Plain ribbons (no grain) and green gap crossings.
    void Plain() {
        weave.Set("ThreadDetail", "0");
        weave.Set("GapColor", "#00FF00");
    }

    zoka_test::AppliedEffect weave{"Weave"};
};

// Where the painted crossings lie: their columns and rows.
struct Crossings {
    std::set<int32_t> columns, rows;
    int pixels = 0;
};

Crossings GreenCrossings(const Image& image) {
    Crossings c;
    for (int32_t y = 0; y < image.Height(); ++y) {
        for (int32_t x = 0; x < image.Width(); ++x) {
            if (image.At(x, y).g < 250) continue;
            c.columns.insert(x);
            c.rows.insert(y);
            ++c.pixels;
        }
    }
    return c;
}

int LargestDifference(const Image& a, const Image& b) {
    int largest = 0;
    for (int32_t y = 0; y < a.Height(); ++y) {
        for (int32_t x = 0; x < a.Width(); ++x) {
            const Pixel p = a.At(x, y), q = b.At(x, y);
            for (const int d : {p.a - q.a, p.r - q.r, p.g - q.g, p.b - q.b}) {
                largest = std::max(largest, std::abs(d));
            }
        }
    }
    return largest;
}

TEST_F(Weave, NoGapAndRibbonOneMakeThreePixelRibbonsWithoutCrossings) {
    // A ribbon of 1 becomes 3: period 3, a shade table of 128, 256, 128 at
    // depth 50. Each 3 x 3 cell shows its top ribbon bright along the middle.
    Plain();
    weave.Set("RibbonWidth", "1");
    weave.Set("GapWidth", "0");
    const Image result = Render(Image(36, 36, kLayerColour));
    const Pixel bright = kLayerColour, dark{255, 100, 0, 25};
    int brights = 0;
    for (int32_t y = 0; y < 36; ++y) {
        for (int32_t x = 0; x < 36; ++x) {
            const Pixel p = result.At(x, y);
            ASSERT_TRUE(p == bright || p == dark) << x << "," << y;
            brights += p == bright ? 1 : 0;
            if (x >= 6) {
                EXPECT_EQ(p, result.At(x - 6, y));
            }
            if (y >= 6) {
                EXPECT_EQ(p, result.At(x, y - 6));
            }
        }
    }
    EXPECT_EQ(brights, 36 * 36 / 3);
}

TEST_F(Weave, GapCrossingsTakeTheGapColourOrBecomeTransparent) {
    Plain();
    const Pixel layerColour{200, 200, 0, 50};
    const Image layer(70, 70, layerColour);
    // Period 32 from the layer's corner: 2 x 2 crossings at 0, 32 and 64.
    const std::set<int32_t> at{0, 1, 32, 33, 64, 65};
    const auto crossing = [&](int32_t x, int32_t y) { return at.count(x) != 0 && at.count(y) != 0; };

    const Image filled = Render(layer);
    for (int32_t y = 0; y < 70; ++y) {
        for (int32_t x = 0; x < 70; ++x) {
            const Pixel p = filled.At(x, y);
            if (crossing(x, y)) {
                EXPECT_EQ(p, (Pixel{200, 0, 255, 0})) << x << "," << y;
            } else {
                EXPECT_EQ(p.g, 0) << x << "," << y;
                EXPECT_EQ(p.a, 200) << x << "," << y;
            }
        }
    }
    weave.Set("GapFill", "off");
    const Image cleared = Render(layer);
    for (int32_t y = 0; y < 70; ++y) {
        for (int32_t x = 0; x < 70; ++x) {
            EXPECT_EQ(cleared.At(x, y).a, crossing(x, y) ? 0 : 200) << x << "," << y;
        }
    }
    EXPECT_EQ(cleared.At(33, 32), (Pixel{0, 200, 0, 50}));
}

TEST_F(Weave, WithoutGrainShadowOrGapsTheLayerComesBackUnchanged) {
    weave.Set("ThreadDetail", "0");
    weave.Set("ShadowDepth", "0");
    weave.Set("GapWidth", "0");
    const Image layer = zoka_test::TestLayer(50, 40);
    EXPECT_EQ(Render(layer), layer);
}

TEST_F(Weave, ShadowDepthRunsFromUnshadedToBlackWhereRibbonsDive) {
    Plain();
    const Image layer(64, 64, kLayerColour);
    const auto shades = [&](const Image& result) {
        std::set<int> reds;
        for (int32_t y = 0; y < 64; ++y) {
            for (int32_t x = 0; x < 64; ++x) {
                if (result.At(x, y).g == 0) reds.insert(result.At(x, y).r);
            }
        }
        return reds;
    };
    weave.Set("ShadowDepth", "0");
    EXPECT_EQ(shades(Render(layer)), std::set<int>{200});
    weave.Set("ShadowDepth", "100");
    const std::set<int> deep = shades(Render(layer));
    EXPECT_EQ(*deep.begin(), 0);
    EXPECT_EQ(*deep.rbegin(), 200);
    EXPECT_GT(deep.size(), 10u);
}

TEST_F(Weave, ThreadsAverageAlongTheirLength) {
    // Smearing without grain averages the source along the thread: a window
    // of rows y - 1 .. y + 1 for Thread Length 3, y - 2 .. y + 1 for 4. Row
    // 11 is red and column 11 green; (40, y) lies on a vertical ribbon,
    // (10, y) on a horizontal one.
    weave.Set("ThreadDetail", "0");
    weave.Set("ShadowDepth", "0");
    weave.Set("Smear", "on");
    weave.Set("ThreadLength", "3");
    Image layer(64, 40, Pixel{255, 0, 0, 0});
    for (int32_t x = 0; x < 64; ++x) layer.Set(x, 11, Pixel{255, 90, 0, 0});
    for (int32_t y = 0; y < 40; ++y) layer.Set(11, y, Pixel{255, uint8_t(y == 11 ? 90 : 0), 90, 0});
    const Image three = Render(layer);
    for (int32_t y = 8; y <= 14; ++y) {
        EXPECT_EQ(three.At(40, y).r, y >= 10 && y <= 12 ? 30 : 0) << y;
    }
    for (int32_t x = 8; x <= 14; ++x) {
        EXPECT_EQ(three.At(x, 20).g, x >= 10 && x <= 12 ? 30 : 0) << x;
    }
    weave.Set("ThreadLength", "4");
    const Image four = Render(layer);
    for (int32_t y = 8; y <= 14; ++y) {
        EXPECT_EQ(four.At(40, y).r, y >= 10 && y <= 13 ? 22 : 0) << y;
    }
}

TEST_F(Weave, OutsideTheMaskOnlyTheGapCrossingsArePainted) {
    // The left half is transparent: no thread there has any weight, so its
    // pixels keep their colour, except the crossings, painted regardless.
    Plain();
    Image layer(80, 40, kLayerColour);
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) layer.Set(x, y, Pixel{0, 10, 20, 30});
    }
    const Image result = Render(layer);
    const std::set<int32_t> at{0, 1, 32, 33};
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 36; ++x) {
            const bool crossing = at.count(x) != 0 && at.count(y) != 0;
            const Pixel expected = crossing ? Pixel{0, 0, 255, 0} : layer.At(x, y);
            EXPECT_EQ(result.At(x, y), expected) << x << "," << y;
        }
    }
    EXPECT_NE(result.At(60, 20), layer.At(60, 20));
}

TEST_F(Weave, AtDivisorThreeTheFourSamplePathMixesNeighbouringPositions) {
    // 1048576 / 3 leaves a third: every pixel mixes four pattern positions
    // with weights 4/9, 2/9, 2/9 and 1/9, so a crossing's green is 255 times
    // the share of the samples that fall on it.
    Plain();
    weave.Set("ShadowDepth", "0");
    weave.Set("GapWidth", "6");  // 2 at a third of the resolution; period 12
    const Image result = Render(Image(120, 120, Pixel{255, 255, 0, 0}), FrameOptions{0, 30, false, 3});
    ASSERT_EQ(result.Width(), 40);
    std::set<int> greens;
    int whole = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const Pixel p = result.At(x, y);
            EXPECT_GE(p.r + p.g, 253) << x << "," << y;
            EXPECT_LE(p.r + p.g, 255) << x << "," << y;
            greens.insert(p.g);
            whole += p.g >= 254 ? 1 : 0;
        }
    }
    for (const int g : greens) {
        const bool expected = g == 0 || std::abs(g - 28) <= 1 || std::abs(g - 56) <= 1 ||
                              std::abs(g - 85) <= 1 || std::abs(g - 113) <= 1 ||
                              std::abs(g - 170) <= 1 || g >= 254;
        EXPECT_TRUE(expected) << g;
    }
    EXPECT_GE(greens.size(), 7u);
    // One whole-green pixel per crossing, the one whose four samples all lie
    // on it: the pattern starts 13 into its repeat of 24, so at 11, 23 and 35.
    EXPECT_EQ(whole, 3 * 3);
    EXPECT_GE(result.At(23, 35).g, 254);
}

TEST_F(Weave, TheFlowMovesTheCrossingsTowardItsDirection) {
    Plain();
    weave.Set("FlowVelocity", "16");
    weave.Set("FlowDirection", "90");  // toward larger columns
    const Image layer(80, 40, kLayerColour);
    const Crossings start = GreenCrossings(Render(layer));
    EXPECT_EQ(start.columns, (std::set<int32_t>{0, 1, 32, 33, 64, 65}));
    const Crossings later = GreenCrossings(Render(layer, FrameOptions{1.0}));
    EXPECT_EQ(later.columns, (std::set<int32_t>{16, 17, 48, 49}));
    EXPECT_EQ(later.rows, start.rows);
}

TEST_F(Weave, ADriftPastTheStartingOffsetKeepsThePatternWhole) {
    // At 999 pixels a second toward larger columns (one-second frames), 1050
    // seconds carry the pattern past its starting offset of 2^20; 26 seconds
    // leave it at the same place within the checkerboard's repeat of 64.
    weave.Set("FlowVelocity", "999");
    weave.Set("FlowDirection", "90");
    const Image layer = zoka_test::TestLayer(70, 50);
    const Image near = Render(layer, FrameOptions{26, 1});
    const Image far = Render(layer, FrameOptions{1050, 1});
    EXPECT_LE(LargestDifference(near, far), 1);
    EXPECT_GT(LargestDifference(near, Render(layer)), 50);
}

TEST_F(Weave, ADraftShowsTheCrossingsWhereTheFullFrameHasThem) {
    Plain();
    weave.Set("FlowVelocity", "20");
    weave.Set("FlowDirection", "90");
    const Image layer(128, 64, kLayerColour);
    const Crossings full = GreenCrossings(Render(layer, FrameOptions{1.0}));
    const Crossings draft = GreenCrossings(Render(layer, FrameOptions{1.0, 30, false, 2}));
    EXPECT_EQ(full.columns, (std::set<int32_t>{20, 21, 52, 53, 84, 85, 116, 117}));
    std::set<int32_t> scaled;
    for (const int32_t x : draft.columns) scaled.insert(2 * x);
    EXPECT_EQ(scaled, (std::set<int32_t>{20, 52, 84, 116}));
}

TEST_F(Weave, ThePatternStartsAtTheSelectionsCorner) {
    Plain();
    weave.instance.SetSelection(Image(80, 60, Pixel{255, 0, 0, 0}), 5, 3);
    const Crossings c = GreenCrossings(Render(Image(80, 60, kLayerColour)));
    EXPECT_EQ(c.columns, (std::set<int32_t>{5, 6, 37, 38, 69, 70}));
    EXPECT_EQ(c.rows, (std::set<int32_t>{3, 4, 35, 36}));
}

TEST_F(Weave, AFrameDependsOnlyOnItsTime) {
    weave.Set("FlowVelocity", "23");
    weave.Set("FlowDirection", "200");
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image fresh = Render(layer, FrameOptions{2.0});
    EXPECT_NE(fresh, Render(layer));

    zoka_test::AppliedEffect other("Weave");
    other.Set("FlowVelocity", "23");
    other.Set("FlowDirection", "200");
    Render(other, layer, FrameOptions{3.0});
    Render(other, layer, FrameOptions{0.5});
    EXPECT_EQ(Render(other, layer, FrameOptions{2.0}), fresh);
}

TEST_F(Weave, BandsOfAnySizeGiveTheSameFrame) {
    weave.Set("FlowVelocity", "30");
    weave.Set("RibbonWidth", "9");
    const Image layer = zoka_test::TestLayer(37, 23);
    for (const bool smear : {false, true}) {
        weave.Set("Smear", smear ? "on" : "off");
        weave.instance.PrepareTime(FrameOptions{1.5});
        for (const auto& [w, h] : {std::pair{1, 23}, {7, 5}, {37, 1}, {16, 16}}) {
            const auto run = zoka_test::RenderWholeAndInStrips(kWeaveIndex, weave.instance, layer, w, h);
            ASSERT_EQ(run.wholeResult, 0);
            ASSERT_EQ(run.splitResult, 0);
            EXPECT_EQ(run.whole, run.split) << w << "x" << h << (smear ? " smeared" : "");
        }
    }
    EXPECT_EQ(weave.instance.OutstandingCheckouts(), 0);
}

TEST_F(Weave, AFailedCheckoutOfTheFlowFailsTheFrameWithItsMessage) {
    const Image layer = zoka_test::TestLayer();
    // Frame setup and the render check out the selection layer; then come
    // the speed and the direction of the first time step.
    weave.host.FailCheckout(4, kHostErrorBase + 1);
    const auto frame = weave.instance.RenderFrame(layer, FrameOptions{1.0});
    EXPECT_EQ(frame.code, kHostErrorBase + 1);
    EXPECT_EQ(frame.message, "Lumetta AE Error : Error checking out parameter");
    EXPECT_TRUE(frame.displayError);
    EXPECT_EQ(frame.image, zoka_test::FallbackOutput(layer, layer.Width(), layer.Height()));
    EXPECT_EQ(weave.instance.OutstandingCheckouts(), 0);
    EXPECT_EQ(weave.host.LiveHandles(), 0u);

    weave.host.FailCheckout(3, kHostErrorCancelled);
    const auto cancelled = weave.instance.RenderFrame(layer, FrameOptions{1.0});
    EXPECT_EQ(cancelled.code, kHostErrorCancelled);
    EXPECT_FALSE(cancelled.displayError);
    EXPECT_EQ(weave.instance.OutstandingCheckouts(), 0);
}

TEST_F(Weave, FailureSweep) {
    zoka_test::RunFailureSweep("Weave", zoka_test::TestLayer());
    zoka_test::RunFailureSweep(
        "Weave", zoka_test::TestLayer(),
        [](zoka_test::AppliedEffect& e) {
            e.Set("FlowVelocity", "12");
            e.Set("Smear", "on");
            e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        },
        FrameOptions{0.5, 24, false, 3});
}

}  // namespace
}  // namespace zoka
