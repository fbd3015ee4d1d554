// Writes Kdenlive's effect descriptions of the frei0r plug-ins, at build
// time from the module's parameter tables: zoka-kdenlive-effects MODULE
// FOLDER writes FOLDER/frei0r_zoka_<key>.xml for every effect (the key in
// lower case, as the plug-in's file is named) and removes those of effects
// the module no longer has. Kdenlive shows a frei0r filter with proper
// controls only from such a file: each parameter by its label, numbers in
// the user's units (Kdenlive divides by the factor to get the frei0r value),
// popups as lists of their items, checkboxes, colours; numbers and angles
// can be keyframed. Points are left out: MLT passes no position to a frei0r
// filter, so they keep their defaults.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "frei0r/param_map.h"
#include "ourhost/client_names.h"
#include "ourhost/effect_instance.h"
#include "ourhost/effect_texts.h"
#include "ourhost/generated_files.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"

namespace fs = std::filesystem;

namespace {

// The shortest text that reads back as the same double.
std::string Number(double v) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v);
    return std::string(buffer, result.ptr);
}

std::string Xml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

double FromFixed(HostFixed v) { return v / 65536.0; }

// The valid range in the user's units; an angle's one turn either way.
std::pair<double, double> UserRange(const ourhost::ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    switch (slot.def.kind) {
        case kParamSlider: return {u.slider.validMin, u.slider.validMax};
        case kParamFixedSlider: return {FromFixed(u.fixedSlider.validMin), FromFixed(u.fixedSlider.validMax)};
        default: return {-360, 360};
    }
}

std::string NumberParameter(const std::string& name, const std::string& label, const ourhost::ParamSlot& slot) {
    // The default as the plug-in hands it out.
    double value = 0;
    std::string text;
    zoka_frei0r::ValueToFrei0r(slot, slot.def.u, &value, zoka_frei0r::FrameSize{1, 1}, text);
    const auto [low, high] = UserRange(slot);
    const int decimals = slot.def.kind == kParamSlider ? 0 : 2;
    return "    <parameter type=\"animated\" name=\"" + Xml(name) + "\" default=\"" + Number(value) + "\" min=\"" +
           Number(low) + "\" max=\"" + Number(high) + "\" factor=\"" +
           Number(zoka_frei0r::UserUnitsPerFrei0rUnit(slot)) + "\" decimals=\"" + std::to_string(decimals) +
           "\">\n        <name>" + Xml(label) + "</name>\n    </parameter>\n";
}

std::string Parameter(const std::string& name, const std::string& label, const ourhost::ParamSlot& slot) {
    const std::string head = "    <parameter type=\"";
    const std::string tail = "        <name>" + Xml(label) + "</name>\n    </parameter>\n";
    switch (slot.def.kind) {
        case kParamSlider:
        case kParamFixedSlider:
        case kParamAngle: return NumberParameter(name, label, slot);
        case kParamCheckbox:
            return head + "bool\" name=\"" + Xml(name) + "\" default=\"" + (slot.def.u.checkbox.value ? "1" : "0") +
                   "\">\n" + tail;
        case kParamColor:
            return head + "color\" name=\"" + Xml(name) + "\" default=\"" +
                   Xml(ourhost::FormatValue(slot, slot.def.u)) + "\">\n" + tail;
        case kParamPopup: {
            std::string values, shown;
            for (const std::string& item : ourhost::PopupItems(slot)) {
                values += (values.empty() ? "" : ";") + item;
                shown += (shown.empty() ? "" : ",") + item;
            }
            return head + "list\" name=\"" + Xml(name) + "\" default=\"" +
                   Xml(ourhost::FormatValue(slot, slot.def.u)) + "\" paramlist=\"" + Xml(values) +
                   "\">\n        <paramlistdisplay>" + Xml(shown) + "</paramlistdisplay>\n" + tail;
        }
        case kParamPoint:
            return "    <!-- " + Xml(label) + ": MLT passes no position to frei0r filters; it keeps its default -->\n";
        default: return {};  // a layer: a filter has one input
    }
}

std::string Description(ourhost::Host& host, const ourhost::Module& module, const ZokaEffectKeys& keys) {
    ourhost::EffectInstance instance(host, module.EntryPoint(keys.entryName));
    std::string about;
    instance.About(about);
    instance.GlobalSetup();
    instance.SetupParams();
    const std::string service = "frei0r." + ourhost::Frei0rPluginName(keys.effectKey);
    std::ostringstream xml;
    xml << "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n"
        << "<effect LC_NUMERIC=\"C\" tag=\"" << service << "\" id=\"" << service << "\">\n"
        << "    <name>" << Xml(ourhost::Frei0rTitle(ourhost::DisplayName(module, keys))) << "</name>\n"
        << "    <description>" << Xml(ourhost::AboutDescription(about)) << "</description>\n"
        << "    <author>ZOKA-ENG</author>\n";
    for (const ourhost::ParamName& p : ourhost::ParamNames(instance, keys)) {
        if (p.number < 0) continue;  // the selection layer
        const ourhost::ParamSlot& slot = instance.Params()[p.hostIndex];
        // Named as the plug-in names it: by key, by label where it has none.
        xml << Parameter(p.key.empty() ? p.label : p.key, ourhost::VisibleLabel(slot), slot);
    }
    xml << "</effect>\n";
    instance.GlobalSetdown();
    return xml.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zoka-kdenlive-effects MODULE FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[2];
    std::error_code error;
    fs::create_directories(folder, error);
    auto host = std::make_unique<ourhost::Host>();
    std::string why;
    const auto module = ourhost::Module::Load(argv[1], why);
    if (!module || error) {
        std::fprintf(stderr, "zoka-kdenlive-effects: cannot load %s (%s) or make %s\n", argv[1], why.c_str(),
                     argv[2]);
        return 1;
    }
    std::set<std::string> written;
    for (const ZokaEffectKeys& keys : module->AllEffects()) {
        const std::string name = "frei0r_" + ourhost::Frei0rPluginName(keys.effectKey) + ".xml";
        if (!ourhost::WriteUnlessSame(Description(*host, *module, keys), folder / name)) {
            std::fprintf(stderr, "zoka-kdenlive-effects: cannot write %s\n", (folder / name).c_str());
            return 1;
        }
        written.insert(name);
    }
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("frei0r_zoka_", 0) == 0 && !written.count(name)) fs::remove(entry.path(), error);
    }
    return written.empty() ? 1 : 0;
}
