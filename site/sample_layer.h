// The demo's built-in layer, drawn by the program itself.
#pragma once

#include "ourhost/image.h"

namespace zoka_site {

// A layer on transparency: a hue-wheel disc with a hard edge, overlapped by a
// striped rounded panel with a soft edge and a round hole, so that bevels,
// glows, shadows and flames all have edges to work on. Drawn for 400 x 300
// and scaled to fit other sizes, centred.
ourhost::Image SampleLayer(int width = 400, int height = 300);

// A photo-like layer: a sky graded from blue to warm haze behind two lit,
// shaded spheres and their soft shadows, with a faint film grain, inside an
// irregular outline whose edge fades out over a few pixels. Its tones are
// mostly mid-range, so effects that turn brightness around show. Drawn for
// 400 x 300 and scaled likewise.
ourhost::Image PhotoSample(int width = 400, int height = 300);

}  // namespace zoka_site
