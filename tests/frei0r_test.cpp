// The frei0r plug-ins as a frei0r host loads them: every built zoka_*.so
// opened with dlopen, its parameters read as a host reads them and compared
// with what the module declares to our host; instances updated from several
// threads at once; hostile values; a failed render.
#include <dlfcn.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "frei0r/bridge.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// One plug-in file, opened as a host opens it.
class Plugin {
public:
    explicit Plugin(const std::string& key) {
        const std::string path = std::string(ZOKA_FREI0R_PLUGIN_DIR) + "/zoka_" + Lower(key) + ".so";
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) return;
        init = Get<decltype(init)>("f0r_init");
        deinit = Get<decltype(deinit)>("f0r_deinit");
        pluginInfo = Get<decltype(pluginInfo)>("f0r_get_plugin_info");
        paramInfo = Get<decltype(paramInfo)>("f0r_get_param_info");
        construct = Get<decltype(construct)>("f0r_construct");
        destruct = Get<decltype(destruct)>("f0r_destruct");
        setParam = Get<decltype(setParam)>("f0r_set_param_value");
        getParam = Get<decltype(getParam)>("f0r_get_param_value");
        update = Get<decltype(update)>("f0r_update");
        initialised_ = init != nullptr && init() == 1;
    }
    ~Plugin() {
        if (initialised_) deinit();
        if (handle_ != nullptr) dlclose(handle_);
    }
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    bool Ready() const { return initialised_ && update != nullptr; }

    int (*init)() = nullptr;
    void (*deinit)() = nullptr;
    void (*pluginInfo)(f0r_plugin_info_t*) = nullptr;
    void (*paramInfo)(f0r_param_info_t*, int) = nullptr;
    f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
    void (*destruct)(f0r_instance_t) = nullptr;
    void (*setParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*getParam)(f0r_instance_t, f0r_param_t, int) = nullptr;
    void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;

private:
    template <typename F>
    F Get(const char* name) {
        return reinterpret_cast<F>(dlsym(handle_, name));
    }
    void* handle_ = nullptr;
    bool initialised_ = false;
};

// A frame with a real alpha shape: a soft disc and a half-transparent
// panel on transparency, with colour varying everywhere.
std::vector<uint32_t> TestFrame(int width, int height) {
    std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
    auto* bytes = reinterpret_cast<uint8_t*>(frame.data());
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double d = std::hypot(x - width * 0.4, y - height * 0.45);
            const double r = std::min(width, height) * 0.3;
            int alpha = d < r ? 255 : d < r + 6 ? static_cast<int>(255 - (d - r) * 40) : 0;
            if (x > width * 0.6 && x < width * 0.9 && y > height * 0.2 && y < height * 0.8) alpha = std::max(alpha, 160);
            uint8_t* p = bytes + (static_cast<size_t>(y) * width + x) * 4;
            p[0] = static_cast<uint8_t>(x * 3);
            p[1] = static_cast<uint8_t>(y * 4);
            p[2] = static_cast<uint8_t>(x * y);
            p[3] = static_cast<uint8_t>(alpha);
        }
    }
    return frame;
}

// What the module declares, read through our host as `zoka params` reads it.
struct Declared {
    ZokaEffectKeys keys;
    std::string name;
    std::vector<ourhost::ParamSlot> params;  // the effect's own, in order
    std::vector<std::string> paramKeys;
};

class ModuleDeclarations {
public:
    ModuleDeclarations() {
        std::string error;
        module_ = ourhost::Module::Load(ZOKA_MODULE_PATH, error);
        if (!module_) return;
        for (const ZokaEffectKeys& keys : module_->AllEffects()) {
            ourhost::EffectInstance instance(host_, module_->EntryPoint(keys.entryName));
            instance.GlobalSetup();
            instance.SetupParams();
            Declared d{keys, "", {}, {}};
            for (const auto& pipl : module_->Effects()) {
                if (pipl.entryName == keys.entryName) d.name = ourhost::Utf8FromAnsi(pipl.name);
            }
            for (const ourhost::ParamName& p : ourhost::ParamNames(instance, keys)) {
                if (p.number < 0) continue;
                d.params.push_back(instance.Params()[p.hostIndex]);
                d.paramKeys.push_back(p.key);
            }
            instance.GlobalSetdown();
            effects_.push_back(d);
        }
    }
    const std::vector<Declared>& Effects() const { return effects_; }

private:
    ourhost::Host host_;
    std::unique_ptr<ourhost::Module> module_;
    std::vector<Declared> effects_;
};

