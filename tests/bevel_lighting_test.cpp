// The bevel profiles and the bevel lighting.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/result_codes.h"
#include "bevel/bevel_lighting.h"
#include "bevel/bevel_profile.h"
#include "tests/support/module_memory_scope.h"

namespace zoka {
namespace {

using zoka_test::ModuleMemoryScope;

constexpr ProfileKind kKinds[] = {ProfileKind::kConvex, ProfileKind::kSCurve, ProfileKind::kConcave,
                                  ProfileKind::kLinear};
constexpr double kDegrees = 0.017453292522222223;

TEST(BevelProfile, QuarterAndThreeQuartersOfTheWayForEachKind) {
    const double atQuarter[] = {0.9375, 0.875, 0.5625, 0.75};
    const double atThreeQuarters[] = {0.4375, 0.125, 0.0625, 0.25};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(BevelProfile(1, 4, 0, 1, kKinds[k]), atQuarter[k]) << k;
        EXPECT_EQ(BevelProfile(3, 4, 0, 1, kKinds[k]), atThreeQuarters[k]) << k;
        // Scaled by the depth; the offset shortens the width.
        EXPECT_EQ(BevelProfile(3, 6, 2, 8, kKinds[k]), 8 * atThreeQuarters[k]) << k;
    }
}

TEST(BevelProfile, TheSCurveMeetsItselfHalfWay) {
    EXPECT_EQ(BevelProfile(2, 4, 0, 1, ProfileKind::kSCurve), 0.5);
    EXPECT_NEAR(BevelProfile(std::nextafter(2.0, 0.0), 4, 0, 1, ProfileKind::kSCurve), 0.5, 1e-15);
}

TEST(BevelProfile, NeverLeavesZeroToDepthWhateverTheValue) {
    for (const ProfileKind kind : kKinds) {
        for (double v = -12; v <= 20; v += 0.37) {
            const double h = BevelProfile(v, 5, 1, 3, kind);
            EXPECT_GE(h, 0) << v;
            EXPECT_LE(h, 3) << v;
        }
    }
    // Past the width: Convex and Linear stay at 0, SCurve and Concave rise
    // again.
    EXPECT_EQ(BevelProfile(5, 4, 0, 1, ProfileKind::kConvex), 0);
    EXPECT_EQ(BevelProfile(5, 4, 0, 1, ProfileKind::kLinear), 0);
    EXPECT_EQ(BevelProfile(5, 4, 0, 1, ProfileKind::kConcave), 0.0625);
    EXPECT_EQ(BevelProfile(5, 4, 0, 1, ProfileKind::kSCurve), 0.125);
}

TEST(BevelProfile, ReachesZeroExactlyAtTheWidthWithoutOffset) {
    for (const ProfileKind kind : kKinds) EXPECT_EQ(BevelProfile(7.3, 7.3, 0, 2, kind), 0);
}

TEST(BevelProfile, AWidthBelowTheOffsetDividesByHalfAPixel) {
    EXPECT_EQ(BevelProfile(0.25, 1, 3, 1, ProfileKind::kLinear), 0.5);
    EXPECT_EQ(BevelProfile(0.25, 1, 0.9, 1, ProfileKind::kLinear), 0.5);
}

// ---- Lighting ----------------------------------------------------------------

TEST(BevelLight, TheDefaultDirectionLightsFromTheUpperLeft) {
    // The host's 315 degrees read as 135 counter-clockwise from +x, at 45
    // degrees of inclination.
    const BevelLight light = LightFromAngles(135 * kDegrees, 45 * kDegrees);
    EXPECT_NEAR(light.x, -0.5, 1e-9);
    EXPECT_NEAR(light.y, -0.5, 1e-9);
    EXPECT_NEAR(light.z, std::sqrt(0.5), 1e-9);
}

TEST(BevelLight, StraightOverheadAFlatSurfaceGetsTheWholeHighlight) {
    const BevelLight light = LightFromAngles(0.3, 90 * kDegrees);
    EXPECT_NEAR(light.x, 0, 1e-9);
    EXPECT_NEAR(light.y, 0, 1e-9);
    EXPECT_EQ(light.z, 1);
    const double colour[3] = {0.2, 0.5, 1};
    double out[3];
    ShadePixel(colour, 3, 0, 0, 26.2, 0.8, light, out);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(out[k], colour[k] + 0.8) << k;
}

TEST(BevelLight, ASlopeTurnedAwayFromTheLightIsBlackWithoutHighlight) {
    const BevelLight fromTheRight = LightFromAngles(0, 45 * kDegrees);
    const double colour[3] = {1, 1, 1};
    double out[3] = {9, 9, 9};
    // Rising to the right: the surface faces left.
    ShadePixel(colour, 3, 1.5, 0, 1, 1.0, fromTheRight, out);
    for (const double v : out) EXPECT_EQ(v, 0);
}

TEST(BevelLight, DiffuseAndHighlightFollowTheNormal) {
    const BevelLight overhead{0, 0, 1};
    const double colour[3] = {0.4, 0.6, 0.8};
    double out[3];
    // Gradient 2: cosine 1 / sqrt(5); the mirrored light points below the
    // horizon, so no highlight.
    ShadePixel(colour, 3, 2, 0, 5, 1.0, overhead, out);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], colour[k] / std::sqrt(5.0), 1e-15);
    // Gradient 0.5: cosine 1 / sqrt(1.25), highlight 0.6^exponent.
    ShadePixel(colour, 3, 0, 0.5, 3, 0.5, overhead, out);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(out[k], colour[k] / std::sqrt(1.25) + 0.5 * 0.216, 1e-15);
}

