// Checks every effect's render must pass: the failure sweep (every
// allocation failed in turn, a cancel at every abort poll) and the
// fall-back output a failed render leaves.
#pragma once

#include <functional>
#include <string>

#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/image.h"
#include "tests/support/module_under_test.h"

namespace zoka_test {

// What the host shows after a failed render: the input copied over the
// output image from its top-left corner, the rest transparent.
ourhost::Image FallbackOutput(const ourhost::Image& input, int32_t width, int32_t height);

// Sets up an effect's parameters (and selection) before each render.
using Configure = std::function<void(AppliedEffect&)>;

// Renders once to count the render command's allocations and abort polls,
// then fails each allocation and cancels at each poll in turn, checking the
// code, the flag and message, the output and that nothing leaked; with one
// worker and with three (the bands, where they agree, on three threads).
void RunFailureSweep(const std::string& effect, const ourhost::Image& layer,
                     const Configure& configure = {}, const ourhost::FrameOptions& options = {});
// The same with the host offering this many workers.
void RunFailureSweepAt(int32_t workers, const std::string& effect, const ourhost::Image& layer,
                       const Configure& configure = {}, const ourhost::FrameOptions& options = {});

// Renders the frame with the host offering 2, 3 and 5 workers and expects
// each to be the frame rendered with one, with nothing leaked.
void ExpectSameFrameAtSeveralWorkers(const std::string& effect, const ourhost::Image& layer,
                                     const Configure& configure = {},
                                     const ourhost::FrameOptions& options = {});

// A small layer with hard and soft alpha edges and varied colour.
ourhost::Image TestLayer(int32_t width = 24, int32_t height = 18);

}  // namespace zoka_test
