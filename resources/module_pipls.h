// The PiPL resources of the module: one per registered effect.
#pragma once

#include <cstdint>
#include <vector>

#include "resources/pipl_builder.h"

namespace zoka {

// Drop Shadow has code but no PiPL, so the host never lists it.
inline constexpr int kUnlistedEffectIndex = 4;

struct PiplResource {
    int32_t id;  // 16000 + the effect index
    std::vector<uint8_t> data;
};

// In effect-index order, from the effects' own answers and the string table.
std::vector<PiplResource> ModulePipls();

}  // namespace zoka
