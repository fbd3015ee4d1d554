// EXIF blocks as JPEG and TIFF files hold them: a TIFF-structured block
// ("II" or "MM" first) whose first directory describes the image and
// points to the EXIF and GPS directories.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace zoka_images {

// The block with its first directory cut down to EXIF's and GPS's tags and
// its pointers to their directories (the image's own tags, such as
// Orientation, Make or Model, describe the file they came in, not the image
// written from it), and without the thumbnail's directory. Empty when the
// block is damaged or nothing is left.
std::vector<uint8_t> ExifOfTheImage(const uint8_t* block, size_t size);

// Reads size bytes of a file at offset; the count read.
using ReadFileAt = std::function<size_t(void* into, size_t size, uint64_t offset)>;

// A block of a TIFF file's EXIF and GPS directories (at these offsets, 0
// for none), in the file's byte order, their values copied with them; the
// interoperability directory is left out. Empty when neither can be read.
std::vector<uint8_t> ExifOfTiffFile(const ReadFileAt& read, bool bigEndian, uint64_t exif, uint64_t gps);

// Whether the block's numbers are big-endian ("MM").
bool ExifIsBigEndian(const std::vector<uint8_t>& block);

// The block's EXIF tags (its EXIF directory's, and those some writers put
// in the first directory) and its GPS tags as the directories of a TIFF file
// in the block's byte order, to be placed at base in that file: their bytes
// and where each lies (0 for none; base is not 0).
struct ExifDirectories {
    std::vector<uint8_t> bytes;
    uint32_t exif = 0;
    uint32_t gps = 0;
};
ExifDirectories TiffDirectoriesOfExif(const std::vector<uint8_t>& block, uint64_t base);

}  // namespace zoka_images
