// The module's bounds where the host's 16-bit fields meet extreme values:
// frames no host layer can hold, 32-bit parameter values in 16-bit fields,
// blur lines beyond the FFT's longest transform, and plume heights; each
// through the real path, with values written into the host's records as a
// host can store them.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "base/result_codes.h"
#include "raster/blur.h"
#include "raster/fft.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

constexpr int32_t kFixedOne = 65536;

// The first word of a parameter's value, written as a host can store it.
void SetRaw(AppliedEffect& e, const std::string& key, int32_t value) {
    e.instance.Params()[e.HostIndex(key)].def.u.slider.value = value;
}

// What frame setup answered, with the size fields holding a mark before the
// call, so an answer that leaves them alone shows.
struct FrameAnswer {
    HostError code;
    int32_t width, height, originX, originY;
    bool displayError;
};

constexpr int16_t kMark = -7;

FrameAnswer SetUpFrame(AppliedEffect& e, const Image& layer) {
    HostOutputRecord& out = e.instance.Output();
    out.width = out.height = out.originH = out.originV = kMark;
    const HostError code = e.instance.FrameSetup(layer, FrameOptions{});
    EXPECT_EQ(e.host.LiveHandles(), 0u);
    return FrameAnswer{code, out.width, out.height, out.originH, out.originV,
                       (out.flags & kOutFlagDisplayError) != 0};
}

void ExpectRefused(const FrameAnswer& a) {
    EXPECT_EQ(a.code, kOutOfMemory);
    EXPECT_TRUE(a.displayError);
    EXPECT_EQ(a.width, kMark) << "the host's fields stay as they were";
    EXPECT_EQ(a.height, kMark);
    EXPECT_EQ(a.originX, kMark);
    EXPECT_EQ(a.originY, kMark);
}

// ---- Frames a host can make ------------------------------------------------------

TEST(FrameBounds, TheLargestSideIsAnsweredAndOnePixelMoreIsRefused) {
    // A 1 x 1 layer blurred by w grows by w + 1 on each side: 2w + 3 pixels.
    AppliedEffect blur("Gaussian Blur");
    SetRaw(blur, "Width", 16382);
    const FrameAnswer largest = SetUpFrame(blur, Image(1, 1));
    EXPECT_EQ(largest.code, kHostNoError);
    EXPECT_EQ(largest.width, 32767);
    EXPECT_EQ(largest.height, 32767);
    EXPECT_EQ(largest.originX, 16383);

    SetRaw(blur, "Width", 16383);
    ExpectRefused(SetUpFrame(blur, Image(1, 1)));
    EXPECT_NE(blur.instance.Output().message[0], '\0') << "the system's text for code 8";
}

TEST(FrameBounds, AnOriginBeyondSixteenBitsIsRefused) {
    // An empty layer whose shadow falls 40000 pixels to its right: the
    // layer's corner would lie at -40000 in the frame.
    AppliedEffect shadow("Drop_Shadow_Entry_Point");
    shadow.instance.SetSelection(Image(4, 4, Pixel{255, 0, 0, 0}), 30000, 0);
    SetRaw(shadow, "ShadowDirection", 90 * kFixedOne);  // toward +x
    SetRaw(shadow, "ShadowDistance", 10000);
    ExpectRefused(SetUpFrame(shadow, Image(0, 0)));

    SetRaw(shadow, "ShadowDistance", 100);
    const FrameAnswer nearer = SetUpFrame(shadow, Image(0, 0));
    EXPECT_EQ(nearer.code, kHostNoError);
    EXPECT_EQ(nearer.originX, -(30000 + 100 - 10));
}

TEST(FrameBounds, ARefusedFrameIsNotRenderedAndLeavesNothingBehind) {
    AppliedEffect glow("Glow");
    SetRaw(glow, "Width", 20000 * kFixedOne);
    const ourhost::FrameResult frame = glow.instance.RenderFrame(zoka_test::TestLayer(), {});
    EXPECT_EQ(frame.code, kOutOfMemory);
    EXPECT_TRUE(frame.displayError);
    EXPECT_EQ(glow.host.LiveHandles(), 0u);
    EXPECT_TRUE(glow.host.Faults().empty());
}

TEST(FrameBounds, TheRenderRefusesADestinationNoFrameHolds) {
    // A host that renders without asking frame setup first.
    AppliedEffect blur("Gaussian Blur");
    SetRaw(blur, "Width", 20000);
    const Image layer = zoka_test::TestLayer(6, 5);
    Image output(8, 7, Pixel{1, 2, 3, 4});
    EXPECT_EQ(blur.instance.Render(layer, output, FrameOptions{}), kOutOfMemory);
    EXPECT_EQ(output, zoka_test::FallbackOutput(layer, 8, 7));
    EXPECT_EQ(blur.host.LiveHandles(), 0u);
}

