// The module's string table: every user-visible text by id. Texts are in the
// Windows ANSI code page (1252), as the system's string loader returns them;
// the degree sign is byte 0xB0.
//
// This is the single source of the texts: the Linux build links it, and the
// Windows build's STRINGTABLE resource is generated from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zoka {

struct StringEntry {
    uint32_t id;
    const char* text;
};

// Ascending by id.
std::span<const StringEntry> StringTable();

// The text of `id`, or null when the table has none.
const char* FindString(uint32_t id);

}  // namespace zoka
