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
    explicit AppliedEffect(const std::string& name);

    ourhost::Host host;
    ourhost::EffectInstance instance;
};

}  // namespace zoka_test
