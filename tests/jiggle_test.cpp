// Jiggle: every pixel displaced by the twisted gradient of bubbling noise.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "tests/support/band_split.h"
#include "tests/support/flow_checks.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

constexpr int kJiggleIndex = 16;

// Channels of two images that differ by more than one level, comparing a
// at (x + dx, y) with b at (x, y) over the rectangle given.
int FarChannels(const Image& a, const Image& b, int32_t dx, int32_t left, int32_t top,
                int32_t right, int32_t bottom) {
    int far = 0;
    for (int32_t y = top; y < bottom; ++y) {
        for (int32_t x = left; x < right; ++x) {
            const Pixel p = a.At(x + dx, y), q = b.At(x, y);
            for (const int d : {p.a - q.a, p.r - q.r, p.g - q.g, p.b - q.b}) far += std::abs(d) > 1;
        }
    }
    return far;
}

// One second at 30 pixels per second to the right moves the pattern by 30
// pixels. On a layer that repeats every 10 columns, a pattern that drifts as
// a whole gives the same picture 30 columns further on. Brownian Motion's
// coarsest octave stays in place, so its picture changes.
TEST(Jiggle, BubblesAndTurbulenceDriftWholeBrownianMotionKeepsItsCoarsestOctave) {
    Image layer(200, 80);
    for (int32_t y = 0; y < 80; ++y) {
        for (int32_t x = 0; x < 200; ++x) {
            const double wave = std::sin(x * 0.6283185307179586);
            const auto red = static_cast<uint8_t>(128 + 100 * wave);
            const auto blue = static_cast<uint8_t>(128 - 90 * wave);
            layer.Set(x, y, Pixel{255, red, static_cast<uint8_t>(3 * y), blue});
        }
    }
    for (const char* type : {"1", "2", "3"}) {
        zoka_test::AppliedEffect jiggle("Jiggle");
        jiggle.Set("Field", type);
        jiggle.Set("WarpAmount", "8");
        jiggle.Set("FlowVelocity", "30");
        jiggle.Set("FlowDirection", "90");
        const auto start = zoka_test::RenderChecked(jiggle, layer);
        const auto later = zoka_test::RenderChecked(jiggle, layer, FrameOptions{1.0});
        // Away from the layer's edges, within reach of every displacement.
        const int32_t g = start.originX;
        const int far = FarChannels(later.image, start.image, 30, g + 25, g + 25, g + 145, g + 55);
        if (type[0] == '2') {
            EXPECT_GT(far, 500) << "Brownian Motion";
        } else {
            EXPECT_EQ(far, 0) << "movement type " << type;
        }
        EXPECT_GT(FarChannels(later.image, start.image, 0, g, g, g + 200, g + 80), 500);
    }
}

// Where each output pixel was sampled from, read back from a layer whose red
// and green channels grow by 2 per column and row.
struct Displacements {
    double X(int32_t x, int32_t y) const { return (At(x, y).r - 30) / 2.0 - x; }
    double Y(int32_t x, int32_t y) const { return (At(x, y).g - 30) / 2.0 - y; }
    Pixel At(int32_t x, int32_t y) const {
        return frame.image.At(x + frame.originX, y + frame.originY);
    }
    const ourhost::FrameResult& frame;
};

// The twist turns the displacement: host angle 90 moves pixels along the
// noise's gradient, host angle 0 along its level lines, a quarter turn on.
TEST(Jiggle, TwistTurnsTheDisplacementFromTheGradientToTheLevelLines) {
    const Image layer = zoka_test::CoordinateLayer(90);
    zoka_test::AppliedEffect jiggle("Jiggle");
    jiggle.Set("Twist", "90");
    const auto along = zoka_test::RenderChecked(jiggle, layer);
    jiggle.Set("Twist", "0");
    const auto across = zoka_test::RenderChecked(jiggle, layer);
    const Displacements gradient{along}, level{across};
    double largest = 0;
    for (int32_t y = 20; y < 70; ++y) {
        for (int32_t x = 20; x < 70; ++x) {
            largest = std::max(largest, std::hypot(gradient.X(x, y), gradient.Y(x, y)));
            ASSERT_NEAR(level.X(x, y), gradient.Y(x, y), 0.6) << x << "," << y;
            ASSERT_NEAR(level.Y(x, y), -gradient.X(x, y), 0.6) << x << "," << y;
        }
    }
    EXPECT_GT(largest, 4);
}

// Displacements far beyond the source sample its edge cells with
// extrapolated weights, clamped; a source of one column (two columns at half
// resolution, grown by nothing) samples that column alone.
TEST(Jiggle, ReachesBeyondTheSourceStayInsideIt) {
    zoka_test::AppliedEffect wild("Jiggle");
    wild.Set("WarpAmount", "199");
    wild.Set("BubbleSize", "1");
    zoka_test::RenderChecked(wild, zoka_test::TestLayer());

    zoka_test::AppliedEffect thin("Jiggle");
    thin.Set("WarpAmount", "1");
    const Image column(2, 30, Pixel{255, 90, 160, 220});
    const auto frame = zoka_test::RenderChecked(thin, column, FrameOptions{0, 30, false, 2});
    ASSERT_EQ(frame.image.Width(), 1);
    for (int32_t y = 0; y < frame.image.Height(); ++y) {
        const Pixel p = frame.image.At(0, y);
        EXPECT_NEAR(p.r, 90, 1);
        EXPECT_NEAR(p.g, 160, 1);
        EXPECT_NEAR(p.b, 220, 1);
        EXPECT_NEAR(p.a, 255, 1);
    }
}

TEST(Jiggle, AFrameFollowsItsTimeAndSeedAlone) {
    for (const char* type : {"1", "2", "3"}) {
        zoka_test::ExpectFramesFollowTimeAndSeedAlone(
            "Jiggle",
            [type](zoka_test::AppliedEffect& e) {
                e.Set("Field", type);
                e.Set("FlowVelocity", "30");
                e.Set("FlowDirection", "200");
                e.Set("PhaseVelocity", "100");
            },
            zoka_test::TestLayer(40, 30));
    }
}

// Each band fills its own noise, with positions summed from the corner of
// the whole output's field: every split, into strips or tiles, gives the
// whole frame's bytes.
TEST(Jiggle, BandsAgreeExactly) {
    for (const char* field : {"1", "2", "3"}) {
        zoka_test::AppliedEffect jiggle("Jiggle");
        jiggle.Set("Field", field);
        jiggle.Set("FlowVelocity", "30");
        jiggle.Set("PhaseVelocity", "45");
        jiggle.instance.PrepareTime(FrameOptions{1.5});
        const Image layer = zoka_test::TestLayer(37, 23);
        zoka_test::ExpectStripsAgree(kJiggleIndex, jiggle.instance, layer, std::string("Field ") + field, 0);
    }
}

TEST(Jiggle, FailureSweep) {
    zoka_test::RunFailureSweep("Jiggle", zoka_test::TestLayer());
    for (const char* type : {"2", "3"}) {
        zoka_test::RunFailureSweep(
            "Jiggle", zoka_test::TestLayer(),
            [type](zoka_test::AppliedEffect& e) {
                e.Set("Field", type);
                e.Set("FlowVelocity", "12");
                e.Set("PhaseVelocity", "50");
                e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
            },
            FrameOptions{0.5, 24, false, 2});
    }
}

}  // namespace
}  // namespace zoka
