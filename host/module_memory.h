// The module's memory, taken from the host's handle allocator, and the record
// of the host call in progress through which the allocator is reached.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/host_records.h"

namespace zoka {

// Written first thing by every host call and never cleared.
extern HostInputRecord* CurrentInputRecord;

// A block carries its handle just before the address handed out.
inline constexpr size_t kBlockPrefix = sizeof(HostHandle);
// The largest block the host's 32-bit handle sizes can describe.
inline constexpr uint64_t kMaxBlockBytes = 0xFFFFFFFFu - kBlockPrefix;

// A new locked block of size bytes, or null.
void* HostAlloc(size_t size);
// Unlocks and disposes of a block from HostAlloc; block must not be null.
void HostFree(void* block);
// Stores a new block and returns 0, or returns 8 when none can be had.
int HostAllocChecked(void** block, size_t size);

template <typename T>
int HostAllocChecked(T*& block, size_t size) {
    void* raw = nullptr;
    const int result = HostAllocChecked(&raw, size);
    block = static_cast<T*>(raw);
    return result;
}

}  // namespace zoka
