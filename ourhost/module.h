// A loaded plug-in module: its effects, found through their PiPL resources as
// the host finds them, and their entry points.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "interface/host_records.h"
#include "interface/module_exports.h"
#include "ourhost/pipl.h"

namespace ourhost {

class Module {
public:
    // The module file, or null with a reason in error.
    static std::unique_ptr<Module> Load(const std::string& path, std::string& error);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Every effect with a PiPL resource, in resource order: what the host
    // lists.
    const std::vector<EffectDescriptor>& Effects() const { return effects_; }
    // Every effect the module has code for, registered or not, in index
    // order, from the module's documented key query.
    const std::vector<ZokaEffectKeys>& AllEffects() const { return allEffects_; }
    // The keys of the effect exported as entryName.
    std::optional<ZokaEffectKeys> Keys(const std::string& entryName) const;
    // The entry point exported under name, or null.
    EffectEntryPoint EntryPoint(const std::string& name) const;

private:
    explicit Module(void* handle) : handle_(handle) {}
    void* Symbol(const char* name) const;

    void* handle_;
    std::vector<EffectDescriptor> effects_;
    std::vector<ZokaEffectKeys> allEffects_;
};

// The module built beside this program: next to the executable, or in the
// directory named by ZOKA_MODULE_DIR.
std::string DefaultModulePath();

}  // namespace ourhost
