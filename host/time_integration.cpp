#include "host/time_integration.h"

#include <cmath>

#include "base/result_codes.h"
#include "host/effect.h"
#include "host/string_ids.h"

namespace zoka {

namespace {

constexpr double kDegToRad = 0.017453292522222223;

// The carry lent to this thread's host calls; null unless a host lends one.
thread_local ZokaMotionCarry* tLentCarry = nullptr;

// The checkout's failure as the framework reports it.
int CheckoutFailed(HostInputRecord* in, HostOutputRecord* out, int error) {
    if (error == kHostErrorCancelled) return kCancelled;
    EffectError(in, out, kStringCheckoutError);
    return error;
}

int CheckOut(HostInputRecord* in, int32_t index, int32_t time, HostParamDef& param) {
    return in->checkoutParam(in->effectRef, index, time, 0, in->timeScale, &param);
}

double FixedValue(const HostParamDef& param) { return param.u.fixedSlider.value / 65536.0; }

// The host's downsample ratio, numerator over denominator.
double DownsampleRatio(const HostInputRecord* in) { return 1.0 / ResolutionDivisor(in); }

// There are no steps when the host gives no step or no time scale, which
// would never end or divide by zero.
bool HasTimeSteps(const HostInputRecord* in) { return in->localTimeStep > 0 && in->timeScale != 0; }

// Calls step (t, dt) at every local time step t from time up to the current
// time, dt being the step in seconds, leaving time at the first step not
// taken; stops at the first failure.
template <typename Step>
int ForEachTimeStep(const HostInputRecord* in, int64_t& time, Step step) {
    if (!HasTimeSteps(in)) return kOk;
    const double dt = static_cast<double>(in->localTimeStep) / in->timeScale;
    for (; time < in->currentTime; time += in->localTimeStep) {
        const int result = step(static_cast<int32_t>(time), dt);
        if (result != kOk) return result;
    }
    return kOk;
}

// ---- The lent carry ----------------------------------------------------------

// A sum as it stands, before the downsample ratio, and the first step it
// has not taken.
struct RunningSum {
    double x = 0;
    double y = 0;
    int64_t nextTime = 0;
};

// A rate is a sum without a direction (host index 0 is the input layer,
// never a speed's direction).
constexpr int32_t kNoDirection = 0;

// Sums of parameters whose revisions the carry holds.
bool Carries(int32_t speedIndex, int32_t directionIndex) {
    return speedIndex > 0 && speedIndex < kZokaMotionParams && directionIndex >= 0 &&
           directionIndex < kZokaMotionParams;
}

uint32_t RevisionOf(const ZokaMotionCarry& carry, int32_t index) {
    return index == kNoDirection ? 0 : carry.revisions[index];
}

ZokaMotionSum* SlotOf(ZokaMotionCarry& carry, int32_t speedIndex, int32_t directionIndex) {
    for (ZokaMotionSum& sum : carry.sums) {
        if (sum.speedIndex == speedIndex && sum.directionIndex == directionIndex) return &sum;
    }
    return nullptr;
}

// Whether the carried sum is the start of this frame's: made of the same
// parameter values over the same steps, none of them at or after the frame's
// time. Going on from it then adds the terms of the sum from 0 that it lacks,
// in their order.
bool Continues(const ZokaMotionSum& sum, const ZokaMotionCarry& carry, const HostInputRecord* in) {
    return sum.speedRevision == RevisionOf(carry, sum.speedIndex) &&
           sum.directionRevision == RevisionOf(carry, sum.directionIndex) && sum.timeScale == in->timeScale &&
           sum.localTimeStep == in->localTimeStep &&
           (sum.nextTime == 0 || sum.nextTime - in->localTimeStep < in->currentTime);
}

// Where this frame's sum starts: from the lent carry's when it continues,
// else from nothing at time 0.
RunningSum StartOf(const HostInputRecord* in, int32_t speedIndex, int32_t directionIndex) {
    ZokaMotionCarry* carry = tLentCarry;
    if (carry == nullptr || !HasTimeSteps(in) || !Carries(speedIndex, directionIndex)) return {};
    const ZokaMotionSum* sum = SlotOf(*carry, speedIndex, directionIndex);
    if (sum == nullptr || !Continues(*sum, *carry, in)) return {};
    return RunningSum{sum->x, sum->y, sum->nextTime};
}

// Leaves a finished sum in the lent carry for the next frame, in its
// parameters' slot, a free one, or the last.
void Keep(const HostInputRecord* in, int32_t speedIndex, int32_t directionIndex, const RunningSum& sum) {
    ZokaMotionCarry* carry = tLentCarry;
    if (carry == nullptr || !HasTimeSteps(in) || !Carries(speedIndex, directionIndex)) return;
    ZokaMotionSum* slot = SlotOf(*carry, speedIndex, directionIndex);
    if (slot == nullptr) slot = SlotOf(*carry, 0, 0);
    if (slot == nullptr) slot = &carry->sums[kZokaMotionSums - 1];
    *slot = ZokaMotionSum{speedIndex,
                          directionIndex,
                          RevisionOf(*carry, speedIndex),
                          RevisionOf(*carry, directionIndex),
                          in->timeScale,
                          in->localTimeStep,
                          sum.nextTime,
                          sum.x,
                          sum.y};
}

}  // namespace

int IntegrateFlow(HostInputRecord* in, HostOutputRecord* out, int32_t speedIndex,
                  int32_t directionIndex, Drift& drift) {
    RunningSum sum = StartOf(in, speedIndex, directionIndex);
    drift = Drift{sum.x, sum.y};
    const int result = ForEachTimeStep(in, sum.nextTime, [&](int32_t t, double dt) {
        HostParamDef speed{}, direction{};
        int error = CheckOut(in, speedIndex, t, speed);
        if (error != kOk) return CheckoutFailed(in, out, error);
        error = CheckOut(in, directionIndex, t, direction);
        if (error != kOk) {
            in->checkinParam(in->effectRef, &speed);
            return CheckoutFailed(in, out, error);
        }
        const double r = FixedValue(speed) * dt;
        const double a = (360 - direction.u.angle.value / 65536.0) * kDegToRad;
        drift.x += r * std::sin(a);
        drift.y += r * std::cos(a);
        in->checkinParam(in->effectRef, &speed);
        in->checkinParam(in->effectRef, &direction);
        return kOk;
    });
    if (result != kOk) return result;
    Keep(in, speedIndex, directionIndex, RunningSum{drift.x, drift.y, sum.nextTime});
    drift.x *= DownsampleRatio(in);
    drift.y *= DownsampleRatio(in);
    return kOk;
}

int IntegrateRate(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& amount) {
    RunningSum sum = StartOf(in, rateIndex, kNoDirection);
    amount = sum.x;
    const int result = ForEachTimeStep(in, sum.nextTime, [&](int32_t t, double dt) {
        HostParamDef rate{};
        const int error = CheckOut(in, rateIndex, t, rate);
        if (error != kOk) return CheckoutFailed(in, out, error);
        amount += FixedValue(rate) * dt;
        in->checkinParam(in->effectRef, &rate);
        return kOk;
    });
    if (result != kOk) return result;
    Keep(in, rateIndex, kNoDirection, RunningSum{amount, 0, sum.nextTime});
    amount *= DownsampleRatio(in);
    return kOk;
}

int IntegrateAngle(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& angle) {
    const int result = IntegrateRate(in, out, rateIndex, angle);
    angle *= kDegToRad;
    return result;
}

ZokaMotionCarry* LendMotionCarry(ZokaMotionCarry* carry) {
    ZokaMotionCarry* const before = tLentCarry;
    tLentCarry = carry;
    return before;
}

}  // namespace zoka
