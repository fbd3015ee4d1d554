// The pixels of the Python module's arrays: height x width x 4 (RGBA) or
// x 3 (RGB) samples of uint8, uint16 or float32, straight alpha, row after
// row, to and from our host's 8-bit layers (alpha, red, green, blue), each
// sample narrowed and widened as image files are (images/samples.h).
#pragma once

#include <cstdint>

#include "ourhost/image.h"

namespace zoka_python {

enum class SampleType { kUint8, kUint16, kFloat32 };

struct ArrayLayout {
    int32_t height = 0;
    int32_t width = 0;
    int channels = 4;  // 4: RGBA; 3: RGB, opaque
    SampleType type = SampleType::kUint8;
};

// A layer of the samples, as a reader makes one of a file's.
ourhost::Image LayerOfSamples(const void* samples, const ArrayLayout& layout);

// The layer's pixels as samples of the layout's type and channels (3: the
// colour only, for a layer that is opaque).
void SamplesOfLayer(const ourhost::Image& layer, const ArrayLayout& layout, void* samples);

// The layer's bytes reordered in place from the host's ARGB to RGBA: an
// 8-bit RGBA result needs no other copy.
void ReorderToRgba(ourhost::Image& layer);

}  // namespace zoka_python
