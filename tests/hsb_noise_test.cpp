// HSB Noise: hue, saturation, brightness and opacity varied by drifting,
// undulating noise.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;

// Host indices of the effect's parameters.
enum : size_t {
    kHue = 3,
    kSaturation,
    kBrightness,
    kOpacity,
    kLumpWidth,
    kLumpHeight,
    kSeed,
    kDirection,
    kSpeed,
    kUndulation
};

constexpr int kHsbNoiseIndex = 8;

class HsbNoise : public ::testing::Test {
protected:
    void Set(size_t index, const std::string& value) {
        zoka_test::SetValue(noise.instance, index, value);
    }
    static Image Render(zoka_test::AppliedEffect& effect, const Image& layer,
                        const FrameOptions& options = {}) {
        auto frame = effect.instance.RenderFrame(layer, options);
        EXPECT_EQ(frame.code, kHostNoError) << frame.message;
        EXPECT_EQ(effect.host.LiveHandles(), 0u);
        EXPECT_TRUE(effect.host.Faults().empty());
        return frame.image;
    }
    Image Render(const Image& layer, const FrameOptions& options = {}) {
        return Render(noise, layer, options);
    }
    void NoVariation() {
        for (const size_t i : {kHue, kSaturation, kBrightness, kOpacity}) Set(i, "0");
    }

    zoka_test::AppliedEffect noise{"HSB Noise"};
};

// Channels that differ by more than one level, and pixels that differ at all.
struct Difference {
    int far = 0;
    int changed = 0;
};

Difference Compare(const Image& a, int32_t ax, const Image& b, int32_t bx, int32_t width) {
    Difference d;
    for (int32_t y = 0; y < a.Height(); ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const Pixel p = a.At(ax + x, y), q = b.At(bx + x, y);
            d.changed += p == q ? 0 : 1;
            for (const int delta : {p.a - q.a, p.r - q.r, p.g - q.g, p.b - q.b}) {
                d.far += std::abs(delta) > 1 ? 1 : 0;
            }
        }
    }
    return d;
}

TEST_F(HsbNoise, WithoutVariationPixelsOnlyRoundTripThroughHsvWithItsFloors) {
    NoVariation();
    const Pixel in[] = {{255, 128, 128, 128}, {255, 0, 0, 0},   {255, 255, 0, 0}, {77, 10, 200, 90},
                        {0, 255, 255, 255},   {1, 3, 2, 1},     {128, 200, 100, 50}};
    // Grey gains saturation 0.02 in the constant grey hue (a faint red), black
    // brightness 0.02; other channels may drop by one through truncation.
    const Pixel out[] = {{255, 128, 125, 125}, {255, 5, 4, 4}, {255, 255, 0, 0}, {77, 9, 200, 89},
                         {0, 255, 249, 249},   {1, 5, 3, 1},   {128, 200, 100, 50}};
    Image layer(7, 1);
    for (int32_t x = 0; x < 7; ++x) layer.Set(x, 0, in[x]);
    const Image result = Render(layer);
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(result.At(x, 0), out[x]) << "pixel " << x;
}

TEST_F(HsbNoise, BlackNeverStaysBlackAndTransparentStaysTransparent) {
    Set(kBrightness, "100");
    Set(kOpacity, "100");
    Image layer(40, 30, Pixel{255, 0, 0, 0});
    for (int32_t y = 0; y < 30; y += 2) {
        for (int32_t x = 0; x < 40; ++x) layer.Set(x, y, Pixel{0, 90, 90, 90});
    }
    const Image result = Render(layer);
    int fainter = 0;
    for (int32_t y = 0; y < 30; ++y) {
        for (int32_t x = 0; x < 40; ++x) {
            const Pixel p = result.At(x, y);
            if (y % 2 == 0) {
                EXPECT_EQ(p.a, 0);
            } else {
                EXPECT_GE(std::max({p.r, p.g, p.b}), 5);
                fainter += p.a < 255 ? 1 : 0;
            }
        }
    }
    EXPECT_GT(fainter, 0) << "opacity varies where there is alpha";
}

// A flat layer, so that only the noise makes a pattern.
Image FlatLayer() { return Image(80, 20, Pixel{255, 200, 120, 60}); }

TEST_F(HsbNoise, TheFlowMovesThePatternTowardItsDirection) {
    Set(kSpeed, "30");
    Set(kDirection, "90");
    const Image start = Render(FlatLayer());
    const Image later = Render(FlatLayer(), FrameOptions{1.0});
    EXPECT_GT(Compare(start, 0, later, 0, 80).changed, 0);
    // One second later the pattern lies 30 pixels further right.
    const Difference shifted = Compare(start, 0, later, 30, 50);
    EXPECT_EQ(shifted.far, 0);
    EXPECT_LT(shifted.changed, 50);
}