int ExpectedType(int32_t kind) {
    switch (kind) {
        case kParamCheckbox: return F0R_PARAM_BOOL;
        case kParamColor: return F0R_PARAM_COLOR;
        case kParamPoint: return F0R_PARAM_POSITION;
        case kParamPopup: return F0R_PARAM_STRING;
        default: return F0R_PARAM_DOUBLE;
    }
}

std::string Shown(double v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v);
    return buffer;
}

// The slider's top in user units: what a frei0r value of 1 stands for.
double SliderTop(const ourhost::ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    return slot.def.kind == kParamSlider ? u.slider.sliderMax : u.fixedSlider.sliderMax / 65536.0;
}

double DefaultNumber(const ourhost::ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    if (slot.def.kind == kParamSlider) return u.slider.value;
    return u.fixedSlider.value / 65536.0;
}

// The default a frei0r host reads must be the module's default.
void ExpectDefault(Plugin& plugin, f0r_instance_t instance, int index, const ourhost::ParamSlot& slot,
                   int width, int height) {
    const HostParamValue& u = slot.def.u;
    switch (slot.def.kind) {
        case kParamSlider:
        case kParamFixedSlider: {
            double f = -1;
            plugin.getParam(instance, &f, index);
            EXPECT_NEAR(f * SliderTop(slot), DefaultNumber(slot), 1e-9);
            break;
        }
        case kParamAngle: {
            double f = -1;
            plugin.getParam(instance, &f, index);
            EXPECT_DOUBLE_EQ(f * 360, u.angle.value / 65536.0);
            break;
        }
        case kParamCheckbox: {
            double b = -1;
            plugin.getParam(instance, &b, index);
            EXPECT_EQ(b, u.checkbox.value ? 1.0 : 0.0);
            break;
        }
        case kParamColor: {
            f0r_param_color_t c{-1, -1, -1};
            plugin.getParam(instance, &c, index);
            EXPECT_EQ(std::lround(c.r * 255), u.color.value.red);
            EXPECT_EQ(std::lround(c.g * 255), u.color.value.green);
            EXPECT_EQ(std::lround(c.b * 255), u.color.value.blue);
            break;
        }
        case kParamPoint: {
            f0r_param_position_t p{-1, -1};
            plugin.getParam(instance, &p, index);
            EXPECT_DOUBLE_EQ(p.x * width, u.point.x / 65536.0);
            EXPECT_DOUBLE_EQ(p.y * height, u.point.y / 65536.0);
            break;
        }
        case kParamPopup: {
            const char* text = nullptr;
            plugin.getParam(instance, &text, index);
            ASSERT_NE(text, nullptr);
            EXPECT_EQ(text, ourhost::PopupItems(slot)[static_cast<size_t>(u.popup.value - 1)]);
            break;
        }
        default:
            ADD_FAILURE() << "a parameter of kind " << slot.def.kind << " is offered";
    }
}

// What the explanation must state: the label, and the range or the items.
void ExpectExplained(const std::string& explanation, const ourhost::ParamSlot& slot) {
    std::string label = ourhost::Utf8FromAnsi(slot.def.name);
    label.erase(0, label.find_first_not_of(' '));
    if (label.empty()) label = ourhost::Utf8FromAnsi(slot.checkboxText);
    EXPECT_EQ(explanation.rfind(label, 0), 0u) << explanation;
    if (slot.def.kind == kParamSlider || slot.def.kind == kParamFixedSlider) {
        EXPECT_NE(explanation.find("0 to 1 is 0 to " + Shown(SliderTop(slot))), std::string::npos) << explanation;
    }
    if (slot.def.kind == kParamAngle) {
        EXPECT_NE(explanation.find("360"), std::string::npos) << explanation;
    }
    if (slot.def.kind == kParamPopup) {
        for (const std::string& item : ourhost::PopupItems(slot)) {
            EXPECT_NE(explanation.find(item), std::string::npos) << explanation;
        }
    }
}

