// The GEGL operations as GEGL programs see them: every effect an operation
// zoka:<key> whose properties are the effect's declared parameters (read
// through GEGL's own API and compared with `zoka params --json`), and the
// `gegl` command line giving, pixel for pixel, the image `zoka render`
// writes with the same values: at the defaults and with every parameter
// changed, effects that grow the layer and effects that move included.
#include <sys/wait.h>
#include <unistd.h>

#include <gegl-plugin.h>
#include <gegl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "images/png_files.h"
#include "site/sample_layer.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using ourhost::Image;

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kVariesOverTime = 0x4;  // the global flag of effects that move by themselves

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// A shell command's status, standard output and standard error.
Outcome RunShell(const std::string& command, const fs::path& folder) {
    const std::string err = (folder / "stderr.txt").string();
    Outcome run{-1, "", ""};
    FILE* pipe = popen((command + " 2>" + err).c_str(), "r");
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(err);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    return run;
}

// The GEGL search path: the build's plug-in before the system's operations.
std::string GeglPath() {
    return std::string(ZOKA_GEGL_PLUGIN_DIR) + ":" + ZOKA_GEGL_SYSTEM_PLUGIN_DIR;
}

// GEGL in this process, seeing the build's operations.
class GeglInProcess {
public:
    GeglInProcess() {
        setenv("GEGL_PATH", GeglPath().c_str(), 1);
        gegl_init(nullptr, nullptr);
    }
    ~GeglInProcess() { gegl_exit(); }
};

const GeglInProcess& GeglLoaded() {
    static const GeglInProcess gegl;
    return gegl;
}

