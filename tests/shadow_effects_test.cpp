// Cutout, Drop Shadow and Perspective Shadow, and what they share.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "base/result_codes.h"
#include "effects/shadow.h"
#include "effects/shadow_projection.h"
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

// Drop Shadow has no PiPL: the host never lists it, so it is applied by its
// entry point.
constexpr char kDropShadow[] = "Drop_Shadow_Entry_Point";
constexpr Pixel kTransparentWhite{0, 255, 255, 255};

// A transparent layer with an opaque box of one colour.
Image BoxLayer(int32_t width, int32_t height, PixelRect box, Pixel colour = {255, 40, 160, 220}) {
    Image layer(width, height);
    for (int32_t y = box.top; y < box.bottom; ++y) {
        for (int32_t x = box.left; x < box.right; ++x) layer.Set(x, y, colour);
    }
    return layer;
}

// The output pixel over layer pixel (x, y); transparent white, what an
// expanded output starts as, beyond the image.
Pixel AtLayer(const FrameResult& frame, int32_t x, int32_t y) {
    const int32_t fx = x + frame.originX;
    const int32_t fy = y + frame.originY;
    if (fx < 0 || fy < 0 || fx >= frame.image.Width() || fy >= frame.image.Height()) {
        return kTransparentWhite;
    }
    return frame.image.At(fx, fy);
}

