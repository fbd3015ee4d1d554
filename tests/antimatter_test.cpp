// Antimatter: brightness inverted, hue kept.
#include <gtest/gtest.h>

#include "ourhost/param_values.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

// One opaque pixel through Antimatter at an amount.
Pixel Invert(Pixel p, double amount) {
    AppliedEffect antimatter("Antimatter");
    std::string error;
    EXPECT_TRUE(ourhost::SetParam(antimatter.instance.Params()[3], std::to_string(amount), error));
    Image layer(1, 1, p);
    const auto frame = antimatter.instance.RenderFrame(layer, {});
    EXPECT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(antimatter.host.LiveHandles(), 0u);
    return frame.image.At(0, 0);
}

constexpr Pixel kRed{255, 255, 0, 0};
constexpr Pixel kWhite{255, 255, 255, 255};
constexpr Pixel kBlack{255, 0, 0, 0};

TEST(Antimatter, AmountZeroKeepsBrightColours) {
    EXPECT_EQ(Invert(kRed, 0), kRed);
}

TEST(Antimatter, AmountHundredInvertsBrightness) {
    EXPECT_EQ(Invert(kWhite, 100), kBlack);
    EXPECT_EQ(Invert(kBlack, 100), kWhite);
    EXPECT_EQ(Invert(kRed, 100), kBlack);
}

TEST(Antimatter, AmountFiftyGivesHalfBrightnessWithTheHue) {
    EXPECT_EQ(Invert(kRed, 50), (Pixel{255, 127, 0, 0}));
    EXPECT_EQ(Invert(kWhite, 50), (Pixel{255, 127, 127, 127}));
}

TEST(Antimatter, DarkResultsLoseSaturation) {
    // V = 0.4 at amount 0: saturation 1 becomes 1 - 0.2^2 = 0.96.
    const Pixel dark = Invert(Pixel{255, 102, 0, 0}, 0);
    EXPECT_EQ(dark.r, 102);
    EXPECT_EQ(dark.g, 4);
}

TEST(Antimatter, AlphaIsNeverChangedAndTransparentPixelsAreLeft) {
    AppliedEffect antimatter("Antimatter");
    Image layer(3, 1, Pixel{77, 255, 255, 255});
    layer.Set(0, 0, Pixel{0, 10, 200, 30});  // the layer's alpha masks it out
    const auto frame = antimatter.instance.RenderFrame(layer, {});
    ASSERT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image.At(0, 0), layer.At(0, 0));
    EXPECT_EQ(frame.image.At(1, 0), (Pixel{77, 0, 0, 0}));
}

TEST(Antimatter, ASelectionAlphaOfHalfMixesTheResultWithTheInput) {
    AppliedEffect antimatter("Antimatter");
    antimatter.instance.SetSelection(Image(1, 1, Pixel{128, 0, 0, 0}), 0, 0);
    const auto frame = antimatter.instance.RenderFrame(Image(1, 1, kWhite), {});
    ASSERT_EQ(frame.code, kHostNoError);
    // White inverts to black; the blend keeps 127/256 of the input.
    EXPECT_EQ(frame.image.At(0, 0), (Pixel{255, 126, 126, 126}));
}

TEST(Antimatter, FailureSweep) {
    zoka_test::RunFailureSweep("Antimatter", zoka_test::TestLayer());
    zoka_test::RunFailureSweep("Antimatter", zoka_test::TestLayer(), [](zoka_test::AppliedEffect& e) {
        e.instance.SetSelection(zoka_test::TestLayer(9, 7), 3.5, 2.25);
    });
}

}  // namespace
}  // namespace zoka
