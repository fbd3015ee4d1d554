// Speeds integrated over the host's time from parameter checkouts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "base/module_memory.h"
#include "base/result_codes.h"
#include "host/time_integration.h"
#include "tests/support/module_under_test.h"

namespace zoka {
namespace {

// HSB Noise's Flow Direction, Flow Speed and Undulation Speed as the host
// numbers them (after the input and the selection-layer parameters).
constexpr int32_t kDirection = 10;
constexpr int32_t kSpeed = 11;
constexpr int32_t kUndulation = 12;

class TimeIntegration : public ::testing::Test {
protected:
    // Reports allocate their text through the module's memory.
    TimeIntegration() {
        CurrentInputRecord = &effect.instance.Input();
        effect.host.SetCallingOutput(&effect.instance.Output());
    }
    ~TimeIntegration() override { CurrentInputRecord = nullptr; }

    void Set(int32_t hostIndex, const std::string& value) {
        zoka_test::SetValue(effect.instance, static_cast<size_t>(hostIndex), value);
    }
    void At(double seconds, double fps = 30, int32_t downsample = 1) {
        effect.instance.PrepareTime(ourhost::FrameOptions{seconds, fps, false, downsample});
    }
    int Flow(Drift& drift) {
        return IntegrateFlow(&effect.instance.Input(), &effect.instance.Output(), kSpeed,
                             kDirection, drift);
    }
    int Phase(double& phase) {
        return IntegrateAngle(&effect.instance.Input(), &effect.instance.Output(), kUndulation,
                              phase);
    }
    void ExpectBalanced() {
        EXPECT_EQ(effect.instance.OutstandingCheckouts(), 0);
        EXPECT_TRUE(effect.host.Faults().empty());
    }

    zoka_test::AppliedEffect effect{"HSB Noise"};
};

TEST_F(TimeIntegration, NothingMovesAtTimeZeroOrAtSpeedZero) {
    Set(kSpeed, "50");
    Set(kUndulation, "90");
    At(0);
    Drift drift{1, 1};
    double phase = 1;
    ASSERT_EQ(Flow(drift), kOk);
    ASSERT_EQ(Phase(phase), kOk);
    EXPECT_EQ(drift.x, 0);
    EXPECT_EQ(drift.y, 0);
    EXPECT_EQ(phase, 0);
    EXPECT_EQ(effect.host.Checkouts(), 0u);

    Set(kSpeed, "0");
    Set(kDirection, "123");
    At(2.5);
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_EQ(drift.x, 0);
    EXPECT_EQ(drift.y, 0);
    ExpectBalanced();
}

TEST_F(TimeIntegration, AConstantSpeedIntegratesToSpeedTimesTime) {
    Set(kSpeed, "30");
    Set(kDirection, "90");  // the sampling position moves left: the pattern right
    At(2);
    Drift drift;
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_NEAR(drift.x, -60, 1e-9);
    EXPECT_NEAR(drift.y, 0, 1e-6);

    Set(kDirection, "0");  // the sampling position moves down: the pattern up
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_NEAR(drift.x, 0, 1e-6);
    EXPECT_NEAR(drift.y, 60, 1e-9);

    At(2, 30, 2);  // half resolution: half the pixels
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_NEAR(drift.y, 30, 1e-9);
    ExpectBalanced();
}

TEST_F(TimeIntegration, AnUndulationSpeedIntegratesToRadians) {
    Set(kUndulation, "90");
    At(2, 25);
    double phase = 0;
    ASSERT_EQ(Phase(phase), kOk);
    EXPECT_NEAR(phase, 3.141592653589793, 1e-8);
    At(2, 25, 4);  // scaled like a distance
    ASSERT_EQ(Phase(phase), kOk);
    EXPECT_NEAR(phase, 3.141592653589793 / 4, 1e-8);
    ExpectBalanced();
}

TEST_F(TimeIntegration, AKeyframedSpeedIsSummedFromTheStartOfEachStep) {
    // 0 to 30 pixels/s over the first second: the left sum over 30 frames is
    // (0 + 1 + ... + 29) / 30 = 14.5, where the exact integral would be 15.
    Set(kSpeed, "0@0;30@1");
    Set(kDirection, "180");
    At(1);
    Drift drift;
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_NEAR(drift.y, -14.5, 1e-9);
    EXPECT_EQ(effect.host.Checkouts(), 60u);
    ExpectBalanced();
}

TEST_F(TimeIntegration, AFailedCheckoutIsReportedAndEveryCheckoutCheckedIn) {
    Set(kSpeed, "10");
    for (const uint64_t failing : {1u, 2u, 5u, 6u}) {
        At(1);
        effect.instance.Output() = HostOutputRecord{};
        effect.host.FailCheckout(failing, kOutOfMemory);
        Drift drift;
        EXPECT_EQ(Flow(drift), kOutOfMemory) << failing;
        EXPECT_STREQ(effect.instance.Output().message,
                     "Lumetta AE Error : Error checking out parameter");
        EXPECT_NE(effect.instance.Output().flags & kOutFlagDisplayError, 0);
        ExpectBalanced();
    }
}

TEST_F(TimeIntegration, TheHostsCancelDuringACheckoutCancelsQuietly) {
    At(1);
    effect.host.FailCheckout(3, kHostErrorCancelled);
    double phase = 0;
    EXPECT_EQ(Phase(phase), kCancelled);
    EXPECT_STREQ(effect.instance.Output().message, "");
    EXPECT_EQ(effect.instance.Output().flags & kOutFlagDisplayError, 0);
    ExpectBalanced();
}

TEST_F(TimeIntegration, AHostWithoutTimeStepsGivesNoMotion) {
    Set(kSpeed, "10");
    At(1);
    effect.instance.Input().localTimeStep = 0;  // would never advance
    Drift drift{5, 5};
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_EQ(drift.x, 0);
    effect.instance.Input().localTimeStep = 1000;
    effect.instance.Input().timeScale = 0;  // would divide by zero
    ASSERT_EQ(Flow(drift), kOk);
    EXPECT_EQ(drift.y, 0);
}

// ---- Sums carried from frame to frame ----------------------------------------

// Both results of a frame, bit for bit.
struct Motion {
    Drift drift;
    double phase = 0;
    bool operator==(const Motion& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
};

class CarriedIntegration : public TimeIntegration {
protected:
    CarriedIntegration() {
        // Speeds that change at every step, so that every term counts.
        Set(kSpeed, "3@0;71.5@20;12@3600");
        Set(kDirection, "10@0;350@40;-720@3600");
        Set(kUndulation, "40@0;3000@1000");
    }
    ~CarriedIntegration() override { LendMotionCarry(nullptr); }