class Frei0rPlugins : public ::testing::Test {
protected:
    static const ModuleDeclarations& Module() {
        static const ModuleDeclarations declarations;
        return declarations;
    }
    static const Declared& Effect(const std::string& key) {
        for (const Declared& d : Module().Effects()) {
            if (key == d.keys.effectKey) return d;
        }
        throw std::runtime_error("no effect " + key);
    }
};

TEST_F(Frei0rPlugins, OnePluginForEveryEffectOfTheModule) {
    std::vector<std::string> files, keys;
    for (const auto& entry : fs::directory_iterator(ZOKA_FREI0R_PLUGIN_DIR)) files.push_back(entry.path().filename());
    for (const Declared& d : Module().Effects()) keys.push_back("zoka_" + Lower(d.keys.effectKey) + ".so");
    std::sort(files.begin(), files.end());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(files, keys);
    EXPECT_EQ(keys.size(), 21u);
}

TEST_F(Frei0rPlugins, ParametersAreTheModulesDeclarations) {
    constexpr int kWidth = 96, kHeight = 64;
    for (const Declared& d : Module().Effects()) {
        SCOPED_TRACE(d.keys.effectKey);
        Plugin plugin(d.keys.effectKey);
        ASSERT_TRUE(plugin.Ready()) << dlerror();
        f0r_plugin_info_t info{};
        plugin.pluginInfo(&info);
        EXPECT_EQ(info.plugin_type, F0R_PLUGIN_TYPE_FILTER);
        EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
        EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
        if (!d.name.empty()) {
            EXPECT_EQ(info.name, "zoka " + d.name);
        }
        ASSERT_EQ(info.num_params, static_cast<int>(d.params.size()));
        const f0r_instance_t instance = plugin.construct(kWidth, kHeight);
        ASSERT_NE(instance, nullptr);
        for (int i = 0; i < info.num_params; ++i) {
            SCOPED_TRACE(d.paramKeys[static_cast<size_t>(i)]);
            const ourhost::ParamSlot& slot = d.params[static_cast<size_t>(i)];
            f0r_param_info_t p{};
            plugin.paramInfo(&p, i);
            ASSERT_NE(p.name, nullptr);
            // A parameter without a key (Chrome's Bands) goes by its label.
            const std::string& key = d.paramKeys[static_cast<size_t>(i)];
            EXPECT_EQ(p.name, key.empty() ? ourhost::Utf8FromAnsi(slot.def.name) : key);
            EXPECT_EQ(p.type, ExpectedType(slot.def.kind));
            ASSERT_NE(p.explanation, nullptr);
            ExpectExplained(p.explanation, slot);
            ExpectDefault(plugin, instance, i, slot, kWidth, kHeight);
        }
        plugin.destruct(instance);
    }
}

// A plug-in's frame for one setting.
struct Job {
    std::string key;
    int width, height;
    double time;
    int param;  // a double parameter set to value, or -1
    double value;
};

std::vector<uint32_t> RenderJob(Plugin& plugin, const Job& job, f0r_instance_t instance, int times = 1) {
    const std::vector<uint32_t> in = TestFrame(job.width, job.height);
    std::vector<uint32_t> out(in.size(), 0xDEADBEEF);
    double value = job.value;
    if (job.param >= 0) plugin.setParam(instance, &value, job.param);
    for (int i = 0; i < times; ++i) plugin.update(instance, job.time, in.data(), out.data());
    return out;
}

