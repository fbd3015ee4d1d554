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
    // The module file (dlopen on Linux, LoadLibrary on Windows), or null with
    // a reason in error.
    static std::unique_ptr<Module> Load(const std::string& path, std::string& error);
    // A module linked into this program, its exports found by name through
    // lookup (for static test builds, which cannot load a module file).
    using ExportLookup = void* (*)(const char* name);
    static std::unique_ptr<Module> Linked(ExportLookup lookup);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Every effect with a PiPL resource, in resource order: what the host
    // lists.
    const std::vector<EffectDescriptor>& Effects() const { return effects_; }
    // Every effect the module has code for, registered or not, in index
    // order, from the module's documented key query.
    const std::vector<ZokaEffectKeys>& AllEffects() const { return allEffects_; }
    // The module's lending of a motion carry (EffectInstance::CarryMotion),
    // or null when it has none.
    ZokaLendMotionCarryFn MotionCarryLender() const;
    // The keys of the effect exported as entryName.
    std::optional<ZokaEffectKeys> Keys(const std::string& entryName) const;
    // The entry point exported under name, or null.
    EffectEntryPoint EntryPoint(const std::string& name) const;
    // The module's offer of worker threads (Host::UseWorkers), or null.
    ZokaOfferWorkersFn WorkerOffer() const {
        return reinterpret_cast<ZokaOfferWorkersFn>(Symbol("ZokaOfferWorkers"));
    }

private:
    // A resource as stored in the module.
    struct Resource {
        int32_t id;
        std::vector<uint8_t> bytes;
    };

    Module() = default;
    void* Symbol(const char* name) const;
    // The module's PiPL resources, through the system's resource functions
    // (Windows) or the module's resource stand-in (Linux, linked modules).
    std::vector<Resource> PiplResources() const;
    std::vector<Resource> StandInResources() const;
    void Discover();

    void* handle_ = nullptr;
    ExportLookup lookup_ = nullptr;
    std::vector<EffectDescriptor> effects_;
    std::vector<ZokaEffectKeys> allEffects_;
};

// The module built beside this program: next to the executable, or in the
// directory named by ZOKA_MODULE_DIR.
std::string DefaultModulePath();

}  // namespace ourhost
