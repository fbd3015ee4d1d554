#include "images/jpeg_files.h"

#include <strings.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <string_view>
#include <vector>

// jpeglib.h takes size_t and FILE from the headers before it.
#include <jerror.h>
#include <jpeglib.h>

#include "images/exif_block.h"
#include "images/output_file.h"

namespace zoka_images {

namespace {

// The EXIF block's marker starts with its name.
constexpr char kExifName[] = "Exif\0";
constexpr size_t kExifNameBytes = sizeof kExifName;
// What one marker segment holds after its length.
constexpr size_t kLargestMarker = 65533;
constexpr int kDefaultQuality = 98;
// Encoded bytes are handed to the file in large pieces.
constexpr size_t kWriteBuffer = size_t{1} << 20;

// libjpeg's errors must not return: the message is kept and the reader's
// or writer's recovery jump taken. The warnings that mean pixels were made
// up (the file ended early, its coded data is damaged) are errors too;
// other warnings and notes are dropped, so that standard error stays one
// line.
struct JpegError {
    jpeg_error_mgr manager;  // first: libjpeg knows only this part
    std::jmp_buf jump;
    char text[JMSG_LENGTH_MAX] = "";
    bool outOfMemory = false;
};

[[noreturn]] void KeepErrorAndJump(j_common_ptr common) {
    auto* error = reinterpret_cast<JpegError*>(common->err);
    error->outOfMemory = common->err->msg_code == JERR_OUT_OF_MEMORY;
    (*common->err->format_message)(common, error->text);
    std::longjmp(error->jump, 1);
}

bool PixelsLost(int code) {
    return code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_HUFF_BAD_CODE ||
           code == JWRN_MUST_RESYNC;
}

void LostPixelsAreErrors(j_common_ptr common, int level) {
    if (level < 0 && PixelsLost(common->err->msg_code)) KeepErrorAndJump(common);
}

void SayNothing(j_common_ptr) {}

void SetUpErrors(JpegError& error) {
    jpeg_std_error(&error.manager);
    error.manager.error_exit = KeepErrorAndJump;
    error.manager.emit_message = LostPixelsAreErrors;
    error.manager.output_message = SayNothing;
}

std::string Reason(const JpegError& error) { return error.text[0] != '\0' ? error.text : "the file is damaged"; }

struct ReadState {
    FILE* file = nullptr;
    JpegError error;
    jpeg_decompress_struct jpeg{};
    bool created = false;
    std::vector<JSAMPLE> cmykRow;
    ~ReadState() {
        if (created) jpeg_destroy_decompress(&jpeg);
        if (file != nullptr) std::fclose(file);
    }
};

jpeg_saved_marker_ptr FindExif(const jpeg_decompress_struct& jpeg) {
    for (jpeg_saved_marker_ptr m = jpeg.marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length > kExifNameBytes &&
            std::memcmp(m->data, kExifName, kExifNameBytes) == 0) {
            return m;
        }
    }
    return nullptr;
}

// The profile, the EXIF block and JFIF's density in inches or centimetres
// (as the image library read them).
void ReadMetadata(jpeg_decompress_struct& jpeg, ImageMetadata& metadata) {
    JOCTET* profile = nullptr;
    unsigned int length = 0;
    if (jpeg_read_icc_profile(&jpeg, &profile, &length) && profile != nullptr) {
        metadata.icc.assign(profile, profile + length);
    }
    std::free(profile);
    if (const jpeg_saved_marker_ptr exif = FindExif(jpeg)) {
        metadata.exif = ExifOfTheImage(exif->data + kExifNameBytes, exif->data_length - kExifNameBytes);
    }
    // A density without a unit (libjpeg's 1:1 when the file gives none) is
    // only an aspect ratio: no resolution.
    if (jpeg.X_density > 0 && jpeg.Y_density > 0 && (jpeg.density_unit == 1 || jpeg.density_unit == 2)) {
        metadata.xResolution = jpeg.X_density;
        metadata.yResolution = jpeg.Y_density;
        metadata.unit = jpeg.density_unit == 1 ? ImageMetadata::Unit::kInch : ImageMetadata::Unit::kCentimetre;
    }
}

// Inverted CMYK as fractions: each colour times the black, rounded.
void RowFromCmyk(const JSAMPLE* cmyk, int32_t width, uint8_t* argb) {
    constexpr float kScale = 1.0f / 255;
    const auto byte = [](float v) { return static_cast<uint8_t>(v * 255 + 0.5f); };
    for (int32_t x = 0; x < width; ++x, cmyk += 4, argb += 4) {
        const float k = cmyk[3] * kScale;
        argb[0] = 255;
        argb[1] = byte(cmyk[0] * kScale * k);
        argb[2] = byte(cmyk[1] * kScale * k);
        argb[3] = byte(cmyk[2] * kScale * k);
    }
}

// Decodes into image, rows straight into the layer's pixels as ARGB
// (CMYK through a row of its own). Nothing here needs destroying: libjpeg's
// errors jump out of it.
bool Decode(ReadState& s, const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    if (setjmp(s.error.jump)) {
        if (s.error.outOfMemory) throw std::bad_alloc();
        error = "cannot read " + path + ": " + Reason(s.error);
        image = ourhost::Image();
        return false;
    }
    jpeg_create_decompress(&s.jpeg);
    s.created = true;
    jpeg_stdio_src(&s.jpeg, s.file);
    jpeg_save_markers(&s.jpeg, JPEG_APP0 + 1, 0xffff);
    jpeg_save_markers(&s.jpeg, JPEG_APP0 + 2, 0xffff);
    jpeg_read_header(&s.jpeg, TRUE);
    if (!SizeUsable(path, s.jpeg.image_width, s.jpeg.image_height, error)) return false;
    const bool cmyk = s.jpeg.jpeg_color_space == JCS_CMYK || s.jpeg.jpeg_color_space == JCS_YCCK;
    s.jpeg.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_ARGB;
    info.hadAlpha = false;
    info.grey = s.jpeg.jpeg_color_space == JCS_GRAYSCALE;
    info.depth = SampleDepth::kUint8;
    ReadMetadata(s.jpeg, info.metadata);
    jpeg_start_decompress(&s.jpeg);
    const auto width = static_cast<int32_t>(s.jpeg.output_width);
    image = ourhost::Image(width, static_cast<int32_t>(s.jpeg.output_height));
    if (cmyk) s.cmykRow.resize(static_cast<size_t>(width) * 4);
    while (s.jpeg.output_scanline < s.jpeg.output_height) {
        uint8_t* row = image.Data() + static_cast<size_t>(s.jpeg.output_scanline) * image.RowBytes();
        JSAMPROW into = cmyk ? s.cmykRow.data() : row;
        jpeg_read_scanlines(&s.jpeg, &into, 1);
        if (cmyk) RowFromCmyk(s.cmykRow.data(), width, row);
    }
    jpeg_finish_decompress(&s.jpeg);
    return true;
}

struct WriteState {
    OutputFile* file = nullptr;
    std::vector<JOCTET> buffer;
    int64_t written = 0;
    jpeg_destination_mgr destination{};
    JpegError error;
    jpeg_compress_struct jpeg{};
    bool created = false;
    std::vector<JSAMPLE> row;  // reserved before libjpeg starts
    ~WriteState() {
        if (created) jpeg_destroy_compress(&jpeg);
    }
};

WriteState& StateOf(j_compress_ptr jpeg) { return *static_cast<WriteState*>(jpeg->client_data); }

void StartBuffer(j_compress_ptr jpeg) {
    WriteState& s = StateOf(jpeg);
    s.destination.next_output_byte = s.buffer.data();
    s.destination.free_in_buffer = s.buffer.size();
}

void Hand(WriteState& s, size_t size) {
    s.file->WriteAt(s.buffer.data(), size, s.written);
    s.written += static_cast<int64_t>(size);
}

boolean HandFullBuffer(j_compress_ptr jpeg) {
    WriteState& s = StateOf(jpeg);
    Hand(s, s.buffer.size());
    StartBuffer(jpeg);
    return TRUE;
}

void HandTheRest(j_compress_ptr jpeg) {
    WriteState& s = StateOf(jpeg);
    Hand(s, s.buffer.size() - s.destination.free_in_buffer);
}

// A row composited over the background: 3 channels, or the grey one.
void CompositeRow(const uint8_t* argb, int32_t width, ourhost::Pixel under, bool grey, JSAMPLE* row) {
    const auto over = [](unsigned v, unsigned a, unsigned u) {
        return static_cast<JSAMPLE>((v * a + u * (255 - a) + 127) / 255);
    };
    for (int32_t x = 0; x < width; ++x, argb += 4) {
        const unsigned a = argb[0];
        if (grey) {
            *row++ = over(argb[1], a, under.r);
            continue;
        }
        *row++ = over(argb[1], a, under.r);
        *row++ = over(argb[2], a, under.g);
        *row++ = over(argb[3], a, under.b);
    }
}

// JFIF's density: whole dots per inch or centimetre, 1 to 65535, or the
// aspect ratio alone.
UINT16 Density(double perUnit) {
    if (!(perUnit >= 1)) return 1;
    return perUnit >= 65535 ? 65535 : static_cast<UINT16>(perUnit + 0.5);
}

void WriteMetadata(jpeg_compress_struct& jpeg, const ImageMetadata& metadata) {
    if (!metadata.exif.empty() && metadata.exif.size() + kExifNameBytes <= kLargestMarker) {
        jpeg_write_m_header(&jpeg, JPEG_APP0 + 1, static_cast<unsigned>(metadata.exif.size() + kExifNameBytes));
        for (const char c : std::string_view(kExifName, kExifNameBytes)) jpeg_write_m_byte(&jpeg, c);
        for (const uint8_t b : metadata.exif) jpeg_write_m_byte(&jpeg, b);
    }
    if (!metadata.icc.empty()) {
        jpeg_write_icc_profile(&jpeg, metadata.icc.data(), static_cast<unsigned>(metadata.icc.size()));
    }
}

// Nothing here needs destroying: libjpeg's errors jump out of it.
bool Encode(WriteState& s, const ourhost::Image& image, const WriteExtras& extras, bool grey) {
    if (setjmp(s.error.jump)) return false;
    jpeg_create_compress(&s.jpeg);
    s.created = true;
    s.jpeg.client_data = &s;
    s.destination.init_destination = StartBuffer;
    s.destination.empty_output_buffer = HandFullBuffer;
    s.destination.term_destination = HandTheRest;
    s.jpeg.dest = &s.destination;
    s.jpeg.image_width = static_cast<JDIMENSION>(image.Width());
    s.jpeg.image_height = static_cast<JDIMENSION>(image.Height());
    s.jpeg.input_components = grey ? 1 : 3;
    s.jpeg.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&s.jpeg);
    jpeg_set_quality(&s.jpeg, extras.jpegQuality > 0 ? extras.jpegQuality : kDefaultQuality, TRUE);
    if (const ImageMetadata* metadata = extras.metadata;
        metadata != nullptr && metadata->xResolution > 0 && metadata->yResolution > 0) {
        s.jpeg.density_unit = metadata->unit == ImageMetadata::Unit::kInch         ? 1
                              : metadata->unit == ImageMetadata::Unit::kCentimetre ? 2
                                                                                   : 0;
        s.jpeg.X_density = Density(metadata->xResolution);
        s.jpeg.Y_density = Density(metadata->yResolution);
    }
    jpeg_start_compress(&s.jpeg, TRUE);
    if (extras.metadata != nullptr) WriteMetadata(s.jpeg, *extras.metadata);
    for (int32_t y = 0; y < image.Height(); ++y) {
        CompositeRow(image.Data() + static_cast<size_t>(y) * image.RowBytes(), image.Width(), extras.background,
                     grey, s.row.data());
        JSAMPROW row = s.row.data();
        jpeg_write_scanlines(&s.jpeg, &row, 1);
    }
    jpeg_finish_compress(&s.jpeg);
    return true;
}