TEST_F(HsbNoise, AStillFrameIgnoresTheDrift) {
    Set(kSpeed, "40");
    const Image start = Render(FlatLayer());
    EXPECT_EQ(Render(FlatLayer(), FrameOptions{2.0, 30, true}), start);
    EXPECT_NE(Render(FlatLayer(), FrameOptions{2.0}), start);
}

TEST_F(HsbNoise, UndulationTurnsTheLatticeAndAFullTurnComesBack) {
    Set(kUndulation, "90");
    const Image start = Render(FlatLayer());
    EXPECT_GT(Compare(start, 0, Render(FlatLayer(), FrameOptions{1.0}), 0, 80).far, 100);
    Set(kUndulation, "360");
    const Difference turn = Compare(start, 0, Render(FlatLayer(), FrameOptions{1.0}), 0, 80);
    EXPECT_EQ(turn.far, 0);
}

TEST_F(HsbNoise, AFrameDependsOnlyOnItsTimeNotOnTheFramesBefore) {
    Set(kSpeed, "25");
    Set(kUndulation, "100");
    Set(kDirection, "200");
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image fresh = Render(layer, FrameOptions{2.0});

    zoka_test::AppliedEffect other("HSB Noise");
    for (const size_t i : {kSpeed, kUndulation, kDirection}) {
        other.instance.Params()[i] = noise.instance.Params()[i];
    }
    Render(other, layer, FrameOptions{3.0});
    Render(other, layer, FrameOptions{0.5});
    EXPECT_EQ(Render(other, layer, FrameOptions{2.0}), fresh);
}

TEST_F(HsbNoise, SeedZeroActsAsOneAndOtherSeedsDiffer) {
    const Image layer = zoka_test::TestLayer(40, 30);
    Set(kSeed, "1");
    const Image one = Render(layer);
    Set(kSeed, "0");
    EXPECT_EQ(Render(layer), one);
    Set(kSeed, "2");
    EXPECT_NE(Render(layer), one);
}

TEST_F(HsbNoise, ADraftSamplesThePatternOfTheFullFrame) {
    Set(kSpeed, "20");
    Set(kDirection, "135");
    Set(kLumpWidth, "8");
    const FrameOptions full{1.0}, draft{1.0, 30, false, 2};
    const Image big = Render(FlatLayer(), full);
    const Image small = Render(FlatLayer(), draft);
    int far = 0;
    for (int32_t y = 0; y < small.Height(); ++y) {
        for (int32_t x = 0; x < small.Width(); ++x) {
            const Pixel p = small.At(x, y), q = big.At(2 * x, 2 * y);
            for (const int delta : {p.r - q.r, p.g - q.g, p.b - q.b}) far += std::abs(delta) > 1;
        }
    }
    EXPECT_EQ(far, 0);
}

TEST_F(HsbNoise, BandsOfAnySizeGiveTheSameFrame) {
    Set(kSpeed, "30");
    Set(kUndulation, "45");
    Set(kOpacity, "60");
    noise.instance.PrepareTime(FrameOptions{1.5});
    const Image layer = zoka_test::TestLayer(37, 23);
    zoka_test::ExpectStripsAgree(kHsbNoiseIndex, noise.instance, layer);
    EXPECT_EQ(noise.instance.OutstandingCheckouts(), 0);
}

TEST_F(HsbNoise, AFailedCheckoutOfTheSpeedsFailsTheFrameWithItsMessage) {
    Set(kSpeed, "10");
    const Image layer = zoka_test::TestLayer();
    noise.host.FailCheckout(2, kHostErrorBase + 1);
    const auto frame = noise.instance.RenderFrame(layer, FrameOptions{1.0});
    EXPECT_EQ(frame.code, kHostErrorBase + 1);
    EXPECT_EQ(frame.message, "Lumetta AE Error : Error checking out parameter");
    EXPECT_TRUE(frame.displayError);
    EXPECT_EQ(frame.image, zoka_test::FallbackOutput(layer, layer.Width(), layer.Height()));
    EXPECT_EQ(noise.instance.OutstandingCheckouts(), 0);
    EXPECT_EQ(noise.host.LiveHandles(), 0u);
}

TEST_F(HsbNoise, FailureSweep) {
    zoka_test::RunFailureSweep("HSB Noise", zoka_test::TestLayer());
    zoka_test::RunFailureSweep(
        "HSB Noise", zoka_test::TestLayer(),
        [](zoka_test::AppliedEffect& e) {
            e.Set("FlowVelocity", "12");
            e.Set("Opacity", "50");
            e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
        },
        FrameOptions{0.5, 24, false, 2});
}

}  // namespace
}  // namespace zoka