// Two outputs of different sizes hold the same pixels wherever either
// reaches, placed by their origins.
void ExpectSameOverLayer(const FrameResult& a, const FrameResult& b) {
    int mismatches = 0;
    for (int32_t y = -a.originY; y < a.image.Height() - a.originY; ++y) {
        for (int32_t x = -a.originX; x < a.image.Width() - a.originX; ++x) {
            if (AtLayer(a, x, y) != AtLayer(b, x, y) && ++mismatches <= 3) {
                ADD_FAILURE() << "differs at layer pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

FrameResult Render(AppliedEffect& effect, const Image& layer, int32_t downsample = 1) {
    FrameOptions options;
    options.downsample = downsample;
    FrameResult frame = effect.instance.RenderFrame(layer, options);
    EXPECT_EQ(frame.code, kHostNoError) << frame.message;
    return frame;
}

void ExpectBandsAgree(int effectIndex, AppliedEffect& effect, const Image& layer) {
    effect.instance.PrepareTime({});
    const auto outputs = zoka_test::RenderWholeAndInStrips(effectIndex, effect.instance, layer, 7, 5);
    ASSERT_EQ(outputs.wholeResult, kOk);
    ASSERT_EQ(outputs.splitResult, kOk);
    EXPECT_TRUE(outputs.whole == outputs.split);
}

// ---- What the three share -----------------------------------------------------

TEST(ShadowComposite, FullCoverageOverNothingIsTheShadowColour) {
    const uint8_t colour[3] = {30, 60, 90};
    const uint8_t source[4] = {200, 100, 50, 0};
    uint8_t out[4] = {200, 100, 50, 0};
    ShadowComposite(source, out, colour, 255);
    EXPECT_EQ(out[0], 30);
    EXPECT_EQ(out[1], 60);
    EXPECT_EQ(out[2], 90);
    EXPECT_EQ(out[3], 255);
}

TEST(ShadowComposite, NoCoverageLeavesThePixel) {
    const uint8_t colour[3] = {30, 60, 90};
    for (const uint8_t alpha : {255, 77, 1}) {
        const uint8_t source[4] = {200, 100, 50, alpha};
        uint8_t out[4] = {200, 100, 50, alpha};
        ShadowComposite(source, out, colour, 0);
        EXPECT_EQ(out[0], 200);
        EXPECT_EQ(out[1], 100);
        EXPECT_EQ(out[2], 50);
        EXPECT_EQ(out[3], alpha);
    }
    // Nothing on either side: alpha 0, the colour the destination held.
    const uint8_t nothing[4] = {9, 8, 7, 0};
    uint8_t out[4] = {1, 2, 3, 4};
    ShadowComposite(nothing, out, colour, 0);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[3], 0);
}

TEST(ShadowComposite, HalfCoverageBehindAnOpaquePixelMixesByItsShare) {
    const uint8_t colour[3] = {0, 0, 255};
    const uint8_t source[4] = {255, 0, 0, 255};
    uint8_t out[4];
    ShadowComposite(source, out, colour, 128);
    // E = 255 * 127 / 255 = 127, T = 255.
    EXPECT_EQ(out[0], 127 * 255 / 255);
    EXPECT_EQ(out[2], 128 * 255 / 255);
    EXPECT_EQ(out[3], 255);
}

TEST(ShadowOffset, ZeroPointsRightAndNinetyUpTruncatedTowardZero) {
    const ShadowVector right = ShadowOffset(0, 10);
    EXPECT_EQ(TruncToInt32(right.x), 10);
    EXPECT_EQ(TruncToInt32(right.y), 0);
    // 90 x 0.017453292 falls just short of a right angle: the sine is just
    // below 1, so ten pixels up truncate to nine.
    const ShadowVector up = ShadowOffset(90, 10);
    EXPECT_EQ(TruncToInt32(up.x), 0);
    EXPECT_EQ(TruncToInt32(up.y), -9);
    const ShadowVector downLeft = ShadowOffset(225, 10);
    EXPECT_EQ(TruncToInt32(downLeft.x), -7);
    EXPECT_EQ(TruncToInt32(downLeft.y), 7);
}

TEST(ShadowEffects, TheFarEndsOfEverySliderRenderCleanly) {
    struct Setting {
        const char* effect;
        std::vector<std::pair<const char*, const char*>> sets;
    };
    const Setting settings[] = {
        {"Cutout", {{"ShadowDistance", "600"}, {"Blur", "100"}, {"ShadowDirection", "359.9"}}},
        {"Cutout", {{"ShadowDistance", "0.01"}, {"Blur", "0.01"}, {"Opacity", "100"}}},
        {kDropShadow, {{"ShadowDistance", "600"}, {"Blur", "100"}, {"ShadowDirection", "225"}}},
        {"Perspective Shadow", {{"VanishingPointDistance", "1"}, {"Length", "0"}, {"Blur", "100"}}},
        {"Perspective Shadow",
         {{"VanishingPointDistance", "100"}, {"Length", "100"}, {"VanishingPointDirection", "90"}}},
        {"Perspective Shadow", {{"VanishingPointDirection", "180"}, {"Blur", "0"}}},
    };
    for (const Setting& s : settings) {
        AppliedEffect effect(s.effect);
        for (const auto& [key, value] : s.sets) effect.Set(key, value);
        for (const int32_t downsample : {1, 4}) {
            Render(effect, zoka_test::TestLayer(), downsample);
            EXPECT_EQ(effect.host.LiveHandles(), 0u) << s.effect;
        }
    }
}

// ---- Cutout ---------------------------------------------------------------------

// The whole layer is the hole: a selection that covers it fully.
void MakeFullHole(AppliedEffect& cutout, const Image& layer) {
    cutout.instance.SetSelection(Image(layer.Width(), layer.Height(), Pixel{255, 0, 0, 0}), 0, 0);
    cutout.Set("ShadowDistance", "0");
    cutout.Set("Blur", "0");
    cutout.Set("FillColor", "#0A64C8");
}

// A colour byte that came through a division and a multiplication by the
// alpha: the value or one below.
void ExpectByteUpToTruncation(int actual, int expected, int32_t x, int32_t y) {
    EXPECT_TRUE(actual == expected || actual == expected - 1)
        << actual << " for " << expected << " at " << x << "," << y;
}

TEST(Cutout, AFullHoleWithoutDistanceOrBlurIsTheFillAtTheLayersAlphaOrNothing) {
    const Image layer = zoka_test::TestLayer();
    AppliedEffect cutout("Cutout");
    MakeFullHole(cutout, layer);
    const FrameResult frame = Render(cutout, layer);
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) {
            const Pixel in = layer.At(x, y);
            const Pixel out = frame.image.At(x, y);
            if (in.a == 0) {
                EXPECT_EQ(out, (Pixel{0, 0, 0, 0})) << x << "," << y;
                continue;
            }
            EXPECT_EQ(out.a, in.a) << x << "," << y;
            ExpectByteUpToTruncation(out.r, 10, x, y);
            ExpectByteUpToTruncation(out.g, 100, x, y);
            ExpectByteUpToTruncation(out.b, 200, x, y);
        }
    }
    cutout.Set("SolidFill", "off");
    const FrameResult empty = Render(cutout, layer);
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 0; x < layer.Width(); ++x) ASSERT_EQ(empty.image.At(x, y).a, 0);
    }
}

