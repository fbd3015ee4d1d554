#include "ourhost/param_values.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ourhost/text.h"

namespace ourhost {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool ParseReal(const std::string& text, double& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    value = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && std::isfinite(value);
}

bool ParseInteger(const std::string& text, long& value) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    value = std::strtol(t.c_str(), &end, 10);
    return end == t.c_str() + t.size();
}

std::string Number(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

double FromFixed(int32_t v) { return v / 65536.0; }

// A user's number as a 16.16 value, or false when 16.16 cannot hold it.
bool ParseFixed(const std::string& text, int32_t& fixed) {
    double v = 0;
    if (!ParseReal(text, v) || std::fabs(v) > kMaxFixedMagnitude) return false;
    fixed = FixedFromDouble(v);
    return true;
}

// Splits "a,b,c" into trimmed parts.
std::vector<std::string> Parts(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) parts.push_back(Trim(part));
    if (!text.empty() && text.back() == separator) parts.emplace_back();
    return parts;
}

// Common CSS colour names, for colours typed by hand.
struct NamedColor {
    const char* name;
    uint8_t r, g, b;
};
constexpr NamedColor kNamedColors[] = {
    {"black", 0, 0, 0},         {"white", 255, 255, 255},  {"red", 255, 0, 0},
    {"green", 0, 128, 0},       {"lime", 0, 255, 0},       {"blue", 0, 0, 255},
    {"yellow", 255, 255, 0},    {"cyan", 0, 255, 255},     {"aqua", 0, 255, 255},
    {"magenta", 255, 0, 255},   {"fuchsia", 255, 0, 255},  {"gray", 128, 128, 128},
    {"grey", 128, 128, 128},    {"silver", 192, 192, 192}, {"orange", 255, 165, 0},
    {"purple", 128, 0, 128},    {"pink", 255, 192, 203},   {"brown", 165, 42, 42},
    {"navy", 0, 0, 128},        {"teal", 0, 128, 128},     {"olive", 128, 128, 0},
    {"maroon", 128, 0, 0},      {"gold", 255, 215, 0},     {"violet", 238, 130, 238},
};

bool AllHexDigits(const std::string& t) {
    return std::all_of(t.begin(), t.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

// "#RRGGBB", or "#RGB" with each digit doubled.
bool ParseHexColor(const std::string& t, HostColor& color) {
    const std::string digits = t.substr(1);
    if (!AllHexDigits(digits) || (digits.size() != 6 && digits.size() != 3)) return false;
    const std::string full = digits.size() == 6 ? digits
                                                : std::string{digits[0], digits[0], digits[1],
                                                              digits[1], digits[2], digits[2]};
    const auto rgb = static_cast<unsigned>(std::strtoul(full.c_str(), nullptr, 16));
    color = HostColor{255, uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)};
    return true;
}

}  // namespace

bool ParseColor(const std::string& text, HostColor& color) {
    const std::string t = Trim(text);
    if (!t.empty() && t[0] == '#') return ParseHexColor(t, color);
    for (const NamedColor& named : kNamedColors) {
        if (Lower(t) == named.name) {
            color = HostColor{255, named.r, named.g, named.b};
            return true;
        }
    }
    const auto parts = Parts(t, ',');
    long c[3];
    if (parts.size() != 3) return false;
    for (int i = 0; i < 3; ++i) {
        if (!ParseInteger(parts[i], c[i]) || c[i] < 0 || c[i] > 255) return false;
    }
    color = HostColor{255, uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])};
    return true;
}

namespace {

bool ParseSwitch(const std::string& text, bool& on) {
    const std::string t = Lower(Trim(text));
    if (t == "on" || t == "true" || t == "yes" || t == "1") {
        on = true;
        return true;
    }
    if (t == "off" || t == "false" || t == "no" || t == "0") {
        on = false;
        return true;
    }
    return false;
}

}  // namespace

std::string VisibleLabel(const ParamSlot& slot) {
    // A checkbox whose label is blank is known by the text beside its box.
    const std::string label = Trim(Utf8FromAnsi(slot.def.name));
    if (label.empty() && slot.def.kind == kParamCheckbox) return Trim(Utf8FromAnsi(slot.checkboxText));
    return label;
}

std::vector<ParamName> ParamNames(EffectInstance& instance, const ZokaEffectKeys& keys) {
    std::vector<ParamName> names;
    const auto& params = instance.Params();
    const size_t first = params.size() - static_cast<size_t>(std::max(keys.paramCount, 0));
    for (size_t i = 1; i < params.size(); ++i) {
        const int32_t number = i >= first ? static_cast<int32_t>(i - first) : -1;
        std::string key = number >= 0 && number < kZokaMaxParams ? keys.paramKeys[number] : "";
        names.push_back(ParamName{i, number, key, VisibleLabel(params[i])});
    }
    return names;
}

std::optional<ParamName> FindParam(const std::vector<ParamName>& names, const std::string& what) {
    const std::string wanted = Lower(Trim(what));
    for (const ParamName& n : names) {
        if ((!n.key.empty() && Lower(n.key) == wanted) || Lower(Trim(n.label)) == wanted) return n;
    }
    long number = 0;
    if (ParseInteger(what, number)) {
        for (const ParamName& n : names) {
            if (n.number >= 0 && n.number == number) return n;
        }
    }
    return std::nullopt;
}