class GeglOperations : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("zoka-gegl-" + std::to_string(getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    json Zoka(const std::string& arguments) {
        const Outcome run = RunShell(std::string(ZOKA_CLI_PATH) + " " + arguments, folder_);
        EXPECT_EQ(run.status, 0) << arguments << "\n" << run.err;
        return run.status == 0 ? json::parse(run.out) : json();
    }
    std::vector<std::string> EffectKeys() {
        std::vector<std::string> keys;
        for (const json& e : Zoka("list --json")) keys.push_back(e["key"]);
        return keys;
    }
    bool Moves(const std::string& key) {
        return (Zoka("frame " + key + " --size 8x8 --json")["flags"].get<int>() & kVariesOverTime) != 0;
    }

    Image Read(const std::string& name) {
        Image image;
        std::string error;
        bool hadAlpha = false;
        EXPECT_EQ(zoka_images::ReadPng(Path(name), image, error, hadAlpha), zoka_images::PngRead::kRead) << error;
        return image;
    }
    void WriteLayer() {
        std::string error;
        ASSERT_TRUE(zoka_images::WritePng(Path("in.png"), zoka_site::SampleLayer(kWidth, kHeight), 1, {}, error))
            << error;
    }

    // The gegl command line on in.png; its standard error must say nothing
    // of ours unless a test expects it.
    Outcome Gegl(const std::string& operation, const std::string& output) {
        return RunShell(std::string(ZOKA_GEGL_PROGRAM_PREFIX) + "GEGL_PATH=" + GeglPath() + " gegl -i " + Path("in.png") +
                       " -o " + Path(output) + " -- " + operation,
                   folder_);
    }
    Image GeglImage(const std::string& operation, const std::string& output) {
        const Outcome run = Gegl(operation, output);
        EXPECT_EQ(run.status, 0) << operation << "\n" << run.err;
        EXPECT_EQ(run.err.find("zoka"), std::string::npos) << operation << "\n" << run.err;
        return Read(output);
    }
    Image ZokaImage(const std::string& effect, const std::string& output, const std::string& options = "") {
        Zoka("render " + effect + " " + Path("in.png") + " " + Path(output) + " --json" + options);
        return Read(output);
    }

    fs::path folder_;
};

// ---- Properties ----------------------------------------------------------

GParamSpec* PropertyLabelled(GParamSpec** specs, guint count, const std::string& label) {
    for (guint i = 0; i < count; ++i) {
        if (label == g_param_spec_get_nick(specs[i])) return specs[i];
    }
    return nullptr;
}

// What zoka render's --set knows a parameter by: its key, its label for
// one without (Chrome's Bands).
std::string KeyOf(const json& p) { return p["key"].is_string() ? p["key"] : p["label"]; }

// A property's name is its key in lower case, hyphens between the words.
void ExpectNamedForKey(GParamSpec* spec, const json& p, const std::string& suffix = "") {
    std::string name = g_param_spec_get_name(spec);
    name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
    std::string key = Lower(KeyOf(p));
    key.erase(std::remove_if(key.begin(), key.end(), [](unsigned char c) { return !std::isalnum(c); }), key.end());
    EXPECT_EQ(name, key + suffix);
}

double JsonNumber(const json& text) { return std::stod(text.get<std::string>()); }

void ExpectDoubleProperty(GParamSpec* spec, double value, const json& valid, const json& slider) {
    ASSERT_TRUE(GEGL_IS_PARAM_SPEC_DOUBLE(spec)) << g_param_spec_get_name(spec);
    const auto* plain = G_PARAM_SPEC_DOUBLE(spec);
    const auto* ui = GEGL_PARAM_SPEC_DOUBLE(spec);
    EXPECT_DOUBLE_EQ(plain->default_value, value);
    EXPECT_DOUBLE_EQ(plain->minimum, valid[0].get<double>());
    EXPECT_DOUBLE_EQ(plain->maximum, valid[1].get<double>());
    EXPECT_DOUBLE_EQ(ui->ui_minimum, slider[0].get<double>());
    EXPECT_DOUBLE_EQ(ui->ui_maximum, slider[1].get<double>());
}

// One declared parameter against the operation's property or properties.
void ExpectProperty(GParamSpec** specs, guint count, const json& p) {
    const std::string kind = p["kind"];
    const std::string label = p["label"];
    SCOPED_TRACE(label);
    if (kind == "point") {
        const double x = std::stod(p["default"].get<std::string>());
        const double y = std::stod(p["default"].get<std::string>().substr(p["default"].get<std::string>().find(',') + 1));
        GParamSpec* px = PropertyLabelled(specs, count, label + " X");
        GParamSpec* py = PropertyLabelled(specs, count, label + " Y");
        ASSERT_TRUE(px != nullptr && py != nullptr);
        ExpectNamedForKey(px, p, "x");
        ExpectNamedForKey(py, p, "y");
        EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(px)->default_value, x);
        EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(py)->default_value, y);
        EXPECT_STREQ(gegl_param_spec_get_property_key(px, "unit"), "pixel-coordinate");
        EXPECT_STREQ(gegl_param_spec_get_property_key(py, "axis"), "y");
        return;
    }
    GParamSpec* spec = PropertyLabelled(specs, count, label);
    ASSERT_NE(spec, nullptr);
    ExpectNamedForKey(spec, p);
    if (kind == "slider") {
        ASSERT_TRUE(GEGL_IS_PARAM_SPEC_INT(spec));
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->default_value, std::stoi(p["default"].get<std::string>()));
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->minimum, p["valid"][0].get<int>());
        EXPECT_EQ(G_PARAM_SPEC_INT(spec)->maximum, p["valid"][1].get<int>());
        EXPECT_EQ(GEGL_PARAM_SPEC_INT(spec)->ui_minimum, p["slider"][0].get<int>());
        EXPECT_EQ(GEGL_PARAM_SPEC_INT(spec)->ui_maximum, p["slider"][1].get<int>());
    } else if (kind == "fixed slider") {
        ExpectDoubleProperty(spec, JsonNumber(p["default"]), p["valid"], p["slider"]);
    } else if (kind == "angle") {
        ExpectDoubleProperty(spec, JsonNumber(p["default"]), json{-32767, 32767}, json{0, 360});
        EXPECT_STREQ(gegl_param_spec_get_property_key(spec, "unit"), "degree");
    } else if (kind == "checkbox") {
        ASSERT_TRUE(G_IS_PARAM_SPEC_BOOLEAN(spec));
        EXPECT_EQ(G_PARAM_SPEC_BOOLEAN(spec)->default_value != 0, p["default"] == "on");
    } else if (kind == "colour") {
        ASSERT_TRUE(GEGL_IS_PARAM_SPEC_COLOR(spec));
        guchar rgb[3];
        gegl_color_get_pixel(gegl_param_spec_color_get_default(spec), babl_format("R'G'B' u8"), rgb);
        char text[8];
        std::snprintf(text, sizeof text, "#%02X%02X%02X", rgb[0], rgb[1], rgb[2]);
        EXPECT_EQ(text, p["default"].get<std::string>());
    } else if (kind == "popup") {
        ASSERT_TRUE(G_IS_PARAM_SPEC_ENUM(spec));
        GEnumClass* items = G_PARAM_SPEC_ENUM(spec)->enum_class;
        std::vector<std::string> names;
        for (guint i = 0; i < items->n_values; ++i) names.push_back(items->values[i].value_name);
        EXPECT_EQ(names, p["items"].get<std::vector<std::string>>());
        EXPECT_EQ(g_enum_get_value(items, G_PARAM_SPEC_ENUM(spec)->default_value)->value_name, p["default"]);
    } else {
        ADD_FAILURE() << "a parameter of kind " << kind << " is offered";
    }
}

