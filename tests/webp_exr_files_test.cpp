// OpenEXR and WebP through their own libraries, and PNG on noisy content:
// the values the image library wrote and read before, kept; damaged files
// refused in one line; the image library left unloaded for them.

#include <glob.h>

#include "images/image_library.h"
#include "tests/support/cli_fixtures.h"

namespace zoka_cli {
namespace {

using namespace testing_cli;

// Every alpha from clear to opaque under varied colour, the colour under
// clear pixels included.
Image Gradient(int width, int height) {
    Image image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            image.Set(x, y, Pixel{uint8_t((x * 37 + y * 11) % 256), uint8_t(x * 255 / std::max(1, width - 1)),
                                  uint8_t((y * 7 + x) % 256), uint8_t(255 - y * 255 / std::max(1, height - 1))});
        }
    }
    return image;
}

bool SameImage(const Image& a, const Image& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && a.Bytes() == b.Bytes();
}

class Formats : public CliFiles {
protected:
    const ImageLibrary& Library() const { return *zoka_image_library(); }
    // A file's stored samples as floats, with its windows and type.
    struct Stored {
        OIIO::ImageSpec spec;
        std::vector<float> samples;
    };
    static Stored Samples(const std::string& path) {
        Stored stored;
        auto in = OIIO::ImageInput::open(path);
        if (!in) return stored;
        stored.spec = in->spec();
        stored.samples.resize(stored.spec.image_pixels() * stored.spec.nchannels);
        in->read_image(0, 0, 0, stored.spec.nchannels, OIIO::TypeDesc::FLOAT, stored.samples.data());
        return stored;
    }
    // zoka renders once, the standard error reporting every library the
    // loader opens: whether the image library was among them.
    bool LoadsTheImageLibrary(const std::vector<std::string>& args) {
        const std::string trace = Path("loader");
        const Run run = RunZoka(args, "export LD_DEBUG=files LD_DEBUG_OUTPUT=" + trace);
        EXPECT_EQ(run.Status(), 0) << run.err;
        bool loaded = false;
        glob_t found{};
        if (glob((trace + ".*").c_str(), 0, nullptr, &found) == 0) {
            for (size_t i = 0; i < found.gl_pathc; ++i) {
                loaded = loaded || Contents(found.gl_pathv[i]).find(kImageLibraryFile) != std::string::npos;
                fs::remove(found.gl_pathv[i]);
            }
        }
        globfree(&found);
        return loaded;
    }
    // zoka refuses the file in one line, exit 3, writing nothing.
    void RefusedInOneLine(const std::string& name, const std::string& start) {
        const Run run = RunZoka({"render", "antimatter", Path(name), Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << name << " " << run.err;
        EXPECT_EQ(run.ErrorLines(), 1u) << name << " " << run.err;
        EXPECT_EQ(run.err.rfind("zoka: " + start, 0), 0u) << name << " " << run.err;
        EXPECT_FALSE(fs::exists(Path("out.png"))) << name;
    }
    void Cut(const std::string& from, const std::string& to, size_t bytes) {
        std::ofstream(Path(to), std::ios::binary) << Contents(Path(from)).substr(0, bytes);
    }
};

// ---- OpenEXR ------------------------------------------------------------------

// Half and float, with and without alpha, placed off the frame's corner:
// the stored values, windows and resolution are the image library's, and
// so is what is read back, from its files and from ours.
TEST_F(Formats, ExrFilesHoldTheValuesTheImageLibraryWrote) {
    const Image image = Gradient(37, 21);
    ImageMetadata metadata;
    metadata.xResolution = metadata.yResolution = 40;
    metadata.unit = ImageMetadata::Unit::kCentimetre;
    for (const SampleDepth depth : {SampleDepth::kHalf, SampleDepth::kFloat}) {
        for (const bool colourOnly : {false, true}) {
            WriteExtras extras;
            extras.x = -5;
            extras.y = 3;
            extras.frameWidth = 30;
            extras.frameHeight = 20;
            extras.depth = depth;
            extras.colourOnly = colourOnly;
            extras.metadata = &metadata;
            const std::string trace = std::string(DepthName(depth)) + (colourOnly ? " RGB" : " RGBA");
            std::string error;
            ASSERT_TRUE(WriteImage(Path("ours.exr"), image, error, 1, extras)) << error;
            ASSERT_TRUE(Library().write(Path("theirs.exr"), image, error, extras)) << error;
            const Stored ours = Samples(Path("ours.exr")), theirs = Samples(Path("theirs.exr"));
            EXPECT_EQ(ours.spec.format, theirs.spec.format) << trace;
            EXPECT_EQ(ours.spec.nchannels, colourOnly ? 3 : 4) << trace;
            EXPECT_EQ(ours.spec.channelnames, theirs.spec.channelnames) << trace;
            EXPECT_EQ(std::make_pair(ours.spec.x, ours.spec.y), std::make_pair(-5, 3)) << trace;
            EXPECT_EQ(std::make_pair(ours.spec.full_width, ours.spec.full_height), std::make_pair(30, 20)) << trace;
            EXPECT_EQ(ours.samples, theirs.samples) << trace;
            EXPECT_FLOAT_EQ(ours.spec.get_float_attribute("XResolution"), 101.6f) << trace;
            EXPECT_EQ(ours.spec.get_string_attribute("compression"), "zip") << trace;
            for (const char* name : {"ours.exr", "theirs.exr"}) {
                Image read, before;
                ImageInfo info, infoBefore;
                ASSERT_TRUE(ReadImage(Path(name), read, error, info)) << error;
                ASSERT_TRUE(Library().read(Path(name), before, error, infoBefore)) << error;
                EXPECT_TRUE(SameImage(read, before)) << trace << " " << name;
                EXPECT_EQ(info.hadAlpha, !colourOnly) << trace;
                EXPECT_EQ(info.depth, depth) << trace;
                EXPECT_EQ(info.metadata.xResolution, infoBefore.metadata.xResolution) << trace;
                EXPECT_EQ(info.metadata.yResolution, infoBefore.metadata.yResolution) << trace;
                EXPECT_EQ(info.metadata.unit, infoBefore.metadata.unit) << trace;
            }
        }
    }
}

// Files with other channels (depth, grey) are still the image library's,
// and read as before.
TEST_F(Formats, ExrFilesWithOtherChannelsAreReadAsBefore) {
    const auto write = [&](const std::string& name, std::vector<std::string> channels) {
        OIIO::ImageSpec spec(5, 3, static_cast<int>(channels.size()), OIIO::TypeDesc::HALF);
        spec.channelnames = channels;
        spec.alpha_channel = -1;
        for (size_t c = 0; c < channels.size(); ++c) {
            if (channels[c] == "A") spec.alpha_channel = static_cast<int>(c);
        }
        std::vector<float> values(spec.image_pixels() * channels.size());
        for (size_t i = 0; i < values.size(); ++i) values[i] = static_cast<float>(i % 11) / 10.0f;
        auto out = OIIO::ImageOutput::create(Path(name));
        ASSERT_TRUE(out && out->open(Path(name), spec) && out->write_image(OIIO::TypeDesc::FLOAT, values.data()));
        out->close();
    };
    write("depth.exr", {"R", "G", "B", "A", "Z"});
    write("grey.exr", {"Y"});
    write("colour.exr", {"R", "G", "B"});
    for (const char* name : {"depth.exr", "grey.exr", "colour.exr"}) {
        Image read, before;
        ImageInfo info, infoBefore;
        std::string error;
        ASSERT_TRUE(ReadImage(Path(name), read, error, info)) << name << error;
        ASSERT_TRUE(Library().read(Path(name), before, error, infoBefore)) << name << error;
        EXPECT_TRUE(SameImage(read, before)) << name;
        EXPECT_EQ(info.hadAlpha, infoBefore.hadAlpha) << name;
    }
}

// Cut short anywhere, damaged inside, or declaring a size too large: the
// one-line read error, exit 3, nothing written.
TEST_F(Formats, DamagedExrFilesGiveOneLine) {
    const std::string whole = Write("whole.exr", Noise(64, 64));
    const size_t size = fs::file_size(whole);
    Cut("whole.exr", "magic.exr", 4);
    Cut("whole.exr", "header.exr", 60);
    Cut("whole.exr", "offsets.exr", size / 20);
    Cut("whole.exr", "half.exr", size / 2);
    Cut("whole.exr", "last.exr", size - 1);
    std::string damaged = Contents(whole);
    for (size_t i = size / 2; i < size / 2 + 64; ++i) damaged[i] = static_cast<char>(~damaged[i]);
    std::ofstream(Path("damaged.exr"), std::ios::binary) << damaged;
    for (const char* name : {"magic.exr", "header.exr", "offsets.exr", "half.exr", "last.exr", "damaged.exr"}) {
        RefusedInOneLine(name, "cannot read " + Path(name) + ": ");
    }
    // The data window's right edge (the third of its four numbers) moved
    // far out: refused from the header.
    std::string wide = Contents(whole);
    const std::string key = std::string("dataWindow\0box2i\0", 17);
    const size_t at = wide.find(key);
    ASSERT_NE(at, std::string::npos);
    const int32_t right = 39999;
    std::memcpy(&wide[at + key.size() + 4 + 8], &right, sizeof right);
    std::ofstream(Path("wide.exr"), std::ios::binary) << wide;
    RefusedInOneLine("wide.exr", "cannot use " + Path("wide.exr") + ": it is 40000x64 pixels");
    // A text attribute saying it is 2 GB long, in a file of a few
    // kilobytes: refused before anything is allocated by it.
    std::string greedy = Contents(whole);
    const std::string date = std::string("capDate\0string\0", 15);
    const size_t text = greedy.find(date);
    ASSERT_NE(text, std::string::npos);
    const int32_t claimed = 0x7ffffff0;
    std::memcpy(&greedy[text + date.size()], &claimed, sizeof claimed);
    std::ofstream(Path("greedy.exr"), std::ios::binary) << greedy;
    RefusedInOneLine("greedy.exr", "cannot read " + Path("greedy.exr") + ": its header is damaged or cut short");
}

// Tiles or a part far larger than the image, in files either reader takes:
// refused from the header, before OpenEXR allocates by them.
TEST_F(Formats, HugeTilesAndPartsAreRefusedFromTheirHeader) {
    OIIO::ImageSpec spec(4, 3, 4, OIIO::TypeDesc::HALF);
    spec.tile_width = spec.tile_height = 4;
    const std::vector<float> values(spec.image_pixels() * 4, 0.5f);
    const auto write = [&](const std::string& name, const OIIO::ImageSpec& format, int parts) {
        auto out = OIIO::ImageOutput::create(Path(name));
        const std::vector<OIIO::ImageSpec> specs(parts, format);
        ASSERT_TRUE(out && out->open(Path(name), parts, specs.data()));
        for (int part = 0; part < parts; ++part) {
            if (part > 0) {
                ASSERT_TRUE(out->open(Path(name), format, OIIO::ImageOutput::AppendSubimage));
            }
            ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, values.data()));
        }
        out->close();
    };
    // The last match of an attribute's name and type, and its value there.
    const auto patch = [&](const std::string& name, const std::string& attribute, size_t offset, int32_t value) {
        std::string bytes = Contents(Path(name));
        const size_t at = bytes.rfind(attribute);
        ASSERT_NE(at, std::string::npos) << name;
        std::memcpy(&bytes[at + attribute.size() + 4 + offset], &value, sizeof value);
        std::ofstream(Path(name), std::ios::binary) << bytes;
    };
    const std::string tiles = std::string("tiles\0tiledesc\0", 15);
    // Our own reader's file, and one with EXIF, left to the image library.
    write("tall-tiles.exr", spec, 1);
    OIIO::ImageSpec exif = spec;
    exif.attribute("Exif:ImageHistory", "tiled");
    write("tall-tiles-exif.exr", exif, 1);
    for (const char* name : {"tall-tiles.exr", "tall-tiles-exif.exr"}) {
        patch(name, tiles, 4, 51011588);
        RefusedInOneLine(name, "cannot use " + Path(name) + ": its tiles are 4x51011588 pixels");
    }
    // A multi-part file, the image library's, whose second part is wide.
    write("wide-part.exr", spec, 2);
    patch("wide-part.exr", std::string("dataWindow\0box2i\0", 17), 8, 39999);
    RefusedInOneLine("wide-part.exr", "cannot use " + Path("wide-part.exr") + ": it is 40000x3 pixels");
    // Its first part alone is read as before.
    write("parts.exr", spec, 2);
    const Run run = RunZoka({"render", "antimatter", Path("parts.exr"), Path("out.png")});
    EXPECT_EQ(run.Status(), 0) << run.err;
}

