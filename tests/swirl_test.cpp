// Swirl: the layer smeared along the streamlines of a random whirlpool field,
// with grain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "base/result_codes.h"
#include "noise/noise_field.h"
#include "raster/raster.h"
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

constexpr int kSwirlIndex = 13;

// The field of the default seed at time 0, over the output grown by `reach`
// as the kernel lays it out: vectors turned by `angle` degrees (the twist
// after the host angle's conversion) and the grain of `detail`.
struct Field {
    Field(const Image& output, int32_t reach, double angle, int16_t detail) {
        area = PixelRect{-reach, -reach, output.Height() + reach, output.Width() + reach};
        EXPECT_EQ(field.Init(1.0, detail, 0, 0), kOk);
        EXPECT_EQ(field.FillFlowVectors(vectors.Receive(), area, 30, angle, 0, 0), kOk);
        EXPECT_EQ(field.FillGrain(grain.Receive(), area), kOk);
    }
    int Vector(int32_t x, int32_t y, int axis) const {
        return reinterpret_cast<const int8_t*>(vectors->Pixel(x, y))[axis];
    }
    int Grain(int32_t x, int32_t y) const {
        return *reinterpret_cast<const int8_t*>(grain->Pixel(x, y));
    }

    zoka_test::ModuleMemoryScope memory;
    NoiseField field;
    PixelRect area;
    ScopedRaster vectors, grain;
};

// With Warp the walk runs forward only; where its first step already leaves
// the source's last column or row, the pixel is its own value plus grain.
TEST(Swirl, AStreamlineLeavingAtTheEdgeKeepsItsOwnPixelAndGrain) {
    zoka_test::AppliedEffect swirl("Swirl");
    swirl.Set("StreakDetail", "100");
    const Image out = zoka_test::RenderChecked(swirl, zoka_test::TestLayer()).image;
    const Field f(out, 10, 45, 100);  // host angle 45; Warp reaches twice Smear Length
    const int32_t right = out.Width() - 1, bottom = out.Height() - 1;
    int leaving = 0;
    const auto check = [&](int32_t x, int32_t y) {
        ++leaving;
        // Outside the layer the source is transparent white.
        const auto v = static_cast<uint8_t>(std::clamp(255 + f.Grain(x, y), 0, 255));
        EXPECT_EQ(out.At(x, y), (Pixel{0, v, v, v})) << x << "," << y;
    };
    for (int32_t y = 0; y <= bottom; ++y) {
        if (f.Vector(right, y, 0) >= 0) check(right, y);
    }
    for (int32_t x = 0; x <= right; ++x) {
        if (f.Vector(x, bottom, 1) >= 0) check(x, bottom);
    }
    EXPECT_GT(leaving, 10);
}

double MeanDifference(const Image& a, const Image& b) {
    double sum = 0;
    for (int32_t y = 0; y < a.Height(); ++y) {
        for (int32_t x = 0; x < a.Width(); ++x) {
            const Pixel p = a.At(x, y), q = b.At(x, y);
            sum += std::abs(p.r - q.r) + std::abs(p.g - q.g) + std::abs(p.b - q.b);
        }
    }
    return sum / (3.0 * a.Width() * a.Height());
}

// Turning the field half round reverses every streamline. Without Warp the
// smear runs both ways alike, so that changes next to nothing; with Warp it
// runs forward only, and the picture changes.
TEST(Swirl, WarpSmearsForwardOnlyWithoutItBothWaysAlike) {
    const Image layer = zoka_test::TestLayer(60, 40);
    for (const char* warp : {"off", "on"}) {
        zoka_test::AppliedEffect swirl("Swirl");
        swirl.Set("Warp", warp);
        swirl.Set("StreakDetail", "1");
        const Image forward = zoka_test::RenderChecked(swirl, layer).image;
        swirl.Set("Twist", "225");
        const Image backward = zoka_test::RenderChecked(swirl, layer).image;
        const double reversed = MeanDifference(forward, backward);
        if (warp[1] == 'f') {
            EXPECT_LT(reversed, 1);
        } else {
            EXPECT_GT(reversed, 20);
        }
    }
}

// The mean position a pixel's forward walk samples, read back from a layer
// whose red and green grow by 2 per column and row, points along the
// streamline. Host angle 90 (no twist) smears along the noise's gradient,
// host angle 0 (a quarter turn) along its level lines.
TEST(Swirl, TwistTurnsTheStreamlinesFromTheGradientToTheLevelLines) {
    const Image layer = zoka_test::CoordinateLayer(90);
    const auto render = [&](const char* twist) {
        zoka_test::AppliedEffect swirl("Swirl");
        swirl.Set("Twist", twist);
        swirl.Set("StreakDetail", "1");
        return zoka_test::RenderChecked(swirl, layer);
    };
    const auto along = render("90"), across = render("0");
    const Field gradient(along.image, 10, 0, 1);  // the field untwisted
    const auto alignment = [&](const ourhost::FrameResult& frame) {
        double sum = 0;
        int count = 0;
        for (int32_t y = 20; y < 70; ++y) {
            for (int32_t x = 20; x < 70; ++x) {
                const Pixel p = frame.image.At(x + frame.originX, y + frame.originY);
                const double mx = (p.r - 30) / 2.0 - x, my = (p.g - 30) / 2.0 - y;
                const double gx = gradient.Vector(x + frame.originX, y + frame.originY, 0);
                const double gy = gradient.Vector(x + frame.originX, y + frame.originY, 1);
                const double norm = std::hypot(mx, my) * std::hypot(gx, gy);
                if (norm == 0) continue;
                sum += (mx * gx + my * gy) / norm;
                ++count;
            }
        }
        EXPECT_GT(count, 2000);
        return sum / count;
    };
    EXPECT_GT(alignment(along), 0.8);
    EXPECT_LT(std::abs(alignment(across)), 0.15);
}

