// Image files, through OpenImageIO: any format it reads, turned into the
// 8-bit straight (unpremultiplied) RGBA the effects work on; results written
// whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ourhost/image.h"

namespace zoka_cli {

// The largest image taken: the host's largest side, and as many pixels as
// a 32-bit host can hold several layers of (a render holds the input, the
// output and the module's working copy, 512 MiB each at this size).
inline constexpr int kMaxImageSide = 30000;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;

// Only regular files are read, and their size is checked from the header
// before any pixel is decoded. 8-bit inputs are taken as they are. Wider
// inputs are clamped to 0..1 and rounded to 8 bits (no colour-space
// conversion); premultiplied inputs are divided by their alpha; grey inputs
// are spread to R, G and B; inputs without alpha are opaque.
bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error);

// Writes through a temporary file in the same folder (see OutputFile), so
// the file is never seen half-written and a failed write leaves any earlier
// file as it was. Formats without alpha get the colour channels only;
// formats that always store premultiplied alpha (OpenEXR) get premultiplied
// values.
bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error);

// An animated GIF of opaque frames of one size, looping, at fps frames per
// second; alpha is dropped (flatten the frames first).
bool WriteAnimation(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                    std::string& error);

}  // namespace zoka_cli