// ---- WebP ---------------------------------------------------------------------

// Lossless by default: every value back, straight alpha and the colour
// under clear pixels included; opaque images are stored without alpha.
TEST_F(Formats, WebpFilesKeepEveryValue) {
    const Image image = Gradient(45, 30);
    Write("layer.webp", image);
    Image read;
    ImageInfo info;
    std::string error;
    ASSERT_TRUE(ReadImage(Path("layer.webp"), read, error, info)) << error;
    EXPECT_TRUE(SameImage(read, image));
    EXPECT_TRUE(info.hadAlpha);
    EXPECT_EQ(info.depth, SampleDepth::kUint8);

    const Image opaque = Noise(33, 17);
    Write("opaque.webp", opaque);
    ASSERT_TRUE(ReadImage(Path("opaque.webp"), read, error, info)) << error;
    EXPECT_TRUE(SameImage(read, opaque));
    EXPECT_FALSE(info.hadAlpha);
    // What the image library reads of an opaque file is what zoka reads.
    Image before;
    ImageInfo infoBefore;
    ASSERT_TRUE(Library().read(Path("opaque.webp"), before, error, infoBefore)) << error;
    EXPECT_TRUE(SameImage(before, opaque));

    // Through the command line, and through standard input and output.
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("layer.webp") + " " + Path("out.webp") + " --set Amount=0")));
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("layer.webp") + " " + Path("out.png") + " --set Amount=0")));
    EXPECT_TRUE(SameImage(Read("out.webp"), Read("out.png")));
    ASSERT_EQ(Zoka("render antimatter - - --format webp --set Amount=0 < " + Path("layer.webp") + " > " +
                   Path("piped.webp"))
                  .status,
              0);
    EXPECT_EQ(Contents(Path("piped.webp")), Contents(Path("out.webp")));
    EXPECT_EQ(Zoka("render antimatter " + Path("layer.webp") + " " + Path("x.webp") + " -d uint16").err,
              "zoka: -d uint16: WEBP files hold 8 bits\n");
}

