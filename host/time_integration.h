// Speeds integrated over the host's time: the drift of a flow speed and
// direction, and the phase of an undulation speed, summed from time 0 over
// the layer's local time steps, reading the parameters at each step through
// the host's checkout, so keyframed speeds are honoured and every frame is
// computed afresh.
//
// A host that lends a motion carry (ZokaLendMotionCarry) has the sums carried
// from one frame of an instance to the next instead: a sum continues from the
// step where the carried one stopped, adding the same terms in the same order,
// so the bits are those of the sum from 0.
#pragma once

#include <cstdint>

#include "interface/host_records.h"
#include "interface/module_exports.h"

namespace zoka {

struct Drift {
    double x = 0;
    double y = 0;
};

// Parameters are given by host index. A failed checkout reports text 44001
// (unless the host cancelled) and returns the host's code, with its cancel
// as the module's 1. Results are scaled by the downsample ratio.
int IntegrateFlow(HostInputRecord* in, HostOutputRecord* out, int32_t speedIndex,
                  int32_t directionIndex, Drift& drift);
int IntegrateRate(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& amount);
// IntegrateRate of degrees per second, in radians.
int IntegrateAngle(HostInputRecord* in, HostOutputRecord* out, int32_t rateIndex, double& angle);

// The carry the integrations on this thread read and fill (null: none),
// replacing the one lent before, which is returned.
ZokaMotionCarry* LendMotionCarry(ZokaMotionCarry* carry);

}  // namespace zoka
