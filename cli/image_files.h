// Image files, through OpenImageIO: any format it reads, turned into the
// 8-bit straight (unpremultiplied) RGBA the effects work on; results written
// whole or not at all.
#pragma once

#include <string>
#include <vector>

#include "ourhost/image.h"

namespace zoka_cli {

// Float inputs are clamped to 0..1 and rounded to 8 bits (no colour-space
// conversion); premultiplied inputs are divided by their alpha; grey inputs
// are spread to R, G and B; inputs without alpha are opaque.
bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error);

// Writes through a temporary file in the same folder and renames it, so the
// file is never seen half-written. Formats without alpha get the colour
// channels only; formats that always store premultiplied alpha (OpenEXR) get
// premultiplied values.
bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error);

// An animated GIF of opaque frames of one size, looping, at fps frames per
// second; alpha is dropped (flatten the frames first).
bool WriteAnimation(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                    std::string& error);

}  // namespace zoka_cli
