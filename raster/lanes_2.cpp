// The blur's kernels with 2 lanes, for SSE2.
#include <emmintrin.h>

#include "raster/lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(16)));
constexpr int32_t kLanes = 2;

inline V Load(const double* p) { return V{p[0], p[1]}; }

typedef int32_t ChunkInts __attribute__((vector_size(16)));
inline ChunkInts WidenChunk(const uint8_t* p) {
    int32_t four;
    __builtin_memcpy(&four, p, 4);
    const __m128i zero = _mm_setzero_si128();
    const __m128i bytes = _mm_cvtsi32_si128(four);
    return reinterpret_cast<ChunkInts>(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
}
inline void StoreChunkBytes(ChunkInts v, uint8_t* out) {
    for (int32_t w = 0; w < 4; ++w) out[w] = static_cast<uint8_t>(v[w]);
}
inline uint32_t DifferingLanes(ChunkInts a, ChunkInts b) {
    const __m128i same = _mm_cmpeq_epi32(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b));
    return ~static_cast<uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(same))) & 0xF;
}
inline ChunkInts GatherFlat(ChunkInts into, uint32_t lanes, ChunkInts indices, const int32_t* table) {
    for (int32_t w = 0; w < 4; ++w) {
        if ((lanes >> w) & 1) into[w] = table[indices[w]];
    }
    return into;
}

#include "raster/lane_kernels.inl"

}  // namespace

LaneKernels LaneKernels2() { return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry}; }

}  // namespace zoka