TEST(Cutout, TheRimShadowsTheFloorOnTheSideItIsCastFrom) {
    // Host angle 135 casts down and to the right: the floor under the
    // top-left rim lies in shadow, the floor by the bottom-right rim does not.
    const Image layer = BoxLayer(60, 60, PixelRect{10, 10, 50, 50});
    AppliedEffect cutout("Cutout");
    cutout.Set("ShadowColor", "#000000");
    const FrameResult frame = Render(cutout, layer);
    const Pixel topLeft = frame.image.At(12, 12);
    const Pixel bottomRight = frame.image.At(47, 47);
    EXPECT_LT(topLeft.r, 100);
    EXPECT_EQ(bottomRight, (Pixel{255, 255, 255, 255})) << "the white fill";
    EXPECT_EQ(frame.image.At(5, 5), (Pixel{0, 0, 0, 0})) << "outside the hole, nothing";

    cutout.Set("Opacity", "0");
    const FrameResult unshaded = Render(cutout, layer);
    EXPECT_EQ(unshaded.image.At(12, 12), (Pixel{255, 255, 255, 255}));
    cutout.Set("SolidFill", "off");
    EXPECT_EQ(Render(cutout, layer).image.At(12, 12).a, 0);
}

TEST(Cutout, OutsideTheHoleTheLayerPassesUpToTruncation) {
    const Image layer = zoka_test::TestLayer(30, 20);
    AppliedEffect cutout("Cutout");
    cutout.instance.SetSelection(Image(8, 8, Pixel{255, 0, 0, 0}), 2, 2);
    const FrameResult frame = Render(cutout, layer);
    for (int32_t y = 0; y < layer.Height(); ++y) {
        for (int32_t x = 12; x < layer.Width(); ++x) {
            const Pixel in = layer.At(x, y);
            const Pixel out = frame.image.At(x, y);
            if (in.a == 0) {
                ASSERT_EQ(out, (Pixel{0, 0, 0, 0})) << x << "," << y;
                continue;
            }
            ASSERT_LE(std::abs(out.a - in.a), 1) << x << "," << y;
            ASSERT_LE(std::abs(out.r - in.r), 1) << x << "," << y;
            ASSERT_LE(std::abs(out.g - in.g), 1) << x << "," << y;
            ASSERT_LE(std::abs(out.b - in.b), 1) << x << "," << y;
        }
    }
}

TEST(Cutout, AtHalfResolutionDistanceAndBlurHalve) {
    const Image layer = BoxLayer(80, 60, PixelRect{14, 16, 48, 62});
    AppliedEffect draft("Cutout");
    draft.Set("ShadowDistance", "14");
    draft.Set("Blur", "5");
    AppliedEffect full("Cutout");
    full.Set("ShadowDistance", "7");
    full.Set("Blur", "2.5");
    EXPECT_EQ(Render(draft, layer, 2).image, Render(full, layer.Shrunk(2)).image);
}

// On the table radii: the FFT blur's transform length follows the band's
// area, which may change the last bits of its sums.
TEST(Cutout, BandsAgree) {
    for (const char* blur : {"0", "5", "12"}) {
        AppliedEffect cutout("Cutout");
        cutout.Set("Blur", blur);
        cutout.Set("ShadowDistance", "6.5");
        ExpectBandsAgree(3, cutout, zoka_test::TestLayer(40, 30));
    }
}

TEST(Cutout, FailureSweep) {
    const Image layer = zoka_test::TestLayer(12, 9);
    zoka_test::RunFailureSweep("Cutout", layer);
    zoka_test::RunFailureSweep("Cutout", layer, [](AppliedEffect& e) {
        e.instance.SetSelection(Image(6, 5, Pixel{200, 0, 0, 0}), 2.5, 1.25);
    });
    zoka_test::RunFailureSweep("Cutout", layer, [](AppliedEffect& e) { e.Set("Blur", "40"); });
    FrameOptions half;
    half.downsample = 2;
    zoka_test::RunFailureSweep("Cutout", zoka_test::TestLayer(20, 16), {}, half);
}

