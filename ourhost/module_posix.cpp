// Loading a module file on Linux: dlopen, and the PiPLs from the module's
// resource stand-in.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "ourhost/module.h"

namespace ourhost {

namespace {

constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;

// Whether the file holds every byte its loadable segments name. The loader
// maps segments without reading them, so a truncated file would fault (bus
// error) on first touch instead of failing to load.
bool SegmentsPresent(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        // Missing or unreadable: said so, not taken for another machine's file.
        error = std::strerror(errno);
        return false;
    }
    ElfW(Ehdr) header{};
    if (!file.read(reinterpret_cast<char*>(&header), sizeof header) ||
        std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != kOwnClass ||
        header.e_phentsize != sizeof(ElfW(Phdr))) {
        error = path + " is not a module file for this machine";
        return false;
    }
    file.seekg(0, std::ios::end);
    const uint64_t size = static_cast<uint64_t>(file.tellg());
    for (uint16_t i = 0; i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        file.seekg(static_cast<std::streamoff>(header.e_phoff + uint64_t{i} * sizeof segment));
        if (!file.read(reinterpret_cast<char*>(&segment), sizeof segment) ||
            (segment.p_type == PT_LOAD &&
             (segment.p_offset > size || segment.p_filesz > size - segment.p_offset))) {
            error = path + " is truncated or damaged";
            return false;
        }
    }
    return true;
}

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    if (!SegmentsPresent(path, error)) return nullptr;
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
