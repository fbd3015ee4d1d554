// Weave: ribbons of the layer's own colour crossing over and under, with gap
// crossings painted between them, drifting with the flow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using Positions = std::set<int32_t>;

constexpr Pixel kFlat{255, 200, 0, 50};  // no green, so green crossings stand out

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
    // Ribbons without grain, crossings in green.
    void Plain() {
        weave.Set("ThreadDetail", "0");
        weave.Set("GapColor", "#00FF00");
    }

    zoka_test::AppliedEffect weave{"Weave"};
};

// The columns holding a green crossing pixel.
Positions CrossingColumns(const Image& image) {
    Positions columns;
    for (int32_t y = 0; y < image.Height(); ++y) {
        for (int32_t x = 0; x < image.Width(); ++x) {
            if (image.At(x, y).g >= 250) columns.insert(x);
        }
    }
    return columns;
}

int LargestDifference(const Image& a, const Image& b) {
    int largest = 0;
    for (size_t i = 0; i < a.Bytes().size(); ++i) {
        largest = std::max(largest, std::abs(a.Bytes()[i] - b.Bytes()[i]));
    }
    return largest;
}

TEST_F(Weave, RibbonOneWithoutGapsBecomesThreePixelRibbons) {
    // Period 3, shade table 128, 256, 128: every 3 x 3 cell shows its top
    // ribbon bright along the middle, the checkerboard repeating every 6.
    Plain();
    weave.Set("RibbonWidth", "1");
    weave.Set("GapWidth", "0");
    const Image result = Render(Image(36, 36, kFlat));
    int brights = 0;
    for (int32_t y = 0; y < 36; ++y) {
        for (int32_t x = 0; x < 36; ++x) {
            const Pixel p = result.At(x, y);
            ASSERT_TRUE(p == kFlat || p == (Pixel{255, 100, 0, 25})) << x << "," << y;
            brights += p == kFlat ? 1 : 0;
            EXPECT_EQ(p, result.At(x % 6, y % 6));
        }
    }
    EXPECT_EQ(brights, 36 * 36 / 3);
}

TEST_F(Weave, CrossingsArePaintedOrClearedEvenWhereTheMaskIsEmpty) {
    // Period 32 from the layer's corner: 2 x 2 crossings at 0 and 32. The
    // left half is transparent: no thread there has weight, so its pixels
    // keep their colour, except at the crossings.
    Plain();
    Image layer(80, 40, Pixel{200, 200, 0, 50});
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) layer.Set(x, y, Pixel{0, 10, 20, 30});
    }
    const Positions at{0, 1, 32, 33, 64, 65};
    for (const bool fill : {true, false}) {
        weave.Set("GapFill", fill ? "on" : "off");
        const Image result = Render(layer);
        for (int32_t y = 0; y < 40; ++y) {
            for (int32_t x = 0; x < 80; ++x) {
                const Pixel s = layer.At(x, y), p = result.At(x, y);
                if (at.count(x) != 0 && at.count(y) != 0) {
                    const Pixel crossing = fill ? Pixel{s.a, 0, 255, 0} : Pixel{0, s.r, s.g, s.b};
                    EXPECT_EQ(p, crossing) << x << "," << y;
                } else if (x < 36) {
                    EXPECT_EQ(p, s) << x << "," << y;
                } else if (x >= 40) {
                    EXPECT_EQ(p.a, 200) << x << "," << y;
                }
            }
        }
    }
}

TEST_F(Weave, ShadowAndGrainAreAllThatChangeARibbon) {
    // No grain, no shadow, no gaps: the layer comes back as it was.
    weave.Set("ThreadDetail", "0");
    weave.Set("ShadowDepth", "0");
    weave.Set("GapWidth", "0");
    const Image layer = zoka_test::TestLayer(50, 40);
    EXPECT_EQ(Render(layer), layer);
    // Shadow Depth 100 shades down to black where a ribbon dives under.
    weave.Set("ShadowDepth", "100");
    std::set<int> reds;
    const Image deep = Render(Image(64, 64, kFlat));
    for (int32_t i = 0; i < 64 * 64; ++i) reds.insert(deep.At(i % 64, i / 64).r);
    EXPECT_EQ(*reds.begin(), 0);
    EXPECT_EQ(*reds.rbegin(), 200);
    EXPECT_GT(reds.size(), 10u);
}