// An extended file's ICC profile and EXIF go with the image, as the image
// library carried EXIF before.
TEST_F(Formats, WebpProfilesAndExifAreRead) {
    const std::string plain = Contents(Write("plain.webp", Gradient(8, 6)));
    const auto chunk = [](const std::string& name, const std::string& body) {
        std::string bytes = name;
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>(body.size() >> (8 * i));
        return bytes + body + (body.size() % 2 != 0 ? std::string(1, '\0') : "");
    };
    OIIO::ImageSpec exifSpec;
    exifSpec.attribute("Exif:LensModel", "zoka lens");
    std::vector<char> blob;
    OIIO::encode_exif(exifSpec, blob, OIIO::endian::little);
    const std::string exif(blob.begin(), blob.end()), profile = "a profile of odd length";
    // Flags (ICC, alpha, EXIF), three reserved bytes, width and height less
    // one in three bytes each.
    const std::string header = std::string("\x38\0\0\0\x07\0\0\x05\0\0", 10);
    const std::string body = "WEBP" + chunk("VP8X", header) + chunk("ICCP", profile) + plain.substr(12) +
                             chunk("EXIF", exif);
    std::string file = "RIFF";
    for (int i = 0; i < 4; ++i) file += static_cast<char>(body.size() >> (8 * i));
    std::ofstream(Path("extended.webp"), std::ios::binary) << file + body;
    Image image;
    ImageInfo info;
    std::string error;
    ASSERT_TRUE(ReadImage(Path("extended.webp"), image, error, info)) << error;
    EXPECT_TRUE(SameImage(image, Gradient(8, 6)));
    EXPECT_EQ(std::string(info.metadata.icc.begin(), info.metadata.icc.end()), profile);
    OIIO::ImageSpec decoded;
    const size_t skip = exif.rfind("Exif", 0) == 0 ? 6 : 0;
    EXPECT_EQ(std::string(info.metadata.exif.begin(), info.metadata.exif.end()), exif.substr(skip));
    OIIO::decode_exif(OIIO::cspan<uint8_t>(info.metadata.exif.data(), int64_t(info.metadata.exif.size())), decoded);
    EXPECT_EQ(decoded.get_string_attribute("Exif:LensModel"), "zoka lens");
}