TEST_F(Frei0rPlugins, InstancesUpdatedFromSeveralThreadsGiveTheFramesOfOneAtATime) {
    const std::vector<Job> jobs = {
        {"Glow", 96, 64, 0, 0, 0.3},          {"Fire", 64, 48, 1.5, -1, 0},
        {"GaussianBlur", 120, 72, 0, 0, 0.1}, {"Jiggle", 80, 40, 2.25, -1, 0},
        {"Swirl", 48, 48, 0.75, -1, 0},       {"OuterBevel", 72, 56, 0, -1, 0},
    };
    const ZokaFrei0rStats before = ZokaFrei0rStatistics();
    std::map<std::string, std::unique_ptr<Plugin>> plugins;
    for (const Job& job : jobs) plugins[job.key] = std::make_unique<Plugin>(job.key);
    std::vector<std::vector<uint32_t>> alone;
    for (const Job& job : jobs) {
        Plugin& plugin = *plugins[job.key];
        ASSERT_TRUE(plugin.Ready());
        const f0r_instance_t instance = plugin.construct(job.width, job.height);
        alone.push_back(RenderJob(plugin, job, instance));
        plugin.destruct(instance);
    }
    // Two instances of every job, each updated repeatedly on its own thread.
    std::vector<std::vector<uint32_t>> together(jobs.size() * 2);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < together.size(); ++i) {
        threads.emplace_back([&, i] {
            const Job& job = jobs[i % jobs.size()];
            Plugin& plugin = *plugins.at(job.key);
            const f0r_instance_t instance = plugin.construct(job.width, job.height);
            together[i] = RenderJob(plugin, job, instance, 4);
            plugin.destruct(instance);
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < together.size(); ++i) {
        EXPECT_TRUE(together[i] == alone[i % jobs.size()]) << jobs[i % jobs.size()].key;
    }
    const ZokaFrei0rStats after = ZokaFrei0rStatistics();
    EXPECT_EQ(after.liveHandles, 0u);
    EXPECT_EQ(after.instances, 0u);
    EXPECT_EQ(after.hostFaults, 0u);
    EXPECT_EQ(after.renders - before.renders, jobs.size() + together.size() * 4);
    // Renders run at once: whether they overlapped depends on the machine's
    // load, so the count is only shown.
    EXPECT_GE(after.maxInsideModule, 1);
    std::printf("at most %d calls inside the module at once\n", after.maxInsideModule);
}

// frei0r lets a host hand one instance to any thread: updates and settings
// of one instance from several threads at once take turns, each frame that
// of its own time and setting.
TEST_F(Frei0rPlugins, OneInstanceSharedByThreadsGivesEachThreadItsFrame) {
    Plugin plugin("Glow");
    ASSERT_TRUE(plugin.Ready());
    const Job wide{"Glow", 96, 64, 0, 0, 0.4};
    const Job narrow{"Glow", 96, 64, 0, 0, 0.05};
    const f0r_instance_t instance = plugin.construct(wide.width, wide.height);
    const std::vector<uint32_t> wideFrame = RenderJob(plugin, wide, instance);
    const std::vector<uint32_t> narrowFrame = RenderJob(plugin, narrow, instance);
    ASSERT_FALSE(wideFrame == narrowFrame);
    // Each thread's own input frame and time, the setting shared: a thread
    // renders its frame from its input whatever the others do meanwhile.
    std::vector<std::vector<uint32_t>> inputs, alone, together(4);
    for (int t = 0; t < 4; ++t) {
        std::vector<uint32_t> in = TestFrame(wide.width, wide.height);
        for (uint32_t& pixel : in) pixel ^= static_cast<uint32_t>(t) * 0x00101010u;
        std::vector<uint32_t> out(in.size());
        plugin.update(instance, 0, in.data(), out.data());
        inputs.push_back(std::move(in));
        alone.push_back(std::move(out));
    }
    std::vector<std::thread> threads;
    std::atomic<bool> same{true};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint32_t> out(inputs[static_cast<size_t>(t)].size());
            for (int i = 0; i < 20; ++i) {
                plugin.update(instance, 0, inputs[static_cast<size_t>(t)].data(), out.data());
                if (out != alone[static_cast<size_t>(t)]) same = false;
            }
            together[static_cast<size_t>(t)] = out;
        });
    }
    for (std::thread& t : threads) t.join();
    plugin.destruct(instance);
    EXPECT_TRUE(same) << "every update gave its thread's own frame";
    for (size_t t = 0; t < together.size(); ++t) EXPECT_TRUE(together[t] == alone[t]) << "thread " << t;
}

