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
    {"Chrome", nullptr, "", 400, 300, 0x8ef6ba949f702769},
    {"Chrome", "Softness", "40", 400, 300, 0xc1c782afba69bf72},
    {"Chrome", "Bands", "10", 400, 300, 0x4971b923774d1a05},
    {"Chrome", "Direction", "300", 400, 300, 0xc2db800f1a1558cd},
    {"Chrome", "Contrast", "100", 400, 300, 0xa6693a6cfb64aaff},
    {"Glow", nullptr, "", 442, 342, 0x8882a24b47efa454},
    {"Glow", "DropoffType", "Medium", 442, 342, 0xc6a63f47143a3361},
    {"Glow", "DropoffType", "Thin", 442, 342, 0xd9ec4a8987e4ded5},
    {"Glow", "DropoffType", "Diffuse", 442, 342, 0xb8145c1340cd55d9},
    {"Glow", "DrawEverywhere", "on", 442, 342, 0xeea3f71cb35387af},
    {"Glass", nullptr, "", 400, 300, 0x05cbc6e9ab5ca6a8},
    {"Glass", "BevelType", "Button", 400, 300, 0x01625e9b4ca77c56},
    {"Glass", "BevelType", "Rounded", 400, 300, 0x540c8b52e5d2b292},
    {"Glass", "BevelType", "Mesa", 400, 300, 0x23a50cddf289adee},
    {"Glass", "FlowVelocity", "30", 400, 300, 0xa0c4b60848b7904e, 1.5},
    {"Glass", "PhaseVelocity", "200", 400, 300, 0x08935566bf0800a4, 0.75},
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