bool HasExtension(const std::string& path, std::initializer_list<const char*> extensions) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
    for (const char* extension : extensions) {
        if (strcasecmp(path.c_str() + dot, extension) == 0) return true;
    }
    return false;
}

}  // namespace

bool IsJpegName(const std::string& path) {
    return HasExtension(path, {".jpg", ".jpeg", ".jpe", ".jif", ".jfif", ".jfi"});
}

FileRead ReadJpeg(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    ReadState s;
    s.file = std::fopen(path.c_str(), "rbe");
    if (s.file == nullptr) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return FileRead::kFailed;
    }
    unsigned char start[3] = {};
    if (std::fread(start, 1, sizeof start, s.file) != sizeof start || start[0] != 0xff || start[1] != 0xd8 ||
        start[2] != 0xff) {
        return FileRead::kNotThisFormat;
    }
    std::rewind(s.file);
    SetUpErrors(s.error);
    s.jpeg.err = &s.error.manager;
    return Decode(s, path, image, error, info) ? FileRead::kRead : FileRead::kFailed;
}

bool WriteJpeg(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error) {
    if ((DepthBit(extras.depth) & kJpegDepths) == 0) {
        error = "cannot write " + path + " as " + DepthName(extras.depth) + ": JPEG files hold " +
                DescribeDepths(kJpegDepths);
        return false;
    }
    // Grey stays grey over the background only where it is opaque or the
    // background is grey too.
    const ourhost::Pixel under = extras.background;
    const bool grey = extras.grey && (extras.colourOnly || (under.r == under.g && under.g == under.b));
    const auto file = OutputFile::Create(path, "", error);
    if (!file) return false;
    WriteState s;
    s.file = file.get();
    s.buffer.resize(kWriteBuffer);
    s.row.resize(static_cast<size_t>(image.Width()) * (grey ? 1 : 3));
    SetUpErrors(s.error);
    s.jpeg.err = &s.error.manager;
    if (!Encode(s, image, extras, grey)) {
        if (s.error.outOfMemory) throw std::bad_alloc();
        // A failed write is the file's to report, with its own reason.
        if (!file->Failed()) {
            error = "cannot write " + path + ": " + Reason(s.error);
            return false;
        }
    }
    return file->Publish(s.written, error);
}

}  // namespace zoka_images
