#include "tests/support/module_under_test.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace zoka_test {

ourhost::Module& LoadedModule() {
    static std::unique_ptr<ourhost::Module> module = [] {
        std::string error;
        auto loaded = ourhost::Module::Load(ZOKA_MODULE_PATH, error);
        if (!loaded) {
            ADD_FAILURE() << "cannot load " << ZOKA_MODULE_PATH << ": " << error;
            std::abort();
        }
        return loaded;
    }();
    return *module;
}

const ourhost::EffectDescriptor& Descriptor(const std::string& name) {
    for (const auto& d : LoadedModule().Effects()) {
        if (d.name == name) return d;
    }
    ADD_FAILURE() << "the module lists no effect " << name;
    std::abort();
}

AppliedEffect::AppliedEffect(const std::string& name)
    : instance(host, LoadedModule().EntryPoint(Descriptor(name).entryName)) {
    EXPECT_EQ(instance.GlobalSetup(), kHostNoError);
    EXPECT_EQ(instance.SetupParams(), kHostNoError);
}

}  // namespace zoka_test
