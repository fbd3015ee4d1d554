// The colour value read from a colour parameter: three 16-bit channels 0..255.
#pragma once

#include <cstdint>

namespace zoka {

struct RgbColor {
    int16_t red = 192;
    int16_t green = 192;
    int16_t blue = 192;

    static constexpr RgbColor Bytes(uint8_t r, uint8_t g, uint8_t b) {
        RgbColor c;
        c.SetBytes(r, g, b);
        return c;
    }
    constexpr void SetBytes(uint8_t r, uint8_t g, uint8_t b) {
        red = r;
        green = g;
        blue = b;
    }
    // The low byte of each channel into bytes 0, 1, 2 of a work-order pixel.
    void ToBytes(uint8_t* out) const {
        out[0] = static_cast<uint8_t>(red);
        out[1] = static_cast<uint8_t>(green);
        out[2] = static_cast<uint8_t>(blue);
    }
    void ToUnit(double* out) const {
        out[0] = red * 0.00392156862745098;
        out[1] = green * 0.00392156862745098;
        out[2] = blue * 0.00392156862745098;
    }
};

}  // namespace zoka
