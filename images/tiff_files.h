// TIFF files through libtiff, read and written directly.
#pragma once

#include <string>

#include "images/file_read.h"
#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

// Whether the path's extension is one of TIFF's (.tif, .tiff).
bool IsTiffName(const std::string& path);

// kNotThisFormat when the file does not begin with TIFF's header, and for
// the kinds of TIFF left to the image library (palettes, fewer than 8 bits,
// CMYK, YCbCr, Lab, signed or 32-bit integers, planes of separate tiles,
// more than one extra channel). Read here: grey or RGB, with or without
// alpha, of 8 or 16 bits, half or float, in strips or tiles, in any
// compression libtiff decodes. 8-bit files with straight or no alpha are
// taken as they are; wider values are clamped to 0..1 and rounded, and
// premultiplied colour (associated alpha, or an extra channel of no stated
// kind) is divided by alpha first, in floats, as the image library did. A
// file cut short or damaged is an error. info takes the ICC profile, the
// EXIF and GPS directories and the resolution.
FileRead ReadTiff(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);

// Deflate-compressed strips of 8 or 16 bits or floats (half is written as
// float, as the image library did), RGB(A) or grey (with alpha) as the
// extras ask, alpha unassociated (straight); the metadata's ICC profile,
// resolution and EXIF (as EXIF and GPS directories); the image's position on the page (in the resolution's unit)
// and the input layer's frame. Written through an OutputFile: whole or not
// at all.
inline constexpr DepthSet kTiffDepths = DepthBit(SampleDepth::kUint8) | DepthBit(SampleDepth::kUint16) |
                                        DepthBit(SampleDepth::kHalf) | DepthBit(SampleDepth::kFloat);
bool WriteTiff(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error);

}  // namespace zoka_images
