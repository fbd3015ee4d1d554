#include "images/tiff_files.h"

#include <fcntl.h>
#include <strings.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "images/exif_block.h"
#include "images/output_file.h"
#include "images/samples.h"

namespace zoka_images {

namespace {

constexpr uint32_t kRowsPerStrip = 32;
// Deflate's fastest level: several times faster than its usual 6 on noisy
// images, in files a little larger (as PNG's level 1).
constexpr int kDeflateLevel = 1;
// No one allocation of libtiff's for a hostile file's sake beyond this (the
// layer itself is zoka's own).
constexpr tmsize_t kLargestAllocation = tmsize_t{256} << 20;

// libtiff's first error, kept for the one line zoka prints; warnings are
// dropped.
struct TiffMessages {
    char text[256] = "";
};

__attribute__((format(printf, 4, 0))) int KeepFirstError(TIFF*, void* user, const char*, const char* format,
                                                          va_list arguments) {
    auto* messages = static_cast<TiffMessages*>(user);
    if (messages->text[0] == '\0') {
        std::vsnprintf(messages->text, sizeof messages->text, format, arguments);
        std::replace(messages->text, messages->text + std::strlen(messages->text), '\n', ' ');
    }
    return 1;
}

int IgnoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

std::string Reason(const TiffMessages& messages) {
    return messages.text[0] != '\0' ? messages.text : "the file is damaged";
}

// Options whose handlers keep libtiff's messages for one file.
class Options {
public:
    explicit Options(TiffMessages& messages) : options_(TIFFOpenOptionsAlloc()) {
        if (options_ == nullptr) throw std::bad_alloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options_, KeepFirstError, &messages);
        TIFFOpenOptionsSetWarningHandlerExtR(options_, IgnoreWarning, nullptr);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options_, kLargestAllocation);
    }
    ~Options() { TIFFOpenOptionsFree(options_); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    TIFFOpenOptions* Get() const { return options_; }

private:
    TIFFOpenOptions* options_;
};

class OpenTiff {
public:
    explicit OpenTiff(TIFF* tiff) : tiff_(tiff) {}
    ~OpenTiff() {
        if (tiff_ != nullptr) TIFFClose(tiff_);
    }
    OpenTiff(const OpenTiff&) = delete;
    OpenTiff& operator=(const OpenTiff&) = delete;
    TIFF* Get() const { return tiff_; }

private:
    TIFF* tiff_;
};

bool StartsAsTiff(const std::string& path) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return false;
    unsigned char head[4] = {};
    const bool read = ::read(descriptor, head, sizeof head) == sizeof head;
    close(descriptor);
    const bool little = head[0] == 'I' && head[1] == 'I' && head[3] == 0 && (head[2] == 42 || head[2] == 43);
    const bool big = head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43);
    return read && (little || big);
}

enum class Samples { kUint8, kUint16, kHalf, kFloat };

// The kinds of file read here, and where their channels go.
struct Layout {
    Samples samples = Samples::kUint8;
    int colours = 3;  // 1 for grey
    int channels = 3;
    int alpha = -1;
    bool associated = false;
};

bool LayoutOf(TIFF* tiff, Layout& layout) {
    uint16_t channels = 1, bits = 1, format = SAMPLEFORMAT_UINT, planes = PLANARCONFIG_CONTIG, photometric = 0;
    uint16_t extras = 0;
    uint16_t* extraKinds = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &channels);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planes);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extras, &extraKinds);
    if (TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric) != 1) return false;
    if (format == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16)) {
        layout.samples = bits == 8 ? Samples::kUint8 : Samples::kUint16;
    } else if (format == SAMPLEFORMAT_IEEEFP && (bits == 16 || bits == 32)) {
        layout.samples = bits == 16 ? Samples::kHalf : Samples::kFloat;
    } else {
        return false;
    }
    if (photometric != PHOTOMETRIC_MINISBLACK && photometric != PHOTOMETRIC_RGB) return false;
    layout.colours = photometric == PHOTOMETRIC_RGB ? 3 : 1;
    layout.channels = channels;
    if (channels < layout.colours || channels > layout.colours + 1) return false;
    if (channels > 1 && planes != PLANARCONFIG_CONTIG) return false;
    if (channels == layout.colours + 1) {
        layout.alpha = layout.colours;
        // An extra channel of no stated kind was taken for premultiplied.
        layout.associated = extras == 0 || extraKinds == nullptr || extraKinds[0] != EXTRASAMPLE_UNASSALPHA;
    }
    return true;
}

