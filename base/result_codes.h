// Result codes inside the module. 0 is success; codes below 512 are system
// error codes (shown with the system's text); the host's codes pass through.
#pragma once

#include "interface/host_records.h"

namespace zoka {

inline constexpr int kOk = 0;
// The host's abort query asked to stop; the render driver hands it back to the
// host as kHostErrorCancelled.
inline constexpr int kCancelled = 1;
// System code: not enough memory.
inline constexpr int kOutOfMemory = 8;
// The module's own code for a failed effect creation (string 44000).
inline constexpr int kCreateFailed = 44000;

}  // namespace zoka
