// What every command of the tool starts from: the module loaded into our
// host, and an effect found in it by name or key.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"

namespace zoka_cli {

// An effect as the tool shows it: what its PiPL says, plus its keys.
struct EffectEntry {
    ourhost::EffectDescriptor descriptor;
    ZokaEffectKeys keys{};
};

class Session {
public:
    // Loads the module; on failure prints why and leaves the session empty.
    explicit Session(const std::string& modulePath);
    bool Loaded() const { return module_ != nullptr; }

    const std::vector<EffectEntry>& Effects() const { return effects_; }
    // By display name or effect key, case-insensitive; null when none.
    const EffectEntry* Find(const std::string& nameOrKey) const;

    // A new instance of the effect in this session's host.
    std::unique_ptr<ourhost::EffectInstance> Instantiate(const EffectEntry& effect);
    ourhost::Host& Host() { return host_; }

private:
    ourhost::Host host_;
    std::unique_ptr<ourhost::Module> module_;
    std::vector<EffectEntry> effects_;
};

}  // namespace zoka_cli
