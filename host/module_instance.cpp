#include "host/module_instance.h"

namespace zoka {

platform::ModuleHandle ModuleInstance = nullptr;

bool ModuleAttach(platform::ModuleHandle instance, uint32_t reason) {
    if (reason == kProcessAttach) ModuleInstance = instance;
    return true;
}

}  // namespace zoka
