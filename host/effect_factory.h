// Builds effect objects by index.
#pragma once

#include <cstddef>
#include <new>
#include <span>
#include <type_traits>

#include "host/effect.h"

namespace zoka {

inline constexpr int kEffectIndexCount = 22;  // 0..21; 17 is unused

// The largest effect object: the key query and the resource generator build
// effects on the stack in storage of this size, with no host call in
// progress.
inline constexpr size_t kMaxEffectObjectBytes = 512;

// Storage any effect object fits in.
struct EffectStorage {
    alignas(std::max_align_t) unsigned char bytes[kMaxEffectObjectBytes];
};

// How one effect class is built into storage of `size` bytes.
struct EffectMaker {
    size_t size;
    Effect* (*construct)(void* storage);
};

template <typename T>
constexpr EffectMaker MakerFor() {
    // Objects are released without running a destructor of their own.
    static_assert(std::is_trivially_destructible_v<T>, "an effect may own nothing");
    static_assert(sizeof(T) <= kMaxEffectObjectBytes, "effect objects stay small: tables go to module memory");
    return EffectMaker{sizeof(T), [](void* storage) -> Effect* { return new (storage) T; }};
}

struct RegisteredEffect {
    int index;
    const char* entryName;
    const EffectMaker* maker;
};

// The 21 exported effects in index order.
std::span<const RegisteredEffect> RegisteredEffects();
// The maker of an index, or null for 17 and indices outside 0..21.
const EffectMaker* FindEffectMaker(int index);

// A new effect object in module memory, or null when the index names no
// effect or no memory could be had.
Effect* CreateEffect(int index, HostInputRecord* in);
// Releases an object from CreateEffect.
void DestroyEffect(Effect* effect);

}  // namespace zoka
