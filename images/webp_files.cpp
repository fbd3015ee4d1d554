#include "images/webp_files.h"

#include <strings.h>
#include <webp/decode.h>
#include <webp/encode.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <vector>

#include "images/output_file.h"

namespace zoka_images {

namespace {

// RIFF, the file's size, WEBP, and the first chunk's header: what the
// features are read from.
constexpr size_t kHeaderBytes = 64;
// The lossless encoder's effort, 0 (fastest) to 9: level 1 gives nearly the
// size of the default (6) on photographs and noise at several times its
// speed, as zlib's level 1 does for PNG.
constexpr int kLosslessLevel = 1;

bool IsWebpHeader(const std::vector<uint8_t>& head) {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

std::string DecodingFailure(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the file is truncated";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a WebP feature this reader does not know";
        default: return "the file is damaged";
    }
}

std::string EncodingFailure(WebPEncodingError code) {
    switch (code) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
        case VP8_ENC_ERROR_BAD_DIMENSION: return "WebP files are at most 16383 pixels a side";
        case VP8_ENC_ERROR_FILE_TOO_BIG: return "the image is too large for a WebP file";
        default: return "the WebP encoder failed";
    }
}

// Decodes the whole file straight into the layer's ARGB, unpremultiplied.
bool Decode(const std::vector<uint8_t>& data, ourhost::Image& image, VP8StatusCode& status) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) throw std::bad_alloc();
    config.output.colorspace = MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.Data();
    config.output.u.RGBA.stride = static_cast<int>(image.RowBytes());
    config.output.u.RGBA.size = image.RowBytes() * static_cast<size_t>(image.Height());
    status = WebPDecode(data.data(), data.size(), &config);
    WebPFreeDecBuffer(&config.output);
    return status == VP8_STATUS_OK;
}

// The ICC profile (ICCP) and EXIF (EXIF) chunks of an extended file, as
// stored; EXIF without the "Exif\0\0" some writers put first.
void ReadMetadata(const std::vector<uint8_t>& data, ImageMetadata& metadata) {
    constexpr size_t kChunkHeader = 8;
    constexpr char kExifMarker[] = "Exif\0";  // and its own terminating NUL: six bytes
    size_t at = 12;                          // past RIFF, the size and WEBP
    while (at <= data.size() && data.size() - at >= kChunkHeader) {
        const uint8_t* chunk = data.data() + at;
        const size_t size = size_t{chunk[4]} | size_t{chunk[5]} << 8 | size_t{chunk[6]} << 16 | size_t{chunk[7]} << 24;
        if (size > data.size() - at - kChunkHeader) return;
        const uint8_t* body = chunk + kChunkHeader;
        if (std::memcmp(chunk, "ICCP", 4) == 0) metadata.icc.assign(body, body + size);
        if (std::memcmp(chunk, "EXIF", 4) == 0) {
            const size_t skip = size > sizeof kExifMarker && std::memcmp(body, kExifMarker, sizeof kExifMarker) == 0
                                    ? sizeof kExifMarker
                                    : 0;
            metadata.exif.assign(body + skip, body + size);
        }
        at += kChunkHeader + size + (size & 1);  // chunks are padded to an even size
    }
}

struct Writer {
    OutputFile* file = nullptr;
    int64_t written = 0;
};

int WriteBytes(const uint8_t* data, size_t size, const WebPPicture* picture) {
    auto& writer = *static_cast<Writer*>(picture->custom_ptr);
    writer.file->WriteAt(data, size, writer.written);
    writer.written += static_cast<int64_t>(size);
    return 1;  // a failed write is the file's to report, once the encoder is done
}

// The layer's ARGB bytes as the encoder's 0xAARRGGBB words.
void FillPicture(const ourhost::Image& image, WebPPicture& picture) {
    for (int32_t y = 0; y < image.Height(); ++y) {
        const uint8_t* p = image.Data() + static_cast<size_t>(y) * image.RowBytes();
        uint32_t* out = picture.argb + static_cast<size_t>(y) * static_cast<size_t>(picture.argb_stride);
        for (int32_t x = 0; x < image.Width(); ++x, p += 4) {
            out[x] = uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
        }
    }
}

struct Picture {
    WebPPicture picture;
    Picture() {
        if (!WebPPictureInit(&picture)) throw std::bad_alloc();
    }
    ~Picture() { WebPPictureFree(&picture); }
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
};

}  // namespace

FileRead ReadWebp(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> data(kHeaderBytes);
    file.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    data.resize(static_cast<size_t>(file.gcount()));
    if (!IsWebpHeader(data)) return FileRead::kNotThisFormat;
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data.data(), data.size(), &features);
    if (status != VP8_STATUS_OK) {
        error = "cannot read " + path + ": " + DecodingFailure(status);
        return FileRead::kFailed;
    }
    if (features.has_animation) return FileRead::kNotThisFormat;
    if (!SizeUsable(path, features.width, features.height, error)) return FileRead::kFailed;
    data.insert(data.end(), std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return FileRead::kFailed;
    }
    image = ourhost::Image(features.width, features.height);
    VP8StatusCode decoded = VP8_STATUS_OK;
    if (!Decode(data, image, decoded)) {
        image = ourhost::Image();
        error = "cannot read " + path + ": " + DecodingFailure(decoded);
        return FileRead::kFailed;
    }
    info.hadAlpha = features.has_alpha != 0;
    info.depth = SampleDepth::kUint8;
    ReadMetadata(data, info.metadata);
    return FileRead::kRead;
}

bool IsWebpName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           strcasecmp(path.c_str() + dot, ".webp") == 0;
}

bool WriteWebp(const std::string& path, const ourhost::Image& image, const WriteExtras& extras, std::string& error) {
    const int quality = extras.jpegQuality;
    WebPConfig config;
    if (!WebPConfigInit(&config)) throw std::bad_alloc();
    if (quality > 0) {
        config.quality = static_cast<float>(quality);
    } else {
        WebPConfigLosslessPreset(&config, kLosslessLevel);
        config.exact = 1;
    }
    const auto file = OutputFile::Create(path, "", error);
    if (!file) return false;
    Picture picture;
    picture.picture.use_argb = 1;
    picture.picture.width = image.Width();
    picture.picture.height = image.Height();
    Writer writer{file.get()};
    if (!WebPPictureAlloc(&picture.picture)) {
        error = "cannot write " + path + ": " + EncodingFailure(picture.picture.error_code);
        return false;
    }
    FillPicture(image, picture.picture);
    picture.picture.writer = WriteBytes;
    picture.picture.custom_ptr = &writer;
    if (!WebPEncode(&config, &picture.picture) && !file->Failed()) {
        error = "cannot write " + path + ": " + EncodingFailure(picture.picture.error_code);
        return false;
    }
    return file->Publish(writer.written, error);
}

}  // namespace zoka_images
