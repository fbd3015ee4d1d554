// Speeds integrated over the host's time from parameter checkouts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

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

}  // namespace
}  // namespace zoka
