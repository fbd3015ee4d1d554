// Image files: PNG through libpng directly; every other format through
// OpenImageIO, in the image library zoka loads only when it meets one (see
// image_library.h). Any format read becomes the 8-bit straight
// (unpremultiplied) RGBA the effects work on; results are written whole or
// not at all.
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

// PNG's zlib level: 0 (stored) to 9 (smallest). Level 1 writes an HD frame
// several times faster than the usual 6, in a file a little larger.
inline constexpr int kDefaultPngCompression = 1;
inline constexpr int kMaxPngCompression = 9;

// Whether a file's size can be taken, with the reason in error when not
// ("cannot use PATH: it is WxH pixels; ...").
inline bool SizeUsable(const std::string& path, int64_t width, int64_t height, std::string& error) {
    if (width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels) return true;
    error = "cannot use " + path + ": it is " + std::to_string(width) + "x" + std::to_string(height) +
            " pixels; zoka takes up to " + std::to_string(kMaxImageSide) + " pixels a side and " +
            std::to_string(kMaxImagePixels) + " pixels in all";
    return false;
}

// Only regular files are read, and their size is checked from the header
// before any pixel is decoded. 8-bit inputs are taken as they are. Wider
// inputs are clamped to 0..1 and rounded to 8 bits (no colour-space
// conversion); premultiplied inputs are divided by their alpha; grey inputs
// are spread to R, G and B; inputs without alpha are opaque.
// hadAlpha, when given, says whether the file had an alpha channel (or PNG
// transparency).
bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, bool* hadAlpha = nullptr);

// Writes through a temporary file in the same folder (see OutputFile), so
// the file is never seen half-written and a failed write leaves any earlier
// file as it was. The format is the extension's. Formats without alpha get
// the colour channels composited over the background; formats that always store premultiplied alpha
// (OpenEXR) get premultiplied values. pngCompression is the zlib level of
// PNG files; other formats keep their own.
struct WriteExtras {
    // Where the image's top-left lies on the page (the input layer's
    // frame): PNG files carry it (oFFs) when it is not 0,0.
    int32_t x = 0;
    int32_t y = 0;
    // The colour channels only (the input had no alpha and the image is
    // opaque), in formats that could hold alpha.
    bool colourOnly = false;
    // What images are composited over in formats without alpha (JPEG).
    ourhost::Pixel background{255, 0, 0, 0};
};
bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error,
                int pngCompression = kDefaultPngCompression, const WriteExtras& extras = {});

// Whether every pixel is opaque.
bool Opaque(const ourhost::Image& image);

// An animated GIF of opaque frames of one size, looping, at fps frames per
// second; alpha is dropped (flatten the frames first).
bool WriteAnimation(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                    std::string& error);

// A labelled grid of thumbnails over a checkerboard, opaque; the labels
// appear when the font (Debian's fonts-dejavu-core) can be found.
struct SheetCell {
    std::string name;
    const ourhost::Image* image;
};
bool MakeContactSheet(const std::vector<SheetCell>& cells, ourhost::Image& sheet, std::string& error);
// The image composited over the gallery's checkerboard, opaque.
bool FlattenOverCheckerboard(const ourhost::Image& image, ourhost::Image& flat, std::string& error);

}  // namespace zoka_cli