const char* KindName(int32_t kind) {
    switch (kind) {
        case kParamLayer: return "layer";
        case kParamSlider: return "slider";
        case kParamFixedSlider: return "fixed slider";
        case kParamAngle: return "angle";
        case kParamCheckbox: return "checkbox";
        case kParamColor: return "colour";
        case kParamPoint: return "point";
        case kParamPopup: return "popup";
        default: return "unknown";
    }
}

std::vector<std::string> PopupItems(const ParamSlot& slot) {
    return Parts(Utf8FromAnsi(slot.choices), '|');
}

std::string ValidRange(const ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    switch (slot.def.kind) {
        case kParamSlider:
            return "a whole number from " + std::to_string(u.slider.validMin) + " to " +
                   std::to_string(u.slider.validMax);
        case kParamFixedSlider:
            return "a number from " + Number(FromFixed(u.fixedSlider.validMin)) + " to " +
                   Number(FromFixed(u.fixedSlider.validMax));
        case kParamAngle:
            return "degrees clockwise from straight up, from -32767 to 32767";
        case kParamCheckbox:
            return "on or off";
        case kParamColor:
            return "a colour #RRGGBB, #RGB, R,G,B (0 to 255 each) or a name (black, white, red ...)";
        case kParamPoint:
            return "X,Y in layer pixels, from -32767 to 32767";
        case kParamPopup: {
            std::string items;
            for (const auto& item : PopupItems(slot)) items += (items.empty() ? "" : ", ") + item;
            return "one of " + items + " (or its number from 1 to " +
                   std::to_string(u.popup.choiceCount) + ")";
        }
        default:
            return "no value (a layer is chosen by the host)";
    }
}

std::string FormatValue(const ParamSlot& slot, const HostParamValue& v) {
    switch (slot.def.kind) {
        case kParamSlider:
            return std::to_string(v.slider.value);
        case kParamPopup: {
            const auto items = PopupItems(slot);
            const int32_t item = v.popup.value;
            if (item >= 1 && item <= static_cast<int32_t>(items.size())) return items[item - 1];
            return std::to_string(item);
        }
        case kParamFixedSlider:
        case kParamAngle:
            return Number(FromFixed(v.slider.value));
        case kParamCheckbox:
            return v.checkbox.value ? "on" : "off";
        case kParamColor: {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "#%02X%02X%02X", v.color.value.red,
                          v.color.value.green, v.color.value.blue);
            return buffer;
        }
        case kParamPoint:
            return Number(FromFixed(v.point.x)) + "," + Number(FromFixed(v.point.y));
        default:
            return "";
    }
}

bool ParseValue(const ParamSlot& slot, const std::string& text, HostParamValue& value,
                std::string& error) {
    value = slot.def.u;
    const HostParamValue& d = slot.def.u;
    bool ok = false;
    switch (slot.def.kind) {
        case kParamSlider: {
            long v = 0;
            ok = ParseInteger(text, v) && v >= d.slider.validMin && v <= d.slider.validMax;
            if (ok) value.slider.value = static_cast<int32_t>(v);
            break;
        }
        case kParamFixedSlider: {
            int32_t v = 0;
            ok = ParseFixed(text, v) && v >= d.fixedSlider.validMin && v <= d.fixedSlider.validMax;
            if (ok) value.fixedSlider.value = v;
            break;
        }
        case kParamAngle: {
            ok = ParseFixed(text, value.angle.value);
            break;
        }
        case kParamCheckbox: {
            bool on = false;
            ok = ParseSwitch(text, on);
            if (ok) value.checkbox.value = on ? 1 : 0;
            break;
        }
        case kParamColor:
            ok = ParseColor(text, value.color.value);
            break;
        case kParamPoint: {
            const auto parts = Parts(text, ',');
            ok = parts.size() == 2 && ParseFixed(parts[0], value.point.x) &&
                 ParseFixed(parts[1], value.point.y);
            break;
        }
        case kParamPopup: {
            const auto items = PopupItems(slot);
            const std::string wanted = Lower(Trim(text));
            for (size_t i = 0; i < items.size() && !ok; ++i) {
                if (Lower(items[i]) == wanted) {
                    value.popup.value = static_cast<int32_t>(i + 1);
                    ok = true;
                }
            }
            long n = 0;
            if (!ok && ParseInteger(text, n) && n >= 1 && n <= d.popup.choiceCount) {
                value.popup.value = static_cast<int32_t>(n);
                ok = true;
            }
            break;
        }
        default:
            break;
    }
    if (!ok) {
        std::ostringstream message;
        message << '"' << VisibleLabel(slot) << "\" takes " << ValidRange(slot)
                << ", not \"" << text << '"';
        error = message.str();
    }
    return ok;
}

bool SetParam(ParamSlot& slot, const std::string& text, std::string& error) {
    if (text.find('@') == std::string::npos) {
        HostParamValue value;
        if (!ParseValue(slot, text, value, error)) return false;
        slot.def.u = value;
        slot.keys.clear();
        return true;
    }
    std::map<double, HostParamValue> keys;
    for (const std::string& key : Parts(text, ';')) {
        const size_t at = key.rfind('@');
        double seconds = 0;
        HostParamValue value;
        if (at == std::string::npos || !ParseReal(key.substr(at + 1), seconds)) {
            std::ostringstream message;
            message << '"' << VisibleLabel(slot) << "\": a keyframe is VALUE@SECONDS, not \""
                    << key << '"';
            error = message.str();
            return false;
        }
        if (!ParseValue(slot, key.substr(0, at), value, error)) return false;
        keys[seconds] = value;
    }
    slot.keys = std::move(keys);
    return true;
}

}  // namespace ourhost
