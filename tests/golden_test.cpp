// Golden renders: each built effect on the sample layer, at its defaults and
// in variants that take other paths, pinned by a hash of its pixels. Checked
// by eye when first recorded; they keep later speed work from changing any
// pixel unnoticed, and show that every build (64-bit, 32-bit) renders alike.
#include <gtest/gtest.h>

#include <cstdint>

#include "cli/sample_layer.h"
#include "ourhost/param_values.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

struct Golden {
    const char* effect;
    const char* key;     // the parameter set; null: the defaults
    const char* value;
    int32_t width, height;
    uint64_t pixels;     // FNV-1a of the output's bytes
    double seconds = 0;  // the frame's time
};

constexpr Golden kGoldens[] = {
    {"Antimatter", nullptr, "", 400, 300, 0x1029773fe8dcbb53},
    {"Motion Trail", nullptr, "", 417, 346, 0x44eb07a71de5111b},
    {"Motion Trail", "Taper", "off", 417, 346, 0xb13ee5fc00be66b7},
    {"Motion Trail", "Direction", "100", 449, 308, 0xf97edb988b3c1636},
    {"Squint", nullptr, "", 412, 312, 0xeca3c0ad37c0f06c},
    {"Squint", "Radius", "12.5", 426, 326, 0x0fe2811c1c15799e},
    {"Gaussian Blur", nullptr, "", 442, 342, 0x06c94cd5128a499b},
    {"Gaussian Blur", "Width", "45", 492, 392, 0x4c08a97c0b1fc89b},
    {"HSB Noise", nullptr, "", 400, 300, 0x949c4a368c743e68},
    {"HSB Noise", "Opacity", "80", 400, 300, 0x77c6699acc21c778},
    {"HSB Noise", "FlowVelocity", "30", 400, 300, 0xabe89c1d8a607dc6, 1.5},
    {"HSB Noise", "PhaseVelocity", "200", 400, 300, 0xca93bcc73313541a, 0.75},
    {"Inner Bevel", nullptr, "", 400, 300, 0xa19880bb790ee8e6},
    {"Inner Bevel", "Bevel", "Rounded", 400, 300, 0x806a16e8885777ce},
    {"Inner Bevel", "Bevel", "Flat", 400, 300, 0xceb97aaf98b4e141},
    {"Inner Bevel", "Bevel", "Mesa", 400, 300, 0x6eeb42ac0aefa9e3},
    {"Outer Bevel", nullptr, "", 440, 340, 0xf002b64e9bc345da},
    {"Outer Bevel", "Bevel", "Rounded", 440, 340, 0x3a07cd7cee460911},
    {"Outer Bevel", "Bevel", "Flat", 440, 340, 0xe2b1d130d53df0c5},
    {"Outer Bevel", "Bevel", "Mesa", 440, 340, 0x492df30e88ad50ac},
    {"Carve", nullptr, "", 400, 300, 0xdbce4755e079cdb3},
    {"Carve", "Bevel", "Rounded", 400, 300, 0x778e455c33d84c5d},
    {"Carve", "Bevel", "Flat", 400, 300, 0x9153aa67859ac259},
    {"Carve", "Bevel", "Mesa", 400, 300, 0xb938b80c68613dd4},
};

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (const uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

TEST(Golden, EveryEffectRendersTheRecordedPixels) {
    const ourhost::Image layer = zoka_cli::SampleLayer();
    for (const Golden& g : kGoldens) {
        zoka_test::AppliedEffect effect(g.effect);
        if (g.key != nullptr) effect.Set(g.key, g.value);
        const auto frame = effect.instance.RenderFrame(layer, ourhost::FrameOptions{g.seconds});
        ASSERT_EQ(frame.code, kHostNoError) << g.effect;
        EXPECT_EQ(frame.image.Width(), g.width) << g.effect << " " << g.value;
        EXPECT_EQ(frame.image.Height(), g.height) << g.effect << " " << g.value;
        EXPECT_EQ(Fnv1a(frame.image.Bytes()), g.pixels) << g.effect << " " << g.value;
    }
}

}  // namespace
}  // namespace zoka
