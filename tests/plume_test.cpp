// Fire and Smoke: a plume that rises from the layer's shape, one kernel with
// two kinds of noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <ostream>
#include <string>

#include "effects/plume.h"
#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::FrameResult;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

constexpr Pixel kExpandedFill{0, 255, 255, 255};
constexpr Pixel kOpaque{255, 90, 160, 40};

FrameResult Render(AppliedEffect& effect, const Image& layer, const FrameOptions& options = {}) {
    FrameResult frame = effect.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    EXPECT_EQ(effect.host.LiveHandles(), 0u);
    EXPECT_TRUE(effect.host.Faults().empty());
    return frame;
}

// A transparent layer with an opaque block from column left to right - 1 and
// from row top to the bottom.
Image BlockLayer(int32_t width, int32_t height, int32_t left, int32_t right, int32_t top) {
    Image layer(width, height, Pixel{0, 20, 40, 60});
    for (int32_t y = top; y < height; ++y) {
        for (int32_t x = left; x < right; ++x) layer.Set(x, y, kOpaque);
    }
    return layer;
}

// Whether any pixel of the output column for layer column x differs from the
// input (the output holds the layer at its origin).
bool ColumnPainted(const FrameResult& frame, const Image& layer, int32_t x) {
    for (int32_t y = 0; y < frame.image.Height(); ++y) {
        const int32_t ly = y - frame.originY;
        const Pixel input = ly >= 0 && ly < layer.Height() ? layer.At(x, ly) : kExpandedFill;
        if (frame.image.At(x + frame.originX, y) != input) return true;
    }
    return false;
}

// ---- The shared kernel's tables -----------------------------------------------

PlumeSettings Colours(bool natural, RgbColor inner, RgbColor outer) {
    return PlumeSettings{.kind = PlumeKind::kFlame, .wispWidth = 15, .wispHeight = 45,
                         .displacement = 6, .insideMasking = 1, .edgeSoftness = 5,
                         .breakupRoughness = 0, .naturalRamp = natural, .innerColor = inner,
                         .outerColor = outer, .randomSeed = 1};
}

std::array<uint8_t, 4> Entry(const std::array<uint8_t, kPlumeRampBytes>& ramp, int i) {
    return {ramp[4 * i], ramp[4 * i + 1], ramp[4 * i + 2], ramp[4 * i + 3]};
}

TEST(PlumeRamp, TheNaturalRampRunsFromBlackThroughRedAndYellowToWhite) {
    std::array<uint8_t, kPlumeRampBytes> ramp{};
    FillColorRamp(Colours(true, {}, {}), 3, ramp.data());
    EXPECT_EQ(Entry(ramp, 0), (std::array<uint8_t, 4>{0, 0, 0, 255}));
    EXPECT_EQ(Entry(ramp, 1), (std::array<uint8_t, 4>{3, 0, 0, 255}));
    EXPECT_EQ(Entry(ramp, 128), (std::array<uint8_t, 4>{220, 129, 0, 255}));
    EXPECT_EQ(Entry(ramp, 204), (std::array<uint8_t, 4>{255, 235, 0, 255}));  // b = 0.8 exactly
    EXPECT_EQ(Entry(ramp, 254), (std::array<uint8_t, 4>{255, 255, 245, 255}));
    EXPECT_EQ(Entry(ramp, 255), (std::array<uint8_t, 4>{255, 255, 255, 255}));
}

TEST(PlumeRamp, TheColourRampRunsFromTheOuterColourToTheInnerOne) {
    std::array<uint8_t, kPlumeRampBytes> ramp{};
    FillColorRamp(Colours(false, RgbColor::Bytes(255, 255, 128), RgbColor::Bytes(255, 128, 0)), 3,
                  ramp.data());
    EXPECT_EQ(Entry(ramp, 0), (std::array<uint8_t, 4>{255, 128, 0, 255}));
    EXPECT_EQ(Entry(ramp, 100), (std::array<uint8_t, 4>{255, 177, 50, 255}));
    EXPECT_EQ(Entry(ramp, 255), (std::array<uint8_t, 4>{255, 255, 128, 255}));
}

