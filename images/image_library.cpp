// The image library (see image_library.h): every format but PNG, JPEG and
// TIFF, through OpenImageIO, and the demo's contact sheet.
#include "images/image_library.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <OpenImageIO/imageio.h>
#include <OpenImageIO/tiffutils.h>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "images/output_file.h"
#include "images/samples.h"

namespace zoka_images {

namespace {

using OIIO::ImageSpec;
using OIIO::TypeDesc;

// Pixels are read a strip of rows at a time, so that no more than one whole
// copy of an image is held while it is decoded.
constexpr size_t kStripBytes = 16 << 20;

// One line: the libraries' messages may span several.
std::string OneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

std::string Describe(const std::string& what, const std::string& path, const std::string& why) {
    return what + " " + path + ": " + (why.empty() ? "unknown error" : OneLine(why));
}

// Where a file's channels go: grey is spread to R, G and B; without an alpha
// channel the layer is opaque.
struct ChannelLayout {
    int red = 0, green = 0, blue = 0;
    int alpha = -1;
    bool associated = false;  // colour premultiplied by alpha: divided out
    int count = 1;            // the channels read, from the first
};

ChannelLayout LayoutOf(const ImageSpec& format) {
    ChannelLayout layout;
    // Some readers name an alpha channel past the last one (GIF): none.
    layout.alpha = format.alpha_channel < format.nchannels ? format.alpha_channel : -1;
    if (layout.alpha < 0 && (format.nchannels == 2 || format.nchannels == 4)) layout.alpha = format.nchannels - 1;
    layout.associated = layout.alpha >= 0 && format.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    const int colours = std::min(layout.alpha >= 0 ? layout.alpha : format.nchannels, 3);
    const auto channel = [&](int c) { return colours == 0 ? 0 : std::min(c, colours - 1); };
    layout.red = channel(0);
    layout.green = channel(1);
    layout.blue = channel(2);
    layout.count = std::max(layout.blue, layout.alpha) + 1;
    return layout;
}

// Bytes of a file whose colour is straight are taken as they are.
ourhost::Pixel StraightPixel(const uint8_t* p, const ChannelLayout& layout) {
    return ourhost::Pixel{layout.alpha >= 0 ? p[layout.alpha] : uint8_t{255}, p[layout.red],
                          p[layout.green], p[layout.blue]};
}

// Wider values are clamped to 0..1 and rounded; premultiplied colour is
// divided by its alpha first.
ourhost::Pixel StraightPixel(const float* p, const ChannelLayout& layout) {
    const float alpha = layout.alpha >= 0 ? p[layout.alpha] : 1.0f;
    float rgb[3] = {p[layout.red], p[layout.green], p[layout.blue]};
    if (layout.associated) {
        for (float& v : rgb) v = alpha > 0 ? v / alpha : 0;
    }
    return ourhost::Pixel{ByteFromFraction(alpha), ByteFromFraction(rgb[0]), ByteFromFraction(rgb[1]),
                          ByteFromFraction(rgb[2])};
}

// Refuses, from the header alone, what the effects cannot take.
bool Usable(const ImageSpec& format, const std::string& path, std::string& error) {
    if (format.width < 1 || format.height < 1 || format.nchannels < 1) {
        error = "cannot use " + path + ": it is " + std::to_string(format.width) + "x" +
                std::to_string(format.height) + " pixels with " + std::to_string(format.nchannels) + " channels";
    } else if (!SizeUsable(path, format.width, format.height, error)) {
        return false;
    } else if (format.depth > 1 || format.deep) {
        error = "cannot use " + path + ": it is a " + (format.deep ? "deep" : "volume") + " image";
    } else {
        return true;
    }
    return false;
}

// Decodes the file a strip of rows at a time into image; a tiled file's
// strips are whole rows of tiles.
template <class Sample>
bool ReadRows(OIIO::ImageInput& input, const ChannelLayout& layout, ourhost::Image& image) {
    const ImageSpec& format = input.spec();
    const TypeDesc type = OIIO::TypeDescFromC<Sample>::value();
    const bool tiled = format.tile_width > 0 && format.tile_height > 0;
    const size_t row = static_cast<size_t>(format.width) * layout.count;
    int rows = static_cast<int>(std::clamp<size_t>(kStripBytes / (row * sizeof(Sample)), 1, format.height));
    if (tiled) rows = (rows + format.tile_height - 1) / format.tile_height * format.tile_height;
    std::vector<Sample> strip(row * rows);
    for (int top = 0; top < format.height; top += rows) {
        const int bottom = std::min(format.height, top + rows);
        const bool read =
            tiled ? input.read_tiles(0, 0, format.x, format.x + format.width, format.y + top, format.y + bottom, format.z,
                                     format.z + 1, 0, layout.count, type, strip.data())
                  : input.read_scanlines(0, 0, format.y + top, format.y + bottom, format.z, 0, layout.count, type,
                                         strip.data());
        if (!read) return false;
        for (int y = top; y < bottom; ++y) {
            const Sample* p = &strip[(y - top) * row];
            for (int x = 0; x < format.width; ++x, p += layout.count) image.Set(x, y, StraightPixel(p, layout));
        }
    }
    return true;
}

// Hands an encoder's bytes to the output file. The encoder is told that
// every write succeeded (some format libraries end the process on a failed
// write); the file keeps the first failure, and it is reported once the
// encoder is done.
class OutputFileProxy final : public OIIO::Filesystem::IOProxy {
public:
    explicit OutputFileProxy(OutputFile& file) : IOProxy(file.TemporaryPath(), Write), file_(file) {}
    const char* proxytype() const override { return "zoka-output"; }
    size_t write(const void* data, size_t size) override {
        pwrite(data, size, m_pos);
        m_pos += static_cast<int64_t>(size);
        return size;
    }
    size_t pwrite(const void* data, size_t size, int64_t offset) override {
        file_.WriteAt(data, size, offset);
        end_ = std::max(end_, offset + static_cast<int64_t>(size));
        return size;
    }
    size_t read(void* data, size_t size) override {
        const size_t got = pread(data, size, m_pos);
        m_pos += static_cast<int64_t>(got);
        return got;
    }
    size_t pread(void* data, size_t size, int64_t offset) override {
        return file_.ReadAt(data, size, offset);
    }
    size_t size() const override { return static_cast<size_t>(end_); }
    int64_t End() const { return end_; }

private:
    OutputFile& file_;
    int64_t end_ = 0;
};

// The final name's extension, for writers that choose their variant by the
// extension of the name they are given (JPEG 2000), even through a proxy.
std::string WriterExtension(const std::string& path) {
    constexpr size_t kLongest = 16;
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return path.size() - dot <= kLongest ? path.substr(dot) : "";
}

// Encodes an image into a new temporary file beside path with
// encode(output, name) and publishes it over path. Formats whose writer
// takes an I/O proxy are written through OutputFile, every byte checked;
// the others write the temporary file by name, and their file is checked
// for size. TIFF files with an EXIF block are written by name: through an
// I/O proxy the image library writes them with their main directory lost.
template <class Encode>
bool WriteThroughTemporary(const std::string& path, std::string& error, Encode encode, bool withExif = false) {
    // Declared before the encoder, so that they outlive it: an encoder
    // destroyed after a throw still flushes into them.
    std::unique_ptr<OutputFile> file;
    std::optional<OutputFileProxy> proxy;
    auto output = OIIO::ImageOutput::create(path);
    if (!output) {
        error = Describe("cannot write", path, OIIO::geterror());
        return false;
    }
    file = OutputFile::Create(path, WriterExtension(path), error);
    if (!file) return false;
    if (output->supports("ioproxy") && !(withExif && std::string(output->format_name()) == "tiff")) {
        proxy.emplace(*file);
        if (!output->set_ioproxy(&*proxy)) {
            error = Describe("cannot write", path, output->geterror());
            return false;
        }
    }
    const bool encoded = encode(*output, file->TemporaryPath());
    const bool closed = output->close();
    if ((!encoded || !closed) && !file->Failed()) {
        error = Describe("cannot write", path, output->geterror());
        return false;
    }
    return file->Publish(proxy ? proxy->End() : -1, error);
}

// The image as 8-bit RGB(A) rows, premultiplied where the format stores
// premultiplied alpha. Without alpha, the colour is composited over the
// background. Written whole: several writers take no scanlines.
std::vector<uint8_t> Interleaved(const ourhost::Image& image, bool alpha, bool premultiply,
                                 const ourhost::Pixel* background) {
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<size_t>(image.Width()) * image.Height() * (alpha ? 4 : 3));
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const ourhost::Pixel p = image.At(x, y);
            const auto over = [&](uint8_t v, uint8_t under) {
                return static_cast<uint8_t>((v * p.a + under * (255 - p.a) + 127) / 255);
            };
            if (background != nullptr) {
                pixels.insert(pixels.end(), {over(p.r, background->r), over(p.g, background->g),
                                             over(p.b, background->b)});
                continue;
            }
            const auto scale = [&](uint8_t v) {
                return premultiply ? static_cast<uint8_t>((v * p.a + 127) / 255) : v;
            };
            pixels.insert(pixels.end(), {scale(p.r), scale(p.g), scale(p.b)});
            if (alpha) pixels.push_back(p.a);
        }
    }
    return pixels;
}

