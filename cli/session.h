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

// Exit statuses.
inline constexpr int kModuleError = 1;  // the module reported an error
inline constexpr int kUsageError = 2;   // the request itself was wrong
inline constexpr int kFileError = 3;    // an image could not be read or written

// An effect as the tool shows it: its keys, and its PiPL when the host
// lists it.
struct EffectEntry {
    std::string name;  // UTF-8; for an effect without a PiPL, from its entry point
    ZokaEffectKeys keys{};
    const ourhost::EffectDescriptor* pipl = nullptr;

    bool Registered() const { return pipl != nullptr; }
};

class Session {
public:
    // Loads the module; on failure prints why and leaves the session empty.
    explicit Session(const std::string& modulePath);
    bool Loaded() const { return module_ != nullptr; }

    // Every effect with code in the module, in index order.
    const std::vector<EffectEntry>& Effects() const { return effects_; }
    // By display name or effect key, case-insensitive; prints an error line
    // and gives null when there is none.
    const EffectEntry* Find(const std::string& nameOrKey) const;

    // Each render splits the bands of an effect whose bands agree over this
    // many threads (1, the default: the calling thread alone).
    void UseThreads(int32_t threads);

    // A new instance of the effect in this session's host.
    std::unique_ptr<ourhost::EffectInstance> Instantiate(const EffectEntry& effect);
    // The module's lending of a motion carry, for instances that render
    // frames in increasing time (EffectInstance::CarryMotion).
    ZokaLendMotionCarryFn MotionCarryLender() const { return module_->MotionCarryLender(); }
    ourhost::Host& Host() { return host_; }

private:
    ourhost::Host host_;
    std::unique_ptr<ourhost::Module> module_;
    std::vector<EffectEntry> effects_;
};

// An instance after global setup and parameter setup, or null after an error
// line.
std::unique_ptr<ourhost::EffectInstance> SetUpEffect(Session& session, const EffectEntry& effect);

}  // namespace zoka_cli
