// Writes the GEGL operations' C files from the module's parameter tables, at
// build time: zoka-gegl-operations MODULE FOLDER writes FOLDER/zoka_op_NN.c
// for every effect index 0..kZokaMaxEffectIndex (an index without an effect
// gets a file that registers nothing) and FOLDER/zoka_operations.c, which
// registers them all. Each operation file declares its properties with
// GEGL's macros, from what the module declares in parameter setup: labels,
// valid ranges, slider ranges as the UI's, defaults, popups as enumerations
// of their items, checkboxes as booleans, colours, points in layer pixels;
// effects whose output changes with time alone also take a time and a frame
// rate. Files that come out the same are left alone, so nothing recompiles.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "interface/module_exports.h"
#include "ourhost/client_names.h"
#include "ourhost/effect_instance.h"
#include "ourhost/effect_texts.h"
#include "ourhost/generated_files.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"

namespace fs = std::filesystem;

namespace {

// The largest time offered, in seconds: the frames our host computes at the
// default rate (ourhost::kMaxFrameNumber at 30 a second).
constexpr double kLatestTime = 33333;
constexpr double kDefaultFps = 30;  // as zoka render

std::string Number(double v) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    std::string text = buffer;
    // A C double literal, so that GEGL's macros take it as one.
    if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
    return text;
}

double FromFixed(HostFixed v) { return v / 65536.0; }

// A C string literal of UTF-8 text: anything but printable ASCII escaped.
std::string CString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\%03o", c);
            out += escape;
        }
    }
    return out + "\"";
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// "GaussianBlur" in C type names.
std::string TypeWord(const std::string& key) {
    std::string word;
    for (const char c : key) {
        if (std::isalnum(static_cast<unsigned char>(c))) word += c;
    }
    return word;
}

struct Operation {
    std::string properties;  // the GEGL_PROPERTIES block
    std::string collect;     // zoka_collect's body
};

// The property's description: its label and what it takes.
std::string Blurb(const std::string& label, const std::string& takes) { return CString(label + ": " + takes); }

void AddSlider(Operation& op, const std::string& name, const std::string& key, const std::string& label,
               const ourhost::ParamSlot& slot) {
    const HostSliderValue& s = slot.def.u.slider;
    std::ostringstream p;
    p << "property_int (" << name << ", " << CString(label) << ", " << s.value << ")\n"
      << "  description (" << Blurb(label, ourhost::ValidRange(slot)) << ")\n"
      << "  value_range (" << s.validMin << ", " << s.validMax << ")\n"
      << "  ui_range (" << s.sliderMin << ", " << s.sliderMax << ")\n";
    op.properties += p.str();
    op.collect += "  zoka_set_int (s, " + CString(key) + ", o->" + name + ");\n";
}

// GEGL's unit for the distances the host shows in pixels.
std::string DistanceUnit(const std::string& label) {
    return label.find("(pixels)") != std::string::npos ? "  ui_meta (\"unit\", \"pixel-distance\")\n" : "";
}

void AddFixedSlider(Operation& op, const std::string& name, const std::string& key, const std::string& label,
                    const ourhost::ParamSlot& slot) {
    const HostFixedSliderValue& s = slot.def.u.fixedSlider;
    std::ostringstream p;
    p << "property_double (" << name << ", " << CString(label) << ", " << Number(FromFixed(s.value)) << ")\n"
      << "  description (" << Blurb(label, ourhost::ValidRange(slot)) << ")\n"
      << "  value_range (" << Number(FromFixed(s.validMin)) << ", " << Number(FromFixed(s.validMax)) << ")\n"
      << "  ui_range (" << Number(FromFixed(s.sliderMin)) << ", " << Number(FromFixed(s.sliderMax)) << ")\n"
      << DistanceUnit(label);
    op.properties += p.str();
    op.collect += "  zoka_set_double (s, " + CString(key) + ", o->" + name + ");\n";
}

