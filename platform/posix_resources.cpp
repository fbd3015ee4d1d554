// Linux stand-in for the resource section of the module file: our host looks
// the PiPL resources up here, as the host on Windows looks them up in the
// module's resources.
#include "interface/module_exports.h"
#include "resources/module_resources.h"

extern "C" ZOKA_EXPORT const ZokaResource* ZokaModuleResources(int32_t* count) {
    const auto resources = zoka::ModuleResources();
    *count = static_cast<int32_t>(resources.size());
    return resources.data();
}