size_t SampleBytes(Samples samples) {
    return samples == Samples::kUint8 ? 1 : samples == Samples::kFloat ? 4 : 2;
}

SampleDepth DepthOf(Samples samples) {
    switch (samples) {
        case Samples::kUint8: return SampleDepth::kUint8;
        case Samples::kUint16: return SampleDepth::kUint16;
        case Samples::kHalf: return SampleDepth::kHalf;
        case Samples::kFloat: break;
    }
    return SampleDepth::kFloat;
}

float FloatFromHalf(uint16_t half) {
    const uint32_t sign = uint32_t{half & 0x8000u} << 16;
    uint32_t exponent = (half >> 10) & 0x1fu;
    uint32_t mantissa = half & 0x3ffu;
    uint32_t bits = sign;
    if (exponent == 0x1f) {
        bits |= 0x7f800000u | (mantissa << 13);
    } else if (exponent != 0) {
        bits |= ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa != 0) {
        exponent = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --exponent;
        }
        bits |= (exponent << 23) | ((mantissa & 0x3ffu) << 13);
    }
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A sample as a fraction: integers scaled by the reciprocal of their
// largest value, as the image library converted them.
float Fraction(const uint8_t* sample, Samples samples) {
    switch (samples) {
        case Samples::kUint8: return *sample * (1.0f / 255);
        case Samples::kUint16: {
            uint16_t v;
            std::memcpy(&v, sample, sizeof v);
            return v * (1.0f / 65535);
        }
        case Samples::kHalf: {
            uint16_t v;
            std::memcpy(&v, sample, sizeof v);
            return FloatFromHalf(v);
        }
        case Samples::kFloat: break;
    }
    float v;
    std::memcpy(&v, sample, sizeof v);
    return v;
}

// A row of the file's samples as the layer's ARGB. 8-bit straight colour is
// taken as it is; everything else through fractions, premultiplied colour
// divided by alpha.
void RowToLayer(const uint8_t* samples, const Layout& layout, int32_t width, uint8_t* argb) {
    const size_t bytes = SampleBytes(layout.samples);
    const size_t pixelBytes = bytes * static_cast<size_t>(layout.channels);
    const int green = layout.colours == 3 ? 1 : 0, blue = layout.colours == 3 ? 2 : 0;
    if (layout.samples == Samples::kUint8 && !layout.associated) {
        for (int32_t x = 0; x < width; ++x, samples += pixelBytes, argb += 4) {
            argb[0] = layout.alpha >= 0 ? samples[layout.alpha] : uint8_t{255};
            argb[1] = samples[0];
            argb[2] = samples[green];
            argb[3] = samples[blue];
        }
        return;
    }
    for (int32_t x = 0; x < width; ++x, samples += pixelBytes, argb += 4) {
        const float alpha = layout.alpha >= 0 ? Fraction(samples + layout.alpha * bytes, layout.samples) : 1.0f;
        float rgb[3] = {Fraction(samples, layout.samples), Fraction(samples + green * bytes, layout.samples),
                        Fraction(samples + blue * bytes, layout.samples)};
        if (layout.associated) {
            for (float& v : rgb) v = alpha > 0 ? v / alpha : 0;
        }
        argb[0] = ByteFromFraction(alpha);
        argb[1] = ByteFromFraction(rgb[0]);
        argb[2] = ByteFromFraction(rgb[1]);
        argb[3] = ByteFromFraction(rgb[2]);
    }
}