TEST_F(Weave, ThreadsAverageAlongTheirLength) {
    // Smearing without grain averages the source along a thread: rows
    // y - 1 .. y + 1 for Thread Length 3, y - 2 .. y + 1 for 4. Row 11 is
    // red, column 11 green; (40, y) lies on a vertical ribbon, (x, 20) on a
    // horizontal one.
    weave.Set("ThreadDetail", "0");
    weave.Set("ShadowDepth", "0");
    weave.Set("Smear", "on");
    weave.Set("ThreadLength", "3");
    Image layer(64, 40, Pixel{255, 0, 0, 0});
    for (int32_t x = 0; x < 64; ++x) layer.Set(x, 11, Pixel{255, 90, 0, 0});
    for (int32_t y = 0; y < 40; ++y) layer.Set(11, y, Pixel{255, uint8_t(y == 11 ? 90 : 0), 90, 0});
    const Image three = Render(layer);
    for (int32_t i = 8; i <= 14; ++i) {
        EXPECT_EQ(three.At(40, i).r, i >= 10 && i <= 12 ? 30 : 0) << i;
        EXPECT_EQ(three.At(i, 20).g, i >= 10 && i <= 12 ? 30 : 0) << i;
    }
    weave.Set("ThreadLength", "4");
    const Image four = Render(layer);
    for (int32_t y = 8; y <= 14; ++y) EXPECT_EQ(four.At(40, y).r, y >= 10 && y <= 13 ? 22 : 0) << y;
}

TEST_F(Weave, AtDivisorThreeFourPatternPositionsAreMixed) {
    // 1048576 / 3 leaves a third: each pixel mixes four positions weighted
    // 4/9, 2/9, 2/9, 1/9, so its green is 255 times the share of its
    // samples on a crossing. Gap 2 at this resolution, period 12, starting
    // 13 into the repeat of 24: whole crossings at 11, 23 and 35.
    Plain();
    weave.Set("ShadowDepth", "0");
    weave.Set("GapWidth", "6");
    const Image result = Render(Image(120, 120, Pixel{255, 255, 0, 0}), FrameOptions{0, 30, false, 3});
    std::set<int> greens;
    int whole = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const Pixel p = result.At(x, y);
            EXPECT_TRUE(p.r + p.g >= 253 && p.r + p.g <= 255) << x << "," << y;
            greens.insert(p.g);
            whole += p.g >= 254 ? 1 : 0;
        }
    }
    for (const int g : greens) {
        EXPECT_TRUE(g == 0 || g >= 254 || std::abs(g - 28) <= 1 || std::abs(g - 56) <= 1 ||
                    std::abs(g - 85) <= 1 || std::abs(g - 113) <= 1 || std::abs(g - 170) <= 1)
            << g;
    }
    EXPECT_GE(greens.size(), 7u);
    EXPECT_EQ(whole, 3 * 3);
    EXPECT_GE(result.At(23, 35).g, 254);
}

TEST_F(Weave, TheDriftMovesThePatternAtAnyResolutionAndOverAnyDistance) {
    Plain();
    weave.Set("FlowDirection", "90");  // toward larger columns
    weave.Set("FlowVelocity", "20");
    const Image layer(128, 64, kFlat);
    EXPECT_EQ(CrossingColumns(Render(layer)), (Positions{0, 1, 32, 33, 64, 65, 96, 97}));
    EXPECT_EQ(CrossingColumns(Render(layer, FrameOptions{1.0})), (Positions{20, 21, 52, 53, 84, 85, 116, 117}));
    // A draft at half size shows them where the full frame has them.
    Positions scaled;
    for (const int32_t x : CrossingColumns(Render(layer, FrameOptions{1.0, 30, false, 2}))) scaled.insert(2 * x);
    EXPECT_EQ(scaled, (Positions{20, 52, 84, 116}));
    // 1050 one-second frames at 999 pixels a second carry the pattern past
    // its starting offset of 2^20; 26 seconds leave it at the same place in
    // the checkerboard's repeat of 64.
    weave.Set("FlowVelocity", "999");
    const Image textured = zoka_test::TestLayer(70, 50);
    const Image near = Render(textured, FrameOptions{26, 1});
    EXPECT_LE(LargestDifference(near, Render(textured, FrameOptions{1050, 1})), 1);
    EXPECT_GT(LargestDifference(near, Render(textured)), 50);
}

