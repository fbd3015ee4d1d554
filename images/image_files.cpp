#include "images/image_files.h"

#include <dlfcn.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include "images/exr_files.h"
#include "images/image_library.h"
#include "images/jpeg_files.h"
#include "images/png_files.h"
#include "images/tiff_files.h"
#include "images/webp_files.h"

namespace zoka_images {

namespace {

// The image library's file, beside the executable.
std::string LibraryPath() {
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string program = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./zoka");
    return program.substr(0, program.find_last_of('/') + 1) + kImageLibraryFile;
}

struct LoadedLibrary {
    const ImageLibrary* library = nullptr;
    std::string failure;
};

// Loaded on first use, once: already linked in (the tests), or from beside
// the executable.
const ImageLibrary* Library(std::string& error) {
    static const LoadedLibrary loaded = [] {
        using Entry = const ImageLibrary* (*)();
        LoadedLibrary result;
        void* entry = dlsym(RTLD_DEFAULT, kImageLibraryEntry);
        if (entry == nullptr) {
            const std::string path = LibraryPath();
            void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
            entry = handle != nullptr ? dlsym(handle, kImageLibraryEntry) : nullptr;
            if (entry == nullptr) {
                const char* why = dlerror();
                result.failure = "cannot load the image library " + path + ": " + (why != nullptr ? why : "");
                return result;
            }
        }
        result.library = reinterpret_cast<Entry>(entry)();
        return result;
    }();
    if (loaded.library == nullptr) error = loaded.failure;
    return loaded.library;
}

// The formats besides PNG read and written here, not by the image library:
// a file is tried against each reader in turn, and written by the one its
// extension names.
struct OwnFormat {
    const char* name;
    bool (*named)(const std::string& path);
    DepthSet depths;
    FileRead (*read)(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info);
    bool (*write)(const std::string& path, const ourhost::Image& image, const WriteExtras& extras,
                  std::string& error);
};
constexpr OwnFormat kOwnFormats[] = {
    {"JPEG", IsJpegName, kJpegDepths, ReadJpeg, WriteJpeg},
    {"TIFF", IsTiffName, kTiffDepths, ReadTiff, WriteTiff},
    {"OpenEXR", IsExrName, kExrDepths, ReadExr, WriteExr},
    {"WEBP", IsWebpName, kWebpDepths, ReadWebp, WriteWebp},
};

const OwnFormat* OwnFormatNamed(const std::string& path) {
    for (const OwnFormat& format : kOwnFormats) {
        if (format.named(path)) return &format;
    }
    return nullptr;
}

bool IsPngName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           strcasecmp(path.c_str() + dot, ".png") == 0;
}

// GIF's reader paints the first frame onto a canvas of the logical screen's
// size as the file is opened, before it tells that size: a screen too large
// is refused from the header first, as every other format is. The screen's
// width and height follow the signature, two bytes each, lowest first.
bool GifScreenUsable(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    unsigned char header[10] = {};
    if (!file.read(reinterpret_cast<char*>(header), sizeof header) ||
        (std::memcmp(header, "GIF87a", 6) != 0 && std::memcmp(header, "GIF89a", 6) != 0)) {
        return true;  // no GIF's header: the readers say what it is
    }
    return SizeUsable(path, header[6] | header[7] << 8, header[8] | header[9] << 8, error);
}

constexpr std::array<const char*, 4> kDepthNames = {"uint8", "uint16", "half", "float"};

// Where a format cannot hold the depth asked for, the depths tried instead,
// nearest first.
constexpr std::array<std::array<SampleDepth, 3>, 4> kNearestDepths = {{
    {SampleDepth::kUint16, SampleDepth::kHalf, SampleDepth::kFloat},   // for uint8
    {SampleDepth::kFloat, SampleDepth::kHalf, SampleDepth::kUint8},    // for uint16
    {SampleDepth::kFloat, SampleDepth::kUint16, SampleDepth::kUint8},  // for half
    {SampleDepth::kHalf, SampleDepth::kUint16, SampleDepth::kUint8},   // for float
}};

}  // namespace

void CheckLeaksNow() {
#if defined(__SANITIZE_ADDRESS__)
    __lsan_do_leak_check();
#endif
}

const char* DepthName(SampleDepth depth) { return kDepthNames[static_cast<size_t>(depth)]; }

std::optional<SampleDepth> ParseDepth(const std::string& name) {
    for (size_t i = 0; i < kDepthNames.size(); ++i) {
        if (name == kDepthNames[i]) return static_cast<SampleDepth>(i);
    }
    return std::nullopt;
}

