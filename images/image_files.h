// Image files: PNG, JPEG and TIFF through their own libraries directly;
// every other format through OpenImageIO, in the image library zoka loads
// only when it meets one (see image_library.h). Any format read becomes the 8-bit straight
// (unpremultiplied) RGBA the effects work on; results are written whole or
// not at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ourhost/image.h"

namespace zoka_images {

// The largest image taken: the host's largest side, and as many pixels as
// a 32-bit host can hold several layers of (a render holds the input, the
// output and the module's working copy, 512 MiB each at this size).
inline constexpr int kMaxImageSide = 30000;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 27;

// PNG's zlib level: 0 (stored) to 9 (smallest). Level 1 writes an HD frame
// several times faster than the usual 6, in a file a little larger.
inline constexpr int kDefaultPngCompression = 1;
inline constexpr int kMaxPngCompression = 9;

inline bool WithinSizeLimits(int64_t width, int64_t height) {
    return width <= kMaxImageSide && height <= kMaxImageSide && width * height <= kMaxImagePixels;
}

// "; zoka takes up to ...": the limits, ending a refusal.
inline std::string SizeLimitsText() {
    return "; zoka takes up to " + std::to_string(kMaxImageSide) + " pixels a side and " +
           std::to_string(kMaxImagePixels) + " pixels in all";
}

// Whether a file's size can be taken, with the reason in error when not
// ("cannot use PATH: it is WxH pixels; ...").
inline bool SizeUsable(const std::string& path, int64_t width, int64_t height, std::string& error) {
    if (WithinSizeLimits(width, height)) return true;
    error = "cannot use " + path + ": it is " + std::to_string(width) + "x" + std::to_string(height) + " pixels" +
            SizeLimitsText();
    return false;
}

// The sample type a file's channels are stored in.
enum class SampleDepth : uint8_t { kUint8, kUint16, kHalf, kFloat };
// A set of depths, one bit each (1 << depth): what a format holds.
using DepthSet = unsigned;
inline constexpr DepthSet DepthBit(SampleDepth depth) { return 1u << static_cast<unsigned>(depth); }
// "uint8", "uint16", "half" or "float", as -d takes them.
const char* DepthName(SampleDepth depth);
std::optional<SampleDepth> ParseDepth(const std::string& name);

// What a file says besides its pixels, carried from input to output where
// the output format can hold it.
struct ImageMetadata {
    std::vector<uint8_t> icc;   // the ICC colour profile, as stored
    std::vector<uint8_t> exif;  // EXIF as a TIFF-structured block ("MM" or "II" first)
    // Pixels per unit; 0 when the file gives none. kNone: the ratio only.
    enum class Unit : uint8_t { kNone, kInch, kCentimetre };
    double xResolution = 0;
    double yResolution = 0;
    Unit unit = Unit::kNone;
};

// What a file was, besides its pixels.
struct ImageInfo {
    bool hadAlpha = true;  // an alpha channel, or PNG transparency
    bool grey = false;     // one colour channel
    SampleDepth depth = SampleDepth::kUint8;
    ImageMetadata metadata;
};

// Under AddressSanitizer, checks for leaks now, in place of the check at the
// process's last moment, which is then skipped. The image library's
// libraries make thread pools as they are first used and end them in exit
// handlers that run before that last check, and a thread ending while the
// check stops every thread now and then crashes the check. Called where a
// program's own work is done, while those threads still wait. Nothing in
// other builds.
void CheckLeaksNow();

// Only regular files are read, and their size is checked from the header
// before any pixel is decoded. 8-bit inputs are taken as they are. Wider
// inputs are clamped to 0..1 and rounded to 8 bits (no colour-space
// conversion); premultiplied inputs are divided by their alpha; grey inputs
// are spread to R, G and B; inputs without alpha are opaque.
// hadAlpha, when given, says whether the file had an alpha channel (or PNG
// transparency).
bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, bool* hadAlpha = nullptr);
// The same, with the file's depth and metadata.
bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);

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
    // The samples written: 8-bit values v go out as v * 257 in 16 bits and
    // v / 255 in half and float, so that they read back exactly.
    SampleDepth depth = SampleDepth::kUint8;
    // Written where the format holds it (may be null).
    const ImageMetadata* metadata = nullptr;
    // JPEG's quality, 1-100; 0 for the default, 98.
    int jpegQuality = 0;
    // The input layer's frame, in the output's pixels, for formats with a
    // display window (OpenEXR): the image is its data window at x, y. 0
    // when unknown: the display window is then the image's own size.
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    // One grey channel for the colour (the input was grey and so is the
    // image), in formats that hold grey.
    bool grey = false;
};
bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error,
                int pngCompression = kDefaultPngCompression, const WriteExtras& extras = {});

// The depths the format of path (by its extension) holds, and its name
// ("PNG"); false after an error (no such format).
bool DepthsHeld(const std::string& path, DepthSet& held, std::string& format, std::string& error);
// "8 or 16 bits", "8 bits", "8 or 16 bits, half or float", ...
std::string DescribeDepths(DepthSet held);
// The depth a file is written with: the one asked for (refused with the
// reason in error when the format cannot hold it), or else the input's, or
// the nearest the format holds.
bool ChooseDepth(const std::string& path, std::optional<SampleDepth> asked, SampleDepth input, SampleDepth& chosen,
                 std::string& error);

// Whether every pixel is opaque.
bool Opaque(const ourhost::Image& image);
// Whether every pixel's red, green and blue are equal.
bool Grey(const ourhost::Image& image);

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

}  // namespace zoka_images
