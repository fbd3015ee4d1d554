#include "ourhost/effect_texts.h"

#include <algorithm>

#include "ourhost/text.h"

namespace ourhost {

std::string DisplayName(const Module& module, const ZokaEffectKeys& keys) {
    for (const auto& pipl : module.Effects()) {
        if (pipl.entryName == keys.entryName) return Utf8FromAnsi(pipl.name);
    }
    std::string entry = keys.entryName;
    const std::string suffix = "_Entry_Point";
    if (entry.size() > suffix.size()) entry.resize(entry.size() - suffix.size());
    std::replace(entry.begin(), entry.end(), '_', ' ');
    return entry;
}

std::string AboutDescription(const std::string& about) {
    const size_t gap = about.find("\r\r");
    std::string text = Utf8FromAnsi(gap == std::string::npos ? about : about.substr(gap + 2));
    std::replace(text.begin(), text.end(), '\r', ' ');
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace ourhost
