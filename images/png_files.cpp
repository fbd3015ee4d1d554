#include "images/png_files.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "images/image_files.h"
#include "images/output_file.h"

namespace zoka_images {

namespace {

constexpr size_t kSignatureBytes = 8;
// Encoded bytes are handed to the file in large pieces: libpng's own are a
// few kilobytes.
constexpr size_t kWriteBuffer = size_t{1} << 20;
// Each row filtered against the row above: one cheap pass, and smooth
// images then compress nearly as well as with libpng's trial of every
// filter on every row, several times faster.
constexpr int kRowFilter = PNG_FILTER_UP;
// Noisy content (grain, noise effects, photographs' fine detail) leaves
// zlib's fastest level little to find but costs it most of its time
// looking. A strip of the image's middle rows, filtered as they will be, is
// compressed at level 1 first: when it keeps more than a quarter of its
// size, the image is compressed by runs of bytes alone (Z_RLE), and when it
// keeps more than half, by Huffman codes alone (Z_HUFFMAN_ONLY): about
// twice and three times as fast on such content, for a file a few percent
// larger. Smooth images (an HD frame of soft shapes keeps a twentieth)
// keep zlib's usual search.
constexpr double kNoisyRatio = 0.25;
constexpr double kNoiseRatio = 0.5;
constexpr int32_t kSampleRows = 16;

// libpng's error handler must not return: it keeps the message and takes
// libpng's recovery jump. Warnings are dropped: zoka's standard error
// stays one line.
struct PngError {
    char text[256] = "";
};

void KeepErrorAndJump(png_structp png, png_const_charp message) {
    auto* error = static_cast<PngError*>(png_get_error_ptr(png));
    std::snprintf(error->text, sizeof error->text, "%s", message);
    png_longjmp(png, 1);
}

void IgnoreWarning(png_structp, png_const_charp) {}

std::string Reason(const PngError& error) { return error.text[0] != '\0' ? error.text : "the file is damaged"; }

struct ReadState {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    std::vector<png_bytep> rows;
    ~ReadState() {
        png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
        if (file != nullptr) std::fclose(file);
    }
};

// PNG's resolution is in pixels per metre: kept as pixels per centimetre.
constexpr double kCentimetresPerMetre = 100;
constexpr double kMetresPerInch = 0.0254;

// The chunks carried to the output that come before the pixels.
void ReadMetadata(png_structp png, png_infop info, ImageMetadata& metadata) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && profile != nullptr) {
        metadata.icc.assign(profile, profile + length);
    }
    png_bytep exif = nullptr;
    png_uint_32 exifLength = 0;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr) {
        metadata.exif.assign(exif, exif + exifLength);
    }
    png_uint_32 x = 0, y = 0;
    int unit = PNG_RESOLUTION_UNKNOWN;
    if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && x > 0 && y > 0) {
        const bool metres = unit == PNG_RESOLUTION_METER;
        metadata.unit = metres ? ImageMetadata::Unit::kCentimetre : ImageMetadata::Unit::kNone;
        metadata.xResolution = metres ? x / kCentimetresPerMetre : x;
        metadata.yResolution = metres ? y / kCentimetresPerMetre : y;
    }
}

// Pixels per metre (or per no unit), or 0 when out of PNG's range.
png_uint_32 PixelsPerMetre(double perUnit, ImageMetadata::Unit unit) {
    const double perMetre = unit == ImageMetadata::Unit::kInch         ? perUnit / kMetresPerInch
                            : unit == ImageMetadata::Unit::kCentimetre ? perUnit * kCentimetresPerMetre
                                                                       : perUnit;
    if (!(perMetre >= 0.5 && perMetre < 2147483647.0)) return 0;
    return static_cast<png_uint_32>(std::lround(perMetre));
}

// A profile libpng finds wrong for the image (a grey one on RGB) is left out
// with a warning, not an error: the image matters more than its profile.
void WriteMetadata(png_structp png, png_infop info, const ImageMetadata& metadata) {
    png_set_benign_errors(png, 1);
    if (!metadata.icc.empty()) {
        png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, metadata.icc.data(),
                     static_cast<png_uint_32>(metadata.icc.size()));
    }
    if (!metadata.exif.empty()) {
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.exif.size()),
                       const_cast<png_bytep>(metadata.exif.data()));
    }
    const png_uint_32 x = PixelsPerMetre(metadata.xResolution, metadata.unit);
    const png_uint_32 y = PixelsPerMetre(metadata.yResolution, metadata.unit);
    if (x > 0 && y > 0) {
        png_set_pHYs(png, info, x, y,
                     metadata.unit == ImageMetadata::Unit::kNone ? PNG_RESOLUTION_UNKNOWN : PNG_RESOLUTION_METER);
    }
}