// --quality writes lossy WebP: smaller, near the values, alpha kept.
TEST_F(Formats, WebpQualityWritesLossyFiles) {
    Image smooth(96, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) smooth.Set(x, y, Pixel{uint8_t(y * 4), uint8_t(x * 2), uint8_t(y * 3), 90});
    }
    const std::string input = Write("smooth.png", smooth);
    for (const std::string name : {"rendered.png", "lossless.webp"}) {
        ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path(name) + " --set Amount=0")));
    }
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("lossy.webp") + " --set Amount=0 --quality 60")));
    EXPECT_LT(fs::file_size(Path("lossy.webp")), fs::file_size(Path("lossless.webp")));
    const Image rendered = Read("rendered.png");
    EXPECT_TRUE(SameImage(Read("lossless.webp"), rendered));
    const Image lossy = Read("lossy.webp");
    ASSERT_EQ(lossy.Width(), 96);
    int worst = 0;
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) {
            const Pixel a = lossy.At(x, y), b = rendered.At(x, y);
            EXPECT_EQ(a.a, b.a) << "alpha is lossless";
            worst = std::max({worst, std::abs(a.r - b.r), std::abs(a.g - b.g), std::abs(a.b - b.b)});
        }
    }
    EXPECT_LE(worst, 32) << "the colour where it was, in its channels";
}