bool ReadStrips(TIFF* tiff, const Layout& layout, ourhost::Image& image) {
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tiff)));
    const size_t needed = static_cast<size_t>(image.Width()) * layout.channels * SampleBytes(layout.samples);
    if (row.size() < needed) return false;
    for (int32_t y = 0; y < image.Height(); ++y) {
        if (TIFFReadScanline(tiff, row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
        RowToLayer(row.data(), layout, image.Width(), image.Data() + static_cast<size_t>(y) * image.RowBytes());
    }
    return true;
}

// A row of tiles at a time, gathered into whole rows.
bool ReadTiles(TIFF* tiff, const Layout& layout, ourhost::Image& image) {
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    const size_t pixelBytes = static_cast<size_t>(layout.channels) * SampleBytes(layout.samples);
    const size_t tileRow = tileWidth * pixelBytes;
    // Tiles larger than libtiff would allocate for one are damage.
    const uint64_t bandBytes = uint64_t{tileHeight} * static_cast<uint64_t>(image.Width()) * pixelBytes;
    if (tileWidth == 0 || tileHeight == 0 || TIFFTileSize(tiff) > kLargestAllocation ||
        bandBytes > uint64_t{kLargestAllocation} || static_cast<size_t>(TIFFTileSize(tiff)) < tileRow * tileHeight) {
        return false;
    }
    const auto width = static_cast<uint32_t>(image.Width()), height = static_cast<uint32_t>(image.Height());
    std::vector<uint8_t> tile(static_cast<size_t>(TIFFTileSize(tiff)));
    std::vector<uint8_t> band(width * pixelBytes * tileHeight);
    for (uint32_t top = 0; top < height; top += tileHeight) {
        const uint32_t rows = std::min(tileHeight, height - top);
        for (uint32_t left = 0; left < width; left += tileWidth) {
            if (TIFFReadEncodedTile(tiff, TIFFComputeTile(tiff, left, top, 0, 0), tile.data(), -1) < 0) return false;
            const size_t across = std::min(tileWidth, width - left) * pixelBytes;
            for (uint32_t y = 0; y < rows; ++y) {
                std::memcpy(&band[(y * width + left) * pixelBytes], &tile[y * tileRow], across);
            }
        }
        for (uint32_t y = 0; y < rows; ++y) {
            RowToLayer(&band[y * width * pixelBytes], layout, image.Width(),
                       image.Data() + static_cast<size_t>(top + y) * image.RowBytes());
        }
    }
    return true;
}

void ReadMetadata(TIFF* tiff, ImageMetadata& metadata) {
    uint32_t length = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) == 1 && profile != nullptr) {
        const auto* bytes = static_cast<const uint8_t*>(profile);
        metadata.icc.assign(bytes, bytes + length);
    }
    float x = 0, y = 0;
    uint16_t unit = RESUNIT_INCH;
    if (TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x) == 1 && TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y) == 1 &&
        x > 0 && y > 0 && std::isfinite(x) && std::isfinite(y)) {
        TIFFGetFieldDefaulted(tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        metadata.xResolution = x;
        metadata.yResolution = y;
        metadata.unit = unit == RESUNIT_CENTIMETER ? ImageMetadata::Unit::kCentimetre
                        : unit == RESUNIT_NONE     ? ImageMetadata::Unit::kNone
                                                   : ImageMetadata::Unit::kInch;
    }
    uint64_t exif = 0, gps = 0;
    TIFFGetField(tiff, TIFFTAG_EXIFIFD, &exif);
    TIFFGetField(tiff, TIFFTAG_GPSIFD, &gps);
    if ((exif != 0 || gps != 0) && !TIFFIsBigTIFF(tiff)) {
        const int descriptor = TIFFFileno(tiff);
        const auto read = [descriptor](void* into, size_t size, uint64_t offset) -> size_t {
            const ssize_t got = pread(descriptor, into, size, static_cast<off_t>(offset));
            return got > 0 ? static_cast<size_t>(got) : 0;
        };
        metadata.exif = ExifOfTiffFile(read, TIFFIsBigEndian(tiff) != 0, exif, gps);
    }
}

