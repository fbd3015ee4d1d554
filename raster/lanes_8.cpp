// The blur's kernels with 8 lanes, for AVX-512.
#include <immintrin.h>

#include "raster/lanes.h"

namespace zoka {

namespace {

typedef double V __attribute__((vector_size(64)));
constexpr int32_t kLanes = 8;

inline V Load(const double* p) { return reinterpret_cast<V>(_mm512_loadu_pd(p)); }
inline V Gather(const double* base, const uint8_t* i) {
    const __m256i indices = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(i)));
    return reinterpret_cast<V>(_mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, indices, base, 8));
}

inline void StoreBytes(V v, uint8_t* out) {
    const __m256i dwords =
        _mm512_mask_cvttpd_epi32(_mm256_setzero_si256(), 0xFF, reinterpret_cast<__m512d>(v));
    const __m128i bytes = _mm256_mask_cvtepi32_epi8(_mm_setzero_si128(), 0xFF, dwords);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
}

typedef int32_t PairInts __attribute__((vector_size(64)));
inline PairInts WidenPair(const uint8_t* p) {
    return reinterpret_cast<PairInts>(
        _mm512_maskz_cvtepu8_epi32(0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
inline void StorePairBytes(PairInts v, uint8_t* out) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm512_mask_cvtepi32_epi8(_mm_setzero_si128(), 0xFFFF, reinterpret_cast<__m512i>(v)));
}
inline uint32_t DifferingLanes(PairInts a, PairInts b) {
    return _mm512_cmpneq_epi32_mask(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b));
}

#include "raster/lane_kernels.inl"

}  // namespace

LaneKernels LaneKernels8() { return LaneKernels{kLanes, FftLinesEntry, DirectLinesEntry, TableLinesEntry}; }

}  // namespace zoka
