// Numeric helpers shared by the engines and effects.
#pragma once

#include <climits>
#include <cstdint>

namespace zoka {

// 1 / x, or +-1e7 when |x| <= 1e-7 (0 gives -1e7).
double SafeReciprocal(double x);

// Index of the highest set bit of n for n > 0; 0 otherwise.
int HighestBit(int32_t n);

// Truncation toward zero that is defined for every double: NaN gives 0 and
// values beyond the int32 range saturate. Equal to a plain cast wherever the
// cast is defined.
inline int32_t TruncToInt32(double x) {
    if (!(x > -2147483648.0)) return x != x ? 0 : INT32_MIN;
    if (x >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(x);
}

}  // namespace zoka

namespace zoka {

// A 32-bit value in a 16-bit field: beyond the field's range it saturates,
// so an extreme value stays extreme (a reach too large for any frame) instead
// of wrapping to a small or negative one.
inline int16_t SaturateToInt16(int32_t x) {
    return static_cast<int16_t>(x < INT16_MIN ? INT16_MIN : x > INT16_MAX ? INT16_MAX : x);
}

// Truncation into a 16-bit field: toward zero, saturating at the field's
// range (NaN gives 0).
inline int16_t TruncToInt16(double x) { return SaturateToInt16(TruncToInt32(x)); }

// A 0..1 value as a byte: times 255, clamped to 0..255 (NaN gives 0) and
// truncated.
inline uint8_t UnitToByte(double unit) {
    const double v = unit * 255.0;
    if (!(v > 0)) return 0;
    return v > 255 ? 255 : static_cast<uint8_t>(v);
}

}  // namespace zoka
