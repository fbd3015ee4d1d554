#include "images/standard_streams.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "images/descriptor_io.h"
#include "images/image_files.h"

namespace zoka_images {

namespace {

bool StartsWith(const std::string& text, const char* prefix, size_t length) {
    return text.size() >= length && std::memcmp(text.data(), prefix, length) == 0;
}

// The temporary files standing for the streams now, for messages.
std::string inputPath;
std::string outputPath;

void Replace(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace

bool HoldClosedStandardStreams() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) >= 0 || errno != EBADF) continue;
        // The lowest free number is this one: those below it are open by now.
        if (open("/dev/null", stream == STDIN_FILENO ? O_WRONLY : O_RDONLY) != stream) return false;
    }
    return true;
}

std::string TemporaryFolder() {
    const char* folder = std::getenv("TMPDIR");
    return folder != nullptr && folder[0] != '\0' ? folder : "/tmp";
}

std::string FormatForStandardOutput(const std::string& format, std::string& error) {
    DepthSet held = 0;
    std::string name;
    const bool plain = !format.empty() && format.size() <= 8 &&
                       std::all_of(format.begin(), format.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
    if (!plain || !DepthsHeld("-." + format, held, name, error)) {
        error = "--format takes an image format zoka writes (png, jpg, tif, exr, ...), not \"" + format + "\"";
        return {};
    }
    if (isatty(STDOUT_FILENO)) {
        error = "will not write " + name + " bytes to a terminal: redirect standard output, or name a file";
        return {};
    }
    // A reader that goes away (| head) makes writes fail with EPIPE, reported
    // like any failed write, instead of ending zoka with its temporary files.
    signal(SIGPIPE, SIG_IGN);
    return name;
}

bool CopyToStandardOutput(const std::string& path, std::string& error) {
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        error = std::string("cannot read back the image for standard output: ") + std::strerror(errno);
        return false;
    }
    std::array<char, 1 << 16> buffer;
    bool sent = true;
    for (ssize_t n; sent && (n = ReadUpTo(descriptor, buffer.data(), buffer.size())) != 0;) {
        sent = n > 0 && WriteAll(STDOUT_FILENO, buffer.data(), static_cast<size_t>(n));
    }
    const int why = errno;
    close(descriptor);
    if (!sent) error = std::string("cannot write standard output: ") + std::strerror(why);
    return sent;
}

std::string FormatOfBytes(const std::string& head) {
    struct Signature {
        const char* bytes;
        size_t length;
        const char* format;
    };
    static constexpr Signature kSignatures[] = {
        {"\x89PNG\r\n\x1a\n", 8, "png"}, {"\xff\xd8\xff", 3, "jpg"},      {"II*\0", 4, "tif"},
        {"MM\0*", 4, "tif"},             {"v/1\x01", 4, "exr"},           {"BM", 2, "bmp"},
        {"GIF87a", 6, "gif"},            {"GIF89a", 6, "gif"},            {"#?RADIANCE", 10, "hdr"},
        {"#?RGBE", 6, "hdr"},            {"SDPX", 4, "dpx"},              {"XPDS", 4, "dpx"},
        {"8BPS", 4, "psd"},
    };
    for (const Signature& s : kSignatures) {
        if (StartsWith(head, s.bytes, s.length)) return s.format;
    }
    if (head.size() >= 12 && StartsWith(head, "RIFF", 4) && head.compare(8, 4, "WEBP") == 0) return "webp";
    // Netpbm: P1 to P6, then white space.
    if (head.size() >= 3 && head[0] == 'P' && head[1] >= '1' && head[1] <= '6' &&
        std::strchr(" \t\r\n", head[2]) != nullptr) {
        return "pnm";
    }
    return {};
}

StandardInput::StandardInput(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {
    inputPath = Path();
}

StandardInput::~StandardInput() { inputPath.clear(); }

StandardOutput::StandardOutput(std::unique_ptr<OutputFile> file) : file_(std::move(file)) {
    outputPath = Path();
}

StandardOutput::~StandardOutput() { outputPath.clear(); }

std::unique_ptr<StandardInput> StandardInput::Take(std::string& error) {
    if (isatty(STDIN_FILENO)) {
        error = "standard input is a terminal: pipe an image into zoka, or name a file";
        return nullptr;
    }
    std::array<char, 1 << 16> buffer;
    const ssize_t first = ReadUpTo(STDIN_FILENO, buffer.data(), buffer.size());
    if (first < 0) {
        error = std::string("cannot read standard input: ") + std::strerror(errno);
        return nullptr;
    }
    if (first == 0) {
        error = "standard input is empty: no image came";
        return nullptr;
    }
    const std::string format = FormatOfBytes(std::string(buffer.data(), static_cast<size_t>(std::min<ssize_t>(first, 16))));
    if (format.empty()) {
        error = "standard input is no image zoka reads (PNG, JPEG, TIFF, OpenEXR, BMP, GIF, WebP, "
                "Radiance HDR, DPX, PSD, Netpbm)";
        return nullptr;
    }
    auto file = OutputFile::Create(TemporaryFolder() + "/stdin", "." + format, error);
    if (!file) return nullptr;
    int64_t offset = 0;
    ssize_t n = first;
    for (; n > 0; n = ReadUpTo(STDIN_FILENO, buffer.data(), buffer.size())) {
        file->WriteAt(buffer.data(), static_cast<size_t>(n), offset);
        offset += n;
    }
    if (n < 0) {
        error = std::string("cannot read standard input: ") + std::strerror(errno);
        return nullptr;
    }
    if (file->Failed()) {
        error = "cannot keep a copy of standard input in " + TemporaryFolder() + " (is it full?)";
        return nullptr;
    }
    return std::unique_ptr<StandardInput>(new StandardInput(std::move(file)));
}

std::unique_ptr<StandardOutput> StandardOutput::Create(const std::string& format, std::string& error) {
    if (FormatForStandardOutput(format, error).empty()) return nullptr;
    auto file = OutputFile::Create(TemporaryFolder() + "/stdout", "." + format, error);
    if (!file) return nullptr;
    return std::unique_ptr<StandardOutput>(new StandardOutput(std::move(file)));
}

bool StandardOutput::Send(std::string& error) const { return CopyToStandardOutput(Path(), error); }

std::string NameStandardStreams(std::string text) {
    Replace(text, inputPath, "standard input");
    Replace(text, outputPath, "standard output");
    return text;
}

}  // namespace zoka_images