void AddAngle(Operation& op, const std::string& name, const std::string& key, const std::string& label,
              const ourhost::ParamSlot& slot) {
    std::ostringstream p;
    p << "property_double (" << name << ", " << CString(label) << ", " << Number(FromFixed(slot.def.u.angle.value))
      << ")\n"
      << "  description (" << Blurb(label, "degrees clockwise from straight up") << ")\n"
      << "  value_range (" << Number(-ourhost::kMaxFixedMagnitude) << ", " << Number(ourhost::kMaxFixedMagnitude)
      << ")\n"
      << "  ui_range (0.0, 360.0)\n"
      << "  ui_meta (\"unit\", \"degree\")\n"
      << "  ui_meta (\"direction\", \"cw\")\n";
    op.properties += p.str();
    op.collect += "  zoka_set_double (s, " + CString(key) + ", o->" + name + ");\n";
}

void AddCheckbox(Operation& op, const std::string& name, const std::string& key, const std::string& label,
                 const ourhost::ParamSlot& slot) {
    op.properties += "property_boolean (" + name + ", " + CString(label) + ", " +
                     (slot.def.u.checkbox.value ? "TRUE" : "FALSE") + ")\n  description (" +
                     Blurb(label, "on or off") + ")\n";
    op.collect += "  zoka_set_boolean (s, " + CString(key) + ", o->" + name + ");\n";
}

void AddColor(Operation& op, const std::string& name, const std::string& key, const std::string& label,
              const ourhost::ParamSlot& slot) {
    op.properties += "property_color (" + name + ", " + CString(label) + ", " +
                     CString(ourhost::FormatValue(slot, slot.def.u)) + ")\n  description (" +
                     Blurb(label, "a colour; its alpha is not used") + ")\n";
    op.collect += "  zoka_set_color (s, " + CString(key) + ", o->" + name + ");\n";
}

// A point as two coordinates in the layer's pixels, from its top-left
// corner, which GIMP offers to pick on the canvas.
void AddPoint(Operation& op, const std::string& name, const std::string& key, const std::string& label,
              const ourhost::ParamSlot& slot) {
    const double at[2] = {FromFixed(slot.def.u.point.x), FromFixed(slot.def.u.point.y)};
    const char* axes[2] = {"x", "y"};
    for (int i = 0; i < 2; ++i) {
        const std::string axisLabel = label + " " + Upper(axes[i]);
        std::ostringstream p;
        p << "property_double (" << name << "_" << axes[i] << ", " << CString(axisLabel) << ", " << Number(at[i])
          << ")\n"
          << "  description (" << Blurb(axisLabel, "pixels from the layer's top-left corner") << ")\n"
          << "  value_range (" << Number(-ourhost::kMaxFixedMagnitude) << ", "
          << Number(ourhost::kMaxFixedMagnitude) << ")\n"
          << "  ui_range (0.0, 1000.0)\n"
          << "  ui_meta (\"unit\", \"pixel-coordinate\")\n"
          << "  ui_meta (\"axis\", \"" << axes[i] << "\")\n";
        op.properties += p.str();
    }
    op.collect += "  zoka_set_point (s, " + CString(key) + ", o->" + name + "_x, o->" + name + "_y);\n";
}

void AddPopup(Operation& op, const std::string& effectKey, const std::string& name, const std::string& key,
              const std::string& label, const ourhost::ParamSlot& slot) {
    const std::vector<std::string> items = ourhost::PopupItems(slot);
    const std::string type = "Zoka" + TypeWord(effectKey) + TypeWord(key);
    const std::string function = "zoka_" + ourhost::GeglPropertyName(effectKey) + "_" + name;
    const std::string value = Upper(function);
    std::ostringstream p;
    p << "enum_start (" << function << ")\n";
    std::set<std::string> nicks;
    for (size_t i = 0; i < items.size(); ++i) {
        std::string nick = ourhost::GeglItemNick(items[i]);
        if (!nicks.insert(nick).second) nick += '-' + std::to_string(i + 1);
        nicks.insert(nick);
        p << "  enum_value (" << value << "_" << i << ", " << CString(nick) << ", " << CString(items[i]) << ")\n";
    }
    const int chosen = std::clamp<int>(slot.def.u.popup.value - 1, 0, static_cast<int>(items.size()) - 1);
    p << "enum_end (" << type << ")\n"
      << "property_enum (" << name << ", " << CString(label) << ", " << type << ", " << function << ", " << value
      << "_" << chosen << ")\n"
      << "  description (" << Blurb(label, "one of its items") << ")\n";
    op.properties += p.str();
    std::string list;
    for (const std::string& item : items) list += CString(item) + ", ";
    op.collect += "  {\n    static const char *const items[] = {" + list + "};\n    zoka_set_item (s, " +
                  CString(key) + ", items, G_N_ELEMENTS (items), (int) o->" + name + ");\n  }\n";
}