// ---- Drop Shadow ------------------------------------------------------------

// A sharp, fully opaque shadow of a 4 x 4 box, drawn everywhere.
void MakeSharp(AppliedEffect& shadow, const char* hostAngle) {
    shadow.Set("ShadowDirection", hostAngle);
    shadow.Set("Blur", "0");
    shadow.Set("Opacity", "100");
    shadow.Set("ShadowColor", "#102030");
    shadow.Set("DrawEverywhere", "on");
}

TEST(DropShadow, HostAngleNinetyCastsTenPixelsRight) {
    const Image layer = BoxLayer(20, 20, PixelRect{8, 8, 12, 12});
    AppliedEffect shadow(kDropShadow);
    MakeSharp(shadow, "90");
    const FrameResult frame = Render(shadow, layer);
    EXPECT_EQ(AtLayer(frame, 18, 9), (Pixel{255, 16, 32, 48}));
    EXPECT_EQ(AtLayer(frame, 21, 11), (Pixel{255, 16, 32, 48}));
    EXPECT_EQ(AtLayer(frame, 17, 9).a, 0);
    EXPECT_EQ(AtLayer(frame, 22, 9).a, 0);
    EXPECT_EQ(AtLayer(frame, 18, 12).a, 0);
}

TEST(DropShadow, HostAngleZeroCastsNinePixelsUp) {
    // The offset is -10 sin(90 x 0.017453292) = -9.99...: nine whole pixels.
    const Image layer = BoxLayer(20, 20, PixelRect{8, 8, 12, 12});
    AppliedEffect shadow(kDropShadow);
    MakeSharp(shadow, "0");
    const FrameResult frame = Render(shadow, layer);
    EXPECT_EQ(frame.originY, 9);
    EXPECT_EQ(AtLayer(frame, 9, -1), (Pixel{255, 16, 32, 48}));
    EXPECT_EQ(AtLayer(frame, 9, 2), (Pixel{255, 16, 32, 48}));
    EXPECT_EQ(AtLayer(frame, 9, 3).a, 0);
    EXPECT_EQ(AtLayer(frame, 8, 8), (Pixel{255, 40, 160, 220})) << "the layer, unshaded";
}

TEST(DropShadow, AtFullOpacityTheShadowIsTheMasksValue) {
    Image layer(16, 4);
    for (int32_t x = 0; x < 16; ++x) {
        for (int32_t y = 0; y < 4; ++y) layer.Set(x, y, Pixel{static_cast<uint8_t>(x * 17), 90, 90, 90});
    }
    AppliedEffect shadow(kDropShadow);
    MakeSharp(shadow, "180");  // straight down
    const FrameResult frame = Render(shadow, layer);
    // Below the layer, where only the shadow lies.
    for (int32_t x = 1; x < 16; ++x) EXPECT_EQ(AtLayer(frame, x, 12), (Pixel{uint8_t(x * 17), 16, 32, 48}));
}

TEST(DropShadow, UnderTheLayerOnlyWhenDrawnEverywhere) {
    const Image layer = BoxLayer(30, 30, PixelRect{5, 5, 25, 25});
    AppliedEffect shadow(kDropShadow);
    const FrameResult off = Render(shadow, layer);
    shadow.Set("DrawEverywhere", "on");
    const FrameResult on = Render(shadow, layer);
    EXPECT_EQ(AtLayer(off, 15, 15), layer.At(15, 15));
    const Pixel shaded = AtLayer(on, 15, 15);
    EXPECT_EQ(shaded.a, 255);
    EXPECT_LT(shaded.b, 220);
    // Beyond the layer both show the same shadow.
    EXPECT_EQ(AtLayer(off, 0, 0), AtLayer(on, 0, 0));
    EXPECT_GT(AtLayer(off, 0, 0).a, 0);
}