// The red channel over the middle of a flat grey layer, away from the edges
// that every walk of the defaults might reach.
struct Spread {
    int32_t lowest = 255, highest = 0;
    int white = 0, dark = 0;  // of the 416 pixels: 255, below 128
};

Spread SpreadOf(const char* detail, uint8_t grey) {
    zoka_test::AppliedEffect swirl("Swirl");
    swirl.Set("StreakDetail", detail);
    const auto frame = zoka_test::RenderChecked(swirl, Image(50, 40, Pixel{255, grey, grey, grey}));
    Spread s;
    for (int32_t y = 12; y < 28; ++y) {
        for (int32_t x = 12; x < 38; ++x) {
            const int32_t r = frame.image.At(x + frame.originX, y + frame.originY).r;
            s.lowest = std::min(s.lowest, r);
            s.highest = std::max(s.highest, r);
            s.white += r == 255 ? 1 : 0;
            s.dark += r < 128 ? 1 : 0;
        }
    }
    return s;
}

// Streak Detail 1 gives grain within one level (at most two per step), so
// the mean stays within two levels; 100 gives grain within 127, and the
// sums that pass white are clamped, not wrapped.
TEST(Swirl, StreakDetailSetsTheGrain) {
    const Spread faint = SpreadOf("1", 128);
    EXPECT_GE(faint.lowest, 126);
    EXPECT_LE(faint.highest, 129);
    const Spread strong = SpreadOf("100", 128);
    EXPECT_LT(strong.lowest, 100);
    EXPECT_GT(strong.highest, 156);
    const Spread bright = SpreadOf("100", 250);
    EXPECT_GT(bright.white, 100);
    EXPECT_LT(bright.dark, 20);
}

// Walks far longer than the layer, every way of sampling: each stops at the
// source's edge, and no sample falls outside the source or the field.
TEST(Swirl, LongWalksOnATinyLayerStayInsideIt) {
    for (const char* warp : {"on", "off"}) {
        for (const char* smooth : {"on", "off"}) {
            zoka_test::AppliedEffect swirl("Swirl");
            swirl.Set("Warp", warp);
            swirl.Set("Smooth", smooth);
            swirl.Set("SmearLength", "30");
            swirl.Set("WhirlpoolSpacing", "5");
            swirl.Set("StreakDetail", "100");
            for (const int32_t size : {1, 2, 5}) {
                const Image layer(size, size + 1, Pixel{255, 200, 100, 50});
                EXPECT_EQ(zoka_test::RenderChecked(swirl, layer).image.Width(), size + 60);
                zoka_test::RenderChecked(swirl, layer, FrameOptions{0, 30, false, 3});
            }
        }
    }
}

TEST(Swirl, AFrameFollowsItsTimeAndSeedAlone) {
    zoka_test::ExpectFramesFollowTimeAndSeedAlone(
        "Swirl",
        [](zoka_test::AppliedEffect& e) {
            e.Set("FlowVelocity", "30");
            e.Set("FlowDirection", "200");
            e.Set("PhaseVelocity", "100");
        },
        zoka_test::TestLayer(40, 30));
}

TEST(Swirl, BandsOfAnySizeGiveTheSameFrame) {
    for (const char* warp : {"on", "off"}) {
        zoka_test::AppliedEffect swirl("Swirl");
        swirl.Set("Warp", warp);
        swirl.Set("Smooth", warp);
        swirl.Set("FlowVelocity", "30");
        swirl.Set("PhaseVelocity", "45");
        swirl.instance.PrepareTime(FrameOptions{1.5});
        const Image layer = zoka_test::TestLayer(37, 23);
        zoka_test::ExpectStripsAgree(kSwirlIndex, swirl.instance, layer, std::string("Warp ") + warp);
    }
}

TEST(Swirl, FailureSweep) {
    zoka_test::RunFailureSweep("Swirl", zoka_test::TestLayer());
    zoka_test::RunFailureSweep(
        "Swirl", zoka_test::TestLayer(),
        [](zoka_test::AppliedEffect& e) {
            e.Set("Warp", "off");
            e.Set("Smooth", "off");
            e.Set("FlowVelocity", "12");
            e.Set("PhaseVelocity", "50");
            e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        },
        FrameOptions{0.5, 24, false, 2});
}

}  // namespace
}  // namespace zoka
