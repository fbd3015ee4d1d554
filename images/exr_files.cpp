#include "images/exr_files.h"

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <ImfVersion.h>
#include <Imath/half.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "images/output_file.h"
#include "images/samples.h"

namespace zoka_images {

namespace {

// Rows decoded or encoded at a time: ZIP's chunk of 16 scanlines.
constexpr int kStripRows = 16;
constexpr int kChannels = 4;
constexpr const char* kResolutionUnit = "ResolutionUnit";
// zlib's level for ZIP's chunks: level 1, as for PNG, writes an HD frame
// about twice as fast as the library's default, in a file a little larger.
constexpr int kZipLevel = 1;

// One line: the library's messages may span several.
std::string OneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "the file is damaged" : text;
}

bool StartsWithMagic(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char magic[4] = {};
    return file.read(magic, sizeof magic) && Imf::isImfMagic(magic);
}

// Reads a NUL-terminated name of at most 255 characters; false at the
// file's end or when longer.
bool ReadName(std::ifstream& file, std::string& name) {
    name.clear();
    constexpr size_t kLongest = 255;
    for (char c; file.get(c);) {
        if (c == '\0') return true;
        if (name.size() == kLongest) return false;
        name += c;
    }
    return false;
}

uint32_t LittleEndian32(const unsigned char* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// What the headers say, read before the library reads them: whether each
// attribute's size fits in the file, and the sizes the library would
// allocate by.
struct HeaderSizes {
    bool fits = false;
    int64_t width = 0;  // the largest data window of any part
    int64_t height = 0;
    int64_t tileWidth = 0;  // the largest tile of any part
    int64_t tileHeight = 0;
};

void NoteValue(const std::string& name, const std::string& type, const unsigned char* value, uint32_t bytes,
               HeaderSizes& sizes) {
    if (type == "tiledesc" && bytes == 9) {
        sizes.tileWidth = std::max<int64_t>(sizes.tileWidth, LittleEndian32(value));
        sizes.tileHeight = std::max<int64_t>(sizes.tileHeight, LittleEndian32(value + 4));
    } else if (name == "dataWindow" && type == "box2i" && bytes == 16) {
        const auto at = [&](int i) { return int64_t{static_cast<int32_t>(LittleEndian32(value + 4 * i))}; };
        sizes.width = std::max(sizes.width, at(2) - at(0) + 1);
        sizes.height = std::max(sizes.height, at(3) - at(1) + 1);
    }
}

// Reads one header's attributes up to the empty name that ends it, noting
// the sizes; false when an attribute says more bytes than the file holds
// after it, or the header does not end. empty: it had no attribute.
bool ReadAttributes(std::ifstream& file, int64_t fileSize, HeaderSizes& sizes, bool& empty) {
    empty = true;
    std::string name, type;
    while (ReadName(file, name)) {
        if (name.empty()) return true;
        empty = false;
        unsigned char length[4] = {};
        if (!ReadName(file, type) || !file.read(reinterpret_cast<char*>(length), sizeof length)) return false;
        const uint32_t bytes = LittleEndian32(length);
        if (bytes > fileSize - file.tellg()) return false;
        constexpr uint32_t kLongestNoted = 16;
        if (bytes > kLongestNoted) {
            file.seekg(bytes, std::ios::cur);
            continue;
        }
        unsigned char value[kLongestNoted] = {};
        if (!file.read(reinterpret_cast<char*>(value), bytes)) return false;
        NoteValue(name, type, value, bytes, sizes);
    }
    return false;
}

// Walks the file's header, or each part's header in a multi-part file
// (whose list ends with an empty one). The library allocates what an
// attribute, a tile description or a data window says before reading what
// follows, so a few bytes could otherwise ask for gigabytes.
HeaderSizes ReadHeaderSizes(const std::string& path, bool multiPart) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const int64_t size = file.tellg();
    file.seekg(8);  // the magic number and the version
    HeaderSizes sizes;
    bool empty = false;
    while (ReadAttributes(file, size, sizes, empty)) {
        if (!multiPart || empty) {
            sizes.fits = true;
            break;
        }
    }
    return sizes;
}

// Whether the headers can be handed to a library, with the reason in error
// when not.
bool HeadersUsable(const std::string& path, bool multiPart, std::string& error) {
    const HeaderSizes sizes = ReadHeaderSizes(path, multiPart);
    if (!sizes.fits) throw std::runtime_error("its header is damaged or cut short");
    if (sizes.width >= 1 && sizes.height >= 1 && !SizeUsable(path, sizes.width, sizes.height, error)) return false;
    if (WithinSizeLimits(sizes.tileWidth, sizes.tileHeight)) return true;
    error = "cannot use " + path + ": its tiles are " + std::to_string(sizes.tileWidth) + "x" +
            std::to_string(sizes.tileHeight) + " pixels" + SizeLimitsText();
    return false;
}

// Attributes the image library turns into EXIF (its own "Exif:" and "GPS:"
// names, and OpenEXR's exposure, aperture and ISO speed): such files are
// left to it, so that their EXIF is carried as before.
bool IsExifAttribute(const char* name) {
    return strncasecmp(name, "Exif:", 5) == 0 || strncasecmp(name, "GPS:", 4) == 0 ||
           strcasecmp(name, "ExposureTime") == 0 || strcasecmp(name, "FNumber") == 0 ||
           std::strcmp(name, "expTime") == 0 || std::strcmp(name, "aperture") == 0 ||
           std::strcmp(name, "isoSpeed") == 0;
}

// The sample type of the file's R, G, B (and A): all one type, and no
// other channel; false for any other file.
bool TakenChannels(const Imf::Header& header, Imf::PixelType& type, bool& alpha) {
    const Imf::ChannelList& channels = header.channels();
    int count = 0;
    alpha = false;
    for (auto c = channels.begin(); c != channels.end(); ++c, ++count) {
        const std::string name = c.name();
        if (name != "R" && name != "G" && name != "B" && name != "A") return false;
        if (c.channel().xSampling != 1 || c.channel().ySampling != 1) return false;
        if (count > 0 && c.channel().type != type) return false;
        type = c.channel().type;
        alpha = alpha || name == "A";
    }
    return count == (alpha ? 4 : 3) && (type == Imf::HALF || type == Imf::FLOAT);
}

bool Taken(const Imf::Header& header, Imf::PixelType& type, bool& alpha) {
    if (header.hasType() && Imf::isDeepData(header.type())) return false;
    for (auto a = header.begin(); a != header.end(); ++a) {
        if (IsExifAttribute(a.name())) return false;
    }
    return TakenChannels(header, type, alpha);
}

// The resolution, as the image library reads it: xDensity is pixels per
// inch across; down, the same times the pixels' aspect ratio.
void ReadResolution(const Imf::Header& header, ImageMetadata& metadata) {
    if (!Imf::hasXDensity(header)) return;
    const float x = Imf::xDensity(header);
    const float aspect = header.pixelAspectRatio();
    const float y = x * (aspect != 0 ? aspect : 1.0f);
    if (!(x > 0 && y > 0) || !std::isfinite(x) || !std::isfinite(y)) return;
    metadata.xResolution = x;
    metadata.yResolution = y;
    metadata.unit = ImageMetadata::Unit::kInch;
}

// The layer's straight 8-bit pixel from premultiplied fractions.
ourhost::Pixel StraightPixel(const float* p, bool alpha) {
    const float a = alpha ? p[3] : 1.0f;
    float rgb[3] = {p[0], p[1], p[2]};
    if (alpha) {
        for (float& v : rgb) v = a > 0 ? v / a : 0;
    }
    return ourhost::Pixel{ByteFromFraction(a), ByteFromFraction(rgb[0]), ByteFromFraction(rgb[1]),
                          ByteFromFraction(rgb[2])};
}

Imf::FrameBuffer StripBuffer(std::vector<float>& strip, int x, int top, int width, bool alpha) {
    Imf::FrameBuffer buffer;
    const size_t xStride = kChannels * sizeof(float);
    const Imath::V2i origin(x, top);
    const char* names[] = {"R", "G", "B", "A"};
    for (int c = 0; c < (alpha ? 4 : 3); ++c) {
        buffer.insert(names[c], Imf::Slice::Make(Imf::FLOAT, strip.data() + c, origin, width, kStripRows, xStride,
                                                 xStride * width));
    }
    return buffer;
}

void DecodeRows(Imf::InputFile& file, bool alpha, ourhost::Image& image) {
    const Imath::Box2i window = file.header().dataWindow();
    const int width = image.Width();
    std::vector<float> strip(static_cast<size_t>(width) * kChannels * kStripRows);
    for (int top = 0; top < image.Height(); top += kStripRows) {
        const int rows = std::min(kStripRows, image.Height() - top);
        file.setFrameBuffer(StripBuffer(strip, window.min.x, window.min.y + top, width, alpha));
        file.readPixels(window.min.y + top, window.min.y + top + rows - 1);
        for (int r = 0; r < rows; ++r) {
            const float* p = &strip[static_cast<size_t>(r) * width * kChannels];
            for (int x = 0; x < width; ++x, p += kChannels) image.Set(x, top + r, StraightPixel(p, alpha));
        }
    }
}

FileRead Decode(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    Imf::Header header;
    {
        // The header alone first: a hostile size is refused before the
        // library sizes anything by it.
        Imf::StdIFStream stream(path.c_str());
        char start[8] = {};
        stream.read(start, sizeof start);
        // The version field, lowest byte first, after the magic number.
        int version = (start[4] & 0xff) | (start[5] & 0xff) << 8 | (start[6] & 0xff) << 16 | (start[7] & 0xff) << 24;
        if (Imf::getVersion(version) != Imf::EXR_VERSION || !Imf::supportsFlags(Imf::getFlags(version))) {
            throw std::runtime_error("it is of an OpenEXR version this reader does not know");
        }
        // Checked for the files left to the image library too, which hands
        // them to the same library.
        if (!HeadersUsable(path, Imf::isMultiPart(version), error)) return FileRead::kFailed;
        if (Imf::isMultiPart(version) || Imf::isNonImage(version)) return FileRead::kNotThisFormat;
        header.readFrom(stream, version);
    }
    Imf::PixelType type = Imf::HALF;
    bool alpha = false;
    if (!Taken(header, type, alpha)) return FileRead::kNotThisFormat;
    const Imath::Box2i window = header.dataWindow();
    const int64_t width = int64_t{window.max.x} - window.min.x + 1;
    const int64_t height = int64_t{window.max.y} - window.min.y + 1;
    if (width < 1 || height < 1) {
        error = "cannot use " + path + ": it is " + std::to_string(width) + "x" + std::to_string(height) + " pixels";
        return FileRead::kFailed;
    }
    if (!SizeUsable(path, width, height, error)) return FileRead::kFailed;
    Imf::InputFile file(path.c_str());
    info.hadAlpha = alpha;
    info.depth = type == Imf::FLOAT ? SampleDepth::kFloat : SampleDepth::kHalf;
    ReadResolution(file.header(), info.metadata);
    image = ourhost::Image(static_cast<int32_t>(width), static_cast<int32_t>(height));
    DecodeRows(file, alpha, image);
    return FileRead::kRead;
}

// Hands the encoder's bytes to the output file, which keeps the first
// failed write and reports it once the encoder is done.
class OutputFileStream final : public Imf::OStream {
public:
    explicit OutputFileStream(OutputFile& file) : Imf::OStream(file.TemporaryPath().c_str()), file_(file) {}
    void write(const char c[], int n) override {
        file_.WriteAt(c, static_cast<size_t>(n), static_cast<int64_t>(position_));
        position_ += static_cast<uint64_t>(n);
        end_ = std::max(end_, position_);
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = position; }
    int64_t End() const { return static_cast<int64_t>(end_); }

private:
    OutputFile& file_;
    uint64_t position_ = 0;
    uint64_t end_ = 0;
};

// "YYYY:MM:DD HH:MM:SS", the image library's DateTime.
std::string Now() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

void WriteResolution(const ImageMetadata& metadata, Imf::Header& header) {
    if (!(metadata.xResolution > 0 && metadata.yResolution > 0)) return;
    constexpr double kCentimetresPerInch = 2.54;
    const bool perCentimetre = metadata.unit == ImageMetadata::Unit::kCentimetre;
    Imf::addXDensity(header, static_cast<float>(metadata.xResolution * (perCentimetre ? kCentimetresPerInch : 1)));
    header.insert(kResolutionUnit,
                  Imf::StringAttribute(metadata.unit == ImageMetadata::Unit::kNone ? "none" : "in"));
}

Imf::Header HeaderFor(const ourhost::Image& image, const WriteExtras& extras, Imf::PixelType type) {
    const Imath::Box2i data(Imath::V2i(extras.x, extras.y),
                            Imath::V2i(extras.x + image.Width() - 1, extras.y + image.Height() - 1));
    const bool frame = extras.frameWidth > 0 && extras.frameHeight > 0;
    const Imath::Box2i display(Imath::V2i(0, 0), frame ? Imath::V2i(extras.frameWidth - 1, extras.frameHeight - 1)
                                                       : Imath::V2i(image.Width() - 1, image.Height() - 1));
    Imf::Header header(display, data, 1, Imath::V2f(0, 0), 1, Imf::INCREASING_Y, Imf::ZIP_COMPRESSION);
    for (const char* name : {"R", "G", "B", "A"}) {
        if (!(extras.colourOnly && name[0] == 'A')) header.channels().insert(name, Imf::Channel(type));
    }
    header.zipCompressionLevel() = kZipLevel;
    Imf::addCapDate(header, Now());
    if (extras.metadata != nullptr) WriteResolution(*extras.metadata, header);
    return header;
}

// Every 8-bit colour value v under every alpha a as the file stores it:
// v / 255 times a / 255, in floats, then narrowed to the file's type (the
// values the image library wrote). Index a * 256 + v; without alpha, a is
// 255 and the colour is v / 255.
template <class Sample>
std::vector<Sample> StoredValues(bool alpha) {
    std::vector<Sample> values(256 * 256);
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v < 256; ++v) {
            const float fraction = v / 255.0f;
            values[static_cast<size_t>(a) * 256 + v] = Sample(alpha ? fraction * (a / 255.0f) : fraction);
        }
    }
    return values;
}

