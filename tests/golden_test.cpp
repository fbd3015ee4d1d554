// Golden renders: each built effect on the sample layer, at its defaults and
// in variants that take other paths, pinned by a hash of its pixels. Checked
// by eye when first recorded; they keep later speed work from changing any
// pixel unnoticed, and show that every build (64-bit, 32-bit) renders alike.
#include <gtest/gtest.h>

#include <cstdint>

#include "ourhost/param_values.h"
#include "site/sample_layer.h"
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
    {"Fire", nullptr, "", 412, 351, 0xa93144671a2913c6},
    {"Fire", "FireColor", "User Defined", 412, 351, 0x5e3afb50c2cb1d7d},
    {"Fire", "EdgeSoftness", "40", 482, 386, 0xcbb851cd701609d6},
    {"Fire", "FlowVelocity", "100", 412, 351, 0xc893e3e51857fc18, 1.25},
    {"Smoke", nullptr, "", 412, 406, 0xeaa14b0c070baa20},
    {"Smoke", "InsideMasking", "0", 412, 406, 0x3b1678f979302988},
    {"Smoke", "WispWidth", "5", 412, 406, 0x32dd56cb273c00c5},
    {"Smoke", "FlowVelocity", "300", 412, 406, 0x05011d4422c115b8, 0.75},
    {"Star", nullptr, "", 400, 300, 0xb19b83f38ecd707c},
    {"Star", "Sides", "12", 400, 300, 0xed5ad481a1806872},
    {"Star", "Indentation", "0", 400, 300, 0xba25e241042408c3},
    {"Star", "Antialias", "off", 400, 300, 0xf22991837c25ba3a},
    {"Star", "EraseImage", "on", 400, 300, 0xe665326f2ccd72ad},
    {"Weave", nullptr, "", 400, 300, 0x1079d285345b1f63},
    {"Weave", "Smear", "on", 400, 300, 0x4a28cb1e586adedd},
    {"Weave", "GapFill", "off", 400, 300, 0xf8aaa062a3c7a54b},
    {"Weave", "FlowVelocity", "30", 400, 300, 0x33220108899b57dd, 1.0},
    {"Fur", nullptr, "", 400, 300, 0x5ff9875a5bf8a1f1},
    {"Fur", "Smooth", "off", 400, 300, 0xc6ed460ff5959fb5},
    {"Fur", "FlowVelocity", "30", 400, 300, 0x9ece7048b6886dc0, 1.5},
    {"Fur", "PhaseVelocity", "200", 400, 300, 0xe1d09421a8a4ff51, 0.75},
    {"Jiggle", nullptr, "", 460, 360, 0x60ec9d7d7512bc92},
    {"Jiggle", "Field", "2", 520, 420, 0x4a1b1e8710760b23},
    {"Jiggle", "Field", "3", 520, 420, 0xf82dba1b40e0f311},
    {"Jiggle", "FlowVelocity", "30", 460, 360, 0xd967c5e48cbe524a, 1.5},
    {"Swirl", nullptr, "", 410, 310, 0x6635c2a1ac4a412c},
    {"Swirl", "Warp", "off", 410, 310, 0x7feabbd75bb8e2ce},
    {"Swirl", "Smooth", "off", 410, 310, 0x7b59dcfac20b829b},
    {"Swirl", "PhaseVelocity", "200", 410, 310, 0x6ddd8707597412a2, 0.75},
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
    {"Cutout", nullptr, "", 400, 300, 0x5957ffebbc760271},
    {"Cutout", "SolidFill", "off", 400, 300, 0xe1421772015be25b},
    {"Cutout", "Blur", "40", 400, 300, 0x7864291a901fd632},
    // No PiPL lists Drop Shadow: it is found by its entry point.
    {"Drop_Shadow_Entry_Point", nullptr, "", 420, 320, 0x4d075ce77339e444},
    {"Drop_Shadow_Entry_Point", "Blur", "40", 480, 380, 0x429fb693ce2dd922},
    {"Drop_Shadow_Entry_Point", "DrawEverywhere", "on", 420, 320, 0xef1c72e8501e5f8a},
    {"Perspective Shadow", nullptr, "", 514, 310, 0x2aa4a85aa18d3ee8},
    {"Perspective Shadow", "Blur", "40", 574, 340, 0x151895fc37dda392},
    {"Perspective Shadow", "DrawEverywhere", "on", 514, 310, 0x921ae2eb164d41cf},
    {"Perspective Shadow", "VanishingPointDirection", "330", 478, 310, 0xd497b101e9cbcea7},
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

uint64_t Fnv1a(const ourhost::ImageBytes& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (const uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// With one worker, as the real host renders, and with three, the bands of
// the effects whose bands agree on three threads.
TEST(Golden, EveryEffectRendersTheRecordedPixelsOnOneThreadAndOnThree) {
    const ourhost::Image layer = zoka_site::SampleLayer();
    for (const int32_t workers : {1, 3})
    for (const Golden& g : kGoldens) {
        SCOPED_TRACE(testing::Message() << workers << " workers");
        zoka_test::AppliedEffect effect(g.effect);
        effect.host.UseWorkers(zoka_test::LoadedModule().WorkerOffer(), workers);
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