// The encoder's bytes go to the output file; libtiff reads back and seeks
// in what it wrote. A failed write is the file's to report.
struct WriteState {
    OutputFile* file = nullptr;
    int64_t position = 0;
    int64_t end = 0;
    TiffMessages messages;
    std::vector<uint8_t> row;
};

WriteState& StateOf(thandle_t handle) { return *static_cast<WriteState*>(handle); }

tmsize_t WriteToFile(thandle_t handle, void* data, tmsize_t size) {
    WriteState& s = StateOf(handle);
    s.file->WriteAt(data, static_cast<size_t>(size), s.position);
    s.position += size;
    s.end = std::max(s.end, s.position);
    return size;
}

tmsize_t ReadFromFile(thandle_t handle, void* data, tmsize_t size) {
    WriteState& s = StateOf(handle);
    const size_t got = s.file->ReadAt(data, static_cast<size_t>(size), s.position);
    s.position += static_cast<int64_t>(got);
    return static_cast<tmsize_t>(got);
}

toff_t SeekInFile(thandle_t handle, toff_t offset, int whence) {
    WriteState& s = StateOf(handle);
    const int64_t base = whence == SEEK_CUR ? s.position : whence == SEEK_END ? s.end : 0;
    s.position = base + static_cast<int64_t>(offset);
    return static_cast<toff_t>(s.position);
}

int CloseNothing(thandle_t) { return 0; }
toff_t SizeOfFile(thandle_t handle) { return static_cast<toff_t>(StateOf(handle).end); }
int MapNothing(thandle_t, void**, toff_t*) { return 0; }
void UnmapNothing(thandle_t, void*, toff_t) {}

// Half is written as float, as the image library did.
uint16_t BitsOf(SampleDepth depth) {
    return depth == SampleDepth::kUint8 ? 8 : depth == SampleDepth::kUint16 ? 16 : 32;
}

// A row of the layer as the file's samples: colour (grey: red) then alpha.
void LayerToRow(const uint8_t* argb, int32_t width, int colours, bool alpha, SampleDepth depth, uint8_t* row) {
    const auto put = [&](uint8_t v) {
        if (depth == SampleDepth::kUint8) {
            *row++ = v;
        } else if (depth == SampleDepth::kUint16) {
            const uint16_t wide = WideFromByte(v);
            std::memcpy(row, &wide, sizeof wide);
            row += sizeof wide;
        } else {
            const float fraction = FractionFromByte(v);
            std::memcpy(row, &fraction, sizeof fraction);
            row += sizeof fraction;
        }
    };
    for (int32_t x = 0; x < width; ++x, argb += 4) {
        for (int c = 1; c <= colours; ++c) put(argb[c]);
        if (alpha) put(argb[0]);
    }
}

