// The effects that move by themselves, rendered by instances that carry
// their motion from frame to frame (as the frei0r bridge's do), against the
// same frames from instances that integrate every frame from 0, as the host
// has them; and the host's path, which lends no carry, checking out every
// step from 0 as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ourhost/effect_instance.h"
#include "tests/support/flow_checks.h"
#include "tests/support/module_under_test.h"
#include "tests/support/render_checks.h"

namespace {

using ourhost::FrameOptions;
using zoka_test::AppliedEffect;

// Every effect whose motion is integrated from its speeds over time.
const std::vector<std::string> kMovingEffects = {"Fire",   "Smoke", "HSB Noise", "Glass",
                                                 "Fur",    "Jiggle", "Swirl",    "Weave"};

bool Declares(AppliedEffect& effect, const std::string& key) {
    const auto keys = zoka_test::LoadedModule().Keys(effect.entryName);
    if (!keys) return false;
    const auto* end = keys->paramKeys + keys->paramCount;
    return std::find_if(keys->paramKeys, end, [&](const char* k) { return key == k; }) != end;
}

void SetIfDeclared(AppliedEffect& effect, const std::string& key, const std::string& value) {
    if (Declares(effect, key)) effect.Set(key, value);
}

// Speeds keyframed to change at every step, so that every term of the sums
// shows in the pixels somewhere.
void SetMoving(AppliedEffect& effect) {
    SetIfDeclared(effect, "FlowVelocity", "20@0;90@3");
    SetIfDeclared(effect, "FlowDirection", "30@0;300@4");
    SetIfDeclared(effect, "PhaseVelocity", "50@0;400@5");
}

void CarryMotion(AppliedEffect& effect) {
    effect.instance.CarryMotion(zoka_test::LoadedModule().MotionCarryLender());
    ASSERT_TRUE(effect.instance.CarriesMotion());
}

// One frame of a sequence, after a change to both instances.
struct Step {
    double time;
    std::function<void(AppliedEffect&)> change = {};
    int32_t downsample = 1;
    bool still = false;
};

// Renders the steps with a carrying and a fresh instance of the effect,
// each frame expected the same in both.
void ExpectCarriedFramesAreTheFramesFromZero(const std::string& name, const std::vector<Step>& steps,
                                             const ourhost::Image& layer) {
    AppliedEffect carried(name), fresh(name);
    SetMoving(carried);
    SetMoving(fresh);
    CarryMotion(carried);
    for (const Step& step : steps) {
        if (step.change) {
            step.change(carried);
            step.change(fresh);
        }
        FrameOptions options;
        options.time = step.time;
        options.downsample = step.downsample;
        options.still = step.still;
        const ourhost::FrameResult a = zoka_test::RenderChecked(carried, layer, options);
        const ourhost::FrameResult b = zoka_test::RenderChecked(fresh, layer, options);
        EXPECT_TRUE(a.image == b.image && a.originX == b.originX && a.originY == b.originY)
            << name << " at " << step.time << " s";
    }
    EXPECT_LT(carried.host.Checkouts(), fresh.host.Checkouts()) << name << ": nothing was carried";
    EXPECT_TRUE(carried.host.Faults().empty()) << name;
}

TEST(MotionCarry, EveryMovingEffectsCarriedFramesAreItsFramesFromZero) {
    std::vector<Step> steps;
    for (int n = 0; n < 8; ++n) steps.push_back({n / 30.0});
    const std::vector<Step> rest = {
        {2.5},                                                            // a jump forward
        {2.5 + 1 / 30.0},
        {1.0},                                                            // a seek back
        {1.0 + 1 / 30.0},
        {1.0 + 2 / 30.0, [](AppliedEffect& e) { SetIfDeclared(e, "FlowVelocity", "35"); }},
        {1.0 + 3 / 30.0},
        {1.0 + 4 / 30.0, {}, 2},                                          // a draft
        {1.0 + 5 / 30.0},
        {1.0 + 6 / 30.0, {}, 1, true},                                    // a still
        {1.0 + 7 / 30.0, [](AppliedEffect& e) { SetIfDeclared(e, "RandomSeed", "9"); }},
        {1.0 + 8 / 30.0, [](AppliedEffect& e) { SetIfDeclared(e, "FlowDirection", "0@0;90@1.2"); }},
        {1.0 + 9 / 30.0, [](AppliedEffect& e) { SetIfDeclared(e, "PhaseVelocity", "120"); }},
        {1.0 + 10 / 30.0},
        {4.0},
    };
    steps.insert(steps.end(), rest.begin(), rest.end());
    const ourhost::Image layer = zoka_test::TestLayer(32, 24);
    for (const std::string& name : kMovingEffects) ExpectCarriedFramesAreTheFramesFromZero(name, steps, layer);
}

TEST(MotionCarry, InstancesInterleavedEachCarryTheirOwnAndTheHostsPathNone) {
    const ourhost::Image layer = zoka_test::TestLayer(24, 18);
    struct Pair {
        std::string name;
        std::string speed;
        double offset;  // each instance at times of its own
    };
    const std::vector<Pair> pairs = {{"Fire", "40", 0},         {"Fire", "130", 0.3}, {"HSB Noise", "25", 0},
                                     {"HSB Noise", "60", 1.1},  {"Weave", "15", 0.7}, {"Swirl", "33", 0.2}};
    std::vector<std::unique_ptr<AppliedEffect>> carried, fresh;
    for (const Pair& p : pairs) {
        for (auto* list : {&carried, &fresh}) {
            list->push_back(std::make_unique<AppliedEffect>(p.name));
            SetMoving(*list->back());
            list->back()->Set("FlowVelocity", p.speed);
        }
        CarryMotion(*carried.back());
    }
    for (int n = 0; n < 12; ++n) {
        for (size_t i = 0; i < pairs.size(); ++i) {
            const FrameOptions options{pairs[i].offset + n / 24.0, 24};
            const uint64_t before = fresh[i]->host.Checkouts();
            const ourhost::FrameResult a = zoka_test::RenderChecked(*carried[i], layer, options);
            const ourhost::FrameResult b = zoka_test::RenderChecked(*fresh[i], layer, options);
            EXPECT_TRUE(a.image == b.image) << pairs[i].name << " " << i << ", frame " << n;
            // The instance without a carry integrated from 0 after the
            // carried one's render on this thread.
            EXPECT_GE(fresh[i]->host.Checkouts() - before, static_cast<uint64_t>(options.time * 24)) << i;
        }
    }
}

// The checkouts of one frame's render and its frame setup.
uint64_t CheckoutsOf(AppliedEffect& effect, const ourhost::Image& layer, double seconds) {
    const uint64_t before = effect.host.Checkouts();
    zoka_test::RenderChecked(effect, layer, FrameOptions{seconds, 30});
    return effect.host.Checkouts() - before;
}

TEST(MotionCarry, TheHostsPathChecksOutEveryStepFromZeroEveryFrame) {
    const ourhost::Image layer = zoka_test::TestLayer(16, 12);
    AppliedEffect host("HSB Noise"), carried("HSB Noise");
    SetMoving(host);
    SetMoving(carried);
    CarryMotion(carried);
    // The selection layer at frame setup and at the render; then the speed
    // and direction, and the undulation, at every step.
    const uint64_t selection = CheckoutsOf(host, layer, 0);
    EXPECT_EQ(selection, 2u);
    for (const double seconds : {1.0, 2.0, 2.0, 3.0, 1.0, 3.0}) {
        const uint64_t steps = static_cast<uint64_t>(seconds * 30);
        EXPECT_EQ(CheckoutsOf(host, layer, seconds), selection + 3 * steps) << seconds;
    }
    EXPECT_EQ(CheckoutsOf(carried, layer, 1.0), selection + 3 * 30);
    EXPECT_EQ(CheckoutsOf(carried, layer, 2.0), selection + 3 * 30);
    EXPECT_EQ(CheckoutsOf(carried, layer, 2.0), selection);
    EXPECT_EQ(CheckoutsOf(carried, layer, 1.0), selection + 3 * 30);
}

// Weave integrates its flow once per render, on the render thread, whatever
// the workers: a band on a worker thread would see no carry and sum from 0.
TEST(MotionCarry, WeaveAtSeveralWorkersSumsEachStepOnceAndGoesOnFromTheCarry) {
    const ourhost::Image layer = zoka_test::TestLayer(16, 12);
    AppliedEffect fresh("Weave"), carried("Weave");
    for (AppliedEffect* e : {&fresh, &carried}) {
        e->host.UseWorkers(zoka_test::LoadedModule().WorkerOffer(), 3);
        SetMoving(*e);
    }
    CarryMotion(carried);
    const uint64_t selection = CheckoutsOf(fresh, layer, 0);
    // The speed and the direction at every step.
    EXPECT_EQ(CheckoutsOf(fresh, layer, 1.0), selection + 2 * 30);
    EXPECT_EQ(CheckoutsOf(carried, layer, 1.0), selection + 2 * 30);
    EXPECT_EQ(CheckoutsOf(carried, layer, 2.0), selection + 2 * 30);
}

TEST(MotionCarry, TheFailureSweepHoldsWithACarry) {
    const ourhost::Image layer = zoka_test::TestLayer();
    for (const std::string& name : kMovingEffects) {
        // The sweep's first render fills the carry; every later one, failed
        // or not, goes on from it.
        zoka_test::RunFailureSweep(
            name, layer,
            [](AppliedEffect& e) {
                SetMoving(e);
                CarryMotion(e);
            },
            FrameOptions{1.5, 24});
    }
}

TEST(MotionCarry, AFrameAfterAFailedOneIsTheFrameFromZero) {
    const ourhost::Image layer = zoka_test::TestLayer();
    for (const std::string& name : kMovingEffects) {
        const ourhost::Image expected = [&] {
            AppliedEffect fresh(name);
            SetMoving(fresh);
            return zoka_test::RenderChecked(fresh, layer, FrameOptions{2.0}).image;
        }();
        // The host current on this thread, which the module's memory reaches.
        AppliedEffect carried(name);
        SetMoving(carried);
        CarryMotion(carried);
        for (const uint64_t n : {1u, 2u, 3u, 5u, 17u, 32u}) {
            zoka_test::RenderChecked(carried, layer, FrameOptions{1.0});
            carried.host.FailCheckout(n, n % 2 == 0 ? kHostErrorCancelled : HostError{8});
            EXPECT_NE(carried.instance.RenderFrame(layer, FrameOptions{2.0}).code, kHostNoError) << name << " " << n;
            carried.host.FailCheckout(0, 0);
            EXPECT_EQ(carried.host.LiveHandles(), 0u);
            EXPECT_TRUE(zoka_test::RenderChecked(carried, layer, FrameOptions{2.0}).image == expected)
                << name << ": after checkout " << n << " failed";
        }
        for (const uint64_t n : {1u, 2u, 4u}) {
            zoka_test::RenderChecked(carried, layer, FrameOptions{1.0});
            carried.host.FailAllocation(n);
            EXPECT_NE(carried.instance.RenderFrame(layer, FrameOptions{2.0}).code, kHostNoError) << name << " " << n;
            carried.host.FailAllocation(0);
            EXPECT_TRUE(zoka_test::RenderChecked(carried, layer, FrameOptions{2.0}).image == expected)
                << name << ": after allocation " << n << " failed";
        }
        EXPECT_TRUE(carried.host.Faults().empty()) << name;
    }
}

}  // namespace
