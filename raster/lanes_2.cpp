// The blur's kernels with 2 lanes, for SSE2.
#include "raster/lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(16)));
constexpr int32_t kLanes = 2;

inline V Load(const double* p) { return V{p[0], p[1]}; }
inline V Gather(const double* base, const uint8_t* i) { return V{base[i[0]], base[i[1]]}; }
inline void StoreBytes(V v, uint8_t* out) {
    out[0] = static_cast<uint8_t>(static_cast<int32_t>(v[0]));
    out[1] = static_cast<uint8_t>(static_cast<int32_t>(v[1]));
}

#include "raster/lane_kernels.inl"

}  // namespace

LaneKernels LaneKernels2() { return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry}; }

}  // namespace zoka
