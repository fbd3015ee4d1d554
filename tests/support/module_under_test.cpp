#include "tests/support/module_under_test.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "ourhost/param_values.h"

#ifdef ZOKA_LINKED_MODULE
#include "tests/support/linked_exports.h"
#endif

namespace zoka_test {

namespace {

std::unique_ptr<ourhost::Module> OpenModule() {
#ifdef ZOKA_LINKED_MODULE
    return ourhost::Module::Linked(LinkedExport);
#else
    std::string error;
    auto loaded = ourhost::Module::Load(ZOKA_MODULE_PATH, error);
    if (!loaded) {
        ADD_FAILURE() << "cannot load " << ZOKA_MODULE_PATH << ": " << error;
        std::abort();
    }
    return loaded;
#endif
}

}  // namespace

ourhost::Module& LoadedModule() {
    static std::unique_ptr<ourhost::Module> module = OpenModule();
    return *module;
}

const ourhost::EffectDescriptor& Descriptor(const std::string& name) {
    for (const auto& d : LoadedModule().Effects()) {
        if (d.name == name) return d;
    }
    ADD_FAILURE() << "the module lists no effect " << name;
    std::abort();
}

void SetValue(ourhost::EffectInstance& instance, size_t hostIndex, const std::string& value) {
    std::string error;
    ASSERT_TRUE(ourhost::SetParam(instance.Params()[hostIndex], value, error)) << error;
}

namespace {

// The entry point itself when the module exports one by that name, else the
// entry point of the listed effect of that name.
std::string EntryNameOf(const std::string& nameOrEntryPoint) {
    if (LoadedModule().Keys(nameOrEntryPoint)) return nameOrEntryPoint;
    return Descriptor(nameOrEntryPoint).entryName;
}

}  // namespace

AppliedEffect::AppliedEffect(const std::string& nameOrEntryPoint)
    : entryName(EntryNameOf(nameOrEntryPoint)),
      instance(host, LoadedModule().EntryPoint(entryName)) {
    EXPECT_EQ(instance.GlobalSetup(), kHostNoError);
    EXPECT_EQ(instance.SetupParams(), kHostNoError);
}

size_t AppliedEffect::HostIndex(const std::string& key) {
    const auto keys = LoadedModule().Keys(entryName);
    EXPECT_TRUE(keys.has_value()) << entryName;
    if (!keys) return 0;
    const auto param = ourhost::FindParam(ourhost::ParamNames(instance, *keys), key);
    EXPECT_TRUE(param.has_value()) << entryName << " has no parameter " << key;
    return param ? param->hostIndex : 0;
}

void AppliedEffect::Set(const std::string& key, const std::string& value) {
    const size_t index = HostIndex(key);
    ASSERT_NE(index, 0u);
    SetValue(instance, index, value);
}

}  // namespace zoka_test
