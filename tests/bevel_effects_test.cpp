// Inner Bevel, Outer Bevel and Carve through the real render path.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "effects/bevel_effect.h"
#include "ourhost/param_values.h"
#include "tests/support/band_split.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

constexpr const char* kBevels[] = {"Inner Bevel", "Outer Bevel", "Carve"};

// A grey opaque square of side 2 * half centred in a transparent layer.
Image Square(int32_t size, int32_t half, Pixel inside = Pixel{255, 120, 160, 200}) {
    Image layer(size, size, Pixel{0, 30, 60, 90});
    for (int32_t y = size / 2 - half; y < size / 2 + half; ++y) {
        for (int32_t x = size / 2 - half; x < size / 2 + half; ++x) layer.Set(x, y, inside);
    }
    return layer;
}

int Brightness(Pixel p) { return p.r + p.g + p.b; }

ourhost::FrameResult Render(const char* effect, const Image& layer,
                            const std::vector<std::pair<const char*, const char*>>& sets,
                            const FrameOptions& options = {}) {
    AppliedEffect e(effect);
    for (const auto& [key, value] : sets) e.Set(key, value);
    auto frame = e.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << effect;
    EXPECT_EQ(e.host.LiveHandles(), 0u) << effect;
    return frame;
}

TEST(BevelEffects, WidthZeroLeavesTheRaisedBevelsUnchanged) {
    const Image layer = zoka_test::TestLayer();
    const auto inner = Render("Inner Bevel", layer, {{"Width", "0"}});
    EXPECT_EQ(inner.image, layer);
    // Outer Bevel still grows by one pixel, transparent white.
    const auto outer = Render("Outer Bevel", layer, {{"Width", "0"}});
    ASSERT_EQ(outer.image.Width(), layer.Width() + 2);
    EXPECT_EQ(outer.originX, 1);
    EXPECT_EQ(outer.originY, 1);
    EXPECT_EQ(outer.image.At(0, 0), (Pixel{0, 255, 255, 255}));
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) ASSERT_EQ(outer.image.At(x + 1, y + 1), layer.At(x, y));
    }
}

TEST(BevelEffects, CarveAtWidthZeroScalesTheColourByDarkenDepthsWhateverTheMask) {
    const Image layer = zoka_test::TestLayer();
    for (const int darken : {0, 50, 100}) {
        const auto frame = Render("Carve", layer, {{"Width", "0"}, {"DarkenDepths", std::to_string(darken).c_str()}});
        for (int32_t y = 0; y < layer.Height(); ++y) {
            for (int32_t x = 0; x < layer.Width(); ++x) {
                const Pixel in = layer.At(x, y), out = frame.image.At(x, y);
                const auto scaled = [&](uint8_t v) { return uint8_t(v * double(darken) * 0.01); };
                ASSERT_EQ(out, (Pixel{in.a, scaled(in.r), scaled(in.g), scaled(in.b)})) << darken;
            }
        }
    }
}

TEST(BevelEffects, CarveDarkensItsFloorByDarkenDepths) {
    const Image layer = Square(80, 30);
    const Pixel flat = layer.At(40, 40);
    // Width 10: the floor begins 10 pixels in, flat and at the full depth.
    const auto none = Render("Carve", layer, {{"Width", "10"}, {"DarkenDepths", "0"}});
    EXPECT_EQ(none.image.At(40, 40), flat);
    const auto full = Render("Carve", layer, {{"Width", "10"}, {"DarkenDepths", "100"}});
    EXPECT_EQ(full.image.At(40, 40), (Pixel{255, 0, 0, 0}));
    // Near the edge the height, and so the darkening, is small.
    EXPECT_GT(Brightness(full.image.At(11, 40)), Brightness(none.image.At(11, 40)) * 9 / 10);
}

TEST(BevelEffects, OuterBevelGrowsByAtLeastOnePixel) {
    const Image layer = zoka_test::TestLayer();
    const auto frame = Render("Outer Bevel", layer, {{"Width", "0.4"}});
    EXPECT_EQ(frame.image.Width(), layer.Width() + 2);
    EXPECT_EQ(frame.image.Height(), layer.Height() + 2);
    EXPECT_EQ(frame.originX, 1);
    const auto wide = Render("Outer Bevel", layer, {{"Width", "12.9"}});
    EXPECT_EQ(wide.image.Width(), layer.Width() + 24);
}

TEST(BevelEffects, TheDefaultLightComesFromTheUpperLeft) {
    const Image layer = Square(80, 30);
    // The bevel's slope, 3 pixels inside each side of the square.
    const auto raised = Render("Inner Bevel", layer, {});
    EXPECT_GT(Brightness(raised.image.At(13, 40)), Brightness(raised.image.At(66, 40)));
    EXPECT_GT(Brightness(raised.image.At(40, 13)), Brightness(raised.image.At(40, 66)));
    // A carved wall on the upper left faces away from the light.
    const auto carved = Render("Carve", layer, {});
    EXPECT_LT(Brightness(carved.image.At(13, 40)), Brightness(carved.image.At(66, 40)));
    // From the lower right (the host's 135 degrees) the raised sides swap.
    const auto turned = Render("Inner Bevel", layer, {{"Direction", "135"}});
    EXPECT_LT(Brightness(turned.image.At(13, 40)), Brightness(turned.image.At(66, 40)));
}

