// Fuzzes the command line's image reader with arbitrary file contents: the
// data is written to a file (its extension chosen from the data's first
// bytes, as a user's file would be named) and read with ReadImage. A read
// either gives an image whose pixel bytes match its size, or fails with a
// one-line message; it never crashes, leaks or exhausts memory.
#include <unistd.h>

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "images/image_files.h"
#include "ourhost/image.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "image_files_fuzz: %s\n", what);
    std::abort();
}

void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

bool StartsWith(const uint8_t* data, size_t size, const char* magic, size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

// The extension a file with this content would carry.
const char* ExtensionFor(const uint8_t* data, size_t size) {
    if (StartsWith(data, size, "\x89PNG", 4)) return ".png";
    if (StartsWith(data, size, "\xFF\xD8", 2)) return ".jpg";
    if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4)) return ".tif";
    if (StartsWith(data, size, "\x76\x2F\x31\x01", 4)) return ".exr";
    if (StartsWith(data, size, "GIF8", 4)) return ".gif";
    if (StartsWith(data, size, "BM", 2)) return ".bmp";
    if (StartsWith(data, size, "RIFF", 4)) return ".webp";
    return ".png";
}

std::string gFolder;

bool WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

}  // namespace

// OpenImageIO 2.4's PNG reader leaks its error message when libpng gives up
// on a broken file (libpng's long jump skips the string's destructor): the
// library's leak, not this project's, suppressed by name. Its stack reaches
// the library only when mallocs are unwound fully.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:OpenImageIO_v2_4::PNGInput::PngReadCallback\n";
}
extern "C" const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // One thread, so a run is repeatable and its memory is its own.
    OIIO::attribute("threads", 1);
    char folder[] = "/tmp/zoka-image-fuzz-XXXXXX";
    if (mkdtemp(folder) == nullptr) Fail("cannot make a temporary folder");
    gFolder = folder;
    std::atexit([] {
        std::remove((gFolder + "/input.png").c_str());
        for (const char* e : {".jpg", ".tif", ".exr", ".gif", ".bmp", ".webp"}) {
            std::remove((gFolder + "/input" + e).c_str());
        }
        rmdir(gFolder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = gFolder + "/input" + ExtensionFor(data, size);
    Check(WriteFile(path, data, size), "cannot write the input file");
    ourhost::Image image;
    std::string error;
    if (zoka_images::ReadImage(path, image, error)) {
        Check(image.Width() >= 1 && image.Height() >= 1, "an image read without pixels");
        Check(image.Bytes().size() == size_t(image.Width()) * size_t(image.Height()) * 4,
              "an image whose pixels do not match its size");
    } else {
        Check(!error.empty(), "a failed read without a message");
        Check(error.find('\n') == std::string::npos, "a message of more than one line");
    }
    std::remove(path.c_str());
    return 0;
}
