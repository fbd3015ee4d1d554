// The documented query beside the entry points: an effect's index and keys,
// which no host can see.
#include <cstddef>
#include <cstring>

#include "host/effect_factory.h"
#include "interface/module_exports.h"

namespace zoka {

namespace {

const RegisteredEffect* FindByEntryName(const char* entryName) {
    for (const RegisteredEffect& e : RegisteredEffects()) {
        if (std::strcmp(e.entryName, entryName) == 0) return &e;
    }
    return nullptr;
}

void CopyText(char (&out)[kZokaKeyBytes], const KeyText& key) {
    std::memcpy(out, key.text, kZokaKeyBytes);
    out[kZokaKeyBytes - 1] = '\0';
}

}  // namespace

}  // namespace zoka

extern "C" ZOKA_EXPORT int32_t ZokaDescribeEffect(const char* entryName, ZokaEffectKeys* keys) {
    using namespace zoka;
    const RegisteredEffect* registered = entryName != nullptr ? FindByEntryName(entryName) : nullptr;
    if (registered == nullptr || keys == nullptr) return -1;
    // Effect objects own nothing, so one can be built on the stack without a
    // host call in progress.
    alignas(std::max_align_t) unsigned char storage[512];
    static_assert(sizeof(KeyText) == kZokaKeyBytes);
    if (registered->maker->size > sizeof storage) return -1;
    const Effect* effect = registered->maker->construct(storage);

    *keys = ZokaEffectKeys{};
    keys->effectIndex = effect->EffectIndex();
    KeyText key;
    effect->EffectKey(key);
    CopyText(keys->effectKey, key);
    keys->paramCount = effect->ParamCount();
    for (int i = 0; i < keys->paramCount && i < kZokaMaxParams; ++i) {
        KeyText paramKey;
        effect->ParamKey(i, paramKey);
        CopyText(keys->paramKeys[i], paramKey);
    }
    return 0;
}
