// One sample between the 8 bits the effects work on and the wider types
// images come in: how every reader narrows a sample and every writer widens
// one, for files and for the Python module's arrays alike.
#pragma once

#include <cmath>
#include <cstdint>

namespace zoka_images {

// A float sample clamped to 0..1 and rounded to 8 bits; not-a-number is 0.
inline uint8_t ByteFromFraction(float v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

// A 16-bit sample rounded to 8 bits, v * 255 / 65535 to nearest: what
// libpng's png_set_scale_16 gives as well.
inline uint8_t ByteFromWide(uint16_t v) { return static_cast<uint8_t>((uint32_t{v} * 255 + 32767) / 65535); }

// 8 bits widened so that they narrow back exactly: v * 257 in 16 bits,
// v / 255 as a fraction.
inline uint16_t WideFromByte(uint8_t v) { return static_cast<uint16_t>(v * 257); }
inline float FractionFromByte(uint8_t v) { return v / 255.0f; }

}  // namespace zoka_images
