// OpenEXR files through the OpenEXR library directly: the common ones
// (red, green and blue, with or without alpha, all half or all float)
// without loading the image library. Rows go a strip at a time between the
// file and the layer, so no whole wide copy of an image is made. Files this
// reader leaves alone (other channels, mixed or integer samples, EXIF
// attributes, whose tag names only the image library knows) and outputs
// carrying EXIF go through the image library as before.
#pragma once

#include <string>

#include "images/file_read.h"
#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

// kNotThisFormat (nothing read, no error) when the file does not begin with
// OpenEXR's magic number or is not one this reader takes. The size is
// checked from the header before any pixel is decoded. The colour is
// divided by alpha (OpenEXR's is premultiplied), clamped to 0..1 and
// rounded to 8 bits. info takes whether the file had alpha, its depth and
// its resolution (xDensity, in pixels per inch).
FileRead ReadExr(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);

inline constexpr DepthSet kExrDepths = DepthBit(SampleDepth::kHalf) | DepthBit(SampleDepth::kFloat);

// Whether path names an OpenEXR file (.exr, any case).
bool IsExrName(const std::string& path);
// Whether this writer takes an output: an .exr name, without EXIF.
bool WritesExr(const std::string& path, const WriteExtras& extras);

// R, G, B and (unless the extras ask for the colour only) A, premultiplied,
// in float when the extras ask for it and otherwise half (OpenEXR's nearest
// to 8 and 16 bits), ZIP-compressed, through an
// OutputFile: whole or not at all. The image is the data window at the
// extras' x, y; the display window is the input layer's frame (or the
// image's own size at 0, 0 when unknown). The resolution goes into xDensity
// in pixels per inch.
bool WriteExr(const std::string& path, const ourhost::Image& image, const WriteExtras& extras,
              std::string& error);

}  // namespace zoka_images
