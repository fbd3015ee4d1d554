// The module's instance handle, stored when the process attaches the module;
// string-table texts are loaded from it.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace zoka {

inline constexpr uint32_t kProcessAttach = 1;

extern platform::ModuleHandle ModuleInstance;

// The module's process notification: stores the instance on process attach.
// Returns true for every reason.
bool ModuleAttach(platform::ModuleHandle instance, uint32_t reason);

}  // namespace zoka
