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
    {"Cutout", nullptr, "", 400, 300, 0x5957ffebbc760271},
    {"Cutout", "SolidFill", "off", 400, 300, 0xe1421772015be25b},
    {"Cutout", "Blur", "40", 400, 300, 0x7864291a901fd632},
    // No PiPL lists Drop Shadow: it is found by its entry point.
    {"Drop_Shadow_Entry_Point", nullptr, "", 420, 320, 0x4d075ce77339e444},
    {"Drop_Shadow_Entry_Point", "Blur", "40", 480, 380, 0x429fb693ce2dd922},
    {"Drop_Shadow_Entry_Point", "DrawEverywhere", "on", 420, 320, 0xef1c72e8501e5f8a},
    {"Perspective Shadow", nullptr, "", 543, 311, 0xb2132befd844e473},
    {"Perspective Shadow", "Blur", "40", 603, 341, 0x7d125c0c344fe3e1},
    {"Perspective Shadow", "DrawEverywhere", "on", 543, 311, 0x1e360c77041c3da0},
    {"Perspective Shadow", "VanishingPointDirection", "330", 508, 311, 0xbee1bc355b5c8a7b},
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