TEST(FrameBounds, AnEffectThatKeepsTheLayersSizeAnswersTheLayersFrame) {
    // The selection's area and the layer's together are wider than any
    // frame, but the effect renders into the layer alone.
    AppliedEffect antimatter("Antimatter");
    antimatter.instance.SetSelection(Image(10, 10, Pixel{255, 0, 0, 0}), -32768, -32768);
    const Image layer = zoka_test::TestLayer(30, 20);
    const FrameAnswer a = SetUpFrame(antimatter, layer);
    EXPECT_EQ(a.code, kHostNoError);
    EXPECT_EQ(a.width, 30);
    EXPECT_EQ(a.height, 20);
    EXPECT_EQ(a.originX, 0);
    EXPECT_EQ(a.originY, 0);
    const ourhost::FrameResult frame = antimatter.instance.RenderFrame(layer, {});
    EXPECT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image, layer) << "the selection lies nowhere near the layer";
}

// ---- Parameters beyond 16 bits ----------------------------------------------------

TEST(SixteenBitParameters, AWidthBeyondSixteenBitsIsTooLargeNotWrapped) {
    // 65556 kept in 16 bits would be a width of 20; 40000 a negative one.
    for (const int32_t width : {65556, 40000}) {
        AppliedEffect blur("Gaussian Blur");
        SetRaw(blur, "Width", width);
        ExpectRefused(SetUpFrame(blur, zoka_test::TestLayer()));
    }
}

TEST(SixteenBitParameters, AGlowJustBelow32768PixelsIsTooLargeNotNegative) {
    AppliedEffect glow("Glow");
    SetRaw(glow, "Width", 0x7FFF8000);  // 32767.5: its ceiling no longer fits 16 bits
    ExpectRefused(SetUpFrame(glow, zoka_test::TestLayer()));
}

TEST(SixteenBitParameters, ShadowBlursBeyondAnyFrameAreRefused) {
    AppliedEffect drop("Drop_Shadow_Entry_Point");
    SetRaw(drop, "Blur", 40000);
    ExpectRefused(SetUpFrame(drop, zoka_test::TestLayer()));

    AppliedEffect perspective("Perspective Shadow");
    SetRaw(perspective, "Blur", 0x7FFF0000);
    ExpectRefused(SetUpFrame(perspective, zoka_test::TestLayer()));
}

// ---- Plume heights ----------------------------------------------------------------

TEST(PlumeHeights, TheLargestValidHeightGrowsTheFrameAndOneBeyondSixteenBitsIsRefused) {
    for (const char* effect : {"Fire", "Smoke"}) {
        AppliedEffect plume(effect);
        SetRaw(plume, "WispHeight", 3000);
        const FrameAnswer tall = SetUpFrame(plume, Image(100, 80));
        EXPECT_EQ(tall.code, kHostNoError) << effect;
        EXPECT_EQ(tall.originY, 3000) << effect;
        EXPECT_EQ(tall.height, 80 + 3000 + tall.originX) << effect << ": the reach below as at the sides";

        SetRaw(plume, "WispHeight", 40000);  // kept in 16 bits it would be negative
        ExpectRefused(SetUpFrame(plume, Image(100, 80)));
    }
}

// ---- The FFT's longest transform -------------------------------------------------

constexpr int32_t kLongestTransform = 2 * 720720;

TEST(FftBounds, LinesUpToTheLongestTransformGetOneAndNoLonger) {
    EXPECT_EQ(FftSize(kLongestTransform), kLongestTransform);
    EXPECT_EQ(FftSize(720721), kLongestTransform);
    EXPECT_EQ(FftSize(720720), 720720);
}

TEST(FftBounds, ALinePlusTheReachBeyondTheLongestTransformIsRefusedUntouched) {
    zoka_test::ModuleMemoryScope memory;
    // One row one sample too long for the radius: 1441410 + ceil(31) > 1441440.
    Raster* line = nullptr;
    ASSERT_EQ(CreateRaster(PixelRect{0, 0, 1, kLongestTransform - 30}, 1, 1, line), kOk);
    for (int32_t x = 0; x < line->bounds.right; ++x) *line->Pixel(x, 0) = static_cast<uint8_t>(x);
    EXPECT_EQ(BlurRaster(*line, 31, [](const void*) { return 0; }), kOutOfMemory);
    bool untouched = true;
    for (int32_t x = 0; x < line->bounds.right; ++x) untouched &= *line->Pixel(x, 0) == uint8_t(x);
    EXPECT_TRUE(untouched);
    DestroyRaster(line);

    // Radii that no transform holds, whatever the raster.
    Raster* square = nullptr;
    ASSERT_EQ(CreateRaster(PixelRect{0, 0, 10, 10}, 4, 8, square), kOk);
    for (const double r : {1.5e6, 1e300, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(BlurRaster(*square, r, [](const void*) { return 0; }), kOutOfMemory) << r;
    }
    DestroyRaster(square);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

}  // namespace
}  // namespace zoka
