// Loading a module file on Windows: LoadLibrary, and the PiPLs through the
// system's resource functions, as the host finds them.
#include <windows.h>

#include <cstdlib>

#include "ourhost/module.h"

namespace ourhost {

namespace {

BOOL CALLBACK CollectPipl(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
    if (!IS_INTRESOURCE(name)) return TRUE;
    HRSRC found = FindResourceA(module, name, type);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const auto* data = loaded ? static_cast<const uint8_t*>(LockResource(loaded)) : nullptr;
    if (data == nullptr) return TRUE;
    auto* resources = reinterpret_cast<std::vector<std::pair<int32_t, std::vector<uint8_t>>>*>(param);
    resources->emplace_back(static_cast<int32_t>(reinterpret_cast<ULONG_PTR>(name)),
                            std::vector<uint8_t>(data, data + SizeofResource(module, found)));
    return TRUE;
}

}  // namespace

std::unique_ptr<Module> Module::Load(const std::string& path, std::string& error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (handle == nullptr) {
        error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    std::unique_ptr<Module> module(new Module());
    module->handle_ = handle;
    module->Discover();
    return module;
}

Module::~Module() {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
}

void* Module::Symbol(const char* name) const {
    if (lookup_) return lookup_(name);
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::vector<Module::Resource> Module::PiplResources() const {
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> found;
    EnumResourceNamesA(static_cast<HMODULE>(handle_), "PiPL", CollectPipl,
                       reinterpret_cast<LONG_PTR>(&found));
    std::vector<Resource> pipls;
    for (auto& [id, bytes] : found) pipls.push_back(Resource{id, std::move(bytes)});
    return pipls;
}

std::string DefaultModulePath() {
    if (const char* dir = std::getenv("ZOKA_MODULE_DIR")) return std::string(dir) + "\\ZOKA-ENG.aex";
    char self[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir(self, n);
    dir = dir.substr(0, dir.find_last_of("\\/"));
    return dir + "\\ZOKA-ENG.aex";
}

}  // namespace ourhost