SampleDepth DepthOf(const ImageSpec& format) {
    switch (format.format.basetype) {
        case TypeDesc::UINT8:
        case TypeDesc::INT8: return SampleDepth::kUint8;
        case TypeDesc::UINT16:
        case TypeDesc::INT16: return SampleDepth::kUint16;
        case TypeDesc::HALF: return SampleDepth::kHalf;
        default: return SampleDepth::kFloat;
    }
}

// Some writers and readers put "Exif\0\0" (JPEG's marker name) before the
// TIFF-structured block.
constexpr char kExifMarker[] = "Exif\0";
constexpr size_t kExifMarkerBytes = sizeof kExifMarker;

// The attributes OpenImageIO reads from and writes to a file's EXIF block
// (TIFF's own tags, such as Orientation or Make, are not among them).
bool IsExifName(const std::string& name) {
    return OIIO::Strutil::istarts_with(name, "Exif:") || OIIO::Strutil::istarts_with(name, "GPS:") ||
           name == "ExposureTime" || name == "FNumber";
}

// The EXIF attributes of from, added to into.
void CopyExif(const ImageSpec& from, ImageSpec& into) {
    for (const OIIO::ParamValue& attribute : from.extra_attribs) {
        if (IsExifName(attribute.name().string())) into.extra_attribs.push_back(attribute);
    }
}

