// Integer division of a product of two bytes by a byte, by a multiply and a
// shift instead of a divide: for n < 2^16 and 1 <= d <= 255 the quotient
// equals n / d (truncated) exactly, so compositing loops keep their bytes.
#pragma once

#include <array>
#include <cstdint>

namespace zoka {

namespace byte_division_detail {

// ceil(2^32 / d). With e = m d - 2^32 < d, n m / 2^32 = n / d + n e / (d 2^32)
// and n e < 2^16 * 2^8 < 2^32, so the excess stays below 1 / d and never
// carries the quotient past the next whole number.
constexpr std::array<uint64_t, 256> MakeReciprocals() {
    std::array<uint64_t, 256> m{};
    for (uint64_t d = 1; d < 256; ++d) m[d] = ((uint64_t{1} << 32) + d - 1) / d;
    return m;
}

inline constexpr std::array<uint64_t, 256> kReciprocals = MakeReciprocals();

}  // namespace byte_division_detail

// n / d for n <= 65535 and 1 <= d <= 255.
inline uint32_t DivideByByte(uint32_t n, uint32_t d) {
    return static_cast<uint32_t>((n * byte_division_detail::kReciprocals[d]) >> 32);
}

}  // namespace zoka
