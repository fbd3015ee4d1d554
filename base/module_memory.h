// The module's memory, taken from the host's handle allocator, and the record
// of the host call in progress through which the allocator is reached.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "base/result_codes.h"
#include "interface/host_records.h"

namespace zoka {

// Written first thing by every host call and never cleared; one per thread,
// so calls on different threads each reach their own host. A render's worker
// threads take the record of the render they work for. Initialised
// constantly, so other files reach it directly rather than through the
// wrapper a thread-local of unknown initialisation is read by (which the
// undefined-behaviour sanitizer takes for a null store).
extern constinit thread_local HostInputRecord* CurrentInputRecord;

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

// count elements of T from module memory, released when the owner goes out
// of scope, so every path out of a function frees them. The elements are not
// initialised.
template <typename T>
class ModuleBuffer {
    static_assert(std::is_trivially_destructible_v<T>, "elements are freed without a destructor");

public:
    ModuleBuffer() = default;
    ~ModuleBuffer() { Release(); }
    ModuleBuffer(const ModuleBuffer&) = delete;
    ModuleBuffer& operator=(const ModuleBuffer&) = delete;

    // 0, or 8 when the memory cannot be had (or the size not described).
    int Allocate(size_t count) {
        Release();
        if (count > kMaxBlockBytes / sizeof(T)) return kOutOfMemory;
        return HostAllocChecked(data_, sizeof(T) * count);
    }
    void Release() {
        if (data_ != nullptr) HostFree(data_);
        data_ = nullptr;
    }
    T* get() const { return data_; }
    T& operator[](size_t i) const { return data_[i]; }
    // Exchanges the blocks of two owners, so a buffer can be grown into a
    // new one and the old block freed with the other owner.
    void Swap(ModuleBuffer& other) { std::swap(data_, other.data_); }

private:
    T* data_ = nullptr;
};

// One object built in module memory and destroyed (destructor, then the
// memory) when the owner goes out of scope.
template <typename T>
class ModuleObject {
public:
    ModuleObject() = default;
    ~ModuleObject() {
        if (object_ == nullptr) return;
        object_->~T();
        HostFree(object_);
    }
    ModuleObject(const ModuleObject&) = delete;
    ModuleObject& operator=(const ModuleObject&) = delete;

    // 0, or 8 when the memory cannot be had.
    template <typename... Args>
    int Make(Args&&... args) {
        void* storage = HostAlloc(sizeof(T));
        if (storage == nullptr) return kOutOfMemory;
        object_ = new (storage) T(std::forward<Args>(args)...);
        return kOk;
    }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }

private:
    T* object_ = nullptr;
};

}  // namespace zoka
