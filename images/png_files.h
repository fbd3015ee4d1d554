// PNG files through libpng directly: the format zoka reads and writes most,
// without loading the image library. Rows go straight between the file and
// the layer's own pixels (libpng reorders RGBA to the host's ARGB), so no
// whole copy of an image is made.
#pragma once

#include <string>

#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

enum class PngRead { kNotPng, kRead, kFailed };

// kNotPng (nothing read, no error) when the file does not begin with PNG's
// signature. Every PNG variant is taken: palettes and transparency become
// alpha, grey is spread to R, G and B, 16-bit values are rounded to 8 bits
// (v * 255 / 65535, to nearest), no colour-space conversion.
// info takes whether the file had alpha or transparency, whether it was
// grey, its bit depth
// (8 for 8 bits and less) and its ICC profile (iCCP), EXIF (eXIf) and
// resolution (pHYs) when they come before the pixels.
PngRead ReadPng(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);
PngRead ReadPng(const std::string& path, ourhost::Image& image, std::string& error, bool& hadAlpha);

// RGBA of 8 or 16 bits (the extras' depth), not interlaced, at the zlib
// level given (0-9), written through an OutputFile: whole or not at all. RGB
// when the extras ask for the colour channels only, grey (G or GA) when
// they ask for grey; an offset other than
// 0,0 is written as the image's position in pixels (oFFs); the extras'
// metadata as iCCP, eXIf and pHYs.
inline constexpr DepthSet kPngDepths = DepthBit(SampleDepth::kUint8) | DepthBit(SampleDepth::kUint16);
bool WritePng(const std::string& path, const ourhost::Image& image, int compression, const WriteExtras& extras,
              std::string& error);

}  // namespace zoka_images
