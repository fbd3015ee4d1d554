// The demo's built-in layer, drawn by the program itself.
#pragma once

#include "ourhost/image.h"

namespace zoka_cli {

// A layer on transparency: a hue-wheel disc with a hard edge, overlapped by a
// striped rounded panel with a soft edge and a round hole, so that bevels,
// glows, shadows and flames all have edges to work on. Drawn for 400 x 300
// and scaled to fit other sizes, centred.
ourhost::Image SampleLayer(int width = 400, int height = 300);

}  // namespace zoka_cli
