// Declaring parameters to the host and reading them back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "base/result_codes.h"
#include "host/effect_factory.h"
#include "host/params.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using ourhost::ParamSlot;
using zoka_test::AppliedEffect;

const ParamSlot& Own(AppliedEffect& effect, size_t hostIndex) {
    return effect.instance.Params().at(hostIndex);
}

TEST(ParamDeclarations, FixedValuesAreRoundedHalfUpThenTruncated) {
    EXPECT_EQ(ToFixed(0.5), 32768);
    EXPECT_EQ(ToFixed(-1), -65535);
    EXPECT_EQ(ToFixed(315), 315 << 16);
    EXPECT_EQ(ToFixed(1e12), INT32_MAX);  // far outside 16.16: saturates, no overflow
}

TEST(ParamDeclarations, SlidersCarryBothRangesAndTheDefault) {
    AppliedEffect blur("Gaussian Blur");
    const ParamSlot& amount = Own(blur, 3);
    EXPECT_EQ(amount.def.kind, kParamSlider);
    EXPECT_STREQ(amount.def.name, "Amount");
    const HostSliderValue& v = amount.def.u.slider;
    EXPECT_EQ(v.value, 20);
    EXPECT_EQ(v.defaultValue, 20);
    EXPECT_EQ(v.sliderMin, 0);
    EXPECT_EQ(v.sliderMax, 100);
    EXPECT_EQ(v.validMin, 0);
    EXPECT_EQ(v.validMax, 999);
    EXPECT_STREQ(v.valueText, "");
    EXPECT_STREQ(v.description, "");
}

TEST(ParamDeclarations, FixedSlidersStoreSixteenSixteenAndThePercentFlag) {
    AppliedEffect antimatter("Antimatter");
    const HostFixedSliderValue& amount = Own(antimatter, 3).def.u.fixedSlider;
    EXPECT_EQ(amount.value, 100 << 16);
    EXPECT_EQ(amount.validMax, 100 << 16);
    EXPECT_EQ(amount.sliderMax, 100 << 16);
    EXPECT_EQ(amount.precision, 0);
    EXPECT_EQ(amount.displayFlags, kFixedPercentFlag);
    AppliedEffect carve("Carve");
    EXPECT_EQ(Own(carve, 3).def.u.fixedSlider.displayFlags, 0);
    EXPECT_EQ(Own(carve, 3).def.u.fixedSlider.validMax, 600 << 16);
}

TEST(ParamDeclarations, AnglesColoursCheckboxesPointsAndPopups) {
    AppliedEffect carve("Carve");
    EXPECT_EQ(Own(carve, 9).def.kind, kParamAngle);
    EXPECT_EQ(Own(carve, 9).def.u.angle.value, 315 << 16);
    EXPECT_EQ(Own(carve, 9).def.u.angle.defaultValue, 315 << 16);
    EXPECT_STREQ(Own(carve, 9).def.name, "Direction (\xB0)");

    AppliedEffect cutout("Cutout");
    const ParamSlot& shadow = Own(cutout, 7);
    EXPECT_EQ(shadow.def.kind, kParamColor);
    EXPECT_EQ(shadow.def.u.color.value.alpha, 255);
    EXPECT_EQ(shadow.def.u.color.value.red, 0);
    const ParamSlot& solid = Own(cutout, 8);
    EXPECT_EQ(solid.def.kind, kParamCheckbox);
    EXPECT_STREQ(solid.def.name, "   ");
    EXPECT_EQ(solid.checkboxText, "Solid Fill");
    EXPECT_EQ(solid.def.u.checkbox.value, 1);
    EXPECT_EQ(solid.def.u.checkbox.defaultValue, 1);

    AppliedEffect star("Star");
    const ParamSlot& position = Own(star, 4);
    EXPECT_EQ(position.def.kind, kParamPoint);
    EXPECT_EQ(position.def.u.point.defaultX, 0x320000);
    EXPECT_EQ(position.def.u.point.defaultY, 0x320000);
    EXPECT_EQ(position.def.u.point.restrictBounds, 0);

    AppliedEffect glass("Glass");
    const ParamSlot& shape = Own(glass, 3);
    EXPECT_EQ(shape.def.kind, kParamPopup);
    EXPECT_EQ(shape.def.u.popup.value, 3);  // 1-based: "Flat"
    EXPECT_EQ(shape.def.u.popup.defaultValue, 3);
    EXPECT_EQ(shape.def.u.popup.choiceCount, 4);
    EXPECT_EQ(shape.choices, "Button|Rounded|Flat|Mesa");
}

TEST(ParamDeclarations, TheSelectionLayerComesFirstWhereUsed) {
    AppliedEffect glow("Glow");
    EXPECT_EQ(Own(glow, 1).def.kind, kParamLayer);
    EXPECT_STREQ(Own(glow, 1).def.name, "Alpha Layer");
    EXPECT_EQ(Own(glow, 1).def.u.layer.defaultLayer, 0);
    EXPECT_EQ(Own(glow, 2).def.kind, kParamPoint);
    EXPECT_STREQ(Own(glow, 2).def.name, "Alpha Layer Origin");
    AppliedEffect trail("Motion Trail");
    EXPECT_STREQ(Own(trail, 1).def.name, "Length (pixels)");
}