// Decodes into image, each row straight into the layer's pixels as ARGB.
// Nothing here needs destroying: libpng's errors jump out of it.
bool Decode(ReadState& s, const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& fileInfo) {
    if (setjmp(png_jmpbuf(s.png))) {
        error = "cannot read " + path + ": " + Reason(s.error);
        image = ourhost::Image();
        return false;
    }
    png_init_io(s.png, s.file);
    png_set_sig_bytes(s.png, kSignatureBytes);
    png_read_info(s.png, s.info);
    const png_uint_32 width = png_get_image_width(s.png, s.info);
    const png_uint_32 height = png_get_image_height(s.png, s.info);
    if (!SizeUsable(path, width, height, error)) return false;
    const int type = png_get_color_type(s.png, s.info);
    const bool alpha = (type & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(s.png, s.info, PNG_INFO_tRNS) != 0;
    fileInfo.hadAlpha = alpha;
    fileInfo.grey = (type & PNG_COLOR_MASK_COLOR) == 0;
    fileInfo.depth = png_get_bit_depth(s.png, s.info) == 16 ? SampleDepth::kUint16 : SampleDepth::kUint8;
    ReadMetadata(s.png, s.info, fileInfo.metadata);
    png_set_expand(s.png);    // palettes to RGB, grey below 8 bits to 8, transparency to alpha
    png_set_scale_16(s.png);  // rounded, not cut
    png_set_gray_to_rgb(s.png);
    if (alpha) {
        png_set_swap_alpha(s.png);
    } else {
        png_set_filler(s.png, 0xff, PNG_FILLER_BEFORE);
    }
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != size_t{width} * 4) png_error(s.png, "unexpected pixel layout");
    image = ourhost::Image(static_cast<int32_t>(width), static_cast<int32_t>(height));
    s.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y) s.rows[y] = image.Data() + size_t{y} * image.RowBytes();
    png_read_image(s.png, s.rows.data());
    return true;
}

struct WriteState {
    OutputFile* file = nullptr;
    std::vector<unsigned char> buffer;
    int64_t written = 0;
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngError error;
    std::vector<uint8_t> wideRow;  // reserved before libpng starts
    ~WriteState() { png_destroy_write_struct(&png, info != nullptr ? &info : nullptr); }
};

void FlushBuffer(WriteState& s) {
    s.file->WriteAt(s.buffer.data(), s.buffer.size(), s.written);
    s.written += static_cast<int64_t>(s.buffer.size());
    s.buffer.clear();
}

// The buffer's room is reserved: nothing here allocates (or throws) inside
// libpng.
void WriteBytes(png_structp png, png_bytep data, size_t size) {
    auto& s = *static_cast<WriteState*>(png_get_io_ptr(png));
    if (s.buffer.size() + size > kWriteBuffer) FlushBuffer(s);
    if (size >= kWriteBuffer) {
        s.file->WriteAt(data, size, s.written);
        s.written += static_cast<int64_t>(size);
        return;
    }
    s.buffer.insert(s.buffer.end(), data, data + size);
}

void FlushNothing(png_structp) {}

// A row of the layer's ARGB as 16-bit RGB(A): v * 257 is v in both bytes,
// so byte order does not matter.
void WideRow(const uint8_t* argb, int32_t width, bool colourOnly, std::vector<uint8_t>& row) {
    row.clear();
    for (int32_t x = 0; x < width; ++x, argb += 4) {
        for (int c = 1; c <= 3; ++c) row.insert(row.end(), 2, argb[c]);
        if (!colourOnly) row.insert(row.end(), 2, argb[0]);
    }
}

// A row of the layer's grey (its red) as G or GA, of 8 or 16 bits (v * 257
// is v in both bytes).
void GreyRow(const uint8_t* argb, int32_t width, bool alpha, bool wide, std::vector<uint8_t>& row) {
    row.clear();
    const size_t bytes = wide ? 2 : 1;
    for (int32_t x = 0; x < width; ++x, argb += 4) {
        row.insert(row.end(), bytes, argb[1]);
        if (alpha) row.insert(row.end(), bytes, argb[0]);
    }
}

int ColourType(const WriteExtras& extras) {
    if (extras.grey) return extras.colourOnly ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_GRAY_ALPHA;
    return extras.colourOnly ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA;
}