    // The frame at seconds with the carry lent, checked against the frame
    // integrated from 0; the checkouts the carried one made.
    uint64_t ExpectCarriedIsFresh(double seconds, double fps = 600, int32_t downsample = 1) {
        At(seconds, fps, downsample);
        LendMotionCarry(nullptr);
        const Motion fresh = Frame();
        LendMotionCarry(&carry);
        const uint64_t before = effect.host.Checkouts();
        const Motion carried = Frame();
        EXPECT_TRUE(carried == fresh) << "at " << seconds << " s: drift " << carried.drift.x << ","
                                      << carried.drift.y << " phase " << carried.phase << ", from 0 "
                                      << fresh.drift.x << "," << fresh.drift.y << " phase " << fresh.phase;
        ExpectBalanced();
        return effect.host.Checkouts() - before;
    }
    Motion Frame() {
        Motion m;
        EXPECT_EQ(Flow(m.drift), kOk);
        EXPECT_EQ(Phase(m.phase), kOk);
        return m;
    }

    ZokaMotionCarry carry{};
};

TEST_F(CarriedIntegration, FramesInIncreasingTimeTakeOnlyTheStepsSinceTheLast) {
    EXPECT_EQ(ExpectCarriedIsFresh(0), 0u);
    // 25 frames a second at 600 steps: 24 steps of 3 checkouts each.
    for (int n = 1; n <= 100; ++n) {
        EXPECT_EQ(ExpectCarriedIsFresh(n / 25.0), 72u) << "frame " << n;
    }
    // Late in a clip a frame costs what an early one does.
    ExpectCarriedIsFresh(600);
    EXPECT_EQ(ExpectCarriedIsFresh(600 + 1 / 25.0), 72u);
    // The same frame again, and a time inside the last step, take none.
    EXPECT_EQ(ExpectCarriedIsFresh(600 + 1 / 25.0), 0u);
    EXPECT_EQ(ExpectCarriedIsFresh(600 + 1 / 25.0 - 0.0005), 0u);
}

TEST_F(CarriedIntegration, SeeksBackwardsAndForwardsGiveTheSumsFromZero) {
    for (const double seconds : {10.0, 10.04, 2.0, 2.0 - 1 / 600.0, 2.0, 37.5, 37.5 + 1 / 600.0, 0.0, -1.0,
                                 0.5, 1e-9, 0.6, 700.0, 12.0}) {
        ExpectCarriedIsFresh(seconds);
    }
    // Other frame rates and steps: every change of time base starts afresh.
    for (const double fps : {30.0, 29.97, 24.0, 600.0, 30.0}) {
        ExpectCarriedIsFresh(50, fps);
        ExpectCarriedIsFresh(50 + 1 / fps, fps);
    }
}

TEST_F(CarriedIntegration, TheDownsampleScalesTheCarriedSumsAlike) {
    ExpectCarriedIsFresh(8, 600, 1);
    EXPECT_EQ(ExpectCarriedIsFresh(8.04, 600, 2), 72u);
    EXPECT_EQ(ExpectCarriedIsFresh(8.08, 600, 3), 72u);
    EXPECT_EQ(ExpectCarriedIsFresh(8.12, 600, 1), 72u);
}

TEST_F(CarriedIntegration, AParameterWhoseRevisionChangedIsSummedAfresh) {
    ExpectCarriedIsFresh(20);
    Set(kSpeed, "17");
    ++carry.revisions[kSpeed];
    // The flow is summed afresh (2 checkouts a step from 0), the undulation
    // goes on (1 a step since the last frame).
    EXPECT_EQ(ExpectCarriedIsFresh(20.04), 2u * 12024 + 24);
    Set(kUndulation, "5@0;100@30");
    ++carry.revisions[kUndulation];
    EXPECT_EQ(ExpectCarriedIsFresh(20.08), 2u * 24 + 12048);
    // A direction changed without its revision is carried on with its old
    // values: the revisions are what the host tells changes by.
    Set(kDirection, "200");
    At(20.12, 600);
    LendMotionCarry(nullptr);
    const Motion fresh = Frame();
    LendMotionCarry(&carry);
    EXPECT_FALSE(Frame() == fresh);
}

TEST_F(CarriedIntegration, AFailedSumLeavesItsCarriedSumAsItWas) {
    ExpectCarriedIsFresh(4);
    const ZokaMotionCarry afterFour = carry;
    // The next frame's 24 steps: the flow's 48 checkouts, then the
    // undulation's 24.
    for (const uint64_t failing : {1u, 2u, 47u, 48u, 49u, 72u}) {
        for (const HostError code : {HostError{kOutOfMemory}, HostError{kHostErrorCancelled}}) {
            carry = afterFour;
            At(4.04, 600);
            effect.host.FailCheckout(failing, code);
            Drift drift;
            double phase = 0;
            if (Flow(drift) == kOk) {
                EXPECT_NE(Phase(phase), kOk);
            }
            effect.host.FailCheckout(0, 0);
            ExpectBalanced();
            // A sum that failed was not kept; the flow before a failed
            // undulation was.
            EXPECT_EQ(ExpectCarriedIsFresh(4.04), failing <= 48 ? 72u : 24u) << failing;
        }
    }
}

TEST_F(CarriedIntegration, MoreSumsThanSlotsStillGiveTheSumsFromZero) {
    // Six sums of different parameters on one carry: the last slot is
    // taken over in turn, and a sum that lost its slot starts from 0.
    const std::vector<int32_t> rates = {3, 4, 5, 6, 7, 8};
    for (const double seconds : {1.0, 1.5, 2.0}) {
        At(seconds, 600);
        for (const int32_t index : rates) {
            double fresh = 0, carried = 0;
            LendMotionCarry(nullptr);
            ASSERT_EQ(IntegrateRate(&effect.instance.Input(), &effect.instance.Output(), index, fresh), kOk);
            LendMotionCarry(&carry);
            ASSERT_EQ(IntegrateRate(&effect.instance.Input(), &effect.instance.Output(), index, carried), kOk);
            EXPECT_EQ(std::memcmp(&fresh, &carried, sizeof fresh), 0) << index << " at " << seconds;
        }
    }
    ExpectBalanced();
}

}  // namespace
}  // namespace zoka