ImageMetadata MetadataOf(const ImageSpec& format) {
    ImageMetadata metadata;
    if (const OIIO::ParamValue* icc = format.find_attribute("ICCProfile");
        icc != nullptr && icc->type().basetype == TypeDesc::UINT8) {
        const auto* bytes = static_cast<const uint8_t*>(icc->data());
        metadata.icc.assign(bytes, bytes + icc->type().size());
    }
    ImageSpec exif;
    CopyExif(format, exif);
    if (!exif.extra_attribs.empty()) {
        std::vector<char> blob;
        OIIO::encode_exif(exif, blob, OIIO::endian::native);
        if (blob.size() > kExifMarkerBytes && std::memcmp(blob.data(), kExifMarker, kExifMarkerBytes) == 0) {
            blob.erase(blob.begin(), blob.begin() + kExifMarkerBytes);
        }
        metadata.exif.assign(blob.begin(), blob.end());
    }
    const float x = format.get_float_attribute("XResolution", 0);
    const float y = format.get_float_attribute("YResolution", 0);
    if (x > 0 && y > 0 && std::isfinite(x) && std::isfinite(y)) {
        const std::string unit = OIIO::Strutil::lower(format.get_string_attribute("ResolutionUnit", "in"));
        metadata.xResolution = x;
        metadata.yResolution = y;
        metadata.unit = unit == "cm"                   ? ImageMetadata::Unit::kCentimetre
                        : unit == "in" || unit == "inch" ? ImageMetadata::Unit::kInch
                                                         : ImageMetadata::Unit::kNone;
    }
    return metadata;
}

void AttachMetadata(const ImageMetadata& metadata, ImageSpec& format) {
    if (!metadata.exif.empty()) {
        ImageSpec exif;
        const size_t skip = metadata.exif.size() > kExifMarkerBytes &&
                                    std::memcmp(metadata.exif.data(), kExifMarker, kExifMarkerBytes) == 0
                                ? kExifMarkerBytes
                                : 0;
        OIIO::decode_exif(OIIO::cspan<uint8_t>(metadata.exif.data() + skip,
                                               static_cast<int64_t>(metadata.exif.size() - skip)),
                          exif);
        CopyExif(exif, format);
    }
    if (!metadata.icc.empty()) {
        format.attribute("ICCProfile", TypeDesc(TypeDesc::UINT8, static_cast<int>(metadata.icc.size())),
                         metadata.icc.data());
    }
    if (metadata.xResolution > 0 && metadata.yResolution > 0) {
        format.attribute("XResolution", static_cast<float>(metadata.xResolution));
        format.attribute("YResolution", static_cast<float>(metadata.yResolution));
        format.attribute("ResolutionUnit", metadata.unit == ImageMetadata::Unit::kCentimetre ? "cm"
                                           : metadata.unit == ImageMetadata::Unit::kInch     ? "in"
                                                                                             : "none");
    }
}

