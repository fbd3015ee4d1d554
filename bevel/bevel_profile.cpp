#include "bevel/bevel_profile.h"

#include <algorithm>

namespace zoka {

namespace {

double ProfileAt(double t, ProfileKind kind) {
    switch (kind) {
        case ProfileKind::kConvex: return 1 - t * t;
        case ProfileKind::kSCurve: return t < 0.5 ? 1 - 2 * t * t : 2 * (1 - t) * (1 - t);
        case ProfileKind::kConcave: return (1 - t) * (1 - t);
        case ProfileKind::kLinear: return 1 - t;
    }
    return 0;
}

}  // namespace

double BevelProfile(double v, double width, double offset, double depth, ProfileKind kind) {
    const double t = v / std::max(width - offset, 0.5);
    const double h = ProfileAt(t, kind) * depth;
    if (h < 0) return 0;
    if (h > depth) return depth;
    return h;
}

}  // namespace zoka
