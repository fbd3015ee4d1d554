// Builds the PiPL resource through which the host discovers an effect: kind,
// name, menu category, entry point, versions, flags and match name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zoka {

inline constexpr char kMenuCategory[] = "Lumetta AE Demo";
inline constexpr char kMatchNamePrefix[] = "TVZOKA ";
inline constexpr int32_t kPiplResourceBase = 16000;
inline constexpr int32_t kResourceLanguage = 1033;

struct PiplFields {
    std::string name;       // as the string table has it
    std::string entryName;  // the exported entry point
    uint32_t version;       // the version word
    int32_t globalFlags;    // as global setup reports them
};

std::vector<uint8_t> BuildPipl(const PiplFields& fields);

}  // namespace zoka
