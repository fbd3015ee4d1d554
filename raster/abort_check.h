// The stop request that long-running engines poll between lines: called with
// null, it returns non-zero when the work should stop.
#pragma once

namespace zoka {

using AbortCheck = int (*)(const void* record);

}  // namespace zoka