TEST_F(Weave, ThePatternStartsAtTheSelectionsCorner) {
    Plain();
    weave.instance.SetSelection(Image(80, 60, Pixel{255, 0, 0, 0}), 5, 3);
    const Image result = Render(Image(80, 60, kFlat));
    EXPECT_EQ(CrossingColumns(result), (Positions{5, 6, 37, 38, 69, 70}));
    EXPECT_GE(result.At(37, 35).g, 250);
}

TEST_F(Weave, AFrameDependsOnItsTimeAloneAndBandsAgree) {
    weave.Set("FlowVelocity", "23");
    weave.Set("FlowDirection", "200");
    const Image layer = zoka_test::TestLayer(37, 23);
    const Image fresh = Render(layer, FrameOptions{2.0});
    zoka_test::AppliedEffect other("Weave");
    other.Set("FlowVelocity", "23");
    other.Set("FlowDirection", "200");
    Render(other, layer, FrameOptions{3.0});
    Render(other, layer, FrameOptions{0.5});
    EXPECT_EQ(Render(other, layer, FrameOptions{2.0}), fresh);

    weave.Set("RibbonWidth", "9");
    // Threads reaching as far each way, one pixel further after than before,
    // and past the layer's edges: each band's grain covers what its threads read.
    for (const char* length : {"8", "7", "30"})
    for (const char* smear : {"off", "on"}) {
        weave.Set("ThreadLength", length);
        weave.Set("Smear", smear);
        weave.instance.PrepareTime(FrameOptions{1.5});
        zoka_test::ExpectStripsAgree(18, weave.instance, layer,
                                     std::string("length ") + length + ", smear " + smear);
    }
}

// The drift is integrated once before the bands and each band fills the
// grain its threads read: frames at several workers are the frame at one.
TEST_F(Weave, FramesAtSeveralWorkersAreTheFrameAtOne) {
    const Image layer = zoka_test::TestLayer(67, 41);
    for (const char* length : {"8", "7", "30"})
    for (const char* smear : {"off", "on"}) {
        SCOPED_TRACE(testing::Message() << "length " << length << ", smear " << smear);
        zoka_test::ExpectSameFrameAtSeveralWorkers(
            "Weave", layer,
            [&](zoka_test::AppliedEffect& e) {
                e.Set("RibbonWidth", "9");
                e.Set("ThreadLength", length);
                e.Set("Smear", smear);
                e.Set("FlowVelocity", "23");
                e.instance.SetSelection(zoka_test::TestLayer(23, 17), 9.5, 4.25);
            },
            FrameOptions{1.5});
    }
}

TEST_F(Weave, FailuresLeaveTheLayerAndReleaseEverything) {
    // Frame setup and render check out the selection layer; then come the
    // speed and the direction of the first time step.
    const Image layer = zoka_test::TestLayer();
    weave.host.FailCheckout(4, kHostErrorBase + 1);
    const auto frame = weave.instance.RenderFrame(layer, FrameOptions{1.0});
    EXPECT_EQ(frame.code, kHostErrorBase + 1);
    EXPECT_EQ(frame.message, "Lumetta AE Error : Error checking out parameter");
    EXPECT_EQ(frame.image, zoka_test::FallbackOutput(layer, layer.Width(), layer.Height()));
    EXPECT_EQ(weave.instance.OutstandingCheckouts(), 0);
    EXPECT_EQ(weave.host.LiveHandles(), 0u);

    zoka_test::RunFailureSweep("Weave", layer);
    zoka_test::RunFailureSweep(
        "Weave", layer,
        [](zoka_test::AppliedEffect& e) {
            e.Set("FlowVelocity", "12");
            e.Set("Smear", "on");
            e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        },
        FrameOptions{0.5, 24, false, 3});
}

}  // namespace
}  // namespace zoka