template <class Sample>
void EncodeRows(Imf::OutputFile& file, const ourhost::Image& image, const WriteExtras& extras, Imf::PixelType type) {
    const bool alpha = !extras.colourOnly;
    const std::vector<Sample> stored = StoredValues<Sample>(alpha);
    const int width = image.Width();
    const int channels = alpha ? 4 : 3;
    std::vector<Sample> strip(static_cast<size_t>(width) * channels * kStripRows);
    const size_t xStride = channels * sizeof(Sample);
    const char* names[] = {"R", "G", "B", "A"};
    for (int top = 0; top < image.Height(); top += kStripRows) {
        const int rows = std::min(kStripRows, image.Height() - top);
        Sample* out = strip.data();
        for (int r = 0; r < rows; ++r) {
            const uint8_t* p = image.Data() + static_cast<size_t>(top + r) * image.RowBytes();
            for (int x = 0; x < width; ++x, p += 4) {
                // The layer's ARGB; without alpha, the colour as it is.
                const size_t under = (alpha ? size_t{p[0]} : 255) * 256;
                for (int c = 1; c <= 3; ++c) *out++ = stored[under + p[c]];
                if (alpha) *out++ = stored[size_t{255} * 256 + p[0]];
            }
        }
        Imf::FrameBuffer buffer;
        const Imath::V2i origin(extras.x, extras.y + top);
        for (int c = 0; c < channels; ++c) {
            buffer.insert(names[c], Imf::Slice::Make(type, strip.data() + c, origin, width, rows, xStride,
                                                     xStride * width));
        }
        file.setFrameBuffer(buffer);
        file.writePixels(rows);
    }
}

}  // namespace

