// The blur's kernels with 4 lanes, for AVX2.
#include <immintrin.h>

#include "raster/lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(32)));
constexpr int32_t kLanes = 4;

inline V Load(const double* p) { return reinterpret_cast<V>(_mm256_loadu_pd(p)); }

typedef int32_t ChunkInts __attribute__((vector_size(32)));
inline ChunkInts WidenChunk(const uint8_t* p) {
    return reinterpret_cast<ChunkInts>(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
}
inline void StoreChunkBytes(ChunkInts v, uint8_t* out) {
    const __m256i words = _mm256_packus_epi32(reinterpret_cast<__m256i>(v), _mm256_setzero_si256());
    const __m256i bytes = _mm256_packus_epi16(words, _mm256_setzero_si256());
    const int32_t low = _mm256_cvtsi256_si32(bytes);
    const int32_t high = _mm256_extract_epi32(bytes, 4);
    __builtin_memcpy(out, &low, 4);
    __builtin_memcpy(out + 4, &high, 4);
}
inline uint32_t DifferingLanes(ChunkInts a, ChunkInts b) {
    const __m256i same = _mm256_cmpeq_epi32(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b));
    return ~static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(same))) & 0xFF;
}
inline ChunkInts GatherFlat(ChunkInts into, uint32_t lanes, ChunkInts indices, const int32_t* table) {
    const __m256i bits = _mm256_setr_epi32(1, 2, 4, 8, 16, 32, 64, 128);
    const __m256i chosen = _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_set1_epi32(static_cast<int32_t>(lanes)), bits), bits);
    return reinterpret_cast<ChunkInts>(_mm256_mask_i32gather_epi32(
        reinterpret_cast<__m256i>(into), table, reinterpret_cast<__m256i>(indices), chosen, 4));
}

#include "raster/lane_kernels.inl"

}  // namespace

LaneKernels LaneKernels4() { return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry}; }

}  // namespace zoka
