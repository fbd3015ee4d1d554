// Renders with values a host can store but no user can set: far out of the
// parameters' ranges, at the 32-bit extremes. Each case is an input the
// fuzz target (fuzz/host_frames_fuzz.cpp) found, rendered through the real
// path: the render must end with a documented code, leave nothing behind,
// and where the value has a plain meaning, render what it means.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "interface/module_exports.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace zoka {
namespace {

using zoka_test::AppliedEffect;

// The first word of a parameter's value, written as a host can store it.
void SetRaw(AppliedEffect& e, const std::string& key, int32_t value) {
    e.instance.Params()[e.HostIndex(key)].def.u.slider.value = value;
}

ourhost::FrameResult Render(AppliedEffect& e, const ourhost::Image& layer) {
    ourhost::FrameResult frame = e.instance.RenderFrame(layer, {});
    EXPECT_EQ(e.host.LiveHandles(), 0u);
    EXPECT_TRUE(e.host.Faults().empty());
    return frame;
}

// Values out of range whose meaning is plain render as the nearest valid
// value does. Each broke a render before: the bevel measured its heights
// over the band shrunk by a negative smoothness and shaded rows outside
// them; Drop Shadow read its shadow over the band from an area shrunk by a
// negative blur; Weave's pattern indexed its shade table past the end with a
// negative gap; Swirl's walks started outside the vectors of an area shrunk
// by a negative smear length.
struct SameAs {
    const char* effect;
    const char* key;
    int32_t hostile;
    int32_t equivalent;
};

constexpr SameAs kSameAs[] = {
    {"Inner Bevel", "Antialias", INT32_MIN, 0},
    {"Inner Bevel", "Antialias", -3 * 65536, 0},
    {"Drop_Shadow_Entry_Point", "Blur", -5, 0},
    {"Drop_Shadow_Entry_Point", "Blur", INT32_MIN, 0},
    {"Weave", "GapWidth", -5, 0},
    {"Swirl", "SmearLength", -5, 3},
    {"Star", "Opacity", INT32_MAX, 100 * 65536},
};

TEST(HostileValues, OutOfRangeValuesRenderAsTheNearestValidOne) {
    const ourhost::Image layer = zoka_test::TestLayer(40, 30);
    for (const SameAs& c : kSameAs) {
        AppliedEffect valid(c.effect);
        SetRaw(valid, c.key, c.equivalent);
        const ourhost::FrameResult reference = Render(valid, layer);
        ASSERT_EQ(reference.code, kHostNoError) << c.effect;
        AppliedEffect hostile(c.effect);
        SetRaw(hostile, c.key, c.hostile);
        const ourhost::FrameResult frame = Render(hostile, layer);
        EXPECT_EQ(frame.code, kHostNoError) << c.effect << " " << c.key << " " << c.hostile;
        EXPECT_EQ(frame.image, reference.image) << c.effect << " " << c.key << " " << c.hostile;
        EXPECT_EQ(frame.originX, reference.originX) << c.effect << " " << c.key << " " << c.hostile;
    }
}

TEST(HostileValues, AStarOfNoSidesIsNotDrawn) {
    // It read the first of its zero sides.
    const ourhost::Image layer = zoka_test::TestLayer(40, 30);
    AppliedEffect star("Star");
    SetRaw(star, "Sides", 0);
    const ourhost::FrameResult frame = Render(star, layer);
    EXPECT_EQ(frame.code, kHostNoError);
    EXPECT_EQ(frame.image, layer);
}

// Every parameter of every effect, one at a time, at values a 32-bit field
// can hold and no slider gives: each frame ends with 0 or 8 and leaves
// nothing behind. Run with the sanitizers, this found signed overflows in
// Motion Trail's tapered trail (an opacity of -32768) and Smoke's reach (an
// edge softness of 2^31 - 1), and Star's colour ramp turned to INT32_MIN for
// a star of one side. The host has 256 MiB for the module, and frames of
// more than four million pixels it does not render, as a host with that much
// memory would not: values this far out of range ask for areas of many
// millions of pixels (Chrome's Softness of 32768 a blurred mask of a billion
// around a 16 x 12 layer), whose work grows with their size.
TEST(HostileValues, EveryParameterAtTheExtremesRendersOrRefuses) {
    constexpr int32_t kValues[] = {INT32_MIN, -20 * 65536, -5, 0, 1, INT32_MAX};
    constexpr int64_t kLargestFrame = 4 << 20;
    const ourhost::Image layer = zoka_test::TestLayer(16, 12);
    for (const ZokaEffectKeys& keys : zoka_test::LoadedModule().AllEffects()) {
        for (int32_t number = 0; number < keys.paramCount; ++number) {
            for (const int32_t value : kValues) {
                AppliedEffect e(keys.entryName);
                e.host.SetMemoryLimit(uint64_t{256} << 20);
                const size_t index = e.instance.Params().size() - keys.paramCount + number;
                e.instance.Params()[index].def.u.slider.value = value;
                HostError code = e.instance.FrameSetup(layer, {});
                const HostOutputRecord& out = e.instance.Output();
                const bool expands = (e.instance.GlobalFlags() & kOutFlagExpandsOutput) != 0;
                const bool holdable = !expands || int64_t{out.width} * out.height <= kLargestFrame;
                if (code == kHostNoError && holdable) {
                    code = Render(e, layer).code;
                }
                EXPECT_TRUE(code == kHostNoError || code == 8)
                    << keys.entryName << " parameter " << number << " at " << value << ": " << code;
                EXPECT_EQ(e.host.LiveHandles(), 0u);
            }
        }
    }
}

}  // namespace
}  // namespace zoka
