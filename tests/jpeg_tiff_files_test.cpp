// JPEG and TIFF files read and written by zoka itself: the pixels the image
// library read and wrote, damaged and hostile files refused in one line,
// grey results written grey, and the image library left unloaded.

#include <tiffio.h>

#include <cstdio>
// jpeglib.h takes size_t and FILE from the headers before it.
#include <jpeglib.h>

#include "images/exif_block.h"
#include "images/image_library.h"
#include "tests/support/cli_fixtures.h"

namespace zoka_cli {
namespace {

using namespace testing_cli;

// A gradient with noise: every chroma subsampling and predictor has work.
OIIO::ImageBuf Photo(int width, int height, int channels) {
    OIIO::ImageBuf buffer(OIIO::ImageSpec(width, height, channels, OIIO::TypeDesc::FLOAT));
    uint32_t state = 99;
    for (OIIO::ImageBuf::Iterator<float> p(buffer); !p.done(); ++p) {
        for (int c = 0; c < channels; ++c) {
            state = state * 1664525u + 1013904223u;
            const float ramp = float(p.x() * (c + 1) + p.y() * (3 - c)) / float(width + height) / 3;
            p[c] = std::clamp(ramp + float(state >> 24) / 1024.0f, 0.0f, 1.0f);
        }
    }
    return buffer;
}

// What the image library read from the file, as zoka read it before.
Image ReadThroughLibrary(const std::string& path) {
    Image image;
    std::string error;
    ImageInfo info;
    EXPECT_TRUE(zoka_image_library()->read(path, image, error, info)) << error;
    return image;
}

// Every sample OpenImageIO decodes, in the file's own type, as floats.
std::vector<float> Decoded(const std::string& path) {
    auto input = OIIO::ImageInput::open(path);
    if (!input) return {};
    const OIIO::ImageSpec& header = input->spec();
    std::vector<float> samples(size_t(header.width) * header.height * header.nchannels);
    input->read_image(0, 0, 0, header.nchannels, OIIO::TypeDesc::FLOAT, samples.data());
    return samples;
}

OIIO::TypeDesc StoredType(const std::string& path) {
    auto input = OIIO::ImageInput::open(path);
    return input ? input->spec().format : OIIO::TypeDesc::UNKNOWN;
}

// A CMYK JPEG as Adobe writes it (inverted), made with libjpeg itself.
void WriteCmykJpeg(const std::string& path, int width, int height) {
    jpeg_compress_struct jpeg{};
    jpeg_error_mgr errors{};
    jpeg.err = jpeg_std_error(&errors);
    jpeg_create_compress(&jpeg);
    FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_stdio_dest(&jpeg, file);
    jpeg.image_width = JDIMENSION(width);
    jpeg.image_height = JDIMENSION(height);
    jpeg.input_components = 4;
    jpeg.in_color_space = JCS_CMYK;
    jpeg_set_defaults(&jpeg);
    jpeg_start_compress(&jpeg, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < width * 4; ++i) row[size_t(i)] = JSAMPLE((i * 37 + y * 11) & 0xff);
        JSAMPROW rows = row.data();
        jpeg_write_scanlines(&jpeg, &rows, 1);
    }
    jpeg_finish_compress(&jpeg);
    jpeg_destroy_compress(&jpeg);
    std::fclose(file);
}

// An uncompressed 8-bit RGB TIFF in one strip, its directory before its
// pixels (as the image library writes), little-endian.
void WritePlainTiff(const std::string& path, uint32_t width, uint32_t height) {
    std::string bytes("II*\0\x08\0\0\0", 8);
    const auto put = [&](uint32_t v, int size) {
        for (int i = 0; i < size; ++i) bytes += char(v >> (8 * i));
    };
    constexpr uint32_t kEntries = 9, kBits = 8 + 2 + kEntries * 12 + 4, kPixels = kBits + 6;
    const uint32_t entries[kEntries][4] = {{256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 3, kBits},
                                           {259, 3, 1, 1},     {262, 3, 1, 2},      {273, 4, 1, kPixels},
                                           {277, 3, 1, 3},     {278, 4, 1, height}, {279, 4, 1, width * height * 3}};
    put(kEntries, 2);
    for (const auto& entry : entries) {
        put(entry[0], 2);
        put(entry[1], 2);
        put(entry[2], 4);
        put(entry[3], entry[1] == 3 && entry[2] == 1 ? 2 : 4);
        if (entry[1] == 3 && entry[2] == 1) put(0, 2);
    }
    put(0, 4);
    for (int i = 0; i < 3; ++i) put(8, 2);
    for (uint32_t i = 0; i < width * height * 3; ++i) bytes += char(i * 7 % 251);
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST_F(CliFiles, JpegsAreReadAsTheImageLibraryReadThem) {
    const OIIO::ImageBuf colour = Photo(67, 45, 3);
    for (const char* subsampling : {"4:2:0", "4:2:2", "4:4:4"}) {
        OIIO::ImageBuf copy = colour;
        copy.specmod().attribute("jpeg:subsampling", subsampling);
        ASSERT_TRUE(copy.write(Path(std::string("s") + subsampling[2] + subsampling[4] + ".jpg")));
    }
    OIIO::ImageBuf progressive = colour;
    progressive.specmod().attribute("jpeg:progressive", 1);
    ASSERT_TRUE(progressive.write(Path("progressive.jpg")));
    ASSERT_TRUE(Photo(31, 17, 1).write(Path("grey.jpg")));
    WriteCmykJpeg(Path("cmyk.jpg"), 29, 13);
    for (const char* name : {"s20.jpg", "s22.jpg", "s44.jpg", "progressive.jpg", "grey.jpg", "cmyk.jpg"}) {
        EXPECT_EQ(Read(name), ReadThroughLibrary(Path(name))) << name;
    }
    // The resolution: JFIF's density, before EXIF's (made to differ here);
    // none from a density without a unit.
    OIIO::ImageBuf dense = colour;
    dense.specmod().attribute("XResolution", 300.0f);
    dense.specmod().attribute("YResolution", 150.0f);
    dense.specmod().attribute("ResolutionUnit", "in");
    ASSERT_TRUE(dense.write(Path("dense.jpg")));
    std::string bytes = Contents(Path("dense.jpg"));
    const size_t jfif = bytes.find(std::string("JFIF\0", 5));
    ASSERT_NE(jfif, std::string::npos);
    bytes.replace(jfif + 8, 4, std::string("\0\x48\0\x48", 4));  // 72 x 72
    std::ofstream(Path("dense.jpg"), std::ios::binary) << bytes;
    for (const char* name : {"dense.jpg", "s20.jpg"}) {
        Image image;
        std::string error;
        ImageInfo own, library;
        ASSERT_TRUE(ReadImage(Path(name), image, error, own)) << error;
        ASSERT_TRUE(zoka_image_library()->read(Path(name), image, error, library)) << error;
        EXPECT_EQ(own.metadata.xResolution, library.metadata.xResolution) << name;
        EXPECT_EQ(own.metadata.yResolution, library.metadata.yResolution) << name;
        EXPECT_EQ(own.metadata.unit, library.metadata.unit) << name;
    }
}

// The same settings as the image library's writer: the same decoded pixels
// at every quality, alpha composited over the background alike.
TEST_F(CliFiles, JpegsDecodeAsTheImageLibrarysDid) {
    Image image = Noise(53, 38);
    for (int x = 0; x < 53; ++x) image.Set(x, 5, Pixel{uint8_t(x * 4), 200, 10, 90});
    for (const int quality : {98, 100, 40}) {
        WriteExtras extras;
        extras.jpegQuality = quality;
        extras.background = Pixel{255, 30, 60, 250};
        std::string error;
        ASSERT_TRUE(WriteImage(Path("own.jpg"), image, error, 1, extras)) << error;
        ASSERT_TRUE(zoka_image_library()->write(Path("library.jpg"), image, error, extras)) << error;
        EXPECT_EQ(Decoded(Path("own.jpg")), Decoded(Path("library.jpg"))) << quality;
    }
}

TEST_F(CliFiles, TiffsAreReadAsTheImageLibraryReadThem) {
    const OIIO::ImageBuf rgba = Photo(41, 23, 4);
    const auto save = [&](const OIIO::ImageBuf& pixels, const std::string& name, OIIO::TypeDesc type,
                          const std::function<void(OIIO::ImageSpec&)>& adjust = nullptr) {
        OIIO::ImageSpec header = pixels.spec();
        header.set_format(type);
        if (header.nchannels == 2 || header.nchannels == 4) header.alpha_channel = header.nchannels - 1;
        if (adjust) adjust(header);
        auto output = OIIO::ImageOutput::create(Path(name));
        std::vector<float> samples(size_t(header.width) * header.height * header.nchannels);
        pixels.get_pixels(pixels.roi(), OIIO::TypeDesc::FLOAT, samples.data());
        ASSERT_TRUE(output->open(Path(name), header) && output->write_image(OIIO::TypeDesc::FLOAT, samples.data()) &&
                    output->close())
            << name;
    };
    const auto straight = [](OIIO::ImageSpec& header) { header.attribute("oiio:UnassociatedAlpha", 1); };
    save(rgba, "8.tif", OIIO::TypeDesc::UINT8, straight);
    save(rgba, "8-premultiplied.tif", OIIO::TypeDesc::UINT8);
    save(rgba, "16.tif", OIIO::TypeDesc::UINT16, straight);
    save(rgba, "16-premultiplied.tif", OIIO::TypeDesc::UINT16);
    save(rgba, "half.tif", OIIO::TypeDesc::HALF);
    save(rgba, "float.tif", OIIO::TypeDesc::FLOAT);
    save(Photo(41, 23, 1), "grey.tif", OIIO::TypeDesc::UINT8);
    save(Photo(41, 23, 2), "grey-alpha.tif", OIIO::TypeDesc::UINT16, straight);
    save(Photo(41, 23, 3), "lzw.tif", OIIO::TypeDesc::UINT8,
         [](OIIO::ImageSpec& header) { header.attribute("compression", "lzw"); });
    save(rgba, "tiled.tif", OIIO::TypeDesc::UINT16, [](OIIO::ImageSpec& header) {
        header.tile_width = header.tile_height = 16;
        header.attribute("oiio:UnassociatedAlpha", 1);
    });
    // Left to the image library: planes of their own, CMYK.
    save(rgba, "planes.tif", OIIO::TypeDesc::UINT8,
         [](OIIO::ImageSpec& header) { header.attribute("planarconfig", "separate"); });
    save(rgba, "dense.tif", OIIO::TypeDesc::UINT8, [](OIIO::ImageSpec& header) {
        header.attribute("XResolution", 300.0f);
        header.attribute("YResolution", 150.0f);
    });
    for (const char* name : {"8.tif", "8-premultiplied.tif", "16.tif", "16-premultiplied.tif", "half.tif",
                             "float.tif", "grey.tif", "grey-alpha.tif", "lzw.tif", "tiled.tif", "planes.tif",
                             "dense.tif"}) {
        EXPECT_EQ(Read(name), ReadThroughLibrary(Path(name))) << name;
        Image image;
        std::string error;
        ImageInfo own, library;
        ASSERT_TRUE(ReadImage(Path(name), image, error, own)) << error;
        ASSERT_TRUE(zoka_image_library()->read(Path(name), image, error, library)) << error;
        EXPECT_EQ(own.hadAlpha, library.hadAlpha) << name;
        EXPECT_EQ(own.depth, library.depth) << name;
        EXPECT_EQ(own.metadata.xResolution, library.metadata.xResolution) << name;
        EXPECT_EQ(own.metadata.yResolution, library.metadata.yResolution) << name;
        EXPECT_EQ(own.metadata.unit, library.metadata.unit) << name;
    }
}

TEST_F(CliFiles, TiffsAreWrittenAsTheImageLibraryWroteThem) {
    const Image image = Noise(37, 19);
    for (const SampleDepth depth : {SampleDepth::kUint8, SampleDepth::kUint16, SampleDepth::kHalf, SampleDepth::kFloat}) {
        for (const bool colourOnly : {false, true}) {
            WriteExtras extras;
            extras.depth = depth;
            extras.colourOnly = colourOnly;
            std::string error;
            ASSERT_TRUE(WriteImage(Path("own.tif"), image, error, 1, extras)) << error;
            ASSERT_TRUE(zoka_image_library()->write(Path("library.tif"), image, error, extras)) << error;
            EXPECT_EQ(Decoded(Path("own.tif")), Decoded(Path("library.tif"))) << DepthName(depth) << colourOnly;
            EXPECT_EQ(StoredType(Path("own.tif")), StoredType(Path("library.tif"))) << DepthName(depth);
        }
    }
    // The image's place on the input layer's frame, in the resolution's unit.
    for (const double resolution : {0.0, 40.0}) {
        ImageMetadata metadata;
        metadata.xResolution = metadata.yResolution = resolution;
        metadata.unit = ImageMetadata::Unit::kCentimetre;
        WriteExtras extras;
        extras.x = 12;
        extras.y = 7;
        extras.frameWidth = 50;
        extras.frameHeight = 30;
        extras.metadata = &metadata;
        std::string error;
        ASSERT_TRUE(WriteImage(Path("own.tif"), image, error, 1, extras)) << error;
        ASSERT_TRUE(zoka_image_library()->write(Path("library.tif"), image, error, extras)) << error;
        const auto place = [&](const std::string& name) {
            auto input = OIIO::ImageInput::open(Path(name));
            const OIIO::ImageSpec& header = input->spec();
            return std::vector<int>{header.x, header.y, header.full_width, header.full_height};
        };
        EXPECT_EQ(place("own.tif"), place("library.tif")) << resolution;
        EXPECT_EQ(place("own.tif")[0], 12) << resolution;
    }
}

// Before, a JPEG cut off halfway was read with its lower half grey and an
// uncompressed TIFF cut to 200 bytes as an almost black picture, exit 0.
TEST_F(CliFiles, CutAndDamagedJpegsAndTiffsAreReadErrors) {
    const OIIO::ImageBuf photo = Photo(120, 90, 3);
    ASSERT_TRUE(photo.write(Path("whole.jpg")));
    WritePlainTiff(Path("whole.tif"), 120, 90);
    EXPECT_EQ(Read("whole.tif"), ReadThroughLibrary(Path("whole.tif")));
    const std::string jpeg = Contents(Path("whole.jpg")), tiff = Contents(Path("whole.tif"));
    std::ofstream(Path("half.jpg"), std::ios::binary) << jpeg.substr(0, jpeg.size() / 2);
    std::ofstream(Path("head.jpg"), std::ios::binary) << jpeg.substr(0, 300);
    std::string scrambled = jpeg;
    for (size_t i = jpeg.size() / 3; i < jpeg.size() / 3 + 40; ++i) scrambled[i] = char(0xff);
    std::ofstream(Path("damaged.jpg"), std::ios::binary) << scrambled;
    std::ofstream(Path("cut.tif"), std::ios::binary) << tiff.substr(0, 200);
    std::ofstream(Path("half.tif"), std::ios::binary) << tiff.substr(0, tiff.size() / 2);
    for (const char* name : {"half.jpg", "head.jpg", "damaged.jpg", "cut.tif", "half.tif"}) {
        const Run run = RunZoka({"render", "antimatter", Path(name), Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << name;
        EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("zoka: cannot read", 0), 0u) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

// Sizes are refused from the header, before any memory is taken for pixels.
TEST_F(CliFiles, HugeJpegsAndTiffsAreRefusedFromTheirHeader) {
    ASSERT_TRUE(Photo(16, 16, 3).write(Path("small.jpg")));
    std::string jpeg = Contents(Path("small.jpg"));
    const size_t frame = jpeg.find("\xff\xc0");
    ASSERT_NE(frame, std::string::npos);
    jpeg.replace(frame + 5, 4, "\x4e\x20\x4e\x20");  // 20000 x 20000
    std::ofstream(Path("huge.jpg"), std::ios::binary) << jpeg;
    std::string error;
    ASSERT_TRUE(WriteImage(Path("small.tif"), Image(3, 2, Pixel{255, 1, 2, 3}), error)) << error;
    TIFF* tiff = TIFFOpen(Path("small.tif").c_str(), "r+");
    ASSERT_NE(tiff, nullptr);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 65535u);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 65535u);
    TIFFRewriteDirectory(tiff);
    TIFFClose(tiff);
    for (const auto& [name, side] : {std::pair{"huge.jpg", 20000}, std::pair{"small.tif", 65535}}) {
        const Run run = RunZoka({"render", "antimatter", Path(name), Path("out.png")},
                                kAddressSanitizer ? "" : "ulimit -v 1000000");
        EXPECT_EQ(run.Status(), 3) << name;
        EXPECT_EQ(run.err, "zoka: cannot use " + Path(name) + ": it is " + std::to_string(side) + "x" +
                               std::to_string(side) +
                               " pixels; zoka takes up to 30000 pixels a side and 134217728 pixels in all\n");
    }
}

// A grey input whose result is grey is written grey, losing nothing; one
// whose result has colour stays RGB.
TEST_F(CliFiles, GreyResultsAreWrittenGrey) {
    const OIIO::ImageBuf grey = Photo(24, 16, 1);
    ASSERT_TRUE(grey.write(Path("grey.png"), OIIO::TypeDesc::UINT8));
    ASSERT_TRUE(grey.write(Path("grey.tif"), OIIO::TypeDesc::UINT8));
    ASSERT_TRUE(grey.write(Path("grey.jpg")));
    const auto channels = [&](const std::string& name) {
        auto input = OIIO::ImageInput::open(Path(name));
        return input ? input->spec().nchannels : 0;
    };
    for (const std::string input : {"grey.png", "grey.tif", "grey.jpg"}) {
        const std::string extension = input.substr(input.find('.'));
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path(input) + " " + Path("out" + extension)))) << input;
        EXPECT_EQ(channels("out" + extension), 1) << input;
        ASSERT_TRUE(Succeeded(Zoka("render glow " + Path(input) + " " + Path("glow" + extension) + " --set Color=orange")));
        EXPECT_EQ(channels("glow" + extension), extension == ".jpg" ? 3 : 4) << "an orange glow around it";
    }
    // The grey files hold the pixels the RGB files would have.
    for (const std::string extension : {".png", ".tif"}) {
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("grey" + extension) + " " + Path("rgb.exr"))));
        EXPECT_EQ(Read("out" + extension), Read("rgb.exr")) << extension;
    }
    ASSERT_TRUE(Succeeded(Zoka("render gaussianblur " + Path("grey.png") + " " + Path("soft.png") + " --set Width=4")));
    EXPECT_EQ(channels("soft.png"), 2) << "grey with the grown edge's alpha";
}