TEST(ParamDeclarations, AFailingAddStopsTheSetupAndWritesNoCount) {
    for (const uint64_t failing : {1, 2, 5}) {
        AppliedEffect glass("Glass");
        glass.host.FailAddParam(failing, 513);
        EXPECT_EQ(glass.instance.SetupParams(), 513);
        EXPECT_EQ(glass.instance.Params().size(), failing) << "the input layer and those before";
        EXPECT_EQ(glass.instance.Output().paramCount, 0);
        EXPECT_EQ(glass.instance.Output().flags, kOutFlagDisplayError);
        EXPECT_EQ(glass.host.LiveHandles(), 0u);
    }
}

// The declarations of an effect, gathered in-process.
std::vector<HostParamDef>* gDeclared = nullptr;
HostError HOST_CALL Collect(HostEffectRef, int32_t, HostParamDef* def) {
    gDeclared->push_back(*def);
    if (def->kind == kParamPoint) {
        gDeclared->back().u.point.x = def->u.point.defaultX;
        gDeclared->back().u.point.y = def->u.point.defaultY;
    }
    return kHostNoError;
}

class ReadBack : public ::testing::Test {
protected:
    std::vector<HostParamDef> Declare(Effect& effect) {
        std::vector<HostParamDef> defs(1);  // the input layer
        gDeclared = &defs;
        memory.In().addParam = Collect;
        EXPECT_EQ(SetupAllParams(effect, &memory.In(), &memory.Out(), nullptr, nullptr), kOk);
        gDeclared = nullptr;
        return defs;
    }
    std::vector<uint8_t> Read(Effect& effect, std::vector<HostParamDef>& defs) {
        std::vector<HostParamDef*> list;
        for (auto& d : defs) list.push_back(&d);
        void* block = effect.ReadParams(list.data());
        std::vector<uint8_t> bytes(static_cast<const uint8_t*>(block),
                                   static_cast<const uint8_t*>(block) + effect.ParamBlockSize());
        effect.ReleaseParamBlock(block);
        HostFree(block);
        return bytes;
    }
    // Another valid value of the same kind.
    static void Change(HostParamDef& d) {
        switch (d.kind) {
            case kParamSlider:
                d.u.slider.value = d.u.slider.value == d.u.slider.validMax ? d.u.slider.validMin
                                                                          : d.u.slider.validMax;
                break;
            case kParamFixedSlider:
                d.u.fixedSlider.value = d.u.fixedSlider.value == d.u.fixedSlider.validMax
                                            ? d.u.fixedSlider.validMin
                                            : d.u.fixedSlider.validMax;
                break;
            case kParamAngle: d.u.angle.value += 37 << 16; break;
            case kParamCheckbox: d.u.checkbox.value = !d.u.checkbox.value; break;
            case kParamColor: d.u.color.value.green ^= 0x5A; break;
            case kParamPoint: d.u.point.y += 7 << 16; break;
            case kParamPopup: d.u.popup.value = d.u.popup.value % d.u.popup.choiceCount + 1; break;
        }
    }
    zoka_test::ModuleMemoryScope memory;
};

TEST_F(ReadBack, EveryParameterReadIntoTheBlockChangesIt) {
    for (const RegisteredEffect& registered : RegisteredEffects()) {
        alignas(std::max_align_t) unsigned char storage[512];
        Effect& effect = *registered.maker->construct(storage);
        std::vector<HostParamDef> defs = Declare(effect);
        const std::vector<uint8_t> base = Read(effect, defs);
        for (int number = 0; number < effect.ParamCount(); ++number) {
            KeyText key;
            effect.ParamKey(number, key);
            const std::string k = key.text;
            // Flow and undulation are integrated over time, not read.
            if (k == "FlowDirection" || k == "FlowVelocity" || k == "PhaseVelocity") continue;
            std::vector<HostParamDef> changed = defs;
            Change(changed[static_cast<size_t>(effect.HostParamIndex(number))]);
            EXPECT_NE(Read(effect, changed), base)
                << registered.entryName << " ignores parameter " << number << " (" << k << ")";
        }
        EXPECT_EQ(memory.Host().LiveHandles(), 0u);
    }
}

TEST_F(ReadBack, DirectionsTurnTheHostsAngleIntoMathematicalDegrees) {
    alignas(std::max_align_t) unsigned char storage[512];
    Effect& trail = *FindEffectMaker(10)->construct(storage);
    std::vector<HostParamDef> defs = Declare(trail);
    std::vector<HostParamDef*> list;
    for (auto& d : defs) list.push_back(&d);
    const double expected[][2] = {{0, 90}, {90, 0}, {180, 270}, {270, 180}, {450, 0}, {-90, 180}};
    for (const auto& [host, degrees] : expected) {
        defs[3].u.angle.value = static_cast<int32_t>(host * 65536);
        EXPECT_DOUBLE_EQ(trail.ParamDirection(list.data(), 2), degrees) << "host angle " << host;
    }
}

}  // namespace
}  // namespace zoka
