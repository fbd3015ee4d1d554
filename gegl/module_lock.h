// The lock the GEGL operations hold around every call into the module.
//
// The module is not reentrant yet (its current input record, abort poll and
// tables are module-wide), while GEGL programs process nodes on several
// threads. This one process-wide mutex is the only thing that serialises
// them; when the module is reentrant, this file and ModuleCall's uses go.
#pragma once

#include <mutex>

namespace zoka_gegl {

inline std::mutex gModuleLock;

// Held for as long as a caller is inside the module.
using ModuleCall = std::lock_guard<std::mutex>;

}  // namespace zoka_gegl
