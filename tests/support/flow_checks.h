// Checks for the effects whose noise drifts and undulates over time.
#pragma once

#include <string>

#include "ourhost/effect_instance.h"
#include "ourhost/image.h"
#include "tests/support/render_checks.h"

namespace zoka_test {

// A frame that must render: code 0 and no handle left behind.
ourhost::FrameResult RenderChecked(AppliedEffect& effect, const ourhost::Image& layer,
                                   const ourhost::FrameOptions& options = {});

// An opaque square layer whose red and green are 30 + 2x and 30 + 2y, so
// an output pixel tells where it was sampled from (size up to 112).
ourhost::Image CoordinateLayer(int32_t size);

// With the flow and undulation that `configure` sets: the frame at a time is
// the same in a fresh instance and after other frames, differs at another
// time, and differs with another Random Seed.
void ExpectFramesFollowTimeAndSeedAlone(const std::string& effect, const Configure& configure,
                                        const ourhost::Image& layer);

}  // namespace zoka_test
