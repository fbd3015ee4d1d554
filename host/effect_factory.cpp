#include "host/effect_factory.h"

#include <algorithm>

#include "base/module_memory.h"
#include "host/effect_list.h"

namespace zoka {

#define ZOKA_DECLARE_MAKER(index, cls, entry) extern const EffectMaker k##cls##Maker;
ZOKA_EFFECTS(ZOKA_DECLARE_MAKER)
#undef ZOKA_DECLARE_MAKER

namespace {

#define ZOKA_REGISTER(index, cls, entry) RegisteredEffect{index, #entry, &k##cls##Maker},
constexpr RegisteredEffect kRegistered[] = {ZOKA_EFFECTS(ZOKA_REGISTER)};
#undef ZOKA_REGISTER

}  // namespace

std::span<const RegisteredEffect> RegisteredEffects() { return kRegistered; }

const EffectMaker* FindEffectMaker(int index) {
    const auto* it = std::find_if(std::begin(kRegistered), std::end(kRegistered),
                                  [index](const RegisteredEffect& e) { return e.index == index; });
    return it != std::end(kRegistered) ? it->maker : nullptr;
}

Effect* CreateEffect(int index, HostInputRecord*) {
    const EffectMaker* maker = FindEffectMaker(index);
    if (maker == nullptr) return nullptr;
    void* storage = HostAlloc(maker->size);
    return storage != nullptr ? maker->construct(storage) : nullptr;
}

void DestroyEffect(Effect* effect) { HostFree(effect); }

}  // namespace zoka
