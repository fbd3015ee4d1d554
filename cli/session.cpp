#include "cli/session.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace zoka_cli {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

}  // namespace

Session::Session(const std::string& modulePath) {
    std::string error;
    module_ = ourhost::Module::Load(modulePath, error);
    if (!module_) {
        std::cerr << "zoka: cannot load the module " << modulePath << ": " << error << "\n";
        return;
    }
    for (const auto& descriptor : module_->Effects()) {
        EffectEntry entry{descriptor, {}};
        if (auto keys = module_->Keys(descriptor.entryName)) entry.keys = *keys;
        effects_.push_back(entry);
    }
}

const EffectEntry* Session::Find(const std::string& nameOrKey) const {
    for (const EffectEntry& e : effects_) {
        if (SameText(e.descriptor.name, nameOrKey) || SameText(e.keys.effectKey, nameOrKey)) {
            return &e;
        }
    }
    return nullptr;
}

std::unique_ptr<ourhost::EffectInstance> Session::Instantiate(const EffectEntry& effect) {
    return std::make_unique<ourhost::EffectInstance>(
        host_, module_->EntryPoint(effect.descriptor.entryName));
}

}  // namespace zoka_cli
