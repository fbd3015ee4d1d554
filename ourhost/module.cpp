#include "ourhost/module.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>

namespace ourhost {

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = dlerror();
        error = reason ? reason : "cannot load " + path;
        return nullptr;
    }
    std::unique_ptr<Module> module(new Module(handle));
    auto resources = reinterpret_cast<ZokaModuleResourcesFn>(module->Symbol("ZokaModuleResources"));
    if (resources == nullptr) {
        error = path + " has no resources";
        return nullptr;
    }
    int32_t count = 0;
    const ZokaResource* table = resources(&count);
    for (int32_t i = 0; i < count; ++i) {
        if (std::strcmp(table[i].type, "PiPL") != 0) continue;
        auto descriptor = ParsePipl(table[i].data, table[i].size);
        if (!descriptor) continue;
        descriptor->resourceId = table[i].id;
        module->effects_.push_back(*descriptor);
    }
    if (auto describe = reinterpret_cast<ZokaDescribeEffectFn>(module->Symbol("ZokaDescribeEffect"))) {
        for (int32_t index = 0; index <= kZokaMaxEffectIndex; ++index) {
            ZokaEffectKeys keys{};
            if (describe(index, &keys) == 0) module->allEffects_.push_back(keys);
        }
    }
    return module;
}

Module::~Module() { dlclose(handle_); }

void* Module::Symbol(const char* name) const { return dlsym(handle_, name); }

EffectEntryPoint Module::EntryPoint(const std::string& name) const {
    return reinterpret_cast<EffectEntryPoint>(Symbol(name.c_str()));
}

std::optional<ZokaEffectKeys> Module::Keys(const std::string& entryName) const {
    for (const ZokaEffectKeys& keys : allEffects_) {
        if (entryName == keys.entryName) return keys;
    }
    return std::nullopt;
}

std::string DefaultModulePath() {
    if (const char* dir = std::getenv("ZOKA_MODULE_DIR")) return std::string(dir) + "/ZOKA-ENG.so";
    char self[PATH_MAX] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    dir = dir.substr(0, dir.find_last_of('/'));
    return dir + "/ZOKA-ENG.so";
}

}  // namespace ourhost
