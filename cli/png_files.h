// PNG files through libpng directly: the format zoka reads and writes most,
// without loading the image library. Rows go straight between the file and
// the layer's own pixels (libpng reorders RGBA to the host's ARGB), so no
// whole copy of an image is made.
#pragma once

#include <string>

#include "cli/image_files.h"
#include "ourhost/image.h"

namespace zoka_cli {

enum class PngRead { kNotPng, kRead, kFailed };

// kNotPng (nothing read, no error) when the file does not begin with PNG's
// signature. Every PNG variant is taken: palettes and transparency become
// alpha, grey is spread to R, G and B, 16-bit values are rounded to 8 bits
// (v * 255 / 65535, to nearest), no colour-space conversion.
// hadAlpha says whether the file had alpha or transparency.
PngRead ReadPng(const std::string& path, ourhost::Image& image, std::string& error, bool& hadAlpha);

// 8-bit RGBA, not interlaced, at the zlib level given (0-9), written
// through an OutputFile: whole or not at all. RGB when the extras ask for
// the colour channels only; an offset other than 0,0 is written as the
// image's position in pixels (oFFs).
bool WritePng(const std::string& path, const ourhost::Image& image, int compression, const WriteExtras& extras,
              std::string& error);

}  // namespace zoka_cli
