#include "cli/image_files.h"

#include <dlfcn.h>
#include <limits.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "cli/image_library.h"
#include "cli/png_files.h"

namespace zoka_cli {

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

bool IsPngName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    return dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
           strcasecmp(path.c_str() + dot, ".png") == 0;
}

}  // namespace

bool ReadImage(const std::string& path, ourhost::Image& image, std::string& error, bool* hadAlpha) {
    bool alpha = true;
    bool& has = hadAlpha != nullptr ? *hadAlpha : alpha;
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
    switch (ReadPng(path, image, error, has)) {
        case PngRead::kRead: return true;
        case PngRead::kFailed: return false;
        case PngRead::kNotPng: break;
    }
    const ImageLibrary* library = Library(error);
    return library != nullptr && library->read(path, image, error, has);
}

bool Opaque(const ourhost::Image& image) {
    const std::vector<uint8_t>& bytes = image.Bytes();
    for (size_t i = 0; i < bytes.size(); i += 4) {
        if (bytes[i] != 255) return false;
    }
    return true;
}

bool WriteImage(const std::string& path, const ourhost::Image& image, std::string& error, int pngCompression,
                const WriteExtras& extras) {
    if (IsPngName(path)) return WritePng(path, image, pngCompression, extras, error);
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

}  // namespace zoka_cli