void AddTime(Operation& op) {
    op.properties += "property_double (time, \"Time\", 0.0)\n"
                     "  description (\"Time: seconds from the start, for an effect that moves by itself\")\n"
                     "  value_range (0.0, " + Number(kLatestTime) + ")\n"
                     "  ui_range (0.0, 60.0)\n"
                     "property_double (fps, \"Frame rate\", " + Number(kDefaultFps) + ")\n"
                     "  description (\"Frame rate: the frames a second the motion is computed at\")\n"
                     "  value_range (" + Number(ourhost::kMinFps) + ", " + Number(ourhost::kMaxFps) + ")\n"
                     "  ui_range (1.0, 120.0)\n";
}

struct Effect {
    ZokaEffectKeys keys;
    std::string name;
    std::string description;
    bool moves = false;
    Operation operation;
};

// An effect's operation, from one instance's parameter setup.
Effect Describe(ourhost::Host& host, const ourhost::Module& module, const ZokaEffectKeys& keys) {
    Effect effect{keys, ourhost::DisplayName(module, keys), {}, false, {}};
    ourhost::EffectInstance instance(host, module.EntryPoint(keys.entryName));
    std::string about;
    instance.About(about);
    effect.description = ourhost::AboutDescription(about);
    instance.GlobalSetup();
    instance.SetupParams();
    effect.moves = (instance.GlobalFlags() & kOutFlagVariesOverTime) != 0;
    std::set<std::string> names = {"time", "fps"};
    for (const ourhost::ParamName& p : ourhost::ParamNames(instance, keys)) {
        if (p.number < 0) continue;  // the selection layer: a filter has one input
        const ourhost::ParamSlot& slot = instance.Params()[p.hostIndex];
        const std::string key = p.key.empty() ? p.label : p.key;
        std::string name = ourhost::GeglPropertyName(key);
        while (!names.insert(name).second) name += "_";
        const std::string label = ourhost::VisibleLabel(slot);
        Operation& op = effect.operation;
        switch (slot.def.kind) {
            case kParamSlider: AddSlider(op, name, key, label, slot); break;
            case kParamFixedSlider: AddFixedSlider(op, name, key, label, slot); break;
            case kParamAngle: AddAngle(op, name, key, label, slot); break;
            case kParamCheckbox: AddCheckbox(op, name, key, label, slot); break;
            case kParamColor: AddColor(op, name, key, label, slot); break;
            case kParamPoint: AddPoint(op, name, key, label, slot); break;
            case kParamPopup: AddPopup(op, keys.effectKey, name, key, label, slot); break;
            default: break;  // a layer
        }
    }
    if (effect.moves) AddTime(effect.operation);
    instance.GlobalSetdown();
    return effect;
}

std::string FileStem(int index) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "zoka_op_%02d", index);
    return stem;
}

std::string OperationFile(int index, const Effect& e) {
    const std::string stem = FileStem(index);
    std::ostringstream f;
    f << "/* " << e.name << " (" << ourhost::GeglOperationName(e.keys.effectKey)
      << "), written by zoka-gegl-operations from the module's parameter table. */\n"
      << "#ifdef GEGL_PROPERTIES\n\n"
      << e.operation.properties << "\n#else\n\n"
      << "#define GEGL_OP_FILTER\n#define GEGL_OP_BUNDLE\n"
      // GEGL's enumerations look their names up in a text domain; this one
      // has no translations, so the items' own texts show.
      << "#define GETTEXT_PACKAGE \"zoka-gegl\"\n#include <libintl.h>\n"
      << "#define GEGL_OP_NAME " << stem << "\n#define GEGL_OP_C_SOURCE " << stem << ".c\n"
      << "#include \"gegl-op.h\"\n\n"
      << "#define ZOKA_EFFECT_KEY " << CString(e.keys.effectKey) << "\n"
      << "#define ZOKA_OP_NAME " << CString(ourhost::GeglOperationName(e.keys.effectKey)) << "\n"
      << "#define ZOKA_OP_TITLE " << CString(e.name) << "\n"
      << "#define ZOKA_OP_DESCRIPTION " << CString(e.description) << "\n"
      << "#define ZOKA_MOVES " << (e.moves ? 1 : 0) << "\n"
      << "#include \"gegl/operation.h\"\n\n"
      << "static void\nzoka_collect (GeglProperties *o, ZokaSettings *s)\n{\n"
      << e.operation.collect << "}\n\n#endif\n";
    return f.str();
}

