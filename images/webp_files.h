// WebP files through libwebp directly, without loading the image library:
// decoded straight into the layer's ARGB, encoded from it. Alpha is
// straight both ways, as WebP stores it. Animated files are left to the
// image library.
#pragma once

#include <string>

#include "images/file_read.h"
#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

// kNotThisFormat (nothing read, no error) when the file is no still WebP image.
// The size is checked from the header before any pixel is decoded. info
// takes the ICC profile and EXIF chunks, carried to outputs that hold them
// (WebP outputs are written without them).
FileRead ReadWebp(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);

inline constexpr DepthSet kWebpDepths = DepthBit(SampleDepth::kUint8);

// Whether path names a WebP file (.webp, any case).
bool IsWebpName(const std::string& path);

// Lossless (every value kept, the colour under transparent pixels too)
// unless a quality (1-100) is given: then lossy at that quality, alpha
// still lossless. Through an OutputFile: whole or not at all.
// The quality is the extras' JPEG quality, the one --quality sets.
bool WriteWebp(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error);

}  // namespace zoka_images
