#include "cli/image_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imageio.h>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

namespace zoka_cli {

namespace {

using OIIO::ImageBuf;
using OIIO::ImageSpec;
using OIIO::TypeDesc;

uint8_t ToByte(float v) {
    if (!(v > 0)) return 0;
    if (v >= 1) return 255;
    return static_cast<uint8_t>(std::lround(v * 255.0f));
}

// The straight colour of one pixel from its channels as read.
ourhost::Pixel StraightPixel(const float* p, int channels, int alphaChannel, bool associated) {
    const float alpha = alphaChannel >= 0 ? p[alphaChannel] : 1.0f;
    float rgb[3];
    const int colours = std::min(alphaChannel >= 0 ? alphaChannel : channels, 3);
    for (int c = 0; c < 3; ++c) rgb[c] = p[colours == 0 ? 0 : std::min(c, colours - 1)];
    if (associated && alphaChannel >= 0) {
        for (float& v : rgb) v = alpha > 0 ? v / alpha : 0;
    }
    return ourhost::Pixel{ToByte(alpha), ToByte(rgb[0]), ToByte(rgb[1]), ToByte(rgb[2])};
}

std::string FileFolder(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Some format libraries print their complaints straight to standard error;
// the reader's own message says the same in one line, so they are silenced
// while a file is read.
class QuietStandardError {
public:
    QuietStandardError() : saved_(dup(STDERR_FILENO)) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    }
    ~QuietStandardError() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
        }
    }
    QuietStandardError(const QuietStandardError&) = delete;
    QuietStandardError& operator=(const QuietStandardError&) = delete;

private:
    int saved_;
};

// One line: the reader's messages may span several.
std::string OneLine(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    return text;
}

// A hidden file next to path: the same folder, so the rename cannot cross
// file systems; the same extension, so the writer picks the same format.
std::string TemporaryFor(const std::string& path) {
    return FileFolder(path) + "/.zoka-" + std::to_string(getpid()) + "-" +
           path.substr(path.find_last_of('/') + 1);
}

// Renames the finished temporary file to path, or removes what was written.
bool Publish(bool written, const std::string& temporary, const std::string& path,
             OIIO::ImageOutput& output, std::string& error) {
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
    error = "cannot write " + path + ": " + (written ? "cannot rename the finished file" : output.geterror());
    std::remove(temporary.c_str());
    return false;
}

}  // namespace

bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error) {
    ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    auto quiet = std::make_unique<QuietStandardError>();
    ImageBuf buffer(path, 0, 0, nullptr, &config);
    const bool read = buffer.read(0, 0, true, TypeDesc::FLOAT);
    quiet.reset();
    if (!read) {
        error = "cannot read " + path + ": " + OneLine(buffer.geterror());
        return false;
    }
    const ImageSpec& spec = buffer.spec();
    if (spec.width < 1 || spec.height < 1 || spec.width > 32000 || spec.height > 32000 ||
        spec.nchannels < 1) {
        error = "cannot use " + path + ": its size is " + std::to_string(spec.width) + "x" +
                std::to_string(spec.height);
        return false;
    }
    const bool associated = spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
    int alphaChannel = spec.alpha_channel;
    if (alphaChannel < 0 && (spec.nchannels == 2 || spec.nchannels == 4)) alphaChannel = spec.nchannels - 1;
    std::vector<float> pixels(static_cast<size_t>(spec.width) * spec.height * spec.nchannels);
    if (!buffer.get_pixels(buffer.roi(), TypeDesc::FLOAT, pixels.data())) {
        error = "cannot read the pixels of " + path + ": " + buffer.geterror();
        return false;
    }
    image = ourhost::Image(spec.width, spec.height);
    for (int y = 0; y < spec.height; ++y) {
        for (int x = 0; x < spec.width; ++x) {
            const float* p = &pixels[(static_cast<size_t>(y) * spec.width + x) * spec.nchannels];
            image.Set(x, y, StraightPixel(p, spec.nchannels, alphaChannel, associated));
        }
    }
    return true;
}

bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error) {
    auto output = OIIO::ImageOutput::create(path);
    if (!output) {
        error = "cannot write " + path + ": " + OIIO::geterror();
        return false;
    }
    const bool alpha = output->supports("alpha");
    const bool premultiply = std::string(output->format_name()) == "openexr";
    const int channels = alpha ? 4 : 3;
    ImageSpec spec(image.Width(), image.Height(), channels, TypeDesc::UINT8);
    if (alpha) {
        spec.alpha_channel = 3;
        spec.attribute("oiio:UnassociatedAlpha", premultiply ? 0 : 1);
    }
    std::vector<uint8_t> pixels;
    pixels.reserve(static_cast<size_t>(image.Width()) * image.Height() * channels);
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            const ourhost::Pixel p = image.At(x, y);
            const auto scale = [&](uint8_t v) {
                return premultiply ? static_cast<uint8_t>((v * p.a + 127) / 255) : v;
            };
            pixels.insert(pixels.end(), {scale(p.r), scale(p.g), scale(p.b)});
            if (alpha) pixels.push_back(p.a);
        }
    }
    const std::string temporary = TemporaryFor(path);
    const bool written = output->open(temporary, spec) &&
                         output->write_image(TypeDesc::UINT8, pixels.data()) && output->close();
    return Publish(written, temporary, path, *output, error);
}

bool WriteAnimation(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                    std::string& error) {
    auto output = OIIO::ImageOutput::create(path);
    if (!output || frames.empty()) {
        error = "cannot write " + path + ": " + (output ? "no frames" : OIIO::geterror());
        return false;
    }
    ImageSpec spec(frames[0].Width(), frames[0].Height(), 3, TypeDesc::UINT8);
    const int rate[2] = {fps, 1};
    spec.attribute("FramesPerSecond", TypeDesc::TypeRational, rate);
    spec.attribute("oiio:Movie", 1);
    spec.attribute("oiio:LoopCount", 0);
    const std::vector<ImageSpec> specs(frames.size(), spec);
    const std::string temporary = TemporaryFor(path);
    bool written = output->open(temporary, static_cast<int>(specs.size()), specs.data());
    for (size_t i = 0; written && i < frames.size(); ++i) {
        std::vector<uint8_t> pixels;
        for (int y = 0; y < spec.height; ++y) {
            for (int x = 0; x < spec.width; ++x) {
                const ourhost::Pixel p = frames[i].At(x, y);
                pixels.insert(pixels.end(), {p.r, p.g, p.b});
            }
        }
        written = (i == 0 || output->open(temporary, spec, OIIO::ImageOutput::AppendSubimage)) &&
                  output->write_image(TypeDesc::UINT8, pixels.data());
    }
    written = output->close() && written;
    return Publish(written, temporary, path, *output, error);
}

}  // namespace zoka_cli
