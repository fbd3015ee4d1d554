// libpng requires an error handler never to return: when one returns,
// libpng prints the message on standard error itself ("libpng error: ...")
// before it gives up. The image library's PNG handlers record the message
// for their own error text and then return, so every damaged PNG file gave
// an extra line besides zoka's own. This wraps every error handler the
// process sets so that, once the handler has recorded the message, libpng's
// recovery jump is taken, as the handler should have done. Warnings are
// left as they are.
//
// Linked into the zoka executable, whose definition of png_set_error_fn
// comes before libpng's for every library the process loads.
#include <dlfcn.h>
#include <png.h>

#include <map>
#include <mutex>

namespace {

using ErrorSetter = void (*)(png_structrp, png_voidp, png_error_ptr, png_error_ptr);

std::mutex gLock;
// Each PNG stream's own handler; an address reused by a later stream is
// simply registered again.
std::map<png_const_structrp, png_error_ptr> gHandlers;

void HandleThenJump(png_structp png, png_const_charp message) {
    png_error_ptr handler = nullptr;
    {
        const std::lock_guard<std::mutex> hold(gLock);
        const auto found = gHandlers.find(png);
        if (found != gHandlers.end()) handler = found->second;
    }
    if (handler != nullptr) handler(png, message);
    png_longjmp(png, 1);
}

}  // namespace

extern "C" void png_set_error_fn(png_structrp png, png_voidp errorPointer, png_error_ptr errorFn,
                                 png_error_ptr warningFn) {
    static const auto libpngSetter = reinterpret_cast<ErrorSetter>(dlsym(RTLD_NEXT, "png_set_error_fn"));
    if (errorFn != nullptr && errorFn != HandleThenJump) {
        const std::lock_guard<std::mutex> hold(gLock);
        gHandlers[png] = errorFn;
        errorFn = HandleThenJump;
    }
    libpngSetter(png, errorPointer, errorFn, warningFn);
}

#if defined(__SANITIZE_ADDRESS__)
// On a truncated file the image library's PNG read callback raises the
// error holding a copy of its error text, which the jump then skips: a few
// bytes lost once per damaged file, in the library. The leak checker is
// told of leaked error texts only (the library's frames above it cannot be
// unwound when the leak is recorded).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:OpenImageIO_v2_4::ImageInput::geterror\n";
}
// Quietly: zoka's standard error stays one line.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