// A band of heights over which ShadeBevelBand runs, with its layer.
class ShadedBand {
public:
    explicit ShadedBand(PixelRect band) : band_(band) {
        PixelRect around = band;
        OutsetRect(around, 1);
        EXPECT_EQ(CreateRaster(around, 4, 1, source_), kOk);
        EXPECT_EQ(CreateRaster(around, 4, 1, destination_), kOk);
        EXPECT_EQ(CreateRaster(around, 1, 8, heights_), kOk);
        for (int32_t y = around.top; y < around.bottom; ++y) {
            for (int32_t x = around.left; x < around.right; ++x) {
                const uint8_t pixel[4] = {uint8_t(17 * x), uint8_t(200 - 9 * y), uint8_t(x * y), uint8_t(40 + x)};
                std::memcpy(source_->Pixel(x, y), pixel, 4);
                std::memset(destination_->Pixel(x, y), 0xEE, 4);
            }
        }
        SetHeights([](int32_t, int32_t) { return 0.0; });
        shading = BevelShading{source_, destination_, heights_, 3, ProfileKind::kConvex, 0, 10,
                               LightFromAngles(135 * kDegrees, 45 * kDegrees), 0.8, 26.2, 6, 50, false};
    }
    ~ShadedBand() {
        DestroyRaster(source_);
        DestroyRaster(destination_);
        DestroyRaster(heights_);
    }

    template <typename Fn>
    void SetHeights(Fn height) {
        for (int32_t y = heights_->bounds.top; y < heights_->bounds.bottom; ++y) {
            for (int32_t x = heights_->bounds.left; x < heights_->bounds.right; ++x) {
                *reinterpret_cast<double*>(heights_->Pixel(x, y)) = height(x, y);
            }
        }
    }
    void Shade() { ShadeBevelBand(shading, band_); }
    const uint8_t* In(int32_t x, int32_t y) const { return source_->Pixel(x, y); }
    const uint8_t* Out(int32_t x, int32_t y) const { return destination_->Pixel(x, y); }

    BevelShading shading{};

private:
    PixelRect band_;
    Raster* source_ = nullptr;
    Raster* destination_ = nullptr;
    Raster* heights_ = nullptr;
};

TEST(ShadeBevelBand, AFlatAreaKeepsItsColourExactlyAndAlphaIsLeftAlone) {
    ModuleMemoryScope memory;
    // The colours include bytes (45, 49, 164) that 255 x (byte / 255),
    // truncated, would bring a level lower.
    ShadedBand band(PixelRect{2, 3, 8, 10});
    band.SetHeights([](int32_t, int32_t) { return 6.0; });
    band.shading.light = LightFromAngles(0, 90 * kDegrees);  // lit: c + 0.8 before the blend
    band.Shade();
    for (int32_t y = 2; y < 8; ++y) {
        for (int32_t x = 3; x < 10; ++x) {
            for (int k = 0; k < 3; ++k) EXPECT_EQ(band.Out(x, y)[k], band.In(x, y)[k]) << x << "," << y;
            EXPECT_EQ(band.Out(x, y)[3], 0xEE);
        }
    }
    EXPECT_EQ(band.Out(2, 2)[0], 0xEE) << "nothing outside the band is written";
}

TEST(ShadeBevelBand, AGentleSlopeIsBlendedTowardsTheColour) {
    ModuleMemoryScope memory;
    ShadedBand band(PixelRect{0, 0, 3, 3});
    // gx = 0.1 everywhere: g2 = 0.01, a fifth of the lit colour.
    band.SetHeights([](int32_t x, int32_t) { return 0.05 * x; });
    band.Shade();
    const uint8_t* in = band.In(1, 1);
    double c[3], lit[3];
    for (int k = 0; k < 3; ++k) c[k] = in[k] * 0.00392156862745098;
    ShadePixel(c, 3, 0.1, 0, band.shading.exponent, band.shading.brightness, band.shading.light, lit);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(band.Out(1, 1)[k], uint8_t((c[k] * (1 - 0.2) + lit[k] * 0.2) * 255)) << k;
    }
}

TEST(ShadeBevelBand, CarvedSurfacesAreLitInverselyAndDarkenedWithDepth) {
    ModuleMemoryScope memory;
    ShadedBand raised(PixelRect{0, 0, 3, 3}), carved(PixelRect{0, 0, 3, 3});
    raised.SetHeights([](int32_t x, int32_t) { return 1.0 * x; });
    carved.SetHeights([](int32_t x, int32_t) { return -1.0 * x; });
    carved.shading.carved = true;
    carved.shading.darkenDepths = 0;
    raised.Shade();
    carved.Shade();
    for (int k = 0; k < 3; ++k) EXPECT_EQ(carved.Out(1, 1)[k], raised.Out(1, 1)[k]) << k;

    // Flat at the full depth: darkened by Darken Depths percent.
    for (const double darken : {0.0, 50.0, 100.0}) {
        ShadedBand floor(PixelRect{0, 0, 3, 3});
        floor.SetHeights([](int32_t, int32_t) { return 6.0; });
        floor.shading.carved = true;
        floor.shading.darkenDepths = darken;
        floor.Shade();
        for (int k = 0; k < 3; ++k) {
            const uint8_t in = floor.In(1, 1)[k];
            EXPECT_EQ(floor.Out(1, 1)[k], darken == 0 ? in : uint8_t(in * 0.00392156862745098 * (1 - darken * 0.01) * 255))
                << darken;
        }
    }
}

}  // namespace
}  // namespace zoka
