// Reads a PiPL resource: how the host learns what an effect is called, where
// it lives in the menu and which entry point runs it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ourhost {

struct EffectDescriptor {
    int32_t resourceId = 0;
    std::string kind;  // "eFKT" for an effect
    std::string name;
    std::string category;
    std::string entryName;
    std::string matchName;
    int32_t pluginVersion = 0;
    int32_t specVersion = 0;
    uint32_t version = 0;
    int32_t globalFlags = 0;
    std::vector<uint8_t> bytes;  // the resource as stored
};

// The descriptor, or nothing when the bytes are not a well-formed PiPL (every
// length is checked against the data).
std::optional<EffectDescriptor> ParsePipl(const uint8_t* data, size_t size);

}  // namespace ourhost