FileRead ReadExr(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    if (!StartsWithMagic(path)) return FileRead::kNotThisFormat;
    try {
        return Decode(path, image, error, info);
    } catch (const std::exception& e) {
        image = ourhost::Image();
        error = "cannot read " + path + ": " + OneLine(e.what());
        return FileRead::kFailed;
    }
}

bool IsExrName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           strcasecmp(path.c_str() + dot, ".exr") == 0;
}

bool WritesExr(const std::string& path, const WriteExtras& extras) {
    return IsExrName(path) && (extras.metadata == nullptr || extras.metadata->exif.empty());
}

bool WriteExr(const std::string& path, const ourhost::Image& image, const WriteExtras& extras,
              std::string& error) {
    const auto file = OutputFile::Create(path, "", error);
    if (!file) return false;
    OutputFileStream stream(*file);
    try {
        const Imf::PixelType type = extras.depth == SampleDepth::kFloat ? Imf::FLOAT : Imf::HALF;
        Imf::OutputFile encoder(stream, HeaderFor(image, extras, type));
        if (type == Imf::FLOAT) {
            EncodeRows<float>(encoder, image, extras, type);
        } else {
            EncodeRows<half>(encoder, image, extras, type);
        }
    } catch (const std::exception& e) {
        // A failed write is the file's to report, with its own reason.
        if (!file->Failed()) {
            error = "cannot write " + path + ": " + OneLine(e.what());
            return false;
        }
    }
    return file->Publish(stream.End(), error);
}

}  // namespace zoka_images