TEST(DropShadow, AtHalfResolutionDistanceAndBlurDivideInWholePixels) {
    // 11 / 2 = 5 and 5 / 2 = 2.
    const Image layer = BoxLayer(60, 40, PixelRect{10, 12, 30, 40}, Pixel{255, 200, 50, 50});
    AppliedEffect draft(kDropShadow);
    draft.Set("ShadowDistance", "11");
    draft.Set("Blur", "5");
    AppliedEffect full(kDropShadow);
    full.Set("ShadowDistance", "5");
    full.Set("Blur", "2");
    const FrameResult drafted = Render(draft, layer, 2);
    const FrameResult direct = Render(full, layer.Shrunk(2));
    EXPECT_EQ(drafted.originX, 12) << "the area grows by the full-resolution values";
    ExpectSameOverLayer(drafted, direct);
    ExpectSameOverLayer(direct, drafted);
}

// On the table radii, as Cutout.
TEST(DropShadow, BandsAgree) {
    for (const char* blur : {"0", "6"}) {
        AppliedEffect shadow(kDropShadow);
        shadow.Set("Blur", blur);
        ExpectBandsAgree(4, shadow, zoka_test::TestLayer(40, 30));
    }
}

TEST(DropShadow, FailureSweep) {
    const Image layer = zoka_test::TestLayer(12, 9);
    zoka_test::RunFailureSweep(kDropShadow, layer);
    zoka_test::RunFailureSweep(kDropShadow, layer, [](AppliedEffect& e) {
        e.instance.SetSelection(Image(6, 5, Pixel{200, 0, 0, 0}), 2.5, 1.25);
    });
    zoka_test::RunFailureSweep(kDropShadow, layer, [](AppliedEffect& e) { e.Set("Blur", "40"); });
    FrameOptions half;
    half.downsample = 2;
    zoka_test::RunFailureSweep(kDropShadow, zoka_test::TestLayer(20, 16), {}, half);
}

// ---- Perspective Shadow -------------------------------------------------------

TEST(ShadowProjection, AVanishingPointBesideTheRectangleWidensTheBounds) {
    ShadowProjection p;
    p.Build(40, 10, 50, PixelRect{0, 0, 100, 100});
    PixelRect toTheRight;
    p.Bounds(toTheRight);
    // The vanishing point lies about 364.6 right of the edge and 73.1 above
    // it; the shadow climbs 9.82 of that: 48.98 more columns, and one.
    EXPECT_EQ(toTheRight, (PixelRect{100 - 9 - 1, 0, 100, 149}));
    p.Build(40, 170, 50, PixelRect{0, 0, 100, 100});
    PixelRect toTheLeft;
    p.Bounds(toTheLeft);
    EXPECT_EQ(toTheLeft, (PixelRect{100 - 9 - 1, -49, 100, 100}));
}

TEST(PerspectiveShadow, AnEmptySilhouetteCastsNothing) {
    const Image layer = zoka_test::TestLayer(30, 20);
    AppliedEffect shadow("Perspective Shadow");
    shadow.Set("DrawEverywhere", "on");
    shadow.instance.SetSelection(Image(30, 20), 0, 0);
    const FrameResult frame = Render(shadow, layer);
    for (int32_t y = -frame.originY; y < frame.image.Height() - frame.originY; ++y) {
        for (int32_t x = -frame.originX; x < frame.image.Width() - frame.originX; ++x) {
            const bool inLayer = x >= 0 && y >= 0 && x < layer.Width() && y < layer.Height();
            ASSERT_EQ(AtLayer(frame, x, y), inLayer ? layer.At(x, y) : kTransparentWhite)
                << x << "," << y;
        }
    }
}

TEST(PerspectiveShadow, TheLayerItselfIsShadedOnlyWhenDrawnEverywhere) {
    const Image layer = BoxLayer(80, 80, PixelRect{20, 20, 60, 60});
    AppliedEffect shadow("Perspective Shadow");
    const FrameResult off = Render(shadow, layer);
    shadow.Set("DrawEverywhere", "on");
    const FrameResult on = Render(shadow, layer);
    // Just above the bottom edge, in the middle: where the shadow starts.
    EXPECT_EQ(AtLayer(off, 40, 57), layer.At(40, 57));
    EXPECT_LT(AtLayer(on, 40, 57).b, 150);
    // Beside the box, toward the vanishing point (up and right), both shade.
    EXPECT_EQ(AtLayer(off, 64, 52), AtLayer(on, 64, 52));
    EXPECT_GT(AtLayer(off, 64, 52).a, 100);
    EXPECT_EQ(AtLayer(off, 10, 52), layer.At(10, 52)) << "nothing away from the vanishing point";
}

