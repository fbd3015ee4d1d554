// JPEG files through libjpeg, read and written directly, rows straight
// between the file and the layer.
#pragma once

#include <string>

#include "images/file_read.h"
#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

// Whether the path's extension is one of JPEG's (.jpg, .jpeg, ...).
bool IsJpegName(const std::string& path);

// kNotThisFormat when the file does not begin with JPEG's start of image.
// Decoded as libjpeg decodes by default (its accurate integer transform,
// smooth chroma upsampling); grey is spread to R, G and B; CMYK (stored
// inverted, as Adobe writes it) is R = C * K, G = M * K, B = Y * K. Opaque.
// A file that ends before its last row, or whose coded data is damaged, is
// an error, not a picture filled with grey. info takes the ICC profile
// (APP2), the EXIF block (APP1; see ExifOfTheImage) and the resolution
// (JFIF's density, when it has a unit).
FileRead ReadJpeg(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);

// 8-bit YCbCr with 4:2:0 chroma at the extras' quality (98 when 0), the
// image composited over the extras' background; one grey channel when the
// extras ask for grey. The metadata as JFIF density, EXIF (APP1) and ICC
// profile (APP2). Written through an OutputFile: whole or not at all.
inline constexpr DepthSet kJpegDepths = DepthBit(SampleDepth::kUint8);
bool WriteJpeg(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error);

}  // namespace zoka_images