// The middle rows' bytes, each row less the one above (the Up filter), as
// zlib's level 1 compresses them: their compressed size over their size.
double SampleRatio(const ourhost::Image& image) {
    const int32_t rows = std::min(kSampleRows, image.Height());
    const int32_t top = (image.Height() - rows) / 2;
    const size_t rowBytes = static_cast<size_t>(image.Width()) * 4;
    std::vector<uint8_t> filtered(rowBytes * static_cast<size_t>(rows));
    for (int32_t r = 0; r < rows; ++r) {
        const uint8_t* row = image.Data() + static_cast<size_t>(top + r) * image.RowBytes();
        const uint8_t* above = top + r > 0 ? row - image.RowBytes() : nullptr;
        uint8_t* out = filtered.data() + static_cast<size_t>(r) * rowBytes;
        for (size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(row[i] - (above != nullptr ? above[i] : 0));
    }
    uLongf size = compressBound(static_cast<uLong>(filtered.size()));
    std::vector<uint8_t> compressed(size);
    if (compress2(compressed.data(), &size, filtered.data(), static_cast<uLong>(filtered.size()), 1) != Z_OK) return 0;
    return static_cast<double>(size) / static_cast<double>(filtered.size());
}

// At the fastest level, runs or Huffman codes alone for noisy images;
// zlib's own search otherwise.
int Strategy(const ourhost::Image& image, int compression) {
    if (compression != 1) return Z_DEFAULT_STRATEGY;
    const double ratio = SampleRatio(image);
    return ratio >= kNoiseRatio ? Z_HUFFMAN_ONLY : ratio >= kNoisyRatio ? Z_RLE : Z_DEFAULT_STRATEGY;
}

// Nothing here needs destroying: libpng's errors jump out of it.
bool Encode(WriteState& s, const ourhost::Image& image, int compression, int strategy,
            const WriteExtras& extras) {
    if (setjmp(png_jmpbuf(s.png))) return false;
    const bool wide = extras.depth == SampleDepth::kUint16;
    png_set_write_fn(s.png, &s, WriteBytes, FlushNothing);
    png_set_IHDR(s.png, s.info, static_cast<png_uint_32>(image.Width()), static_cast<png_uint_32>(image.Height()),
                 wide ? 16 : 8, ColourType(extras), PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (extras.x != 0 || extras.y != 0) png_set_oFFs(s.png, s.info, extras.x, extras.y, PNG_OFFSET_PIXEL);
    if (extras.metadata != nullptr) WriteMetadata(s.png, s.info, *extras.metadata);
    png_set_compression_level(s.png, compression);
    png_set_compression_strategy(s.png, strategy);
    png_set_filter(s.png, PNG_FILTER_TYPE_BASE, compression == 0 ? PNG_FILTER_NONE : kRowFilter);
    png_write_info(s.png, s.info);
    if (extras.grey) {
        for (int32_t y = 0; y < image.Height(); ++y) {
            GreyRow(image.Data() + static_cast<size_t>(y) * image.RowBytes(), image.Width(), !extras.colourOnly, wide,
                    s.wideRow);
            png_write_row(s.png, s.wideRow.data());
        }
        png_write_end(s.png, nullptr);
        return true;
    }
    if (wide) {
        for (int32_t y = 0; y < image.Height(); ++y) {
            WideRow(image.Data() + static_cast<size_t>(y) * image.RowBytes(), image.Width(), extras.colourOnly,
                    s.wideRow);
            png_write_row(s.png, s.wideRow.data());
        }
        png_write_end(s.png, nullptr);
        return true;
    }
    if (extras.colourOnly) {
        png_set_filler(s.png, 0, PNG_FILLER_BEFORE);  // the layer's alpha byte left out
    } else {
        png_set_swap_alpha(s.png);  // the layer's ARGB to PNG's RGBA; libpng works on its own copy of a row
    }
    for (int32_t y = 0; y < image.Height(); ++y) {
        png_write_row(s.png, const_cast<png_bytep>(image.Data() + static_cast<size_t>(y) * image.RowBytes()));
    }
    png_write_end(s.png, nullptr);
    return true;
}

}  // namespace

PngRead ReadPng(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    ReadState s;
    s.file = std::fopen(path.c_str(), "rbe");
    if (s.file == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return PngRead::kFailed;
    }
    unsigned char signature[kSignatureBytes];
    if (std::fread(signature, 1, kSignatureBytes, s.file) != kSignatureBytes ||
        png_sig_cmp(signature, 0, kSignatureBytes) != 0) {
        return PngRead::kNotPng;
    }
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s.error, KeepErrorAndJump, IgnoreWarning);
    if (s.png != nullptr) s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) throw std::bad_alloc();
    return Decode(s, path, image, error, info) ? PngRead::kRead : PngRead::kFailed;
}

PngRead ReadPng(const std::string& path, ourhost::Image& image, std::string& error, bool& hadAlpha) {
    ImageInfo info;
    const PngRead read = ReadPng(path, image, error, info);
    hadAlpha = info.hadAlpha;
    return read;
}

bool WritePng(const std::string& path, const ourhost::Image& image, int compression, const WriteExtras& extras,
              std::string& error) {
    if ((DepthBit(extras.depth) & kPngDepths) == 0) {
        error = "cannot write " + path + " as " + DepthName(extras.depth) + ": PNG files hold " +
                DescribeDepths(kPngDepths);
        return false;
    }
    const auto file = OutputFile::Create(path, "", error);
    if (!file) return false;
    WriteState s;
    s.file = file.get();
    s.buffer.reserve(kWriteBuffer);
    if (extras.depth == SampleDepth::kUint16 || extras.grey) {
        s.wideRow.reserve(static_cast<size_t>(image.Width()) * 8);
    }
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s.error, KeepErrorAndJump, IgnoreWarning);
    if (s.png != nullptr) s.info = png_create_info_struct(s.png);
    if (s.info == nullptr) throw std::bad_alloc();
    if (!Encode(s, image, compression, Strategy(image, compression), extras)) {
        // A failed write is the file's to report, with its own reason.
        if (!file->Failed()) {
            error = "cannot write " + path + ": " + Reason(s.error);
            return false;
        }
    } else {
        FlushBuffer(s);
    }
    return file->Publish(s.written, error);
}

}  // namespace zoka_images