// The EXIF block carried keeps EXIF's and GPS's tags, not the first
// directory's description of the file it came in.
TEST(ExifBlock, TheImagesOwnTagsAreLeftBehind) {
    OIIO::ImageSpec tags;
    tags.attribute("Exif:LensModel", "zoka lens");
    tags.attribute("Exif:FocalLength", 35.0f);
    tags.attribute("Make", "camera maker");
    tags.attribute("Orientation", 6);
    for (const OIIO::endian order : {OIIO::endian::big, OIIO::endian::little}) {
        std::vector<char> blob;
        OIIO::encode_exif(tags, blob, order);
        const size_t skip = std::string(blob.data(), 4) == std::string("Exif", 4) ? 6 : 0;
        const std::vector<uint8_t> kept = ExifOfTheImage(reinterpret_cast<const uint8_t*>(blob.data()) + skip,
                                                         blob.size() - skip);
        ASSERT_FALSE(kept.empty());
        OIIO::ImageSpec decoded;
        OIIO::decode_exif(OIIO::cspan<uint8_t>(kept.data(), int64_t(kept.size())), decoded);
        EXPECT_EQ(decoded.get_string_attribute("Exif:LensModel"), "zoka lens");
        EXPECT_FLOAT_EQ(decoded.get_float_attribute("Exif:FocalLength"), 35.0f);
        EXPECT_EQ(decoded.get_string_attribute("Make"), "");
        EXPECT_EQ(decoded.get_int_attribute("Orientation", 0), 0);
    }
    const uint8_t damaged[] = {'M', 'M', 0, 42, 0xff, 0xff, 0xff, 0xf0, 0, 1};
    EXPECT_TRUE(ExifOfTheImage(damaged, sizeof damaged).empty());
}