TEST_F(GeglOperations, EveryEffectIsAnOperationNamedForItsKey) {
    GeglLoaded();
    std::vector<std::string> ours, expected;
    guint count = 0;
    gchar** operations = gegl_list_operations(&count);
    for (guint i = 0; i < count; ++i) {
        if (std::string(operations[i]).rfind("zoka:", 0) == 0) ours.push_back(operations[i]);
    }
    g_free(operations);
    for (const std::string& key : EffectKeys()) expected.push_back("zoka:" + Lower(key));
    std::sort(ours.begin(), ours.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ours, expected);
    EXPECT_EQ(ours.size(), 21u);
}

TEST_F(GeglOperations, PropertiesAreTheDeclaredParameters) {
    GeglLoaded();
    for (const std::string& key : EffectKeys()) {
        SCOPED_TRACE(key);
        const std::string operation = "zoka:" + Lower(key);
        guint count = 0;
        GParamSpec** specs = gegl_operation_list_properties(operation.c_str(), &count);
        ASSERT_NE(specs, nullptr);
        guint expected = 0;
        for (const json& p : Zoka("params " + key + " --json")) {
            if (p["number"].is_null()) continue;  // the selection layer and its origin
            ExpectProperty(specs, count, p);
            expected += p["kind"] == "point" ? 2 : 1;
        }
        const bool moves = Moves(key);
        GParamSpec* time = PropertyLabelled(specs, count, "Time");
        GParamSpec* fps = PropertyLabelled(specs, count, "Frame rate");
        EXPECT_EQ(time != nullptr, moves);
        EXPECT_EQ(fps != nullptr, moves);
        if (moves && fps != nullptr) {
            EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(fps)->default_value, 30);
        }
        EXPECT_EQ(count, expected + (moves ? 2 : 0));
        g_free(specs);
        const char* title = gegl_operation_get_key(operation.c_str(), "title");
        ASSERT_NE(title, nullptr);
    }
}

// ---- The command line ----------------------------------------------------

// A value for every parameter other than its default, in the slider's
// range: as `gegl` takes it (PROPERTY=VALUE ...) and as zoka render's --set.
struct Changed {
    std::string gegl;
    std::vector<std::string> sets;
};

