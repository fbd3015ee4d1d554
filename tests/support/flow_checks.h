// Checks for the effects whose noise drifts and undulates over time.
#pragma once

#include <string>

#include "ourhost/image.h"
#include "tests/support/render_checks.h"

namespace zoka_test {

// With the flow and undulation that `configure` sets: the frame at a time is
// the same in a fresh instance and after other frames, differs at another
// time, and differs with another Random Seed.
void ExpectFramesFollowTimeAndSeedAlone(const std::string& effect, const Configure& configure,
                                        const ourhost::Image& layer);

}  // namespace zoka_test
