// What the module exports beside its entry points: the documented query for
// an effect's index and keys, which no host can see, and the offer of workers.
#include <cstddef>
#include <cstring>

#include "host/effect_factory.h"
#include "host/render_driver.h"
#include "interface/module_exports.h"

namespace zoka {

namespace {

const RegisteredEffect* FindByIndex(int32_t index) {
    for (const RegisteredEffect& e : RegisteredEffects()) {
        if (e.index == index) return &e;
    }
    return nullptr;
}

template <size_t N>
void CopyText(char (&out)[N], const char* text) {
    const size_t n = strnlen(text, N - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

}  // namespace

}  // namespace zoka

extern "C" ZOKA_EXPORT int32_t ZokaDescribeEffect(int32_t effectIndex, ZokaEffectKeys* keys) {
    using namespace zoka;
    const RegisteredEffect* registered = FindByIndex(effectIndex);
    if (registered == nullptr || keys == nullptr) return -1;
    // Effect objects own nothing, so one can be built on the stack without a
    // host call in progress.
    EffectStorage storage;
    const Effect* effect = registered->maker->construct(storage.bytes);

    *keys = ZokaEffectKeys{};
    keys->effectIndex = effect->EffectIndex();
    CopyText(keys->entryName, registered->entryName);
    KeyText key;
    effect->EffectKey(key);
    CopyText(keys->effectKey, key.text);
    keys->paramCount = effect->ParamCount();
    for (int i = 0; i < keys->paramCount && i < kZokaMaxParams; ++i) {
        KeyText paramKey;
        effect->ParamKey(i, paramKey);
        CopyText(keys->paramKeys[i], paramKey.text);
    }
    return 0;
}

extern "C" ZOKA_EXPORT void ZokaOfferWorkers(const ZokaWorkerOffer* offer) { zoka::OfferWorkers(offer); }