TEST_F(Frei0rPlugins, GrownLayersAreCutToTheFrameAndInPlaceUpdatesWork) {
    Plugin plugin("OuterBevel");
    ASSERT_TRUE(plugin.Ready());
    const f0r_instance_t instance = plugin.construct(64, 48);
    const std::vector<uint32_t> in = TestFrame(64, 48);
    std::vector<uint32_t> out(in.size()), inPlace = in;
    plugin.update(instance, 0, in.data(), out.data());
    plugin.update(instance, 0, inPlace.data(), inPlace.data());
    EXPECT_TRUE(out == inPlace);
    EXPECT_FALSE(out == in);
    plugin.destruct(instance);
}

// Captures what the process writes to standard error meanwhile.
class StandardError {
public:
    StandardError() : path_(fs::temp_directory_path() / ("zoka-frei0r-" + std::to_string(getpid()) + ".err")) {
        std::fflush(stderr);
        saved_ = dup(2);
        std::FILE* file = std::fopen(path_.c_str(), "w");
        dup2(fileno(file), 2);
        std::fclose(file);
    }
    std::string Text() {
        std::fflush(stderr);
        std::ifstream in(path_);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    ~StandardError() {
        std::fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        fs::remove(path_);
    }

private:
    fs::path path_;
    int saved_;
};

TEST_F(Frei0rPlugins, AFailedRenderLeavesTheFrameAndSaysWhyOnce) {
    Plugin plugin("Glow");
    ASSERT_TRUE(plugin.Ready());
    const f0r_instance_t instance = plugin.construct(96, 64);
    const std::vector<uint32_t> in = TestFrame(96, 64);
    std::vector<uint32_t> out(in.size(), 0);
    StandardError error;
    for (int i = 0; i < 3; ++i) {
        ZokaFrei0rFailAllocation(1);
        plugin.update(instance, 0, in.data(), out.data());
        EXPECT_TRUE(out == in);
    }
    ZokaFrei0rFailAllocation(0);
    const std::string said = error.Text();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_NE(said.find("Glow"), std::string::npos) << said;
    EXPECT_NE(said.find("(code "), std::string::npos) << said;
    plugin.update(instance, 0, in.data(), out.data());
    EXPECT_FALSE(out == in);
    plugin.destruct(instance);
    EXPECT_EQ(ZokaFrei0rStatistics().liveHandles, 0u);
}

TEST_F(Frei0rPlugins, BadValuesGiveTheDefaultOrTheNearestValidOne) {
    Plugin plugin("Glow");  // Width 0..100 on the slider, 0..999 valid; Color; DropoffType; DrawEverywhere
    ASSERT_TRUE(plugin.Ready());
    const f0r_instance_t hostile = plugin.construct(96, 64);
    const f0r_instance_t plain = plugin.construct(96, 64);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    auto number = [&](int index) {
        double v = -1;
        plugin.getParam(hostile, &v, index);
        return v;
    };
    double v = nan;
    plugin.setParam(hostile, &v, 0);
    EXPECT_DOUBLE_EQ(number(0), 0.2);  // the default, 20 pixels
    v = inf;
    plugin.setParam(hostile, &v, 0);
    EXPECT_DOUBLE_EQ(number(0), 9.99);  // 999 pixels, the most the effect takes
    v = -3;
    plugin.setParam(hostile, &v, 1);
    EXPECT_DOUBLE_EQ(number(1), 0);
    v = 7;
    plugin.setParam(hostile, &v, 1);
    EXPECT_DOUBLE_EQ(number(1), 1);

    f0r_param_color_t color{std::numeric_limits<float>::quiet_NaN(), 0, 0};
    plugin.setParam(hostile, &color, 2);
    f0r_param_color_t got{};
    plugin.getParam(hostile, &got, 2);
    EXPECT_EQ(got.r, 1.0f);  // white, the default
    color = f0r_param_color_t{-4, 2, 0.5f};
    plugin.setParam(hostile, &color, 2);
    plugin.getParam(hostile, &got, 2);
    EXPECT_EQ(got.r, 0.0f);
    EXPECT_EQ(got.g, 1.0f);
    EXPECT_EQ(got.b, 128 / 255.0f);

    const char* text = nullptr;
    auto popup = [&] {
        const char* shown = nullptr;
        plugin.getParam(hostile, &shown, 3);
        return std::string(shown ? shown : "(null)");
    };
    const char* thin = "thin";
    plugin.setParam(hostile, &thin, 3);
    EXPECT_EQ(popup(), "Thin");
    plugin.setParam(hostile, &text, 3);
    EXPECT_EQ(popup(), "Fat");
    const char* unknown = "Thick";
    plugin.setParam(hostile, &thin, 3);
    plugin.setParam(hostile, &unknown, 3);
    EXPECT_EQ(popup(), "Fat");

    v = nan;
    plugin.setParam(hostile, &v, 4);
    EXPECT_EQ(number(4), 0.0);
    plugin.setParam(hostile, nullptr, 1);  // ignored
    plugin.setParam(hostile, &v, 99);      // no such parameter
    plugin.setParam(hostile, &v, -1);
    plugin.getParam(hostile, &v, 99);

    // Everything the module got was valid: the same frame as the values set
    // plainly (the width back at its default, where frames are quick).
    v = nan;
    plugin.setParam(hostile, &v, 0);
    v = 1;
    plugin.setParam(plain, &v, 1);
    color = f0r_param_color_t{0, 1, 128 / 255.0f};
    plugin.setParam(plain, &color, 2);
    const std::vector<uint32_t> in = TestFrame(96, 64);
    std::vector<uint32_t> a(in.size()), b(in.size());
    plugin.update(hostile, 0, in.data(), a.data());
    plugin.update(plain, 0, in.data(), b.data());
    EXPECT_TRUE(a == b);
    plugin.destruct(hostile);
    plugin.destruct(plain);
}

TEST_F(Frei0rPlugins, HostilePointsAnglesAndTimesAreHeldInRange) {
    Plugin plugin("Star");  // Position (point), Orientation (angle)
    ASSERT_TRUE(plugin.Ready());
    const f0r_instance_t instance = plugin.construct(64, 64);
    f0r_param_position_t p{std::numeric_limits<double>::quiet_NaN(), 0};
    plugin.setParam(instance, &p, 3);
    f0r_param_position_t got{};
    plugin.getParam(instance, &got, 3);
    EXPECT_DOUBLE_EQ(got.x * 64, 50);  // the default, 50,50 pixels
    p = f0r_param_position_t{1e300, -1e300};
    plugin.setParam(instance, &p, 3);
    plugin.getParam(instance, &got, 3);
    EXPECT_DOUBLE_EQ(got.x * 64, 32767);
    EXPECT_DOUBLE_EQ(got.y * 64, -32767);
    double angle = -std::numeric_limits<double>::infinity();
    plugin.setParam(instance, &angle, 5);
    plugin.getParam(instance, &angle, 5);
    EXPECT_DOUBLE_EQ(angle * 360, -32767);
    const std::vector<uint32_t> in = TestFrame(64, 64);
    std::vector<uint32_t> out(in.size());
    for (double time : {std::numeric_limits<double>::quiet_NaN(), 1e300, -1e300}) {
        plugin.update(instance, time, in.data(), out.data());
    }
    plugin.destruct(instance);
    EXPECT_EQ(ZokaFrei0rStatistics().hostFaults, 0u);
}

// GStreamer reads a point's default from an instance of one size and sets
// it on instances of others: that value means the default in pixels there,
// while any other fraction still places the point by the frame.
TEST_F(Frei0rPlugins, APointSetBackAtTheDefaultItWasReadAsKeepsItInPixels) {
    Plugin plugin("Star");  // Position, 50,50 pixels by default
    ASSERT_TRUE(plugin.Ready());
    const f0r_instance_t probe = plugin.construct(640, 480);
    f0r_param_position_t handedOut{};
    plugin.getParam(probe, &handedOut, 3);
    plugin.destruct(probe);
    EXPECT_DOUBLE_EQ(handedOut.x, 50.0 / 640);

    const f0r_instance_t small = plugin.construct(96, 64);
    plugin.setParam(small, &handedOut, 3);
    f0r_param_position_t got{};
    plugin.getParam(small, &got, 3);
    EXPECT_DOUBLE_EQ(got.x * 96, 50);
    EXPECT_DOUBLE_EQ(got.y * 64, 50);
    f0r_param_position_t elsewhere{0.25, 0.5};
    plugin.setParam(small, &elsewhere, 3);
    plugin.getParam(small, &got, 3);
    EXPECT_DOUBLE_EQ(got.x * 96, 24);
    EXPECT_DOUBLE_EQ(got.y * 64, 32);
    plugin.destruct(small);
}

// A parameter's frei0r index by name, or -1.
int ParamIndex(Plugin& plugin, const std::string& name) {
    f0r_plugin_info_t info{};
    plugin.pluginInfo(&info);
    for (int i = 0; i < info.num_params; ++i) {
        f0r_param_info_t p{};
        plugin.paramInfo(&p, i);
        if (name == p.name) return i;
    }
    return -1;
}

// The speeds of a moving effect, as fractions of their sliders.
struct Speeds {
    double flow, direction, undulation;
};

void SetSpeeds(Plugin& plugin, f0r_instance_t instance, const Speeds& speeds) {
    for (const auto& [name, value] : {std::pair{"FlowVelocity", speeds.flow}, std::pair{"FlowDirection", speeds.direction},
                                      std::pair{"PhaseVelocity", speeds.undulation}}) {
        double v = value;
        if (const int index = ParamIndex(plugin, name); index >= 0) plugin.setParam(instance, &v, index);
    }
}

// Frame n of a clip as an editor plays it, at 25 frames a second from a
// minute in: played on, a change of the speeds halfway, a seek back and
// played on again.
struct ClipFrame {
    double time;
    Speeds speeds;
};

std::vector<ClipFrame> Clip() {
    std::vector<ClipFrame> clip;
    for (int n = 0; n < 36; ++n) {
        const double time = 60 + (n < 24 ? n : n - 30) / 25.0;
        clip.push_back(ClipFrame{time, n < 12 ? Speeds{0.4, 0.3, 0.5} : Speeds{0.7, 0.9, 0.2}});
    }
    return clip;
}

TEST_F(Frei0rPlugins, AFrameAfterTheFramesBeforeItIsTheFrameRenderedAlone) {
    constexpr int kWidth = 48, kHeight = 32;
    const std::vector<uint32_t> in = TestFrame(kWidth, kHeight);
    const std::vector<ClipFrame> clip = Clip();
    for (const char* key : {"Fire", "Smoke", "HSBNoise", "Glass", "Fur", "Jiggle", "Swirl", "Weave"}) {
        SCOPED_TRACE(key);
        Plugin plugin(key);
        ASSERT_TRUE(plugin.Ready());
        ASSERT_GE(ParamIndex(plugin, "FlowVelocity"), 0);
        const f0r_instance_t played = plugin.construct(kWidth, kHeight);
        std::vector<std::vector<uint32_t>> frames;
        for (const ClipFrame& frame : clip) {
            SetSpeeds(plugin, played, frame.speeds);
            frames.emplace_back(in.size());
            plugin.update(played, frame.time, in.data(), frames.back().data());
        }
        plugin.destruct(played);
        for (const size_t n : {1u, 11u, 12u, 13u, 23u, 24u, 25u, 35u}) {
            const f0r_instance_t alone = plugin.construct(kWidth, kHeight);
            SetSpeeds(plugin, alone, clip[n].speeds);
            std::vector<uint32_t> out(in.size());
            plugin.update(alone, clip[n].time, in.data(), out.data());
            plugin.destruct(alone);
            EXPECT_TRUE(out == frames[n]) << "frame " << n;
        }
        EXPECT_FALSE(frames[1] == frames[2]) << "nothing moves";
    }
    EXPECT_EQ(ZokaFrei0rStatistics().liveHandles, 0u);
    EXPECT_EQ(ZokaFrei0rStatistics().hostFaults, 0u);
}

}  // namespace
