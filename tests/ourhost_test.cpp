// Our host's side: parameter values in user units, keyframes over time,
// frame timing, and the PiPLs it discovers the effects by.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>

#include "ourhost/param_values.h"
#include "ourhost/pipl.h"
#include "tests/support/module_under_test.h"

namespace ourhost {
namespace {

using zoka_test::AppliedEffect;

class UserValues : public ::testing::Test {
protected:
    UserValues() : keys(*zoka_test::LoadedModule().Keys(zoka_test::Descriptor(name).entryName)) {
        names = ParamNames(effect.instance, keys);
    }
    ParamSlot& Slot(const std::string& what) {
        const auto found = FindParam(names, what);
        EXPECT_TRUE(found.has_value()) << what;
        return effect.instance.Params()[found ? found->hostIndex : 0];
    }
    // Sets a value and returns the refusal, or "" when accepted.
    std::string Set(const std::string& what, const std::string& value) {
        std::string error;
        return SetParam(Slot(what), value, error) ? "" : error;
    }
    std::string name = "Glass";
    AppliedEffect effect{name};
    ZokaEffectKeys keys;
    std::vector<ParamName> names;
};

TEST_F(UserValues, ParametersAreFoundByKeyLabelOrNumber) {
    EXPECT_EQ(FindParam(names, "flawspacing")->hostIndex, 5u);
    EXPECT_EQ(FindParam(names, "Flaw Spacing (pixels)")->hostIndex, 5u);
    EXPECT_EQ(FindParam(names, "FLAW SPACING (PIXELS)")->hostIndex, 5u);
    EXPECT_EQ(FindParam(names, "2")->hostIndex, 5u);
    EXPECT_EQ(FindParam(names, "Alpha Layer Origin")->hostIndex, 2u);
    EXPECT_FALSE(FindParam(names, "Flaws").has_value());
    EXPECT_FALSE(FindParam(names, "99").has_value());
}

TEST_F(UserValues, EachKindTakesItsOwnUnits) {
    EXPECT_EQ(Set("Width", "12.5"), "");
    EXPECT_EQ(Slot("Width").def.u.fixedSlider.value, 12.5 * 65536);
    EXPECT_EQ(Set("RandomSeed", "42"), "");
    EXPECT_EQ(Slot("RandomSeed").def.u.slider.value, 42);
    EXPECT_EQ(Set("Direction", "-90"), "");
    EXPECT_EQ(Slot("Direction").def.u.angle.value, -90 * 65536);
    EXPECT_EQ(Set("Color", "#FF8001"), "");
    EXPECT_EQ(Slot("Color").def.u.color.value.red, 255);
    EXPECT_EQ(Slot("Color").def.u.color.value.blue, 1);
    EXPECT_EQ(Set("Color", "1, 2,3"), "");
    EXPECT_EQ(Slot("Color").def.u.color.value.green, 2);
    EXPECT_EQ(Set("BevelType", "mesa"), "");
    EXPECT_EQ(Slot("BevelType").def.u.popup.value, 4);
    EXPECT_EQ(Set("BevelType", "2"), "");
    EXPECT_EQ(FormatValue(Slot("BevelType"), Slot("BevelType").def.u), "Rounded");
    EXPECT_EQ(Set("Alpha Layer Origin", "10.5,-3"), "");
    EXPECT_EQ(Slot("Alpha Layer Origin").def.u.point.x, 10.5 * 65536);
}

TEST_F(UserValues, RefusalsNameTheParameterAndItsRange) {
    EXPECT_EQ(Set("Width", "301"), "\"Bevel Width (pixels)\" takes a number from 0 to 300, not \"301\"");
    EXPECT_EQ(Set("RandomSeed", "4.5"),
              "\"Random Seed\" takes a whole number from 0 to 100, not \"4.5\"");
    EXPECT_NE(Set("Color", "#12345"), "");
    EXPECT_NE(Set("Color", "256,0,0"), "");
    EXPECT_NE(Set("BevelType", "5"), "");
    EXPECT_NE(Set("BevelType", "Pointy"), "");
    EXPECT_NE(Set("Direction", "nan"), "");
    EXPECT_NE(Set("Width", ""), "");
    EXPECT_NE(Set("Alpha Layer Origin", "1,2,3"), "");
    EXPECT_NE(Set("Alpha Layer", "1"), "");
    // Beyond what 16.16 holds: refused, never wrapped into the valid range.
    EXPECT_NE(Set("Width", "1e300"), "");
    EXPECT_NE(Set("Width", "65536.5"), "");
    EXPECT_NE(Set("Direction", "-1e300"), "");
    EXPECT_NE(Set("Alpha Layer Origin", "32768,0"), "");
    EXPECT_NE(Set("Alpha Layer Origin", "0,inf"), "");
    EXPECT_EQ(Slot("Width").def.u.fixedSlider.value, 20 << 16) << "a refused value changes nothing";
}

TEST_F(UserValues, KeyframesInterpolateAndHoldAtTheEnds) {
    ASSERT_EQ(Set("FlowVelocity", "10@0;30@2"), "");
    HostParamDef def{};
    ParamSlot& speed = Slot("FlowVelocity");
    const auto at = [&](int32_t time) {
        EXPECT_EQ(effect.instance.Checkout(static_cast<int32_t>(FindParam(names, "FlowVelocity")->hostIndex),
                                           time, 0, 100, &def),
                  kHostNoError);
        EXPECT_EQ(effect.instance.Checkin(&def), kHostNoError);
        return def.u.fixedSlider.value / 65536.0;
    };
    EXPECT_DOUBLE_EQ(at(-50), 10);
    EXPECT_DOUBLE_EQ(at(0), 10);
    EXPECT_DOUBLE_EQ(at(100), 20);
    EXPECT_DOUBLE_EQ(at(150), 25);
    EXPECT_DOUBLE_EQ(at(900), 30);
    EXPECT_EQ(speed.keys.size(), 2u);
    EXPECT_NE(Set("FlowVelocity", "10@0;30"), "");
    EXPECT_NE(Set("FlowVelocity", "10@0;2000@1"), "") << "every key is checked";
    EXPECT_EQ(Set("FlowVelocity", "7"), "");
    EXPECT_TRUE(speed.keys.empty());
}

TEST(FrameTiming, NtscRatesUseThousandOneDenominators) {
    EXPECT_EQ(RateOf(29.97).timeScale, 30000u);
    EXPECT_EQ(RateOf(29.97).frameTicks, 1001);
    EXPECT_EQ(RateOf(23.976).timeScale, 24000u);
    EXPECT_EQ(RateOf(59.94).timeScale, 60000u);
    EXPECT_EQ(RateOf(30).timeScale, 30u);
    EXPECT_EQ(RateOf(30).frameTicks, 1);
    EXPECT_EQ(RateOf(12.5).timeScale, 25u);
    EXPECT_EQ(RateOf(12.5).frameTicks, 2);
}

// Whatever a client passes, the time records stay defined: rates are held to
// the range our host keeps exactly and times saturate at the 32-bit ends.
TEST(FrameTiming, ExtremeRatesAndTimesSaturateInsteadOfOverflowing) {
    EXPECT_EQ(RateOf(1e16).timeScale, RateOf(1000).timeScale);
    EXPECT_EQ(RateOf(0).timeScale, RateOf(0.001).timeScale);
    EXPECT_EQ(RateOf(0).frameTicks, 1000);
    EXPECT_EQ(RateOf(std::nan("")).timeScale, 30u);
    AppliedEffect blur("Gaussian Blur");
    for (const double time : {1e300, -1e300, std::nan("")}) {
        ASSERT_EQ(blur.instance.FrameSetup(Image(10, 10), FrameOptions{time, 1e16}), kHostNoError);
        const int32_t ticks = blur.instance.Input().currentTime;
        EXPECT_EQ(ticks, std::isnan(time) ? 0 : time > 0 ? INT32_MAX : INT32_MIN);
    }
    EXPECT_EQ(FixedFromDouble(1e300), INT32_MAX);
    EXPECT_EQ(FixedFromDouble(-40000), INT32_MIN);
    EXPECT_EQ(FixedFromDouble(-0.5), -32768);
    EXPECT_EQ(TimeRefusal(33333, 30), "");
    EXPECT_NE(TimeRefusal(33334, 30), "");
    EXPECT_NE(TimeRefusal(0, 1000.5), "");
    EXPECT_NE(TimeRefusal(std::nan(""), 30), "");
}

TEST(FrameTiming, TheInputRecordCarriesTimeStepAndDraftFactor) {
    AppliedEffect blur("Gaussian Blur");
    FrameOptions options;
    options.time = 2;
    options.fps = 29.97;
    options.downsample = 4;
    ASSERT_EQ(blur.instance.FrameSetup(Image(10, 10), options), kHostNoError);
    const HostInputRecord& in = blur.instance.Input();
    EXPECT_EQ(in.currentTime, 60000);
    EXPECT_EQ(in.timeStep, 1001);
    EXPECT_EQ(in.localTimeStep, 1001);
    EXPECT_EQ(in.downsampleX.num, 1);
    EXPECT_EQ(in.downsampleX.den, 4u);
    options.still = true;
    ASSERT_EQ(blur.instance.FrameSetup(Image(10, 10), options), kHostNoError);
    EXPECT_EQ(blur.instance.Input().timeStep, 0);
}

// A host that runs short of memory answers null; the module must turn that
// into its out-of-memory report, whatever the allocation's size.
TEST(HostMemory, ALimitedHostAnswersNullAndTheRenderReportsCode8) {
    AppliedEffect blur("Gaussian Blur");
    blur.Set("Width", "40");
    blur.host.SetMemoryLimit(64 * 1024);
    const FrameResult frame = blur.instance.RenderFrame(Image(200, 150, Pixel{255, 9, 99, 199}), {});
    EXPECT_EQ(frame.code, 8);
    EXPECT_TRUE(frame.displayError);
    EXPECT_EQ(blur.host.LiveHandles(), 0u);
    EXPECT_EQ(blur.host.LiveBytes(), 0u);
    EXPECT_EQ(blur.host.NewHandle(0xFFFFFFF0u), nullptr);
    EXPECT_TRUE(blur.host.Faults().empty());
}

// A host that keeps freed frame-sized blocks hands the same memory out again
// for the same size, filled afresh when it fills; small blocks, other sizes
// and blocks beyond what it keeps come new. Kept blocks are not live.
TEST(HostMemory, KeptBlocksComeBackForTheSameSizeOnly) {
    Host host;
    host.KeepFreedBlocks(300 << 10);
    constexpr uint32_t kFrame = 128 << 10;
    const auto lockedBlock = [&](HostHandle h) { return static_cast<uint8_t*>(host.LockHandle(h)); };
    HostHandle first = host.NewHandle(kFrame);
    uint8_t* bytes = lockedBlock(first);
    std::memset(bytes, 7, kFrame);
    host.UnlockHandle(first);
    host.DisposeHandle(first);
    EXPECT_EQ(host.LiveHandles(), 0u);
    EXPECT_EQ(host.LiveBytes(), 0u);
    HostHandle again = host.NewHandle(kFrame);
    EXPECT_EQ(lockedBlock(again), bytes) << "the kept block";
    EXPECT_EQ(bytes[kFrame - 1], 0xA5) << "filled afresh";
    HostHandle other = host.NewHandle(kFrame + 1);
    EXPECT_NE(lockedBlock(other), bytes);
    for (HostHandle h : {again, other}) {
        host.UnlockHandle(h);
        host.DisposeHandle(h);
    }
    // Kept: one block of each size (256 KiB + 1 of 300 KiB); of three blocks
    // of the size, the first takes the kept one back and only it fits again.
    HostHandle a = host.NewHandle(kFrame);
    HostHandle b = host.NewHandle(kFrame);
    HostHandle c = host.NewHandle(kFrame);
    EXPECT_EQ(host.LiveHandles(), 3u);
    for (HostHandle h : {a, b, c}) host.DisposeHandle(h);
    EXPECT_EQ(host.KeptBytes(), kFrame + (kFrame + 1));
    HostHandle small = host.NewHandle(1000);
    host.DisposeHandle(small);
    EXPECT_EQ(host.KeptBytes(), kFrame + (kFrame + 1)) << "small blocks are not kept";
    host.KeepFreedBlocks(0);
    EXPECT_EQ(host.KeptBytes(), 0u);
    EXPECT_EQ(host.LiveBytes(), 0u);
    EXPECT_TRUE(host.Faults().empty());
}

// Renders through a host that serves people, not tests, give the frames a
// testing host gives, frame after frame of kept blocks.
TEST(HostMemory, AServingHostRendersTheFramesATestingHostDoes) {
    AppliedEffect tested("Swirl");
    AppliedEffect served("Swirl");
    served.host.ServeRenders();
    const Image layer(300, 240, Pixel{200, 30, 140, 90});
    for (const double time : {0.0, 0.5, 1.0}) {
        const FrameResult expected = tested.instance.RenderFrame(layer, FrameOptions{time});
        const FrameResult frame = served.instance.RenderFrame(layer, FrameOptions{time});
        EXPECT_EQ(frame.code, expected.code);
        EXPECT_TRUE(frame.image == expected.image) << "at " << time << " s";
    }
    EXPECT_EQ(served.host.LiveHandles(), 0u);
}

TEST(Pipl, EveryResourceHasElevenPaddedPropertiesInOrder) {
    const char* keys[] = {"kind", "name", "catg", "wx86", "ePVR", "eSVR",
                          "eVER", "eINF", "eGLO", "eMNA", "aeFL"};
    for (const auto& effect : zoka_test::LoadedModule().Effects()) {
        const std::vector<uint8_t>& b = effect.bytes;
        ASSERT_GE(b.size(), 10u);
        int32_t count = 0;
        std::memcpy(&count, b.data() + 6, 4);
        EXPECT_EQ(count, 11);
        size_t at = 10;
        for (const char* key : keys) {
            ASSERT_LE(at + 16, b.size()) << effect.name;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at]), 4), "MIB8");
            const std::string forward(key);
            const std::string reversed(forward.rbegin(), forward.rend());
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[at + 4]), 4), reversed);
            int32_t length = 0;
            std::memcpy(&length, &b[at + 12], 4);
            EXPECT_EQ(length % 4, 0) << effect.name << " " << key;
            at += 16 + static_cast<size_t>(length);
        }
        EXPECT_EQ(at, b.size()) << effect.name;
        EXPECT_EQ(effect.entryName.substr(effect.entryName.size() - 12), "_Entry_Point");
    }
}

TEST(Pipl, MalformedBytesAreRefusedNotRead) {
    const auto& good = zoka_test::LoadedModule().Effects().front().bytes;
    for (size_t cut = 0; cut < good.size(); cut += 7) {
        EXPECT_FALSE(ParsePipl(good.data(), cut).has_value()) << "cut at " << cut;
    }
    std::vector<uint8_t> huge = good;
    huge[22] = 0xFF;  // the first property's length
    huge[23] = 0x7F;
    EXPECT_FALSE(ParsePipl(huge.data(), huge.size()).has_value());
}

}  // namespace
}  // namespace ourhost
