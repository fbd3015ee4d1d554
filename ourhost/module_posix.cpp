// Loading a module file on Linux: dlopen, and the PiPLs from the module's
// resource stand-in.
#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "ourhost/module.h"

namespace ourhost {

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason ? reason : "cannot load " + path;
        return nullptr;
    }
    std::unique_ptr<Module> module(new Module());
    module->handle_ = handle;
    if (module->Symbol("ZokaModuleResources") == nullptr) {
        error = path + " has no resources";
        return nullptr;
    }
    module->Discover();
    return module;
}

Module::~Module() {
    if (handle_ != nullptr) dlclose(handle_);
}

void* Module::Symbol(const char* name) const {
    return lookup_ ? lookup_(name) : dlsym(handle_, name);
}

std::vector<Module::Resource> Module::PiplResources() const { return StandInResources(); }

std::string DefaultModulePath() {
    if (const char* dir = std::getenv("ZOKA_MODULE_DIR")) return std::string(dir) + "/ZOKA-ENG.so";
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    dir = dir.substr(0, dir.find_last_of('/'));
    return dir + "/ZOKA-ENG.so";
}

}  // namespace ourhost
