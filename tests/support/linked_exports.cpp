#include "tests/support/linked_exports.h"

#include <cstring>

#include "host/effect_list.h"
#include "interface/host_records.h"
#include "interface/module_exports.h"

#define ZOKA_DECLARE_ENTRY(index, cls, entry)                                                 \
    extern "C" HostError HOST_CALL entry(int32_t, HostInputRecord*, HostOutputRecord*,        \
                                         HostParamDef**, HostLayer*, void*);
ZOKA_EFFECTS(ZOKA_DECLARE_ENTRY)
#undef ZOKA_DECLARE_ENTRY

namespace zoka_test {

void* LinkedExport(const char* name) {
    struct Export {
        const char* name;
        void* address;
    };
#define ZOKA_EXPORT_ENTRY(index, cls, entry) Export{#entry, reinterpret_cast<void*>(&entry)},
    static const Export exports[] = {
        ZOKA_EFFECTS(ZOKA_EXPORT_ENTRY)
        Export{"ZokaDescribeEffect", reinterpret_cast<void*>(&ZokaDescribeEffect)},
        Export{"ZokaOfferWorkers", reinterpret_cast<void*>(&ZokaOfferWorkers)},
        Export{"ZokaModuleResources", reinterpret_cast<void*>(&ZokaModuleResources)},
        Export{"ZokaLendMotionCarry", reinterpret_cast<void*>(&ZokaLendMotionCarry)},
    };
#undef ZOKA_EXPORT_ENTRY
    for (const Export& e : exports) {
        if (std::strcmp(e.name, name) == 0) return e.address;
    }
    return nullptr;
}

}  // namespace zoka_test