std::string EmptyFile(int index) {
    const std::string stem = FileStem(index);
    return "/* No effect has index " + std::to_string(index) +
           ": nothing to register. Written by zoka-gegl-operations. */\n"
           "#include <glib-object.h>\n"
           "void gegl_op_" + stem + "_register_type (GTypeModule *module);\n"
           "void\ngegl_op_" + stem + "_register_type (GTypeModule *module)\n{\n  (void) module;\n}\n";
}

std::string RegistrationFile() {
    std::ostringstream f;
    f << "/* The plug-in's operations, registered with GEGL. Written by zoka-gegl-operations. */\n"
      << "#include <gegl-plugin.h>\n\n";
    for (int i = 0; i <= kZokaMaxEffectIndex; ++i) {
        f << "void gegl_op_" << FileStem(i) << "_register_type (GTypeModule *module);\n";
    }
    f << "\nstatic const GeglModuleInfo zoka_module_info = {GEGL_MODULE_ABI_VERSION};\n\n"
      << "G_MODULE_EXPORT const GeglModuleInfo *gegl_module_query (GTypeModule *module);\n"
      << "G_MODULE_EXPORT gboolean gegl_module_register (GTypeModule *module);\n\n"
      << "G_MODULE_EXPORT const GeglModuleInfo *\ngegl_module_query (GTypeModule *module)\n{\n"
      << "  (void) module;\n  return &zoka_module_info;\n}\n\n"
      << "G_MODULE_EXPORT gboolean\ngegl_module_register (GTypeModule *module)\n{\n";
    for (int i = 0; i <= kZokaMaxEffectIndex; ++i) f << "  gegl_op_" << FileStem(i) << "_register_type (module);\n";
    f << "  return TRUE;\n}\n";
    return f.str();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zoka-gegl-operations MODULE FOLDER\n");
        return 2;
    }
    const fs::path folder = argv[2];
    std::error_code error;
    fs::create_directories(folder, error);
    auto host = std::make_unique<ourhost::Host>();
    std::string why;
    const auto module = ourhost::Module::Load(argv[1], why);
    if (!module || error) {
        std::fprintf(stderr, "zoka-gegl-operations: cannot load %s (%s) or make %s\n", argv[1], why.c_str(),
                     argv[2]);
        return 1;
    }
    std::vector<std::string> files(kZokaMaxEffectIndex + 1);
    for (int i = 0; i <= kZokaMaxEffectIndex; ++i) files[static_cast<size_t>(i)] = EmptyFile(i);
    for (const ZokaEffectKeys& keys : module->AllEffects()) {
        if (keys.effectIndex < 0 || keys.effectIndex > kZokaMaxEffectIndex) continue;
        files[static_cast<size_t>(keys.effectIndex)] = OperationFile(keys.effectIndex, Describe(*host, *module, keys));
    }
    bool placed = ourhost::WriteUnlessSame(RegistrationFile(), folder / "zoka_operations.c");
    for (int i = 0; i <= kZokaMaxEffectIndex; ++i) {
        placed = ourhost::WriteUnlessSame(files[static_cast<size_t>(i)], folder / (FileStem(i) + ".c")) && placed;
    }
    if (!placed) {
        std::fprintf(stderr, "zoka-gegl-operations: cannot write into %s\n", argv[2]);
        return 1;
    }
    return 0;
}
