// The image library, zoka-images.so beside the zoka executable: the formats
// other than PNG, JPEG and TIFF (and the rarer kinds of TIFF), through
// OpenImageIO, and the demo's contact sheet.
// OpenImageIO brings some two hundred and fifty shared libraries (and
// threads some start as they load): the commands that never meet such a
// file (list, about, params, pipl, frame, and renders of PNG, JPEG and TIFF
// files) start without them. The library reaches back into the executable
// for OutputFile and libpng's error hook, which the executable exports.
#pragma once

#include <string>
#include <vector>

#include "images/image_files.h"
#include "ourhost/image.h"

namespace zoka_images {

struct ImageLibrary {
    bool (*read)(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);
    bool (*write)(const std::string& path, const ourhost::Image& image, std::string& error,
                  const WriteExtras& extras);
    bool (*writeAnimation)(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                           std::string& error);
    bool (*contactSheet)(const std::vector<SheetCell>& cells, ourhost::Image& sheet, std::string& error);
    bool (*flatten)(const ourhost::Image& image, ourhost::Image& flat, std::string& error);
    // The depths a format (by the file's extension) holds, and its name.
    bool (*depthsHeld)(const std::string& path, DepthSet& held, std::string& format, std::string& error);
};

}  // namespace zoka_images

// The library's one entry point.
extern "C" const zoka_images::ImageLibrary* zoka_image_library();
inline constexpr const char* kImageLibraryEntry = "zoka_image_library";
inline constexpr const char* kImageLibraryFile = "zoka-images.so";
