// Runs an effect's kernel directly, as the render driver does for a layer
// without a selection, once over the whole layer and once strip by strip, so
// a test can check that splitting the work into bands changes no pixel.
#pragma once

#include <cstdint>
#include <vector>

#include "ourhost/effect_instance.h"
#include "ourhost/image.h"

namespace zoka_test {

struct KernelOutputs {
    int wholeResult = 0;
    int splitResult = 0;
    std::vector<uint8_t> whole;  // work-order pixels, row by row
    std::vector<uint8_t> split;
};

// The instance supplies the parameter values (at time 0) and the input
// record, whose time fields the caller sets with PrepareTime. The strips are
// stripWidth x stripHeight, rendered in column-major order.
KernelOutputs RenderWholeAndInStrips(int effectIndex, ourhost::EffectInstance& instance,
                                     const ourhost::Image& layer, int32_t stripWidth,
                                     int32_t stripHeight);

}  // namespace zoka_test
