// The dispatcher: commands, the fall-back copy after a failed render, and how
// failures reach the host.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/result_codes.h"
#include "host/dispatcher.h"
#include "host/effect.h"
#include "ourhost/image.h"
#include "tests/support/module_memory_scope.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

using zoka_test::AppliedEffect;

// An effect whose render ends with a chosen code, writing a message first.
class ScriptedRender final : public Effect {
public:
    ScriptedRender(int code, const char* message) : Effect(0, 0, 0), code_(code), message_(message) {}
    int EffectIndex() const override { return 99; }
    int ParamBlockSize() const override { return 0; }
    void InitParamBlock(void*) const override {}
    int RenderBand(RenderContext&, const PixelRect&) override { return kOk; }
    int ParamsSetup(HostInputRecord*, HostOutputRecord*, HostParamDef**, HostLayer*,
                    int) override {
        return kOk;
    }
    void* ReadParams(HostParamDef**) override { return nullptr; }
    void ParamKey(int, KeyText&) const override {}
    void EffectKey(KeyText&) const override {}
    int Render(HostInputRecord*, HostOutputRecord* out, HostParamDef**, HostLayer* image) override {
        std::strcpy(out->message, message_);
        std::memset(image->data, 0x11, static_cast<size_t>(image->rowBytes) * image->height);
        return code_;
    }

private:
    int code_;
    const char* message_;
};

// A render command for the scripted effect, as the dispatcher runs it.
class FailedRender : public ::testing::Test {
protected:
    FailedRender() : input(3, 2, ourhost::Pixel{255, 10, 20, 30}), output(3, 2) {
        inputDef.kind = kParamLayer;
        inputDef.u.layer.layer = input.Layer();
        outputLayer = output.Layer();
        memory.Out().flags = 0x40;
    }
    int Run(int code) {
        ScriptedRender effect(code, "written by the render");
        HostParamDef* params[] = {&inputDef};
        const int result = RunCommand(effect, kCmdRender, &memory.In(), &out, params,
                                      &outputLayer, nullptr);
        return ReportResult(&memory.In(), &out, result);
    }
    zoka_test::ModuleMemoryScope memory;
    ourhost::Image input;
    ourhost::Image output;
    HostParamDef inputDef{};
    HostLayer outputLayer{};
    HostOutputRecord& out = memory.Out();
};

TEST_F(FailedRender, CancelCopiesTheInputAndReportsNothing) {
    EXPECT_EQ(Run(kHostErrorCancelled), kHostErrorCancelled);
    EXPECT_EQ(output, input);
    EXPECT_EQ(out.flags, 0x40);
}

TEST_F(FailedRender, OutOfMemoryShowsTheSystemText) {
    EXPECT_EQ(Run(kOutOfMemory), kOutOfMemory);
    EXPECT_EQ(output, input);
    EXPECT_EQ(out.flags, 0x140);
    EXPECT_STREQ(out.message,
                 "Not enough memory resources are available to process this command.\r\n");
}

TEST_F(FailedRender, AHostCodeKeepsTheRendersMessage) {
    EXPECT_EQ(Run(513), 513);
    EXPECT_EQ(output, input);
    EXPECT_EQ(out.flags, 0x140);
    EXPECT_STREQ(out.message, "written by the render");
}

TEST_F(FailedRender, ACodeWithoutSystemTextLeavesTheMessageAlone) {
    EXPECT_EQ(Run(300), 300);
    EXPECT_EQ(out.flags, 0x140);
    EXPECT_STREQ(out.message, "written by the render");
    EXPECT_EQ(Run(-7), -7);  // negative codes count as below 512
    EXPECT_STREQ(out.message, "written by the render");
}

TEST_F(FailedRender, SuccessKeepsTheRendersOutput) {
    EXPECT_EQ(Run(kOk), kOk);
    EXPECT_EQ(output.At(0, 0), (ourhost::Pixel{0x11, 0x11, 0x11, 0x11}));
    EXPECT_EQ(out.flags, 0x40);
}

TEST(Dispatch, CommandsWithoutActionStillBuildTheObjectAndLeaveTheFlags) {
    AppliedEffect glow("Glow");
    for (const int32_t command : {2, 7, 9, 13, 14, 16, 99, -1}) {
        glow.instance.Output().flags = 0x1234;
        const uint64_t made = glow.host.HandlesMade();
        EXPECT_EQ(glow.instance.Call(command), kHostNoError) << "command " << command;
        EXPECT_EQ(glow.instance.Output().flags, 0x1234) << "command " << command;
        EXPECT_EQ(glow.host.HandlesMade(), made + 1) << "the effect object, command " << command;
        EXPECT_EQ(glow.host.LiveHandles(), 0u);
    }
}

TEST(Dispatch, EveryEffectAnswersTheEventCommandWithZero) {
    int extra = 0;
    for (const auto& effect : zoka_test::LoadedModule().Effects()) {
        AppliedEffect applied(effect.name);
        EXPECT_EQ(applied.instance.Event(&extra), kHostNoError) << effect.name;
    }
}

TEST(Dispatch, GlobalSetdownHandsTheGlobalDataToDispose) {
    AppliedEffect star("Star");
    star.instance.Input().globalData = nullptr;
    EXPECT_EQ(star.instance.GlobalSetdown(), kHostNoError);
    EXPECT_EQ(star.host.NullDisposals(), 1u);
    EXPECT_TRUE(star.host.Faults().empty());
}

TEST(Dispatch, AFailedObjectCreationReportsTextFortyFourThousand) {
    AppliedEffect squint("Squint");
    squint.host.FailAllocation(1);
    std::string text;
    EXPECT_EQ(squint.instance.About(text), kCreateFailed);
    EXPECT_EQ(squint.instance.Output().flags, kOutFlagDisplayError);
    EXPECT_EQ(text, "Lumetta AE Error : General error creating effect");
    EXPECT_EQ(squint.host.LiveHandles(), 0u);
}

TEST(Dispatch, WithNoMemoryAtAllTheErrorFallsBackToItsNumber) {
    AppliedEffect squint("Squint");
    squint.host.FailAllocation(1, 2);
    std::string text;
    EXPECT_EQ(squint.instance.About(text), kCreateFailed);
    EXPECT_EQ(text, "Lumetta Error : 44000");
}

TEST(Dispatch, IndexSeventeenNamesNoEffect) {
    zoka_test::ModuleMemoryScope memory;
    HostOutputRecord& out = memory.Out();
    HostParamDef input{};
    HostParamDef* params[] = {&input};
    EXPECT_EQ(DispatchCommand(kCmdAbout, &memory.In(), &out, params, nullptr, nullptr, 17),
              kCreateFailed);
    EXPECT_EQ(out.flags, kOutFlagDisplayError);
    EXPECT_EQ(DispatchCommand(kCmdAbout, &memory.In(), &out, params, nullptr, nullptr, 22),
              kCreateFailed);
    EXPECT_EQ(memory.Host().LiveHandles(), 0u);
}

}  // namespace
}  // namespace zoka