void WriteMetadata(TIFF* tiff, const WriteExtras& extras) {
    double xResolution = 1;
    if (const ImageMetadata* metadata = extras.metadata) {
        if (!metadata->icc.empty()) {
            TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(metadata->icc.size()), metadata->icc.data());
        }
        const bool unit = metadata->unit != ImageMetadata::Unit::kNone;
        if (unit && metadata->xResolution > 0 && metadata->yResolution > 0) {
            xResolution = metadata->xResolution;
            TIFFSetField(tiff, TIFFTAG_XRESOLUTION, metadata->xResolution);
            TIFFSetField(tiff, TIFFTAG_YRESOLUTION, metadata->yResolution);
            TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT,
                         metadata->unit == ImageMetadata::Unit::kInch ? RESUNIT_INCH : RESUNIT_CENTIMETER);
        }
    }
    // The position is in the resolution's unit, and cannot be negative.
    const double yResolution = extras.metadata != nullptr && xResolution != 1 ? extras.metadata->yResolution : 1;
    TIFFSetField(tiff, TIFFTAG_XPOSITION, std::max(0.0, extras.x / xResolution));
    TIFFSetField(tiff, TIFFTAG_YPOSITION, std::max(0.0, extras.y / yResolution));
    if (extras.frameWidth > 0 && extras.frameHeight > 0) {
        TIFFSetField(tiff, TIFFTAG_PIXAR_IMAGEFULLWIDTH, static_cast<uint32_t>(extras.frameWidth));
        TIFFSetField(tiff, TIFFTAG_PIXAR_IMAGEFULLLENGTH, static_cast<uint32_t>(extras.frameHeight));
    }
}

const std::vector<uint8_t>* ExifOf(const WriteExtras& extras) {
    return extras.metadata != nullptr && !extras.metadata->exif.empty() ? &extras.metadata->exif : nullptr;
}

// libtiff writes no EXIF directory of given bytes: the main directory points
// to a stand-in, and the directories are appended once the file is written.
constexpr uint64_t kStandIn = 8;

void PointToExif(TIFF* tiff, const WriteExtras& extras) {
    const std::vector<uint8_t>* exif = ExifOf(extras);
    if (exif == nullptr) return;
    const ExifDirectories directories = TiffDirectoriesOfExif(*exif, kStandIn);
    if (directories.exif != 0) TIFFSetField(tiff, TIFFTAG_EXIFIFD, kStandIn);
    if (directories.gps != 0) TIFFSetField(tiff, TIFFTAG_GPSIFD, kStandIn);
}

// Appends the EXIF and GPS directories to the written file and points the
// main directory's entries to them.
void AppendExif(const std::vector<uint8_t>& exif, WriteState& s) {
    const int64_t base = (s.end + 1) / 2 * 2;
    const ExifDirectories directories = TiffDirectoriesOfExif(exif, static_cast<uint64_t>(base));
    if (directories.bytes.empty()) return;
    s.file->WriteAt(directories.bytes.data(), directories.bytes.size(), base);
    s.end = base + static_cast<int64_t>(directories.bytes.size());
    const bool big = ExifIsBigEndian(exif);
    const auto get = [&](int64_t at, int bytes) {
        uint8_t b[4] = {};
        s.file->ReadAt(b, static_cast<size_t>(bytes), at);
        uint32_t v = 0;
        for (int i = 0; i < bytes; ++i) v |= uint32_t{b[big ? bytes - 1 - i : i]} << (8 * i);
        return v;
    };
    const int64_t first = get(4, 4);
    const uint32_t count = get(first, 2);
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t entry = first + 2 + int64_t{i} * 12;
        const uint32_t tag = get(entry, 2);
        const uint32_t place = tag == TIFFTAG_EXIFIFD ? directories.exif : tag == TIFFTAG_GPSIFD ? directories.gps : 0;
        if (place == 0) continue;
        uint8_t b[4];
        for (int k = 0; k < 4; ++k) b[big ? 3 - k : k] = static_cast<uint8_t>(place >> (8 * k));
        s.file->WriteAt(b, sizeof b, entry + 8);
    }
}

