// For tests that call the module's internals directly: a stand-in host whose
// input record the module's memory reaches through, for the test's life.
#pragma once

#include "base/module_memory.h"
#include "ourhost/host.h"

namespace zoka_test {

class ModuleMemoryScope {
public:
    ModuleMemoryScope() {
        in_.utils = host_.Utilities();
        zoka::CurrentInputRecord = &in_;
        host_.SetCallingOutput(&out_);
    }
    ~ModuleMemoryScope() { zoka::CurrentInputRecord = nullptr; }

    ourhost::Host& Host() { return host_; }
    HostInputRecord& In() { return in_; }
    HostOutputRecord& Out() { return out_; }

private:
    ourhost::Host host_;
    HostInputRecord in_{};
    HostOutputRecord out_{};
};

}  // namespace zoka_test
