// What every effect answers through the base class: about box, version and
// flags, parameter counts and frame setup.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "base/result_codes.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using ourhost::FrameOptions;
using ourhost::Image;
using ourhost::Pixel;
using zoka_test::AppliedEffect;

struct Identity {
    const char* description;
    int32_t globalFlags;
    int32_t paramCount;  // as the host counts them, input layer included
};

const std::map<std::string, Identity>& Identities() {
    static const std::map<std::string, Identity> identities = {
        {"Antimatter", {"Alters brightness values without affecting hue and saturation", 0x40, 4}},
        {"Carve", {"Creates a carved or chiseled effect", 0x40, 12}},
        {"Chrome",
         {"Produces a metallic effect that can be used to simulate chrome, gold, and other metals.",
          0x40, 10}},
        {"Cutout", {"Creates a hole in the layer", 0x40, 10}},
        {"Fur", {"Smears the image using randomly placed clumps of fur", 0x46, 12}},
        {"Glass", {"Puts a sheet of colored glass on the layer", 0x46, 18}},
        {"Glow", {"Draws a semi-tranparent halo around the layer or selection", 0x200, 8}},
        {"HSB Noise",
         {"Adds noise to an image by varying hue, saturation, brightness, and opacity", 0x46, 13}},
        {"Inner Bevel", {"Creates an embossed area in the layer", 0x40, 11}},
        {"Motion Trail",
         {"Smears the layer outward in one direction, producing the illusion of motion.", 0x200, 5}},
        {"Outer Bevel",
         {"Creates an embossed area in the layer.  Requires a selection layer.", 0x200, 11}},
        {"Star", {"Creates a many sided shape", 0x40, 11}},
        {"Swirl", {"Smears the layer using randomly placed whirlpools", 0x206, 13}},
        {"Smoke", {"Produces realistic smoke", 0x206, 13}},
        {"Squint", {"Creates an blur which suggests an unfocused lens or watery eyes.", 0x200, 4}},
        {"Jiggle", {"Produces a distortion based on randomly placed bubbling", 0x206, 11}},
        {"Weave", {"Creates a woven texture on the layer.", 0x46, 13}},
        {"Fire", {"Produces a realistic flame", 0x206, 13}},
        {"Perspective Shadow",
         {"Creates a shadow behind the layer, stretching from the bottom of the layer to the "
          "vanishing point.",
          0x200, 10}},
        {"Gaussian Blur", {"Performs a gaussian blur on a layer", 0x200, 4}},
    };
    return identities;
}

TEST(EffectIdentity, TheModuleListsTwentyEffectsWithoutDropShadow) {
    const auto& effects = zoka_test::LoadedModule().Effects();
    EXPECT_EQ(effects.size(), 20u);
    for (const auto& e : effects) {
        EXPECT_TRUE(Identities().count(e.name)) << e.name;
        EXPECT_EQ(e.category, "Lumetta AE Demo");
        EXPECT_EQ(e.matchName, "TVZOKA " + e.name);
    }
}

TEST(EffectIdentity, AboutBoxShowsNameVersionStageAndDescription) {
    for (const auto& [name, identity] : Identities()) {
        AppliedEffect effect(name);
        std::string text;
        ASSERT_EQ(effect.instance.About(text), kHostNoError);
        EXPECT_EQ(text, name + ", v3.1(38) Release \r\r" + identity.description);
        EXPECT_EQ(effect.host.LiveHandles(), 0u);
    }
}

TEST(EffectIdentity, GlobalSetupReportsTheVersionWordAndTheFlagsThePiplDeclares) {
    for (const auto& [name, identity] : Identities()) {
        AppliedEffect effect(name);
        EXPECT_EQ(effect.instance.Version(), 0x00188626u) << name;
        EXPECT_EQ(effect.instance.GlobalFlags(), identity.globalFlags) << name;
        const auto& pipl = zoka_test::Descriptor(name);
        EXPECT_EQ(pipl.version, 0x00188626u);
        EXPECT_EQ(pipl.globalFlags, identity.globalFlags) << name;
        EXPECT_EQ(pipl.pluginVersion, 2);
        EXPECT_EQ(pipl.specVersion, 11);
    }
}

TEST(EffectIdentity, ParameterCountsIncludeTheSelectionLayerWhereUsed) {
    for (const auto& [name, identity] : Identities()) {
        AppliedEffect effect(name);
        EXPECT_EQ(effect.instance.Output().paramCount, identity.paramCount) << name;
        EXPECT_EQ(effect.instance.Params().size(), size_t(identity.paramCount)) << name;
        EXPECT_TRUE(effect.host.Faults().empty()) << name;
    }
}

