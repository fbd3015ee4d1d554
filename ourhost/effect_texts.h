// What a client shows of an effect besides its parameters: the name the host
// lists it by and the description from its about text, in UTF-8.
#pragma once

#include <string>

#include "interface/module_exports.h"
#include "ourhost/module.h"

namespace ourhost {

// The PiPL's name; for an effect without one, its entry point's
// ("Drop_Shadow_Entry_Point" names "Drop Shadow").
std::string DisplayName(const Module& module, const ZokaEffectKeys& keys);

// The about text's description: what follows the name and version line, on
// one line.
std::string AboutDescription(const std::string& about);

}  // namespace ourhost
