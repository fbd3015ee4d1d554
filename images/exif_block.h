// EXIF blocks as JPEG and TIFF files hold them: a TIFF-structured block
// ("II" or "MM" first) whose first directory describes the image and
// points to the EXIF and GPS directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zoka_images {

// The block with its first directory cut down to EXIF's and GPS's tags and
// its pointers to their directories (the image's own tags, such as
// Orientation, Make or Model, describe the file they came in, not the image
// written from it), and without the thumbnail's directory. Empty when the
// block is damaged or nothing is left.
std::vector<uint8_t> ExifOfTheImage(const uint8_t* block, size_t size);

}  // namespace zoka_images
