// The resource section of the Linux module, generated at build time.
#pragma once

#include <span>

#include "interface/module_exports.h"

namespace zoka {

std::span<const ZokaResource> ModuleResources();

}  // namespace zoka
