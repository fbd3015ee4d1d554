// A text owned by one object: loaded from the module's string table or copied
// from a fixed text, held in module memory.
#pragma once

#include <cstddef>

namespace zoka {

// Every text the framework loads fits this buffer: 298 characters and a
// terminator.
inline constexpr size_t kResStringBytes = 300;

class ResString {
public:
    ResString() = default;
    explicit ResString(const char* text) { Assign(text); }
    ResString(int id, size_t size) { Load(id, size); }
    ~ResString() { Release(); }
    ResString(const ResString&) = delete;
    ResString& operator=(const ResString&) = delete;

    // Loads string `id` into a new buffer of size bytes (at most size - 2
    // characters); true when at least one character was loaded.
    bool Load(int id, size_t size = kResStringBytes);
    // Copies text with its terminator; returns the bytes copied, or 0 when no
    // memory could be had.
    size_t Assign(const char* text);
    void Release();

    // Null when empty.
    const char* Text() const { return text_; }
    // The text, or "" when empty, for printing.
    const char* TextOrEmpty() const { return text_ != nullptr ? text_ : ""; }

private:
    char* text_ = nullptr;
};

}  // namespace zoka
