// Runs an effect's kernel directly, as the render driver does for a layer
// without a selection, once over the whole layer and once strip by strip, so
// a test can check that splitting the work into bands changes no pixel.
#pragma once

#include <cstdint>
#include <string>
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

// Renders the kernel whole and in strips of four shapes (single columns,
// single rows, 7 x 5 tiles, 16 x 16 tiles) and expects every render to
// succeed and every byte of each split to lie within maxDifference of the
// whole render's; `what` names the case in failure messages.
void ExpectStripsAgree(int effectIndex, ourhost::EffectInstance& instance,
                       const ourhost::Image& layer, const std::string& what = "",
                       int maxDifference = 0);

}  // namespace zoka_test
