#include "ourhost/module.h"

#include <cstring>

namespace ourhost {

std::unique_ptr<Module> Module::Linked(ExportLookup lookup) {
    std::unique_ptr<Module> module(new Module());
    module->lookup_ = lookup;
    module->Discover();
    return module;
}

void Module::Discover() {
    for (const Resource& resource : lookup_ ? StandInResources() : PiplResources()) {
        auto descriptor = ParsePipl(resource.bytes.data(), resource.bytes.size());
        if (!descriptor) continue;
        descriptor->resourceId = resource.id;
        effects_.push_back(*descriptor);
    }
    auto describe = reinterpret_cast<ZokaDescribeEffectFn>(Symbol("ZokaDescribeEffect"));
    if (describe == nullptr) return;
    for (int32_t index = 0; index <= kZokaMaxEffectIndex; ++index) {
        ZokaEffectKeys keys{};
        if (describe(index, &keys) == 0) allEffects_.push_back(keys);
    }
}

std::vector<Module::Resource> Module::StandInResources() const {
    std::vector<Resource> pipls;
    auto resources = reinterpret_cast<ZokaModuleResourcesFn>(Symbol("ZokaModuleResources"));
    if (resources == nullptr) return pipls;
    int32_t count = 0;
    const ZokaResource* table = resources(&count);
    for (int32_t i = 0; i < count; ++i) {
        if (std::strcmp(table[i].type, "PiPL") != 0) continue;
        pipls.push_back(Resource{table[i].id, std::vector<uint8_t>(table[i].data,
                                                                   table[i].data + table[i].size)});
    }
    return pipls;
}

EffectEntryPoint Module::EntryPoint(const std::string& name) const {
    return reinterpret_cast<EffectEntryPoint>(Symbol(name.c_str()));
}

ZokaLendMotionCarryFn Module::MotionCarryLender() const {
    return reinterpret_cast<ZokaLendMotionCarryFn>(Symbol("ZokaLendMotionCarry"));
}

std::optional<ZokaEffectKeys> Module::Keys(const std::string& entryName) const {
    for (const ZokaEffectKeys& keys : allEffects_) {
        if (entryName == keys.entryName) return keys;
    }
    return std::nullopt;
}

}  // namespace ourhost
