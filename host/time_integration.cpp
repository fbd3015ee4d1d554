#include "host/time_integration.h"

#include <cmath>

#include "base/result_codes.h"
#include "host/effect.h"
#include "host/string_ids.h"

namespace zoka {

namespace {

constexpr double kDegToRad = 0.017453292522222223;

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

// Calls step (t, dt) at every local time step t from 0 up to the current
// time, dt being the step in seconds; stops at the first failure. There are
// no steps when the host gives no step or no time scale, which would never
// end or divide by zero.
template <typename Step>
int ForEachTimeStep(const HostInputRecord* in, Step step) {
    if (in->localTimeStep <= 0 || in->timeScale == 0) return kOk;
    const double dt = static_cast<double>(in->localTimeStep) / in->timeScale;
    for (int64_t t = 0; t < in->currentTime; t += in->localTimeStep) {
        const int result = step(static_cast<int32_t>(t), dt);
        if (result != kOk) return result;
    }
    return kOk;
}

}  // namespace

int IntegrateFlow(HostInputRecord* in, HostOutputRecord* out, int32_t speedIndex,
                  int32_t directionIndex, Drift& drift) {
    drift = Drift{};
    const int result = ForEachTimeStep(in, [&](int32_t t, double dt) {
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
    drift.x *= DownsampleRatio(in);
    drift.y *= DownsampleRatio(in);
    return kOk;
}

int IntegrateRate(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& amount) {
    amount = 0;
    const int result = ForEachTimeStep(in, [&](int32_t t, double dt) {
        HostParamDef rate{};
        const int error = CheckOut(in, rateIndex, t, rate);
        if (error != kOk) return CheckoutFailed(in, out, error);
        amount += FixedValue(rate) * dt;
        in->checkinParam(in->effectRef, &rate);
        return kOk;
    });
    if (result != kOk) return result;
    amount *= DownsampleRatio(in);
    return kOk;
}

int IntegrateAngle(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& angle) {
    const int result = IntegrateRate(in, out, rateIndex, angle);
    angle *= kDegToRad;
    return result;
}

}  // namespace zoka
