// The exports of a module linked into this program (static builds, which
// cannot load a module file), found by name as the module file gives them.
#pragma once

namespace zoka_test {

// The export named name, or null; for ourhost::Module::Linked.
void* LinkedExport(const char* name);

}  // namespace zoka_test