// TIFF files carry the block as EXIF and GPS directories of their own, in
// either byte order, and give it back (OpenImageIO shows no GPS of TIFF
// files).
TEST_F(Depth, ExifAndGpsGoThroughTiffs) {
    OIIO::ImageSpec tags;
    tags.attribute("Exif:LensModel", "zoka lens");
    tags.attribute("GPS:Altitude", 1234.5f);
    for (const OIIO::endian order : {OIIO::endian::big, OIIO::endian::little}) {
        std::vector<char> blob;
        OIIO::encode_exif(tags, blob, order);
        const size_t skip = std::string(blob.data(), 4) == std::string("Exif", 4) ? 6 : 0;
        ImageMetadata metadata;
        metadata.exif.assign(blob.begin() + static_cast<std::ptrdiff_t>(skip), blob.end());
        WriteExtras extras;
        extras.metadata = &metadata;
        std::string error;
        ASSERT_TRUE(WriteImage(Path("gps.tif"), Image(5, 3, Pixel{255, 7, 8, 9}), error, 1, extras)) << error;
        const std::string text = Info(Path("gps.tif"));
        EXPECT_NE(text.find("Exif:LensModel: \"zoka lens\""), std::string::npos) << text;
        Image image;
        ImageInfo info;
        ASSERT_TRUE(ReadImage(Path("gps.tif"), image, error, info)) << error;
        OIIO::ImageSpec decoded;
        OIIO::decode_exif(OIIO::cspan<uint8_t>(info.metadata.exif.data(), int64_t(info.metadata.exif.size())),
                          decoded);
        EXPECT_EQ(decoded.get_string_attribute("Exif:LensModel"), "zoka lens");
        EXPECT_FLOAT_EQ(decoded.get_float_attribute("GPS:Altitude"), 1234.5f);
    }
}

}  // namespace
}  // namespace zoka_cli