// The file is known to be a regular one.
bool ReadFile(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    const auto input = OIIO::ImageInput::open(path, &config);
    if (!input) {
        error = Describe("cannot read", path, OIIO::geterror());
        return false;
    }
    const ImageSpec& format = input->spec();
    if (!Usable(format, path, error)) return false;
    const ChannelLayout layout = LayoutOf(format);
    info.hadAlpha = layout.alpha >= 0;
    info.depth = DepthOf(format);
    info.metadata = MetadataOf(format);
    image = ourhost::Image(format.width, format.height);
    // 8-bit files are decoded to 8 bits, unless their colour must be divided
    // by alpha, which is done on the values as floats.
    const bool bytes = format.format == TypeDesc::UINT8 && format.channelformats.empty() && !layout.associated;
    const bool read =
        bytes ? ReadRows<uint8_t>(*input, layout, image) : ReadRows<float>(*input, layout, image);
    if (!read) {
        error = Describe("cannot read the pixels of", path, input->geterror());
        image = ourhost::Image();
        return false;
    }
    return true;
}

// The image library throws out of some damaged headers instead of reporting
// them: what it throws is that file's error like any other.
bool Read(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    try {
        return ReadFile(path, image, error, info);
    } catch (const std::exception& e) {
        image = ourhost::Image();
        error = Describe("cannot read", path, e.what());
        return false;
    }
}

// The image library's OpenEXR writer takes pixels per centimetre for pixels
// per inch: it is given inches.
ImageMetadata InInches(const ImageMetadata& metadata) {
    ImageMetadata inches = metadata;
    constexpr double kCentimetresPerInch = 2.54;
    if (inches.unit == ImageMetadata::Unit::kCentimetre) {
        inches.xResolution *= kCentimetresPerInch;
        inches.yResolution *= kCentimetresPerInch;
        inches.unit = ImageMetadata::Unit::kInch;
    }
    return inches;
}

// The depths each format's writer holds; formats not named hold 8 bits.
struct FormatDepths {
    const char* format;
    const char* name;
    DepthSet held;
};
constexpr DepthSet k8 = DepthBit(SampleDepth::kUint8), k16 = DepthBit(SampleDepth::kUint16),
                   kHalf = DepthBit(SampleDepth::kHalf), kFloat = DepthBit(SampleDepth::kFloat);
constexpr FormatDepths kFormatDepths[] = {
    {"jpeg", "JPEG", k8},
    {"tiff", "TIFF", k8 | k16 | kHalf | kFloat},
    {"openexr", "OpenEXR", kHalf | kFloat},
    {"sgi", "SGI", k8 | k16},
    {"dpx", "DPX", k8 | k16},
    {"hdr", "HDR", kFloat},
};

FormatDepths DepthsOf(const std::string& format) {
    for (const FormatDepths& entry : kFormatDepths) {
        if (format == entry.format) return entry;
    }
    return FormatDepths{"", "", k8};
}

bool DepthsHeld(const std::string& path, DepthSet& held, std::string& name, std::string& error) {
    const auto output = OIIO::ImageOutput::create(path);
    if (!output) {
        error = Describe("cannot write", path, OIIO::geterror());
        return false;
    }
    const FormatDepths depths = DepthsOf(output->format_name());
    held = depths.held;
    name = depths.name[0] != '\0' ? depths.name : OIIO::Strutil::upper(output->format_name());
    return true;
}

// 8-bit values widened: v * 257 in 16 bits.
std::vector<uint16_t> Widened16(const std::vector<uint8_t>& bytes) {
    std::vector<uint16_t> wide(bytes.size());
    std::transform(bytes.begin(), bytes.end(), wide.begin(), WideFromByte);
    return wide;
}

// RGBA as fractions of 255, the colour premultiplied by alpha in floats.
std::vector<float> PremultipliedFractions(const ourhost::Image& image) {
    std::vector<float> values;
    values.reserve(static_cast<size_t>(image.Width()) * image.Height() * 4);
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const ourhost::Pixel p = image.At(x, y);
            const float a = p.a / 255.0f;
            values.insert(values.end(), {p.r / 255.0f * a, p.g / 255.0f * a, p.b / 255.0f * a, a});
        }
    }
    return values;
}

