// How large each effect's output is: frame setup for every effect at its
// defaults, at full resolution and at half resolution.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "effects/shadow_projection.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;

struct Area {
    int32_t width, height, originX, originY;
    friend bool operator==(const Area&, const Area&) = default;
};

void PrintTo(const Area& a, std::ostream* os) {
    *os << a.width << "x" << a.height << " at " << a.originX << "," << a.originY;
}

Area FrameArea(ourhost::EffectInstance& instance, int32_t divisor) {
    FrameOptions options;
    options.downsample = divisor;
    EXPECT_EQ(instance.FrameSetup(Image(100 / divisor, 80 / divisor), options), kHostNoError);
    const HostOutputRecord& out = instance.Output();
    return Area{out.width, out.height, out.originH, out.originV};
}

struct Expected {
    const char* effect;
    Area full;  // a 100 x 80 layer
    Area half;  // the same layer at half resolution: 50 x 40
};

// Worked out by hand from each effect's area rule at its default parameters.
constexpr Expected kAreas[] = {
    {"Antimatter", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Carve", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Chrome", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Cutout", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Fur", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Glass", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"HSB Noise", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Inner Bevel", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Star", {100, 80, 0, 0}, {50, 40, 0, 0}},
    {"Weave", {100, 80, 0, 0}, {50, 40, 0, 0}},
    // ceil(20 / k) + 1 on every side.
    {"Gaussian Blur", {142, 122, 21, 21}, {72, 62, 11, 11}},
    {"Glow", {142, 122, 21, 21}, {72, 62, 11, 11}},
    // trunc(max(1, 5 / k)) + 1.
    {"Squint", {112, 92, 6, 6}, {56, 46, 3, 3}},
    // max(1, trunc(20 / k)).
    {"Outer Bevel", {140, 120, 20, 20}, {70, 60, 10, 10}},
    // 50 / k pixels toward 250 degrees: left by trunc(n cos), down by trunc(-n sin).
    {"Motion Trail", {117, 126, 17, 0}, {58, 63, 8, 0}},
    // trunc(30 / k).
    {"Jiggle", {160, 140, 30, 30}, {80, 70, 15, 15}},
    // max(3, 5 / trunc(k)).
    {"Swirl", {110, 90, 5, 5}, {56, 46, 3, 3}},
    // trunc(5 / k) + 1 around, and the plume height above.
    {"Fire", {112, 131, 6, 45}, {56, 65, 3, 22}},
    {"Smoke", {112, 186, 6, 100}, {56, 93, 3, 50}},
    // The shadow's bounds grown by ceil(10), united with the layer.
    {"Perspective Shadow", {146, 90, 10, 0}, {83, 50, 10, 0}},
};

TEST(OutputArea, EveryEffectAtItsDefaultsAndAtHalfResolution) {
    for (const Expected& e : kAreas) {
        zoka_test::AppliedEffect effect(e.effect);
        EXPECT_EQ(FrameArea(effect.instance, 1), e.full) << e.effect;
        EXPECT_EQ(FrameArea(effect.instance, 2), e.half) << e.effect << " at half resolution";
        EXPECT_EQ(effect.host.LiveHandles(), 0u);
    }
}

TEST(OutputArea, DropShadowMovesByItsOffsetWhateverTheResolution) {
    ourhost::Host host;
    ourhost::EffectInstance shadow(
        host, zoka_test::LoadedModule().EntryPoint("Drop_Shadow_Entry_Point"));
    ASSERT_EQ(shadow.GlobalSetup(), kHostNoError);
    ASSERT_EQ(shadow.SetupParams(), kHostNoError);
    EXPECT_EQ(FrameArea(shadow, 1), (Area{120, 100, 17, 17}));
    EXPECT_EQ(FrameArea(shadow, 2), (Area{70, 60, 17, 17}));
}

TEST(ShadowProjection, TheVanishingPointLiesAboveTheMiddleOfTheBottomEdge) {
    ShadowProjection p;
    p.Build(40, 90, 50, PixelRect{0, 0, 100, 100});
    EXPECT_NEAR(p.vanishingX, 50, 1e-4);
    EXPECT_NEAR(p.vanishingY, -321, 1e-4);
    EXPECT_NEAR(p.shadowHeight, 0.7 * -421 / 5.21, 1e-9);
    PixelRect bounds;
    p.Bounds(bounds);
    EXPECT_EQ(bounds, (PixelRect{43, 0, 100, 100}));
}

TEST(ShadowProjection, DirectionsFoldIntoFourToOneHundredSeventySix) {
    const auto vanishingX = [](double direction) {
        ShadowProjection p;
        p.Build(40, direction, 50, PixelRect{0, 0, 100, 100});
        return p.vanishingX;
    };
    EXPECT_DOUBLE_EQ(vanishingX(270), vanishingX(90));
    EXPECT_DOUBLE_EQ(vanishingX(2), vanishingX(4));
    EXPECT_DOUBLE_EQ(vanishingX(178), vanishingX(176));
    EXPECT_DOUBLE_EQ(vanishingX(std::nan("")), vanishingX(4));
}

TEST(ShadowProjection, MapTakesTheBottomRowToItselfAndTheShadowsEndToTheTop) {
    ShadowProjection p;
    p.Build(40, 60, 50, PixelRect{10, 20, 90, 120});
    double sx = 0, sy = 0;
    p.Map(33, 90, sx, sy);
    EXPECT_NEAR(sx, 33, 1e-9);
    EXPECT_DOUBLE_EQ(sy, 90);
    p.Map(50, 90 + p.shadowHeight, sx, sy);
    EXPECT_NEAR(sy, 10, 1e-9);
    p.Map(50, p.vanishingY, sx, sy);
    EXPECT_DOUBLE_EQ(sx, 70);
    EXPECT_DOUBLE_EQ(sy, 8);
}

}  // namespace
}  // namespace zoka