std::string Text(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

// A number a third of the way along the slider (whole, or in halves), not
// the default.
double OtherNumber(const json& p, bool whole) {
    const double low = p["slider"][0], high = p["slider"][1];
    double v = low + (high - low) / 3;
    v = whole ? std::round(v) : std::round(v * 2) / 2;
    if (Text(v) == p["default"].get<std::string>()) v = whole ? v + 1 : v + 0.5;
    return std::min(v, high);
}

Changed EveryParameterChanged(const std::string& operation, const json& params) {
    Changed c;
    guint count = 0;
    GParamSpec** specs = gegl_operation_list_properties(operation.c_str(), &count);
    auto name = [&](const std::string& label) {
        GParamSpec* spec = PropertyLabelled(specs, count, label);
        return std::string(spec != nullptr ? g_param_spec_get_name(spec) : "(none)");
    };
    auto add = [&](const std::string& property, const std::string& value) { c.gegl += " " + property + "=" + value; };
    for (const json& p : params) {
        if (p["number"].is_null()) continue;
        const std::string kind = p["kind"], label = p["label"], key = KeyOf(p);
        std::string value;
        if (kind == "slider" || kind == "fixed slider") {
            value = Text(OtherNumber(p, kind == "slider"));
            add(name(label), value);
        } else if (kind == "angle") {
            value = p["default"] == "30" ? "60" : "30";
            add(name(label), value);
        } else if (kind == "checkbox") {
            value = p["default"] == "on" ? "off" : "on";
            add(name(label), value == "on" ? "true" : "false");
        } else if (kind == "colour") {
            value = p["default"] == "#3380FF" ? "#FF8000" : "#3380FF";
            add(name(label), value);
        } else if (kind == "popup") {
            const auto items = p["items"].get<std::vector<std::string>>();
            const size_t at = std::find(items.begin(), items.end(), p["default"].get<std::string>()) - items.begin();
            value = items[(at + 1) % items.size()];
            GEnumClass* e = G_PARAM_SPEC_ENUM(PropertyLabelled(specs, count, label))->enum_class;
            add(name(label), g_enum_get_value_by_name(e, value.c_str())->value_nick);
        } else if (kind == "point") {
            value = "24,40";
            add(name(label + " X"), "24");
            add(name(label + " Y"), "40");
        }
        c.sets.push_back("--set '" + key + "=" + value + "'");
    }
    g_free(specs);
    return c;
}

TEST_F(GeglOperations, TheCommandLineGivesZokasPixelsAtTheDefaults) {
    WriteLayer();
    for (const std::string& key : EffectKeys()) {
        SCOPED_TRACE(key);
        const Image gegl = GeglImage("zoka:" + Lower(key), "gegl.png");
        EXPECT_TRUE(gegl == ZokaImage(key, "zoka.png")) << gegl.Width() << "x" << gegl.Height();
    }
}

// Every parameter off its default at once, and the effects that move at a
// time other than 0 and another frame rate: each value must reach the
// module as zoka render's --set gives it.
TEST_F(GeglOperations, TheCommandLineGivesZokasPixelsWithEveryParameterChanged) {
    GeglLoaded();
    WriteLayer();
    for (const std::string& key : EffectKeys()) {
        SCOPED_TRACE(key);
        const std::string operation = "zoka:" + Lower(key);
        Changed c = EveryParameterChanged(operation, Zoka("params " + key + " --json"));
        std::string sets;
        for (const std::string& set : c.sets) sets += " " + set;
        if (Moves(key)) {
            c.gegl += " time=1.2 fps=25";
            sets += " --time 1.2 --fps 25";
        }
        const Image gegl = GeglImage(operation + c.gegl, "gegl.png");
        EXPECT_TRUE(gegl == ZokaImage(key, "zoka.png", sets)) << c.gegl;
        EXPECT_FALSE(gegl == ZokaImage(key, "defaults.png")) << "the values made no difference";
    }
}

TEST_F(GeglOperations, ValuesGeglRefusesKeepTheDefaultAndOursLeaveTheLayer) {
    WriteLayer();
    // Out of a property's range, or no such item: GEGL says so and keeps
    // the default.
    const Outcome wide = Gegl("zoka:glow width=5000", "wide.png");
    EXPECT_EQ(wide.status, 0) << wide.err;
    EXPECT_NE(wide.err.find("out of range for property 'width'"), std::string::npos) << wide.err;
    EXPECT_TRUE(Read("wide.png") == ZokaImage("Glow", "zoka.png"));
    const Outcome item = Gegl("zoka:glow dropoff-type=thick", "item.png");
    EXPECT_LT(item.status, 128) << item.err;
    EXPECT_NE(item.err.find("fat medium thin diffuse"), std::string::npos) << item.err;

    // A time the frame rate cannot reach within our host's frames: the
    // layer as it was, and why.
    const Outcome late = Gegl("zoka:fire time=30000 fps=1000", "late.png");
    EXPECT_EQ(late.status, 0) << late.err;
    EXPECT_NE(late.err.find("zoka:fire: the time must be within"), std::string::npos) << late.err;
    EXPECT_NE(late.err.find("the layer is left as it was"), std::string::npos) << late.err;
    EXPECT_TRUE(Read("late.png") == Read("in.png"));
}

// ---- In a program's own threads ------------------------------------------

// An operation's frame rendered in this process: the layer through GEGL's
// own graph, read back as straight RGBA over its bounding box.
std::vector<uint8_t> RenderedInProcess(const Image& layer, const std::string& operation, double width) {
    std::vector<uint8_t> rgba(layer.Bytes().size());
    for (size_t i = 0; i < rgba.size(); i += 4) {  // the host's ARGB to RGBA
        rgba[i] = layer.Bytes()[i + 1];
        rgba[i + 1] = layer.Bytes()[i + 2];
        rgba[i + 2] = layer.Bytes()[i + 3];
        rgba[i + 3] = layer.Bytes()[i];
    }
    const Babl* format = babl_format("R'G'B'A u8");
    const GeglRectangle area{0, 0, layer.Width(), layer.Height()};
    GeglBuffer* buffer = gegl_buffer_new(&area, format);
    gegl_buffer_set(buffer, &area, 0, format, rgba.data(), GEGL_AUTO_ROWSTRIDE);
    GeglNode* graph = gegl_node_new();
    GeglNode* source = gegl_node_create_child(graph, "gegl:buffer-source");
    GValue value = G_VALUE_INIT;
    g_value_init(&value, GEGL_TYPE_BUFFER);
    g_value_set_object(&value, buffer);
    gegl_node_set_property(source, "buffer", &value);
    g_value_unset(&value);
    GeglNode* effect = gegl_node_create_child(graph, operation.c_str());
    g_value_init(&value, G_TYPE_DOUBLE);
    g_value_set_double(&value, width);
    gegl_node_set_property(effect, "width", &value);
    g_value_unset(&value);
    gegl_node_link(source, effect);
    const GeglRectangle box = gegl_node_get_bounding_box(effect);
    std::vector<uint8_t> out(static_cast<size_t>(box.width) * static_cast<size_t>(box.height) * 4);
    gegl_node_blit(effect, 1.0, &box, format, out.data(), GEGL_AUTO_ROWSTRIDE, GEGL_BLIT_DEFAULT);
    g_object_unref(graph);
    g_object_unref(buffer);
    return out;
}

// GIMP and other programs render from several threads: the operations'
// lock lets one at a time into the module, so each frame is the one it
// makes alone.
TEST_F(GeglOperations, OperationsRenderedFromSeveralThreadsAtOnceGiveTheirFramesAlone) {
    GeglLoaded();
    const Image layer = zoka_site::SampleLayer(kWidth, kHeight);
    const std::vector<std::pair<std::string, double>> jobs = {
        {"zoka:glow", 12}, {"zoka:gaussianblur", 6}, {"zoka:glow", 30}, {"zoka:gaussianblur", 15}};
    std::vector<std::vector<uint8_t>> alone;
    for (const auto& [operation, width] : jobs) alone.push_back(RenderedInProcess(layer, operation, width));
    std::vector<std::vector<uint8_t>> together(jobs.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < jobs.size(); ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < 3; ++round) {
                together[i] = RenderedInProcess(layer, jobs[i].first, jobs[i].second);
                if (together[i] != alone[i]) return;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
        EXPECT_FALSE(alone[i].empty());
        EXPECT_TRUE(together[i] == alone[i]) << jobs[i].first << " " << jobs[i].second;
    }
    EXPECT_FALSE(alone[0] == alone[2]) << "the width made no difference";
}

}  // namespace
