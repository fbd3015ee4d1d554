#include "ourhost/motion_carry.h"

#include <algorithm>
#include <cstring>

#include "ourhost/effect_instance.h"

namespace ourhost {

namespace {

bool SameValue(const HostParamValue& a, const HostParamValue& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameKeys(const std::map<double, HostParamValue>& a, const std::map<double, HostParamValue>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.first == y.first && SameValue(x.second, y.second); });
}

}  // namespace

ZokaMotionCarry MotionCarry::Take(const std::vector<ParamSlot>& params, int32_t downsample) {
    std::lock_guard lock(mutex_);
    seen_.resize(std::max(seen_.size(), params.size()));
    const size_t revised = std::min<size_t>(params.size(), kZokaMotionParams);
    for (size_t i = 0; i < revised; ++i) {
        const ParamSlot& slot = params[i];
        const int32_t pointDivisor = slot.def.kind == kParamPoint ? downsample : 1;
        Values& seen = seen_[i];
        if (carry_.revisions[i] != 0 && SameValue(seen.value, slot.def.u) && SameKeys(seen.keys, slot.keys) &&
            seen.pointDivisor == pointDivisor) {
            continue;
        }
        seen = Values{slot.def.u, slot.keys, pointDivisor};
        // Never 0 again once seen, so that a parameter first seen is a change.
        carry_.revisions[i] = carry_.revisions[i] == UINT32_MAX ? 1 : carry_.revisions[i] + 1;
    }
    return carry_;
}

void MotionCarry::Keep(const ZokaMotionCarry& carried) {
    std::lock_guard lock(mutex_);
    // The revisions stay this carry's own: a render that began before a
    // change left sums of the old values, which they tell apart.
    std::copy(std::begin(carried.sums), std::end(carried.sums), std::begin(carry_.sums));
}

}  // namespace ourhost
