// Gaussian Blur and Squint.
#include <gtest/gtest.h>

#include "effects/squint.h"
#include "ourhost/param_values.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

void Set(AppliedEffect& effect, size_t hostIndex, const std::string& value) {
    zoka_test::SetValue(effect.instance, hostIndex, value);
}

TEST(GaussianBlur, WidthZeroLeavesTheLayerButGrowsTheOutputByOne) {
    AppliedEffect blur("Gaussian Blur");
    Set(blur, 3, "0");
    const Image layer = zoka_test::TestLayer();
    const auto frame = blur.instance.RenderFrame(layer, {});
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image.Width(), layer.Width() + 2);
    EXPECT_EQ(frame.originX, 1);
    for (int y = 0; y < layer.Height(); ++y) {
        for (int x = 0; x < layer.Width(); ++x) EXPECT_EQ(frame.image.At(x + 1, y + 1), layer.At(x, y));
    }
    EXPECT_EQ(frame.image.At(0, 0), (Pixel{0, 255, 255, 255}));
}

TEST(GaussianBlur, AtHalfResolutionTheRadiusHalves) {
    const Image layer = zoka_test::TestLayer(40, 30);
    AppliedEffect draft("Gaussian Blur");
    FrameOptions half;
    half.downsample = 2;
    const auto drafted = draft.instance.RenderFrame(layer, half);
    AppliedEffect full("Gaussian Blur");
    Set(full, 3, "10");
    const auto direct = full.instance.RenderFrame(layer.Shrunk(2), {});
    ASSERT_EQ(drafted.code, kHostNoError);
    EXPECT_EQ(drafted.image, direct.image);
    EXPECT_EQ(drafted.originX, 11);
}

TEST(GaussianBlur, TheSameLayerAlwaysGivesTheSamePixels) {
    const Image layer = zoka_test::TestLayer(50, 40);
    for (const char* width : {"6", "45"}) {
        AppliedEffect a("Gaussian Blur"), b("Gaussian Blur");
        Set(a, 3, width);
        Set(b, 3, width);
        EXPECT_EQ(a.instance.RenderFrame(layer, {}).image, b.instance.RenderFrame(layer, {}).image);
    }
}

TEST(GaussianBlur, FailureSweepForTheTableAndTheFft) {
    for (const char* width : {"4", "35"}) {
        zoka_test::RunFailureSweep("Gaussian Blur", zoka_test::TestLayer(8, 6),
                                   [&](AppliedEffect& e) { e.Set("Width", width); });
    }
}

TEST(Squint, TheRingRoundsHalvesTowardZero) {
    int32_t ring[24];
    ASSERT_EQ(SquintRingSize(1), 6);
    BuildSquintRing(1, 6, ring);
    const int32_t one[] = {1, 0, 1, 1, 0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(one, one + 12, ring));
    ASSERT_EQ(SquintRingSize(2), 12);
    BuildSquintRing(2, 12, ring);
    const int32_t two[] = {2, 0, 2, 1, 1, 2, 0, 2, 0, 2, -1, 1, -1, 0, -1, 0, 0, -1, 0, -1, 1, -1, 2, 0};
    EXPECT_TRUE(std::equal(two, two + 24, ring));
    EXPECT_EQ(SquintRingSize(0.1), 1);
}

TEST(Squint, ARingPastTheEdgeReadsTheMirroredPixels) {
    EXPECT_EQ(ReflectInto(-3, 0, 10), 3);
    EXPECT_EQ(ReflectInto(12, 0, 10), 6);
    EXPECT_EQ(ReflectInto(4, 0, 10), 4);
    EXPECT_EQ(ReflectInto(-30, 0, 10), 0) << "mirrored past the far edge, then clamped";
}

TEST(Squint, ARadiusBelowTwoThirdsOfAPixelLeavesTheLayer) {
    AppliedEffect squint("Squint");
    Set(squint, 3, "0.5");
    const Image layer = zoka_test::TestLayer();
    const auto frame = squint.instance.RenderFrame(layer, {});
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image.At(frame.originX + 5, frame.originY + 5), layer.At(5, 5));
}

TEST(Squint, ATransparentRingLeavesATransparentPixelWithItsColour) {
    AppliedEffect squint("Squint");
    Set(squint, 3, "2");
    Image layer(9, 9, Pixel{0, 10, 20, 30});
    layer.Set(4, 4, Pixel{255, 200, 100, 50});
    const auto frame = squint.instance.RenderFrame(layer, {});
    ASSERT_EQ(frame.code, kHostNoError);
    // The centre's ring misses the centre itself.
    EXPECT_EQ(frame.image.At(frame.originX + 4, frame.originY + 4), (Pixel{0, 200, 100, 50}));
    // Two pixels to its left, the ring meets it twice (offsets 2,0 first and
    // last).
    const Pixel near = frame.image.At(frame.originX + 2, frame.originY + 4);
    EXPECT_EQ(near.r, 200);
    EXPECT_EQ(near.a, 2 * 255 / 12);
}

TEST(Squint, FailureSweep) {
    zoka_test::RunFailureSweep("Squint", zoka_test::TestLayer());
}

}  // namespace
}  // namespace zoka