class FrameSetup : public ::testing::Test {
protected:
    // Output size and origin for a 20 x 20 layer.
    HostError Setup(AppliedEffect& effect) {
        const HostError result = effect.instance.FrameSetup(layer, FrameOptions{});
        out = effect.instance.Output();
        return result;
    }
    Image layer{20, 20, Pixel{255, 0, 0, 0}};
    HostOutputRecord out{};
};

TEST_F(FrameSetup, AnEffectThatKeepsTheAreaReportsTheInputSize) {
    AppliedEffect antimatter("Antimatter");
    ASSERT_EQ(Setup(antimatter), kHostNoError);
    EXPECT_EQ(out.width, 20);
    EXPECT_EQ(out.height, 20);
    EXPECT_EQ(out.originH, 0);
    EXPECT_EQ(out.originV, 0);
    EXPECT_EQ(antimatter.host.LiveHandles(), 0u);
}

TEST_F(FrameSetup, ASelectionReachingOutsideWidensTheAreaToTheUnion) {
    AppliedEffect antimatter("Antimatter");
    antimatter.instance.SetSelection(Image(10, 10, Pixel{255, 0, 0, 0}), -5, -3);
    ASSERT_EQ(Setup(antimatter), kHostNoError);
    EXPECT_EQ(out.width, 25);
    EXPECT_EQ(out.height, 23);
    EXPECT_EQ(out.originH, 5);
    EXPECT_EQ(out.originV, 3);
}

TEST_F(FrameSetup, ANegativeFractionalOriginFloors) {
    AppliedEffect antimatter("Antimatter");
    antimatter.instance.SetSelection(Image(4, 4, Pixel{255, 0, 0, 0}), -0.5, 2);
    ASSERT_EQ(Setup(antimatter), kHostNoError);
    EXPECT_EQ(out.originH, 1);
    EXPECT_EQ(out.width, 21);
    EXPECT_EQ(out.originV, 0);
}

TEST_F(FrameSetup, ASelectionWithoutPixelsUsesTheInputArea) {
    AppliedEffect antimatter("Antimatter");
    antimatter.instance.SetSelection(Image(), -50, -50);
    ASSERT_EQ(Setup(antimatter), kHostNoError);
    EXPECT_EQ(out.width, 20);
    EXPECT_EQ(out.originH, 0);
}

TEST_F(FrameSetup, AnExpandingEffectGrowsTheOutputAndItsOrigin) {
    AppliedEffect blur("Gaussian Blur");
    ASSERT_EQ(Setup(blur), kHostNoError);
    EXPECT_EQ(out.width, 20 + 2 * 21);  // ceil(20) + 1 on every side
    EXPECT_EQ(out.originH, 21);
    EXPECT_EQ(out.originV, 21);
}

TEST_F(FrameSetup, ACancelledCheckoutIsSilent) {
    AppliedEffect antimatter("Antimatter");
    antimatter.host.FailCheckout(1, kHostErrorCancelled);
    EXPECT_EQ(Setup(antimatter), kHostErrorCancelled);
    EXPECT_EQ(out.flags, 0);
    EXPECT_STREQ(out.message, "");
}

TEST_F(FrameSetup, AFailedCheckoutReportsTextFortyFourThousandOne) {
    AppliedEffect antimatter("Antimatter");
    antimatter.host.FailCheckout(1, 521);
    EXPECT_EQ(Setup(antimatter), 521);
    EXPECT_EQ(out.flags, kOutFlagDisplayError);
    EXPECT_STREQ(out.message, "Lumetta AE Error : Error checking out parameter");
    EXPECT_EQ(antimatter.host.LiveHandles(), 0u);
}

TEST_F(FrameSetup, NoMemoryForTheParameterBlockIsReportedNotDereferenced) {
    AppliedEffect blur("Gaussian Blur");
    blur.host.FailAllocation(2);  // the effect object first, then the block
    EXPECT_EQ(Setup(blur), kOutOfMemory);
    EXPECT_EQ(out.flags, kOutFlagDisplayError);
    EXPECT_EQ(blur.host.LiveHandles(), 0u);
    EXPECT_TRUE(blur.host.Faults().empty());
}

}  // namespace
}  // namespace zoka