TEST(PlumeOctaves, OneBelowACoarseSizeOfEightAndOneMorePerDoubling) {
    for (const int32_t size : {0, 1, 4, 7}) EXPECT_EQ(SmokeOctaves(size), 1) << size;
    EXPECT_EQ(SmokeOctaves(8), 2);
    EXPECT_EQ(SmokeOctaves(15), 2);
    EXPECT_EQ(SmokeOctaves(16), 3);
    EXPECT_EQ(PlumeCoarseSize(20, 1), 100);  // the default Wisp Width
    EXPECT_EQ(SmokeOctaves(100), 5);
    EXPECT_EQ(PlumeCoarseSize(20, 2), 50);
    EXPECT_EQ(PlumeCoarseSize(5, 4), 6);  // 25 div 4
    EXPECT_EQ(PlumeCoarseSize(600, 1), 3000);
}

// ---- Both effects --------------------------------------------------------------

struct PlumeCase {
    const char* name;
    int index;
};

void PrintTo(const PlumeCase& c, std::ostream* os) { *os << c.name; }

class Plume : public ::testing::TestWithParam<PlumeCase> {
protected:
    AppliedEffect effect{GetParam().name};
};

INSTANTIATE_TEST_SUITE_P(Effects, Plume,
                         ::testing::Values(PlumeCase{"Fire", 19}, PlumeCase{"Smoke", 14}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_P(Plume, ATransparentLayerComesBackAsItWas) {
    Image layer(30, 20);
    for (int32_t y = 0; y < 20; ++y) {
        for (int32_t x = 0; x < 30; ++x) {
            layer.Set(x, y, Pixel{0, uint8_t(8 * x), uint8_t(12 * y), 77});
        }
    }
    const FrameResult frame = Render(effect, layer, FrameOptions{1.0});
    for (int32_t y = 0; y < frame.image.Height(); ++y) {
        for (int32_t x = 0; x < frame.image.Width(); ++x) {
            const int32_t lx = x - frame.originX, ly = y - frame.originY;
            const bool inside = lx >= 0 && lx < 30 && ly >= 0 && ly < 20;
            ASSERT_EQ(frame.image.At(x, y), inside ? layer.At(lx, ly) : kExpandedFill)
                << x << "," << y;
        }
    }
}

TEST_P(Plume, WithoutFlowOrAtTimeZeroThePlumeStandsStill) {
    const Image layer = zoka_test::TestLayer(40, 30);
    const Image start = Render(effect, layer).image;
    const Image later = Render(effect, layer, FrameOptions{2.0}).image;
    EXPECT_NE(later, start) << "it rises at its flow speed";
    // Unlike the drifting noise effects, a still frame rises as well.
    EXPECT_EQ(Render(effect, layer, FrameOptions{2.0, 30, true}).image, later);
    effect.Set("FlowVelocity", "0");
    EXPECT_EQ(Render(effect, layer).image, start);
    EXPECT_EQ(Render(effect, layer, FrameOptions{2.0}).image, start);
}

TEST_P(Plume, TheRiseIsTheFlowSpeedIntegratedOverTime) {
    // At 32 frames a second every step is exact, so equal distances give equal bits.
    const Image layer = zoka_test::TestLayer(40, 30);
    effect.Set("FlowVelocity", "200");
    const Image half = Render(effect, layer, FrameOptions{0.5, 32}).image;
    effect.Set("FlowVelocity", "100");
    EXPECT_EQ(Render(effect, layer, FrameOptions{1.0, 32}).image, half);
    EXPECT_NE(Render(effect, layer, FrameOptions{0.5, 32}).image, half);
}

TEST_P(Plume, EdgeSoftnessZeroStillBlursByOnePixelAndGrowsTheOutputByOne) {
    effect.Set("EdgeSoftness", "0");
    const Image layer = BlockLayer(40, 30, 15, 25, 10);
    const FrameResult frame = Render(effect, layer);
    const int32_t plume = GetParam().index == 19 ? 45 : 100;  // the default Wisp Height
    EXPECT_EQ(frame.originX, 1);
    EXPECT_EQ(frame.originY, plume);
    EXPECT_EQ(frame.image.Width(), 42);
    EXPECT_EQ(frame.image.Height(), 30 + plume + 1);
    EXPECT_FALSE(ColumnPainted(frame, layer, 13));
    EXPECT_TRUE(ColumnPainted(frame, layer, 14));
    EXPECT_TRUE(ColumnPainted(frame, layer, 25));
    EXPECT_FALSE(ColumnPainted(frame, layer, 26));
}

TEST_P(Plume, AtHalfResolutionTheFrameIsTheFullOneOfHalfTheSizes) {
    // Every length halves: wisps, plume height, softness, and the distance risen.
    const Image layer = zoka_test::TestLayer(48, 36);
    for (const auto& [key, value] : {std::pair{"WispWidth", "20"}, {"WispHeight", "60"},
                                     {"EdgeSoftness", "10"}, {"FlowVelocity", "200"}}) {
        effect.Set(key, value);
    }
    const FrameResult draft = Render(effect, layer, FrameOptions{1.0, 32, false, 2});
    AppliedEffect full(GetParam().name);
    for (const auto& [key, value] : {std::pair{"WispWidth", "10"}, {"WispHeight", "30"},
                                     {"EdgeSoftness", "5"}, {"FlowVelocity", "100"}}) {
        full.Set(key, value);
    }
    const FrameResult direct = Render(full, layer.Shrunk(2), FrameOptions{1.0, 32});
    EXPECT_EQ(draft.originY, 30);
    EXPECT_EQ(draft.originX, direct.originX);
    EXPECT_EQ(draft.originY, direct.originY);
    EXPECT_EQ(draft.image, direct.image);
}

TEST_P(Plume, InsideMaskingDecidesWhetherThePlumeCoversTheShape) {
    // Well inside the block the softened shape is opaque, bar the blur's
    // rounding (254), which lets a trace of the plume through.
    const Image layer = BlockLayer(60, 50, 10, 50, 20);
    const auto interiorChanges = [&](const FrameResult& frame, int tolerance) {
        int changed = 0;
        for (int32_t y = 30; y < 45; ++y) {
            for (int32_t x = 20; x < 40; ++x) {
                const Pixel p = frame.image.At(x + frame.originX, y + frame.originY);
                const int far = std::max({std::abs(p.r - kOpaque.r), std::abs(p.g - kOpaque.g),
                                          std::abs(p.b - kOpaque.b), std::abs(p.a - kOpaque.a)});
                changed += far > tolerance;
            }
        }
        return changed;
    };
    effect.Set("InsideMasking", "100");
    EXPECT_EQ(interiorChanges(Render(effect, layer), 2), 0);
    effect.Set("InsideMasking", "0");
    EXPECT_GT(interiorChanges(Render(effect, layer), 20), 15 * 20 / 2);
}

TEST_P(Plume, AFrameDependsOnItsSeedAndTimeAloneNotOnTheFramesBefore) {
    const Image layer = zoka_test::TestLayer(40, 30);
    AppliedEffect fresh(GetParam().name);
    const Image expected = Render(fresh, layer, FrameOptions{1.25}).image;
    for (const double seconds : {2.0, 0.5, 0.0}) Render(effect, layer, FrameOptions{seconds});
    EXPECT_EQ(Render(effect, layer, FrameOptions{1.25}).image, expected);
    effect.Set("RandomSeed", "7");
    EXPECT_NE(Render(effect, layer, FrameOptions{1.25}).image, expected);
}

TEST_P(Plume, VerticalStripsOfFullHeightGiveTheSameFrame) {
    effect.Set("EdgeSoftness", "3");
    effect.instance.PrepareTime(FrameOptions{1.5});
    const Image layer = zoka_test::TestLayer(37, 23);
    for (const int32_t width : {1, 6, 13, 36}) {
        const auto run = zoka_test::RenderWholeAndInStrips(GetParam().index, effect.instance, layer,
                                                           width, layer.Height());
        ASSERT_EQ(run.wholeResult, 0);
        ASSERT_EQ(run.splitResult, 0);
        EXPECT_EQ(run.whole, run.split) << "strips " << width << " wide";
    }
    EXPECT_EQ(effect.host.LiveHandles(), 0u);
}

TEST_P(Plume, FailureSweep) {
    const std::string name = GetParam().name;
    const Image layer = zoka_test::TestLayer();
    zoka_test::RunFailureSweep(name, layer);
    zoka_test::RunFailureSweep(name, layer, [](AppliedEffect& e) {
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
    });
    zoka_test::RunFailureSweep(name, layer, {}, FrameOptions{0, 30, false, 2});
    zoka_test::RunFailureSweep(name, layer, {}, FrameOptions{0.5, 24});
}

TEST_P(Plume, AFailedFlowSpeedCheckoutFailsTheFrameAfterTheColumnsWereMade) {
    // The 20th checkout lies inside the integration of a second's flow.
    const Image layer = zoka_test::TestLayer();
    for (const HostError code : {HostError{kHostErrorBase + 1}, HostError{kHostErrorCancelled}}) {
        effect.host.FailCheckout(20, code);
        const FrameResult frame = effect.instance.RenderFrame(layer, FrameOptions{1.0});
        EXPECT_EQ(frame.code, code);
        const bool cancelled = code == kHostErrorCancelled;
        EXPECT_EQ(frame.message, cancelled ? "" : "Lumetta AE Error : Error checking out parameter");
        EXPECT_EQ(frame.displayError, !cancelled);
        EXPECT_EQ(frame.image,
                  zoka_test::FallbackOutput(layer, frame.image.Width(), frame.image.Height()));
        EXPECT_EQ(effect.instance.OutstandingCheckouts(), 0);
        EXPECT_EQ(effect.host.LiveHandles(), 0u);
    }
}

TEST_P(Plume, AnOutputImageSmallerThanFrameSetupAskedForIsRenderedSafely) {
    // The selection lies beyond the image the host hands over, so the columns
    // the plume paints lie outside the selection's own.
    effect.instance.SetSelection(Image(10, 10, kOpaque), 203, 5);
    const Image layer = zoka_test::TestLayer(200, 30);
    ASSERT_EQ(effect.instance.FrameSetup(layer, {}), kHostNoError);
    Image output(layer.Width(), layer.Height());
    EXPECT_EQ(effect.instance.Render(layer, output, {}), kHostNoError);
    EXPECT_EQ(effect.host.LiveHandles(), 0u);
    EXPECT_TRUE(effect.host.Faults().empty());
}

// ---- Fire ------------------------------------------------------------------------

TEST(Fire, UserDefinedColoursPaintTheFlamesOverTransparentPixels) {
    AppliedEffect fire("Fire");
    fire.Set("FireColor", "User Defined");
    fire.Set("InnerColor", "#0000FF");
    fire.Set("OuterColor", "#0000FF");
    const FrameResult frame = Render(fire, BlockLayer(40, 30, 10, 30, 15));
    int flames = 0;
    for (int32_t y = 0; y < frame.originY; ++y) {
        for (int32_t x = 0; x < frame.image.Width(); ++x) {
            const Pixel p = frame.image.At(x, y);
            if (p.a == 0) continue;
            ++flames;
            EXPECT_EQ(p, (Pixel{p.a, 0, 0, 255})) << x << "," << y;
        }
    }
    EXPECT_GT(flames, 100);
}

// ---- Smoke -----------------------------------------------------------------------

TEST(Smoke, RoughnessWeighsTheFinerOctavesSoOneOctaveIgnoresIt) {
    const Image layer = zoka_test::TestLayer(96, 72);
    const auto rendered = [&](const char* roughness, int32_t downsample) {
        AppliedEffect smoke("Smoke");
        smoke.Set("WispWidth", "5");
        smoke.Set("BreakupAmount", "100");
        smoke.Set("BreakupRoughness", roughness);
        return Render(smoke, layer, FrameOptions{0, 30, false, downsample}).image;
    };
    EXPECT_EQ(rendered("0", 4), rendered("100", 4)) << "coarse size 6: one octave";
    EXPECT_NE(rendered("0", 2), rendered("100", 2)) << "coarse size 12: two octaves";
}

}  // namespace
}  // namespace zoka