TEST_F(Formats, DamagedWebpFilesGiveOneLine) {
    const std::string whole = Write("whole.webp", Noise(64, 64));
    const size_t size = fs::file_size(whole);
    Cut("whole.webp", "riff.webp", 12);
    Cut("whole.webp", "header.webp", 24);
    Cut("whole.webp", "half.webp", size / 2);
    Cut("whole.webp", "last.webp", size - 1);
    // WebP's pixels carry no checksum: damage there can decode as other
    // pixels. A damaged chunk signature cannot.
    std::string damaged = Contents(whole);
    ASSERT_EQ(damaged.compare(12, 4, "VP8L"), 0);
    damaged[20] = '\x11';
    std::ofstream(Path("damaged.webp"), std::ios::binary) << damaged;
    for (const char* name : {"riff.webp", "header.webp", "half.webp", "last.webp", "damaged.webp"}) {
        RefusedInOneLine(name, "cannot read " + Path(name) + ": ");
    }
    // A lossless header declaring WebP's largest size, 16383 a side: too
    // many pixels, refused before decoding. The 14-bit width and height
    // less one follow the chunk's signature byte, lowest bits first.
    std::string large = Contents(whole);
    ASSERT_EQ(large.compare(12, 4, "VP8L"), 0);
    const uint32_t bits = 16382u | 16382u << 14;
    for (int i = 0; i < 3; ++i) large[21 + i] = static_cast<char>(bits >> (8 * i));
    large[24] = static_cast<char>((static_cast<uint8_t>(large[24]) & 0xf0) | (bits >> 24));
    std::ofstream(Path("large.webp"), std::ios::binary) << large;
    RefusedInOneLine("large.webp", "cannot use " + Path("large.webp") + ": it is 16383x16383 pixels");
}

// ---- Start-up: the formats zoka reads and writes itself load no image
// library ------------------------------------------------------------------------

TEST_F(Formats, PngExrAndWebpNeedNoImageLibrary) {
    const std::string png = Write("in.png", Gradient(20, 10));
    EXPECT_FALSE(LoadsTheImageLibrary({"render", "glow", png, Path("out.exr")}));
    EXPECT_FALSE(LoadsTheImageLibrary({"render", "glow", Path("out.exr"), Path("out.webp")}));
    EXPECT_FALSE(LoadsTheImageLibrary({"render", "glow", Path("out.webp"), Path("again.png")}));
    EXPECT_FALSE(LoadsTheImageLibrary({"render", "glow", png, Path("float.exr"), "-d", "float"}));
    EXPECT_TRUE(LoadsTheImageLibrary({"render", "glow", png, Path("out.bmp")})) << "the check sees a load";
}

// ---- PNG on noisy content -------------------------------------------------------

// An image noisy in its middle rows (written by runs at the default level)
// and repeating above and below them: its pixels read back the same at
// every level, in zoka and in other readers, and a higher level still finds
// the repeats runs cannot, for a smaller file.
TEST_F(Formats, NoisyPngFilesKeepTheirPixels) {
    const Image noise = Noise(300, 120);
    Image image(300, 240);
    for (int y = 0; y < 240; ++y) {
        for (int x = 0; x < 300; ++x) {
            image.Set(x, y, y >= 60 && y < 180 ? noise.At(x, y - 60) : noise.At((x + y) % 7, 0));
        }
    }
    const std::string input = Write("noise.png", image);
    for (const char* level : {"0", "1", "9"}) {
        ASSERT_EQ(Zoka("render antimatter " + input + " " + Path(std::string("level") + level + ".png") +
                       " --set Amount=0 --compression " + level)
                      .status,
                  0);
    }
    const Image stored = Read("level0.png");
    EXPECT_TRUE(SameImage(Read("level1.png"), stored));
    EXPECT_TRUE(SameImage(Read("level9.png"), stored));
    EXPECT_EQ(Samples(Path("level1.png")).samples, Samples(Path("level0.png")).samples) << "as another reader sees them";
    EXPECT_GT(fs::file_size(Path("level1.png")), fs::file_size(Path("level9.png")));
}

}  // namespace
}  // namespace zoka_cli
