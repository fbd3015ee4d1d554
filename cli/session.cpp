#include "cli/session.h"

#include <algorithm>
#include <cctype>

#include "cli/error_lines.h"
#include "ourhost/text.h"

namespace zoka_cli {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

// "Drop_Shadow_Entry_Point" shows as "Drop Shadow".
std::string NameFromEntryPoint(std::string entry) {
    const std::string suffix = "_Entry_Point";
    if (entry.size() > suffix.size()) entry.resize(entry.size() - suffix.size());
    std::replace(entry.begin(), entry.end(), '_', ' ');
    return entry;
}

}  // namespace

Session::Session(const std::string& modulePath) {
    host_.ServeRenders();
    std::string error;
    module_ = ourhost::Module::Load(modulePath, error);
    if (!module_) {
        ErrorStream() << "zoka: cannot load the module " << modulePath << ": " << error << "\n";
        return;
    }
    for (const ZokaEffectKeys& keys : module_->AllEffects()) {
        EffectEntry entry{NameFromEntryPoint(keys.entryName), keys, nullptr};
        for (const auto& pipl : module_->Effects()) {
            if (pipl.entryName == keys.entryName) {
                entry.pipl = &pipl;
                entry.name = ourhost::Utf8FromAnsi(pipl.name);
            }
        }
        effects_.push_back(entry);
    }
}

const EffectEntry* Session::Find(const std::string& nameOrKey) const {
    for (const EffectEntry& e : effects_) {
        if (SameText(e.name, nameOrKey) || SameText(e.keys.effectKey, nameOrKey)) return &e;
    }
    ErrorStream() << "zoka: no effect named \"" << nameOrKey << "\" (see 'zoka list')\n";
    return nullptr;
}

void Session::UseThreads(int32_t threads) {
    if (module_) host_.UseWorkers(module_->WorkerOffer(), threads);
}

std::unique_ptr<ourhost::EffectInstance> Session::Instantiate(const EffectEntry& effect) {
    return std::make_unique<ourhost::EffectInstance>(host_,
                                                      module_->EntryPoint(effect.keys.entryName));
}

std::unique_ptr<ourhost::EffectInstance> SetUpEffect(Session& session, const EffectEntry& effect) {
    auto instance = session.Instantiate(effect);
    HostError result = instance->GlobalSetup();
    if (result == kHostNoError) result = instance->SetupParams();
    if (result != kHostNoError) {
        ErrorStream() << "zoka: " << effect.name << ": setup failed with code " << result << ": "
                  << ourhost::Utf8FromAnsi(instance->Output().message) << "\n";
        return nullptr;
    }
    return instance;
}

}  // namespace zoka_cli
