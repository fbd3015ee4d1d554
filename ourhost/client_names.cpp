#include "ourhost/client_names.h"

#include <algorithm>
#include <cctype>

namespace ourhost {

namespace {

bool Lower(unsigned char c) { return std::islower(c) != 0; }

}  // namespace

std::string LowerKey(const std::string& key) {
    std::string lower = key;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower;
}

std::string GeglOperationName(const std::string& effectKey) { return "zoka:" + LowerKey(effectKey); }

std::string GeglPropertyName(const std::string& paramKey) {
    std::string name;
    for (size_t i = 0; i < paramKey.size(); ++i) {
        const auto c = static_cast<unsigned char>(paramKey[i]);
        if (!std::isalnum(c)) {
            if (!name.empty() && name.back() != '_') name += '_';
            continue;
        }
        // A capital starts a word after a small letter, or before one (the
        // N of "HSBNoise").
        const bool startsWord = std::isupper(c) && i > 0 &&
                                (Lower(static_cast<unsigned char>(paramKey[i - 1])) ||
                                 (i + 1 < paramKey.size() && Lower(static_cast<unsigned char>(paramKey[i + 1]))));
        if (startsWord && !name.empty() && name.back() != '_') name += '_';
        name += static_cast<char>(std::tolower(c));
    }
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) name = "p_" + name;
    return name;
}

std::string GeglItemNick(const std::string& item) {
    std::string nick;
    for (const unsigned char c : item) {
        if (std::isalnum(c)) {
            nick += static_cast<char>(std::tolower(c));
        } else if (!nick.empty() && nick.back() != '-') {
            nick += '-';
        }
    }
    while (!nick.empty() && nick.back() == '-') nick.pop_back();
    return nick.empty() ? "item" : nick;
}

std::string Frei0rPluginName(const std::string& effectKey) { return "zoka_" + LowerKey(effectKey); }

std::string Frei0rTitle(const std::string& effectName) { return "zoka " + effectName; }

// GStreamer's frei0r element: "frei0r-filter-" and the plug-in's name in
// lower case, every character but letters, digits, - and + made a -.
std::string GstreamerElementName(const std::string& effectName) {
    std::string name = LowerKey("frei0r-filter-" + Frei0rTitle(effectName));
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '+') c = '-';
    }
    return name;
}

}  // namespace ourhost
