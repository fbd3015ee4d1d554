// The blur's kernels with 8 lanes, for AVX-512.
#include <immintrin.h>

#include "raster/lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(64)));
constexpr int32_t kLanes = 8;

inline V Load(const double* p) { return reinterpret_cast<V>(_mm512_loadu_pd(p)); }

typedef int32_t ChunkInts __attribute__((vector_size(64)));
inline ChunkInts WidenChunk(const uint8_t* p) {
    return reinterpret_cast<ChunkInts>(
        _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
inline void StoreChunkBytes(ChunkInts v, uint8_t* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm512_mask_cvtepi32_epi8(_mm_setzero_si128(), 0xFFFF, reinterpret_cast<__m512i>(v)));
}
inline uint32_t DifferingLanes(ChunkInts a, ChunkInts b) {
    return _mm512_cmpneq_epi32_mask(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b));
}
inline ChunkInts GatherFlat(ChunkInts into, uint32_t lanes, ChunkInts indices, const int32_t* table) {
    return reinterpret_cast<ChunkInts>(_mm512_mask_i32gather_epi32(
        reinterpret_cast<__m512i>(into), static_cast<__mmask16>(lanes), reinterpret_cast<__m512i>(indices), table, 4));
}

#include "raster/lane_kernels.inl"

}  // namespace

LaneKernels LaneKernels8() { return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry}; }

}  // namespace zoka