// 8-bit values as fractions, v / 255; premultiplied ones from the layer's
// straight values, so that dividing by alpha gives them back.
std::vector<float> Fractions(const ourhost::Image& image, bool alpha, bool premultiply,
                             const ourhost::Pixel* background) {
    if (!premultiply || !alpha) {
        const std::vector<uint8_t> bytes = Interleaved(image, alpha, false, background);
        std::vector<float> values(bytes.size());
        std::transform(bytes.begin(), bytes.end(), values.begin(), FractionFromByte);
        return values;
    }
    return PremultipliedFractions(image);
}

bool WritePixels(OIIO::ImageOutput& output, const ourhost::Image& image, bool alpha, bool premultiply,
                 const ourhost::Pixel* background, SampleDepth depth) {
    switch (depth) {
        case SampleDepth::kUint8:
            return output.write_image(TypeDesc::UINT8, Interleaved(image, alpha, premultiply, background).data());
        case SampleDepth::kUint16:
            return output.write_image(TypeDesc::UINT16,
                                      Widened16(Interleaved(image, alpha, premultiply, background)).data());
        case SampleDepth::kHalf:
        case SampleDepth::kFloat: break;
    }
    return output.write_image(TypeDesc::FLOAT, Fractions(image, alpha, premultiply, background).data());
}

TypeDesc StoredType(SampleDepth depth) {
    switch (depth) {
        case SampleDepth::kUint8: return TypeDesc::UINT8;
        case SampleDepth::kUint16: return TypeDesc::UINT16;
        case SampleDepth::kHalf: return TypeDesc::HALF;
        case SampleDepth::kFloat: break;
    }
    return TypeDesc::FLOAT;
}

// The image's position on the input layer's frame, for formats that keep
// one (OpenEXR's data and display windows, TIFF's position).
void PlaceOnFrame(const WriteExtras& extras, ImageSpec& format) {
    format.x = extras.x;
    format.y = extras.y;
    if (extras.frameWidth > 0 && extras.frameHeight > 0) {
        format.full_width = extras.frameWidth;
        format.full_height = extras.frameHeight;
    }
}

bool Write(const std::string& path, const ourhost::Image& image, std::string& error, const WriteExtras& extras) {
    return WriteThroughTemporary(path, error, [&](OIIO::ImageOutput& output, const std::string& name) {
        const bool composite = !output.supports("alpha");
        const bool alpha = !composite && !extras.colourOnly;
        const std::string formatName = output.format_name();
        const bool premultiply = formatName == "openexr";
        ImageSpec format(image.Width(), image.Height(), alpha ? 4 : 3, StoredType(extras.depth));
        if (alpha) {
            format.alpha_channel = 3;
            format.attribute("oiio:UnassociatedAlpha", premultiply ? 0 : 1);
        }
        if (extras.metadata != nullptr) {
            AttachMetadata(premultiply ? InInches(*extras.metadata) : *extras.metadata, format);
        }
        if (output.supports("origin")) PlaceOnFrame(extras, format);
        if (formatName == "jpeg" && extras.jpegQuality > 0) {
            format.attribute("Compression", "jpeg:" + std::to_string(extras.jpegQuality));
        }
        return output.open(name, format) &&
               WritePixels(output, image, alpha, premultiply, composite ? &extras.background : nullptr, extras.depth);
    }, extras.metadata != nullptr && !extras.metadata->exif.empty());
}

bool WriteFrames(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                 std::string& error) {
    if (frames.empty()) {
        error = "cannot write " + path + ": no frames";
        return false;
    }
    return WriteThroughTemporary(path, error, [&](OIIO::ImageOutput& output, const std::string& name) {
        ImageSpec format(frames[0].Width(), frames[0].Height(), 3, TypeDesc::UINT8);
        const int rate[2] = {fps, 1};
        format.attribute("FramesPerSecond", TypeDesc::TypeRational, rate);
        format.attribute("oiio:Movie", 1);
        format.attribute("oiio:LoopCount", 0);
        const std::vector<ImageSpec> formats(frames.size(), format);
        if (!output.open(name, static_cast<int>(formats.size()), formats.data())) return false;
        for (size_t i = 0; i < frames.size(); ++i) {
            if (i > 0 && !output.open(name, format, OIIO::ImageOutput::AppendSubimage)) return false;
            const std::vector<uint8_t> pixels = Interleaved(frames[i], false, false, nullptr);
            if (!output.write_image(TypeDesc::UINT8, pixels.data())) return false;
        }
        return true;
    });
}