bool Encode(TIFF* tiff, const ourhost::Image& image, const WriteExtras& extras, WriteState& s) {
    const int colours = extras.grey ? 1 : 3;
    const bool alpha = !extras.colourOnly;
    const auto channels = static_cast<uint16_t>(colours + (alpha ? 1 : 0));
    const bool floats = extras.depth == SampleDepth::kHalf || extras.depth == SampleDepth::kFloat;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.Width()));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.Height()));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, channels);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, BitsOf(extras.depth));
    TIFFSetField(tiff, TIFFTAG_SAMPLEFORMAT, floats ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, extras.grey ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, kDeflateLevel);
    TIFFSetField(tiff, TIFFTAG_PREDICTOR, floats ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
    TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
    if (alpha) {
        const uint16_t straight = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &straight);
    }
    WriteMetadata(tiff, extras);
    PointToExif(tiff, extras);
    for (int32_t y = 0; y < image.Height(); ++y) {
        LayerToRow(image.Data() + static_cast<size_t>(y) * image.RowBytes(), image.Width(), colours, alpha,
                   extras.depth, s.row.data());
        if (TIFFWriteScanline(tiff, s.row.data(), static_cast<uint32_t>(y), 0) < 0) return false;
    }
    return TIFFFlush(tiff) == 1;
}

}  // namespace

bool IsTiffName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    return strcasecmp(path.c_str() + dot, ".tif") == 0 || strcasecmp(path.c_str() + dot, ".tiff") == 0;
}

FileRead ReadTiff(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    if (!StartsAsTiff(path)) return FileRead::kNotThisFormat;
    TiffMessages messages;
    const Options options(messages);
    const OpenTiff tiff(TIFFOpenExt(path.c_str(), "r", options.Get()));
    if (tiff.Get() == nullptr) {
        error = "cannot read " + path + ": " + Reason(messages);
        return FileRead::kFailed;
    }
    uint32_t width = 0, height = 0;
    TIFFGetField(tiff.Get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff.Get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0) {
        error = "cannot use " + path + ": it is " + std::to_string(width) + "x" + std::to_string(height) + " pixels";
        return FileRead::kFailed;
    }
    if (!SizeUsable(path, width, height, error)) return FileRead::kFailed;
    Layout layout;
    if (!LayoutOf(tiff.Get(), layout)) return FileRead::kNotThisFormat;
    info.hadAlpha = layout.alpha >= 0;
    info.grey = layout.colours == 1;
    info.depth = DepthOf(layout.samples);
    ReadMetadata(tiff.Get(), info.metadata);
    image = ourhost::Image(static_cast<int32_t>(width), static_cast<int32_t>(height));
    const bool read = TIFFIsTiled(tiff.Get()) != 0 ? ReadTiles(tiff.Get(), layout, image)
                                                   : ReadStrips(tiff.Get(), layout, image);
    if (!read) {
        error = "cannot read the pixels of " + path + ": " + Reason(messages);
        image = ourhost::Image();
        return FileRead::kFailed;
    }
    return FileRead::kRead;
}

bool WriteTiff(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error) {
    const auto file = OutputFile::Create(path, "", error);
    if (!file) return false;
    WriteState s;
    s.file = file.get();
    s.row.resize(static_cast<size_t>(image.Width()) * 4 * (BitsOf(extras.depth) / 8));
    const Options options(s.messages);
    bool encoded = false;
    {
        // In the EXIF block's byte order, so that its values go in as they are.
        const char* mode = ExifOf(extras) != nullptr && ExifIsBigEndian(*ExifOf(extras)) ? "wb" : "wl";
        const OpenTiff tiff(TIFFClientOpenExt(file->TemporaryPath().c_str(), mode, &s, ReadFromFile, WriteToFile,
                                              SeekInFile, CloseNothing, SizeOfFile, MapNothing, UnmapNothing,
                                              options.Get()));
        encoded = tiff.Get() != nullptr && Encode(tiff.Get(), image, extras, s);
    }
    if (!encoded && !file->Failed()) {
        error = "cannot write " + path + ": " + Reason(s.messages);
        return false;
    }
    if (encoded && ExifOf(extras) != nullptr) AppendExif(*ExifOf(extras), s);
    return file->Publish(s.end, error);
}

}  // namespace zoka_images
