// The built module file, loaded once for the tests that drive it as the host
// does: through its PiPLs and entry points.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"

namespace zoka_test {

ourhost::Module& LoadedModule();

// The descriptor of the effect with this display name; fails the test when
// the module has none.
const ourhost::EffectDescriptor& Descriptor(const std::string& name);

// An effect applied in a fresh host, its parameters set up as the host does
// after global setup.
// Sets a parameter from its text in user units; fails the test when the
// value is refused.
void SetValue(ourhost::EffectInstance& instance, size_t hostIndex, const std::string& value);

struct AppliedEffect {
    // By its display name, or by its exported entry point
    // ("Drop_Shadow_Entry_Point") for an effect without a PiPL, which the
    // host never lists.
    explicit AppliedEffect(const std::string& nameOrEntryPoint);

    // Sets the parameter with this key (or label) from its text in user
    // units; fails the test when there is none or the value is refused.
    void Set(const std::string& key, const std::string& value);
    // Its index in the host's parameter list.
    size_t HostIndex(const std::string& key);

    std::string entryName;  // the effect's exported entry point

    ourhost::Host host;
    ourhost::EffectInstance instance;
};

}  // namespace zoka_test
