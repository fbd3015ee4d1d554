// One frei0r plug-in: the same small object is installed once per effect as
// zoka_<key>.so, and learns which effect it is from its own file name. All
// the work is in the bridge library it links.
#include <dlfcn.h>

#include <cctype>
#include <cstring>
#include <string>

#include "frei0r/bridge.h"

#define PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* kPrefix = "zoka_";
constexpr const char* kSuffix = ".so";

// "…/zoka_gaussianblur.so" names the effect "gaussianblur".
std::string KeyFromFileName(const char* path) {
    std::string name = path;
    name = name.substr(name.find_last_of('/') + 1);
    if (name.size() >= std::strlen(kSuffix) &&
        name.compare(name.size() - std::strlen(kSuffix), std::string::npos, kSuffix) == 0) {
        name.resize(name.size() - std::strlen(kSuffix));
    }
    if (name.rfind(kPrefix, 0) == 0) name.erase(0, std::strlen(kPrefix));
    return name;
}

int FindOwnEffect() {
    try {
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&FindOwnEffect), &self) == 0 || self.dli_fname == nullptr) return -1;
        return ZokaFrei0rFind(KeyFromFileName(self.dli_fname).c_str());
    } catch (...) {
        return -1;
    }
}

// This file's effect, or -1 when its name names none.
int OwnEffect() {
    static const int effect = FindOwnEffect();
    return effect;
}

}  // namespace

PLUGIN_EXPORT int f0r_init() { return OwnEffect() >= 0 ? ZokaFrei0rInit(OwnEffect()) : 0; }

PLUGIN_EXPORT void f0r_deinit() {
    if (OwnEffect() >= 0) ZokaFrei0rDeinit(OwnEffect());
}

PLUGIN_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (info == nullptr) return;
    // A plug-in whose file name names no effect offers nothing.
    *info = f0r_plugin_info_t{"zoka (no such effect)", "ZOKA-ENG", F0R_PLUGIN_TYPE_FILTER,
                              F0R_COLOR_MODEL_RGBA8888, FREI0R_MAJOR_VERSION, 0, 0, 0, nullptr};
    if (OwnEffect() >= 0) ZokaFrei0rPluginInfo(OwnEffect(), info);
}

PLUGIN_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    if (OwnEffect() >= 0) ZokaFrei0rParamInfo(OwnEffect(), info, index);
}

PLUGIN_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    return OwnEffect() >= 0 ? ZokaFrei0rConstruct(OwnEffect(), width, height, __builtin_return_address(0))
                            : nullptr;
}

PLUGIN_EXPORT void f0r_destruct(f0r_instance_t instance) {
    ZokaFrei0rDestruct(static_cast<ZokaFrei0rInstance*>(instance));
}

PLUGIN_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    ZokaFrei0rSetParam(static_cast<ZokaFrei0rInstance*>(instance), param, index);
}

PLUGIN_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    ZokaFrei0rGetParam(static_cast<ZokaFrei0rInstance*>(instance), param, index);
}

PLUGIN_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* in, uint32_t* out) {
    ZokaFrei0rUpdate(static_cast<ZokaFrei0rInstance*>(instance), time, in, out, __builtin_return_address(0));
}

// For a filter the second and third inputs are unused.
PLUGIN_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* in, const uint32_t*,
                               const uint32_t*, uint32_t* out) {
    ZokaFrei0rUpdate(static_cast<ZokaFrei0rInstance*>(instance), time, in, out, __builtin_return_address(0));
}
