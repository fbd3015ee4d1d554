// Motion Trail: the smear's direction, reach, strength and area.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/motion_trail.h"
#include "ourhost/effect_instance.h"
#include "ourhost/param_values.h"
#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

constexpr int kMotionTrailIndex = 10;

class Trail : public ::testing::Test {
protected:
    // Host indices: 1 length, 2 opacity, 3 direction, 4 "Just Smear Edges".
    void Set(size_t index, const std::string& value) {
        zoka_test::SetValue(trail.instance, index, value);
    }
    ourhost::FrameResult Render(const Image& layer) {
        auto frame = trail.instance.RenderFrame(layer, {});
        EXPECT_EQ(frame.code, kHostNoError);
        EXPECT_EQ(trail.host.LiveHandles(), 0u);
        return frame;
    }
    AppliedEffect trail{"Motion Trail"};
};

TEST_F(Trail, LengthZeroLeavesTheLayerAsItWas) {
    Set(1, "0");
    const Image layer = zoka_test::TestLayer();
    const auto frame = Render(layer);
    EXPECT_EQ(frame.image, layer);
}

TEST_F(Trail, TheHostsAngleNinetyPointsRightAndGrowsTheOutputThere) {
    Set(1, "7");
    Set(3, "90");
    Set(4, "off");
    Image layer(4, 3);
    for (int y = 0; y < 3; ++y) layer.Set(0, y, Pixel{255, 255, 0, 0});
    const auto frame = Render(layer);
    EXPECT_EQ(frame.image.Width(), 11);
    EXPECT_EQ(frame.image.Height(), 3);
    EXPECT_EQ(frame.originX, 0);
    EXPECT_GT(frame.image.At(5, 1).a, 0) << "the trail lies to the right";
    EXPECT_EQ(frame.image.At(5, 1).r, 255);
    EXPECT_EQ(frame.image.At(8, 1).a, 0) << "beyond the trail's length";
}

TEST_F(Trail, TheHostsAngleZeroPointsUp) {
    Set(1, "6");
    Set(3, "0");
    Image layer(3, 4);
    for (int x = 0; x < 3; ++x) layer.Set(x, 3, Pixel{255, 0, 0, 255});
    const auto frame = Render(layer);
    EXPECT_EQ(frame.image.Height(), 10);
    EXPECT_EQ(frame.originY, 6);
    EXPECT_GT(frame.image.At(1, 7).a, 0) << "just above the layer's bottom row";
    EXPECT_EQ(frame.image.At(1, 9).b, 255);
}

TEST_F(Trail, DiagonalTrailsReachEveryPixelAlongTheirPath) {
    Set(1, "8");
    Set(3, "45");  // up and to the right
    Set(4, "off");
    Image layer(16, 16);
    for (int y = 0; y < 16; ++y) layer.Set(0, y, Pixel{255, 0, 200, 0});
    const auto frame = Render(layer);
    ASSERT_EQ(frame.originY, 5);
    // Every pixel two to the right of the bar and two up gets the bar's trail,
    // near the top of the image as well as near the bottom.
    for (int y = 0; y < 14; ++y) {
        EXPECT_GT(frame.image.At(2, y + frame.originY).a, 0) << "row " << y;
        EXPECT_EQ(frame.image.At(2, y + frame.originY).g, 200) << "row " << y;
    }
}

TEST_F(Trail, ShortLengthsStillSmearOverThreePixels) {
    Set(1, "1");
    Set(3, "90");
    Set(4, "off");
    Image layer(4, 1);
    layer.Set(0, 0, Pixel{255, 255, 0, 0});
    const auto frame = Render(layer);
    EXPECT_EQ(frame.image.Width(), 5) << "the area grows by the length alone";
    // The box of three samples holds the one opaque pixel: coverage 256 / 3.
    EXPECT_EQ(frame.image.At(1, 0), (Pixel{84, 255, 0, 0}));
    EXPECT_EQ(frame.image.At(2, 0), (Pixel{84, 255, 0, 0}));
    EXPECT_EQ(frame.image.At(3, 0).a, 0);
    EXPECT_EQ(frame.image.At(0, 0), (Pixel{255, 255, 0, 0}));
}

TEST_F(Trail, OpacityZeroKeepsTheColoursAndRoundsTheAlphaThroughTheBlend) {
    Set(2, "0");
    Set(3, "90");
    const Image layer = zoka_test::TestLayer();
    const auto frame = Render(layer);
    for (int y = 0; y < layer.Height(); ++y) {
        for (int x = 0; x < layer.Width(); ++x) {
            const Pixel in = layer.At(x, y);
            const Pixel out = frame.image.At(x, y);
            EXPECT_EQ(out.a, in.a * 256 / 255 * 255 / 256) << x << "," << y;
            if (in.a > 0) {
                EXPECT_EQ(out.r, in.r) << x << "," << y;
            }
        }
    }
}

TEST_F(Trail, AFullyTransparentLayerLeavesNoTrail) {
    const auto frame = Render(Image(10, 8, Pixel{0, 40, 50, 60}));
    for (int y = 0; y < frame.image.Height(); ++y) {
        for (int x = 0; x < frame.image.Width(); ++x) EXPECT_EQ(frame.image.At(x, y).a, 0);
    }
}

TEST_F(Trail, ADivisorBelowOneCountsAsOne) {
    const Image layer(10, 10);
    ASSERT_EQ(trail.instance.FrameSetup(layer, {}), kHostNoError);
    trail.instance.Input().downsampleX = HostRatio{2, 1};
    ASSERT_EQ(trail.instance.Call(kCmdFrameSetup), kHostNoError);
    const int32_t grownAtHalfDivisor = trail.instance.Output().height;
    trail.instance.Input().downsampleX = HostRatio{1, 1};
    ASSERT_EQ(trail.instance.Call(kCmdFrameSetup), kHostNoError);
    EXPECT_EQ(grownAtHalfDivisor, trail.instance.Output().height);
}

