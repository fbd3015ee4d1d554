#include "host/res_string.h"

#include <cstring>

#include "base/module_memory.h"
#include "host/module_instance.h"

namespace zoka {

bool ResString::Load(int id, size_t size) {
    Release();
    if (size < 2) return false;
    text_ = static_cast<char*>(HostAlloc(size));
    if (text_ == nullptr) return false;
    // A missing string leaves the buffer untouched; it then reads as empty.
    text_[0] = '\0';
    // The loader is told the buffer holds size - 1 characters, so at most
    // size - 2 characters and a terminator arrive.
    const int count = platform::LoadResourceString(ModuleInstance, static_cast<uint32_t>(id), text_,
                                           static_cast<int>(size - 1));
    return count > 0;
}

size_t ResString::Assign(const char* text) {
    Release();
    const size_t bytes = std::strlen(text) + 1;
    text_ = static_cast<char*>(HostAlloc(bytes));
    if (text_ == nullptr) return 0;
    std::memcpy(text_, text, bytes);
    return bytes;
}

void ResString::Release() {
    if (text_ != nullptr) HostFree(text_);
    text_ = nullptr;
}

}  // namespace zoka
