#include "resources/module_pipls.h"

#include <cstddef>

#include "host/effect_factory.h"
#include "resources/string_table.h"

namespace zoka {

std::vector<PiplResource> ModulePipls() {
    std::vector<PiplResource> pipls;
    for (const RegisteredEffect& registered : RegisteredEffects()) {
        if (registered.index == kUnlistedEffectIndex) continue;
        EffectStorage storage;
        const Effect* effect = registered.maker->construct(storage.bytes);
        const char* name = FindString(static_cast<uint32_t>(effect->NameStringId()));
        const PiplFields fields{name != nullptr ? name : "", registered.entryName,
                                effect->VersionWord(), effect->GlobalFlags()};
        pipls.push_back(PiplResource{kPiplResourceBase + registered.index, BuildPipl(fields)});
    }
    return pipls;
}

}  // namespace zoka