OIIO::ImageBuf Premultiplied(const ourhost::Image& image) {
    OIIO::ImageBuf buffer(ImageSpec(image.Width(), image.Height(), 4, TypeDesc::FLOAT));
    const std::vector<float> pixels = PremultipliedFractions(image);
    buffer.set_pixels(buffer.roi(), TypeDesc::FLOAT, pixels.data());
    return buffer;
}

// Composited over the gallery's checkerboard, which shows transparency.
OIIO::ImageBuf OverCheckerboard(const OIIO::ImageBuf& premultiplied) {
    const OIIO::ROI area = premultiplied.roi();
    const float light[4] = {0.73f, 0.73f, 0.73f, 1}, dark[4] = {0.53f, 0.53f, 0.53f, 1};
    OIIO::ImageBuf board = OIIO::ImageBufAlgo::checker(8, 8, 1, light, dark, 0, 0, 0, area, 1);
    return OIIO::ImageBufAlgo::over(premultiplied, board, area, 1);
}

// An opaque layer of an RGB(A) float buffer's colour.
ourhost::Image Opaque(const OIIO::ImageBuf& buffer) {
    ourhost::Image out(buffer.spec().width, buffer.spec().height);
    std::vector<float> pixels(static_cast<size_t>(out.Width()) * out.Height() * 4);
    buffer.get_pixels(OIIO::ROI(0, out.Width(), 0, out.Height(), 0, 1, 0, 4), TypeDesc::FLOAT, pixels.data());
    const auto byte = [](float v) { return static_cast<uint8_t>(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); };
    for (int py = 0; py < out.Height(); ++py) {
        for (int px = 0; px < out.Width(); ++px) {
            const float* p = &pixels[(static_cast<size_t>(py) * out.Width() + px) * 4];
            out.Set(px, py, ourhost::Pixel{255, byte(p[0]), byte(p[1]), byte(p[2])});
        }
    }
    return out;
}

bool ContactSheet(const std::vector<SheetCell>& cells, ourhost::Image& sheet, std::string&) {
    constexpr int kCellWidth = 240, kThumbHeight = 180, kLabel = 26, kColumns = 4;
    const int rows = (static_cast<int>(cells.size()) + kColumns - 1) / kColumns;
    OIIO::ImageBuf page(ImageSpec(kCellWidth * kColumns, (kThumbHeight + kLabel) * rows, 4, TypeDesc::FLOAT));
    const float ink[4] = {0.93f, 0.93f, 0.93f, 1};
    const float background[4] = {0.13f, 0.14f, 0.15f, 1};
    OIIO::ImageBufAlgo::fill(page, background);
    for (size_t i = 0; i < cells.size(); ++i) {
        const int x = static_cast<int>(i % kColumns) * kCellWidth;
        const int y = static_cast<int>(i / kColumns) * (kThumbHeight + kLabel);
        const OIIO::ROI area(0, kCellWidth - 8, 0, kThumbHeight - 8, 0, 1, 0, 4);
        OIIO::ImageBuf thumb =
            OIIO::ImageBufAlgo::fit(Premultiplied(*cells[i].image), "", 0, "letterbox", false, area, 1);
        OIIO::ImageBufAlgo::paste(page, x + 4, y + 4, 0, 0, OverCheckerboard(thumb), {}, 1);
        OIIO::ImageBufAlgo::render_text(page, x + 6, y + kThumbHeight + 16, cells[i].name, 15, "DejaVuSans", ink,
                                        OIIO::ImageBufAlgo::TextAlignX::Left,
                                        OIIO::ImageBufAlgo::TextAlignY::Baseline, 0, {}, 1);
    }
    sheet = Opaque(page);
    return true;
}

bool Flatten(const ourhost::Image& image, ourhost::Image& flat, std::string&) {
    flat = Opaque(OverCheckerboard(Premultiplied(image)));
    return true;
}

constexpr ImageLibrary kLibrary{Read, Write, WriteFrames, ContactSheet, Flatten, DepthsHeld};

}  // namespace

}  // namespace zoka_images

// The library's debugging notes (a writer meeting metadata its format cannot
// carry prints one) would add lines to zoka's one-line standard error.
extern "C" const zoka_images::ImageLibrary* zoka_image_library() {
    OIIO::attribute("debug", 0);
    return &zoka_images::kLibrary;
}