TEST(TrailSweep, DiagonalsAndNearVerticalDirectionsSweepRows) {
    for (const double d : {45.0, 90.0, 135.0, 225.0, 270.0, 315.0}) EXPECT_TRUE(TrailSweepsRows(d)) << d;
    for (const double d : {0.0, 44.9, 135.1, 180.0, 224.9, 315.1}) EXPECT_FALSE(TrailSweepsRows(d)) << d;
}

TEST(TrailSweep, FailureSweepForBothSweepsAndBothSmears) {
    for (const char* direction : {"90", "200"}) {
        for (const char* taper : {"on", "off"}) {
            zoka_test::RunFailureSweep("Motion Trail", zoka_test::TestLayer(),
                                       [&](AppliedEffect& e) {
                                           e.Set("Direction", direction);
                                           e.Set("Taper", taper);
                                       });
        }
    }
}

// Opaque patches (whose samples reset the fading smear), runs of partial
// alpha of either weight, fully transparent holes, and colours that differ
// from pixel to pixel, so that a line's state anywhere depends on where it
// was caught up from.
Image PatchyLayer(int32_t width, int32_t height) {
    Image layer(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t cell = (x / 5 + 2 * (y / 4)) % 5;
            const uint8_t alpha[] = {255, 0, 200, 255, 12};
            layer.Set(x, y, Pixel{alpha[cell], static_cast<uint8_t>(37 * x + 11 * y),
                                  static_cast<uint8_t>(5 * x * y), static_cast<uint8_t>(250 - 9 * y)});
        }
    }
    return layer;
}

// The same colours with no opaque pixel: nothing resets the fading smear.
Image TranslucentLayer(int32_t width, int32_t height) {
    Image layer = PatchyLayer(width, height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            Pixel p = layer.At(x, y);
            p.a = static_cast<uint8_t>(p.a == 0 ? 0 : 30 + (x * 13 + y * 7) % 200);
            layer.Set(x, y, p);
        }
    }
    return layer;
}

struct TrailCase {
    const char* length;
    const char* direction;  // the host's angle: 0 up, 90 right
    const char* taper;
    int32_t downsample;
};

ourhost::FrameResult RenderAtWorkers(const TrailCase& c, const Image& layer, int32_t workers) {
    AppliedEffect e{"Motion Trail"};
    e.host.UseWorkers(zoka_test::LoadedModule().WorkerOffer(), workers);
    e.Set("Length", c.length);
    e.Set("Direction", c.direction);
    e.Set("Taper", c.taper);
    e.Set("Opacity", "80");
    ourhost::FrameOptions options;
    options.downsample = c.downsample;
    auto frame = e.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(e.host.LiveHandles(), 0u);
    return frame;
}

// Each band sweeps only its own positions and keeps only the lines it reads,
// catching lines up where they enter: every pixel at 2, 3 and 5 bands is the
// pixel at one. Directions sweep columns and rows both ways, straight and
// slanted (lines drifting either way, by up to a row a step); lengths run
// from none to far beyond the frame; frames are odd and even in width, at
// full size and in drafts.
TEST(TrailBands, EveryPixelAtSeveralBandsIsThePixelAtOne) {
    const std::vector<Image> layers = {PatchyLayer(37, 23), TranslucentLayer(30, 19),
                                       Image(21, 12, Pixel{0, 90, 40, 10}), zoka_test::TestLayer(25, 16)};
    std::vector<TrailCase> cases;
    for (const char* direction : {"90", "70", "120", "270", "250", "300", "0", "20", "180", "200", "45",
                                  "135", "225", "315", "333"}) {
        for (const char* length : {"1", "9", "40"}) {
            for (const char* taper : {"on", "off"}) cases.push_back({length, direction, taper, 1});
        }
        cases.push_back({"0", direction, "on", 1});
        cases.push_back({"25", direction, "on", 2});
        cases.push_back({"25", direction, "off", 3});
    }
    for (const char* direction : {"70", "200", "315"}) {
        for (const char* taper : {"on", "off"}) cases.push_back({"999", direction, taper, 1});
    }
    for (const TrailCase& c : cases) {
        for (size_t i = 0; i < layers.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "layer " << i << ", length " << c.length << ", direction "
                                            << c.direction << ", taper " << c.taper << ", downsample "
                                            << c.downsample);
            const ourhost::FrameResult alone = RenderAtWorkers(c, layers[i], 1);
            for (const int32_t bands : {2, 3, 5}) {
                const ourhost::FrameResult split = RenderAtWorkers(c, layers[i], bands);
                ASSERT_EQ(split.image.Width(), alone.image.Width());
                ASSERT_TRUE(split.image == alone.image) << bands << " bands";
            }
        }
    }
}

// The kernel in tiles and in single rows and columns: bands that cover part
// of the sweep's positions and part of its lines give the whole render's
// pixels.
TEST(TrailBands, TilesOfEveryShapeGiveTheWholeRendersPixels) {
    const Image layer = PatchyLayer(33, 21);
    for (const char* direction : {"70", "200", "250", "315"}) {
        for (const char* taper : {"on", "off"}) {
            AppliedEffect e{"Motion Trail"};
            e.Set("Length", "12");
            e.Set("Direction", direction);
            e.Set("Taper", taper);
            e.instance.PrepareTime({});
            zoka_test::ExpectStripsAgree(kMotionTrailIndex, e.instance, layer,
                                         std::string("direction ") + direction + ", taper " + taper);
        }
    }
}

}  // namespace
}  // namespace zoka
