// Motion Trail: the smear's direction, reach, strength and area.
#include <gtest/gtest.h>

#include "effects/motion_trail.h"
#include "ourhost/param_values.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

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

}  // namespace
}  // namespace zoka