TEST(BevelEffects, AnOpaqueLayerIsBevelledAlongTheFrameBorder) {
    const Image layer(40, 40, Pixel{255, 100, 150, 200});
    const auto frame = Render("Inner Bevel", layer, {{"Width", "8"}});
    EXPECT_EQ(frame.image.At(20, 20), layer.At(20, 20));
    EXPECT_NE(frame.image.At(2, 20), layer.At(2, 20));
    EXPECT_NE(frame.image.At(37, 20), layer.At(37, 20));
}

TEST(BevelEffects, OuterBevelOnItsOwnAlphaLeavesAlphaAndTheSurroundings) {
    const Image layer = Square(60, 15);
    const auto frame = Render("Outer Bevel", layer, {});
    for (int32_t y = 0; y < frame.image.Height(); ++y) {
        for (int32_t x = 0; x < frame.image.Width(); ++x) {
            const int32_t lx = x - frame.originX, ly = y - frame.originY;
            const bool onLayer = lx >= 0 && lx < 60 && ly >= 0 && ly < 60;
            ASSERT_EQ(frame.image.At(x, y).a, onLayer ? layer.At(lx, ly).a : 0) << x << "," << y;
        }
    }
    // The plateau inside is flat.
    EXPECT_EQ(frame.image.At(30 + frame.originX, 30 + frame.originY), layer.At(30, 30));
}

TEST(BevelEffects, OuterBevelSlopesOutsideTheSelectionOnTheLayer) {
    AppliedEffect outer("Outer Bevel");
    outer.Set("Width", "10");
    outer.Set("Antialias", "0");
    const Image layer(60, 60, Pixel{255, 120, 160, 200});
    outer.instance.SetSelection(Square(20, 10, Pixel{255, 0, 0, 0}), 20, 20);  // covers 20..39
    const auto frame = outer.instance.RenderFrame(layer, {});
    ASSERT_EQ(frame.code, kHostNoError);
    const auto at = [&](int32_t x, int32_t y) { return frame.image.At(x + frame.originX, y + frame.originY); };
    EXPECT_EQ(at(30, 30), layer.At(30, 30)) << "the plateau";
    EXPECT_NE(at(17, 30), layer.At(17, 30)) << "the slope";
    EXPECT_GT(Brightness(at(17, 30)), Brightness(at(42, 30))) << "the left faces the light, the right away";
    EXPECT_EQ(at(5, 30), layer.At(5, 30)) << "beyond the bevel's width";
}

TEST(BevelEffects, AtHalfResolutionWidthAndSmoothnessHalve) {
    const Image layer = Square(80, 24);
    for (const char* effect : kBevels) {
        const auto drafted = Render(effect, layer, {{"Width", "12"}, {"Antialias", "3"}}, FrameOptions{0, 30, false, 2});
        const auto direct = Render(effect, layer.Shrunk(2), {{"Width", "6"}, {"Antialias", "1.5"}});
        EXPECT_EQ(drafted.image, direct.image) << effect;
    }
}

TEST(BevelEffects, CarveAndInnerBevelAreMixedBackThroughTheSelection) {
    const Image layer(40, 40, Pixel{255, 100, 150, 200});
    for (const char* effect : {"Inner Bevel", "Carve"}) {
        AppliedEffect e(effect);
        e.Set("Width", "6");
        e.instance.SetSelection(Square(20, 10), 10, 10);  // covers 15..24
        const auto frame = e.instance.RenderFrame(layer, {});
        ASSERT_EQ(frame.code, kHostNoError);
        EXPECT_EQ(frame.image.At(5, 20), layer.At(5, 20)) << effect;
        EXPECT_NE(frame.image.At(16, 20), layer.At(16, 20)) << effect;
    }
}

// The effect indices, for the kernel run strip by strip.
int IndexOf(const char* effect) {
    const std::string name = effect;
    return name == "Carve" ? kCarveIndex : name == "Outer Bevel" ? kOuterBevelIndex : 9;
}

TEST(BevelEffects, BandsAgreeWithTheWholeFrame) {
    const Image layer = zoka_test::TestLayer(37, 23);
    for (const char* effect : kBevels) {
        for (const auto& [width, smoothness] : {std::pair{"20", "5"}, {"4", "1.5"}, {"7", "0"}}) {
            AppliedEffect e(effect);
            e.Set("Width", width);
            e.Set("Antialias", smoothness);
            zoka_test::ExpectStripsAgree(IndexOf(effect), e.instance, layer,
                                         std::string(effect) + " width " + width);
        }
    }
}

TEST(BevelEffects, FailureSweep) {
    const Image layer = zoka_test::TestLayer();
    for (const char* effect : kBevels) {
        zoka_test::RunFailureSweep(effect, layer);
        // Without the blur; no bevel; a bevel wider than the layer.
        zoka_test::RunFailureSweep(effect, layer, [](AppliedEffect& e) { e.Set("Antialias", "0"); });
        zoka_test::RunFailureSweep(effect, layer, [](AppliedEffect& e) { e.Set("Width", "0"); });
        zoka_test::RunFailureSweep(effect, layer, [](AppliedEffect& e) {
            e.Set("Width", "40");
            e.Set("Antialias", "10");
        });
        zoka_test::RunFailureSweep(effect, layer, [](AppliedEffect& e) {
            e.instance.SetSelection(zoka_test::TestLayer(11, 9), 3.5, 2.25);
        });
    }
}

}  // namespace
}  // namespace zoka