TEST(PerspectiveShadow, TheGeometryFollowsTheSilhouetteNotTheLayer) {
    // The same box on a tight layer and on a larger one: the shadow starts at
    // the box's bottom edge and has the box's proportions either way.
    const Image tight = BoxLayer(40, 40, PixelRect{5, 5, 35, 35});
    const Image roomy = BoxLayer(140, 120, PixelRect{5, 5, 35, 35});
    AppliedEffect a("Perspective Shadow"), b("Perspective Shadow");
    a.Set("DrawEverywhere", "on");
    b.Set("DrawEverywhere", "on");
    const FrameResult small = Render(a, tight);
    const FrameResult large = Render(b, roomy);
    for (int32_t y = -small.originY; y < small.image.Height() - small.originY; ++y) {
        for (int32_t x = -small.originX; x < small.image.Width() - small.originX; ++x) {
            if (x >= 40 || y >= 40) continue;  // the larger layer's own pixels differ there
            ASSERT_EQ(AtLayer(small, x, y), AtLayer(large, x, y)) << x << "," << y;
        }
    }
}

TEST(PerspectiveShadow, AtHalfResolutionTheBlurHalves) {
    const Image layer = BoxLayer(80, 60, PixelRect{14, 16, 48, 62});
    AppliedEffect draft("Perspective Shadow");
    AppliedEffect full("Perspective Shadow");
    full.Set("Blur", "5");
    ExpectSameOverLayer(Render(draft, layer, 2), Render(full, layer.Shrunk(2)));
}

TEST(PerspectiveShadow, BandsAgreeOnTheTableAndTheFft) {
    for (const char* blur : {"4", "40"}) {
        AppliedEffect shadow("Perspective Shadow");
        shadow.Set("Blur", blur);
        ExpectBandsAgree(20, shadow, zoka_test::TestLayer(40, 30));
    }
}

// The silhouette, its projection and its blur are built once for every band:
// frames at several workers, by the table and by the FFT, with a selection
// placed between pixels and at half resolution, are the frame at one.
TEST(PerspectiveShadow, FramesAtSeveralWorkersAreTheFrameAtOne) {
    const Image layer = zoka_test::TestLayer(67, 41);
    const auto blurred = [](const char* blur) {
        return [blur](AppliedEffect& e) { e.Set("Blur", blur); };
    };
    zoka_test::ExpectSameFrameAtSeveralWorkers("Perspective Shadow", layer);
    zoka_test::ExpectSameFrameAtSeveralWorkers("Perspective Shadow", layer, blurred("40"));
    zoka_test::ExpectSameFrameAtSeveralWorkers("Perspective Shadow", layer, [](AppliedEffect& e) {
        e.Set("DrawEverywhere", "on");
        e.Set("VanishingPointDirection", "330");
        e.instance.SetSelection(zoka_test::TestLayer(23, 17), 9.5, 4.25);
    });
    FrameOptions half;
    half.downsample = 2;
    zoka_test::ExpectSameFrameAtSeveralWorkers("Perspective Shadow", layer, blurred("12"), half);
}

TEST(PerspectiveShadow, FailureSweep) {
    const Image layer = zoka_test::TestLayer(12, 9);
    zoka_test::RunFailureSweep("Perspective Shadow", layer);
    zoka_test::RunFailureSweep("Perspective Shadow", layer, [](AppliedEffect& e) {
        e.instance.SetSelection(Image(6, 5, Pixel{200, 0, 0, 0}), 2.5, 1.25);
    });
    zoka_test::RunFailureSweep("Perspective Shadow", layer,
                               [](AppliedEffect& e) { e.Set("Blur", "40"); });
    FrameOptions half;
    half.downsample = 2;
    zoka_test::RunFailureSweep("Perspective Shadow", zoka_test::TestLayer(20, 16), {}, half);
}

}  // namespace
}  // namespace zoka
