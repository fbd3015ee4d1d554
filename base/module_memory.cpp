#include "base/module_memory.h"

#include <cstring>

#include "base/result_codes.h"

namespace zoka {

constinit thread_local HostInputRecord* CurrentInputRecord = nullptr;

void* HostAlloc(size_t size) {
    if (size > kMaxBlockBytes) return nullptr;
    const HostUtilityTable* utils = CurrentInputRecord->utils;
    HostHandle handle = utils->newHandle(static_cast<uint32_t>(size + kBlockPrefix));
    if (handle == nullptr) return nullptr;
    auto* block = static_cast<unsigned char*>(utils->lockHandle(handle));
    if (block == nullptr) {
        utils->disposeHandle(handle);
        return nullptr;
    }
    std::memcpy(block, &handle, kBlockPrefix);
    return block + kBlockPrefix;
}

void HostFree(void* block) {
    HostHandle handle;
    std::memcpy(&handle, static_cast<unsigned char*>(block) - kBlockPrefix, kBlockPrefix);
    const HostUtilityTable* utils = CurrentInputRecord->utils;
    utils->unlockHandle(handle);
    utils->disposeHandle(handle);
}

int HostAllocChecked(void** block, size_t size) {
    *block = HostAlloc(size);
    return *block == nullptr ? kOutOfMemory : kOk;
}

}  // namespace zoka