std::string DescribeDepths(DepthSet held) {
    const auto pair = [](bool first, bool second, const std::string& a, const std::string& b) {
        return first && second ? a + " or " + b : first ? a : second ? b : "";
    };
    const std::string integers = pair((held & DepthBit(SampleDepth::kUint8)) != 0,
                                      (held & DepthBit(SampleDepth::kUint16)) != 0, "8", "16");
    const std::string floats = pair((held & DepthBit(SampleDepth::kHalf)) != 0,
                                    (held & DepthBit(SampleDepth::kFloat)) != 0, "half", "float");
    if (integers.empty()) return floats;
    return integers + " bits" + (floats.empty() ? "" : ", " + floats);
}

bool DepthsHeld(const std::string& path, DepthSet& held, std::string& format, std::string& error) {
    if (IsPngName(path)) {
        held = kPngDepths;
        format = "PNG";
        return true;
    }
    if (const OwnFormat* own = OwnFormatNamed(path)) {
        held = own->depths;
        format = own->name;
        return true;
    }
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->depthsHeld(path, held, format, error);
}

bool ChooseDepth(const std::string& path, std::optional<SampleDepth> asked, SampleDepth input, SampleDepth& chosen,
                 std::string& error) {
    DepthSet held = 0;
    std::string format;
    if (!DepthsHeld(path, held, format, error)) return false;
    if (asked) {
        if ((held & DepthBit(*asked)) == 0) {
            error = "-d " + std::string(DepthName(*asked)) + ": " + format + " files hold " + DescribeDepths(held);
            return false;
        }
        chosen = *asked;
        return true;
    }
    chosen = input;
    if ((held & DepthBit(input)) != 0) return true;
    for (const SampleDepth nearer : kNearestDepths[static_cast<size_t>(input)]) {
        if ((held & DepthBit(nearer)) != 0) {
            chosen = nearer;
            return true;
        }
    }
    return true;
}

bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, bool* hadAlpha) {
    ImageInfo info;
    const bool read = ReadImage(path, image, error, info);
    if (hadAlpha != nullptr) *hadAlpha = info.hadAlpha;
    return read;
}

bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, ImageInfo& info) {
    // Only a regular file: a device or a pipe may never end, a folder is no
    // image.
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        error = "cannot read " + path + ": it is not a regular file";
        return false;
    }
    switch (ReadPng(path, image, error, info)) {
        case PngRead::kRead: return true;
        case PngRead::kFailed: return false;
        case PngRead::kNotPng: break;
    }
    for (const OwnFormat& format : kOwnFormats) {
        switch (format.read(path, image, error, info)) {
            case FileRead::kRead: return true;
            case FileRead::kFailed: return false;
            case FileRead::kNotThisFormat: break;
        }
    }
    if (!GifScreenUsable(path, error)) return false;
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->read(path, image, error, info);
}

bool Opaque(const ourhost::Image& image) {
    const ourhost::ImageBytes& bytes = image.Bytes();
    for (size_t i = 0; i < bytes.size(); i += 4) {
        if (bytes[i] != 255) return false;
    }
    return true;
}

bool Grey(const ourhost::Image& image) {
    const ourhost::ImageBytes& bytes = image.Bytes();
    for (size_t i = 0; i < bytes.size(); i += 4) {
        if (bytes[i + 1] != bytes[i + 2] || bytes[i + 2] != bytes[i + 3]) return false;
    }
    return true;
}

bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error, int pngCompression,
                const WriteExtras& extras) {
    if (IsPngName(path)) return WritePng(path, image, pngCompression, extras, error);
    // OpenEXR outputs carrying EXIF are left to the image library, the one that knows EXIF's tag names.
    const bool exrForTheLibrary = IsExrName(path) && !WritesExr(path, extras);
    const OwnFormat* own = exrForTheLibrary ? nullptr : OwnFormatNamed(path);
    if (own != nullptr) return own->write(path, image, extras, error);
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->write(path, image, error, extras);
}

bool WriteAnimation(const std::string& path, const std::vector<ourhost::Image>& frames, int fps,
                    std::string& error) {
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->writeAnimation(path, frames, fps, error);
}

bool MakeContactSheet(const std::vector<SheetCell>& cells, ourhost::Image& sheet, std::string& error) {
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->contactSheet(cells, sheet, error);
}

bool FlattenOverCheckerboard(const ourhost::Image& image, ourhost::Image& flat, std::string& error) {
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->flatten(image, flat, error);
}

}  // namespace zoka_images
