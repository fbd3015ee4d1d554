// What the benchmarks render: a 1920 x 1080 layer with a real alpha shape,
// and the same pixels as an 8-bit RGBA raster for the blur engine alone.
#pragma once

#include <cstdint>
#include <vector>

#include "site/sample_layer.h"

namespace zoka_bench {

inline constexpr int kWidth = 1920;
inline constexpr int kHeight = 1080;

// The layer in host order, made once.
inline const ourhost::Image& BenchLayer() {
    static const ourhost::Image layer = zoka_site::SampleLayer(kWidth, kHeight);
    return layer;
}

// The layer's bytes in work order (R, G, B, A).
inline const std::vector<uint8_t>& BenchRgba() {
    static const std::vector<uint8_t> rgba = [] {
        const ourhost::ImageBytes& layer = BenchLayer().Bytes();
        std::vector<uint8_t> bytes(layer.begin(), layer.end());
        for (size_t i = 0; i < bytes.size(); i += 4) {
            const uint8_t a = bytes[i];
            bytes[i] = bytes[i + 1];
            bytes[i + 1] = bytes[i + 2];
            bytes[i + 2] = bytes[i + 3];
            bytes[i + 3] = a;
        }
        return bytes;
    }();
    return rgba;
}

// The same size filled with noise: no flat stretch anywhere, the worst case
// for the table method's shortcut over flat windows.
inline const std::vector<uint8_t>& NoiseRgba() {
    static const std::vector<uint8_t> rgba = [] {
        std::vector<uint8_t> bytes(static_cast<size_t>(kWidth) * kHeight * 4);
        uint32_t state = 12345;
        for (uint8_t& b : bytes) {
            state = state * 1664525u + 1013904223u;
            b = static_cast<uint8_t>(state >> 24);
        }
        return bytes;
    }();
    return rgba;
}

}  // namespace zoka_bench
