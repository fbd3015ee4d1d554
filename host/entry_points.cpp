// The exported entry points: one per effect, each handing the host's call and
// its fixed index to the dispatcher.
#include "host/dispatcher.h"
#include "host/effect_list.h"
#include "interface/module_exports.h"

#define ZOKA_ENTRY_POINT(index, cls, entry)                                               \
    extern "C" ZOKA_EXPORT HostError HOST_CALL entry(int32_t command, HostInputRecord* in, \
                                                     HostOutputRecord* out,                \
                                                     HostParamDef** params,                \
                                                     HostLayer* output, void* extra) {     \
        return zoka::DispatchCommand(command, in, out, params, output, extra, index);     \
    }
ZOKA_EFFECTS(ZOKA_ENTRY_POINT)
#undef ZOKA_ENTRY_POINT
