// The bridge between frei0r hosts and the module: one copy per process,
// shared by every zoka_<key>.so, holding our host, the module and the lock.
//
// frei0r hosts update instances of several plug-ins from several threads.
// The module is reentrant and our host answers from any thread, so renders
// run at once, each with our host lent to its thread for the call and the
// bands of each frame on the machine's cores; the lock serialises loading,
// construction and destruction (the bridge's bookkeeping) alone.
#include "frei0r/bridge.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frei0r/param_map.h"
#include "ourhost/client_names.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace zoka_frei0r {
namespace {

// The host's time step: frei0r gives a frame's time but no frame rate.
// Effects that move by themselves integrate their speeds one step at a time
// from 0, so a frame's motion advances in whole steps. 600 steps a second is
// a whole number of steps per frame at 24, 25, 30, 50 and 60 frames per
// second (and within a step at 23.976 and 29.97), so motion is even at every
// common rate. Each instance carries its integration from one frame to the
// next (EffectInstance::CarryMotion), so a frame costs the steps since the
// one before; only the first frame after a seek or a change of a speed
// integrates from 0 (an hour in, 50 to 100 ms).
constexpr double kFramesPerSecond = 600;
// Later times give the frame at this time (ten hours): the steps grow with
// the time, and a wild time from a host must not stall it.
constexpr double kLatestSeconds = 36000;
// ffmpeg's frei0r filter hands over its frames' rows as it holds them,
// padded to its alignment (up to 64 bytes), where frei0r promises rows of
// the frame's width: only widths of a multiple of 16 pixels arrive intact.
constexpr unsigned kFfmpegRowPixels = 16;

struct EffectParam {
    size_t hostIndex;  // in the instance's parameter list
    std::string name;  // the parameter's key
    std::string explanation;
    int type;
    // A point's default as get handed it out, as fractions of the frames of
    // the instances asked: a host that sets it back (GStreamer, from an
    // instance of another size) means the default in pixels.
    mutable std::vector<f0r_param_position_t> defaultsHandedOut;  // under gLock
};

struct Effect {
    std::string key;
    EffectEntryPoint entry = nullptr;
    std::string name;
    std::string pluginName;  // "zoka Glow": what hosts name their filters after
    std::string explanation;
    bool refusalSaid = false;  // a frame refused at construction is said once
    int majorVersion = 0;
    int minorVersion = 0;
    std::vector<EffectParam> params;
};

struct Bridge {
    std::unique_ptr<ourhost::Host> host;
    std::unique_ptr<ourhost::Module> module;
    std::vector<Effect> effects;
    int initialised = 0;  // plug-ins between init and deinit
    size_t instances = 0;
    std::atomic<uint64_t> renders{0};
};

// The lock around gBridge's loading and its instances' bookkeeping.
std::mutex gLock;
Bridge* gBridge = nullptr;
// Calls inside the module right now, counted outside any lock so that a
// path around it would show.
std::atomic<int> gInside{0};
std::atomic<int> gMaxInside{0};

// Runs call inside the module, with our host current on this thread.
template <typename Call>
auto InModule(Bridge& bridge, Call call) {
    struct Presence {
        Presence() {
            const int now = ++gInside;
            int seen = gMaxInside.load();
            while (now > seen && !gMaxInside.compare_exchange_weak(seen, now)) {
            }
        }
        ~Presence() { --gInside; }
    } presence;
    ourhost::HostOnThisThread current(bridge.host.get());
    return call();
}

// "Drop_Shadow_Entry_Point" names "Drop Shadow", an effect without a PiPL.
std::string NameFromEntryPoint(std::string entry) {
    const std::string suffix = "_Entry_Point";
    if (entry.size() > suffix.size()) entry.resize(entry.size() - suffix.size());
    std::replace(entry.begin(), entry.end(), '_', ' ');
    return entry;
}

std::string DisplayName(const ourhost::Module& module, const ZokaEffectKeys& keys) {
    for (const auto& pipl : module.Effects()) {
        if (pipl.entryName == keys.entryName) return ourhost::Utf8FromAnsi(pipl.name);
    }
    return NameFromEntryPoint(keys.entryName);
}

// The about text's description: what follows the name and version line.
std::string Description(const std::string& about) {
    const size_t gap = about.find("\r\r");
    std::string text = ourhost::Utf8FromAnsi(gap == std::string::npos ? about : about.substr(gap + 2));
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text;
}

// An effect as the module declares it, from a setup of one instance.
Effect Describe(Bridge& bridge, const ZokaEffectKeys& keys) {
    Effect effect;
    effect.key = keys.effectKey;
    effect.entry = bridge.module->EntryPoint(keys.entryName);
    effect.name = DisplayName(*bridge.module, keys);
    // GStreamer names its elements frei0r-filter-<name>: "zoka Glow" makes
    // frei0r-filter-zoka-glow, clashing with no other frei0r plug-in's.
    effect.pluginName = ourhost::Frei0rTitle(effect.name);
    ourhost::EffectInstance probe(*bridge.host, effect.entry);
    std::string about;
    probe.About(about);
    effect.explanation = Description(about);
    probe.GlobalSetup();
    probe.SetupParams();
    effect.majorVersion = static_cast<int>(probe.Version() >> 19 & 7);
    effect.minorVersion = static_cast<int>(probe.Version() >> 15 & 15);
    for (const ourhost::ParamName& p : ourhost::ParamNames(probe, keys)) {
        const ourhost::ParamSlot& slot = probe.Params()[p.hostIndex];
        const int type = Frei0rType(slot.def.kind);
        if (p.number < 0 || type < 0) continue;  // the selection layer: frei0r filters take one input
        effect.params.push_back(EffectParam{p.hostIndex, p.key.empty() ? p.label : p.key, Explanation(slot), type, {}});
    }
    probe.GlobalSetdown();
    return effect;
}

// The threads each frame's bands use: ZOKA_THREADS (1 to kZokaMaxWorkers),
// or the machine's cores.
int32_t BandThreads() {
    if (const char* text = std::getenv("ZOKA_THREADS"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (*end == '\0' && n >= 1 && n <= kZokaMaxWorkers) return static_cast<int32_t>(n);
    }
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

// Where the module is: ZOKA_MODULE, or ZOKA-ENG.so beside this library.
std::string ModulePath() {
    if (const char* path = std::getenv("ZOKA_MODULE"); path != nullptr && *path != '\0') return path;
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&ModulePath), &self) == 0 || self.dli_fname == nullptr) {
        return "ZOKA-ENG.so";
    }
    const std::string library = self.dli_fname;
    const size_t slash = library.find_last_of('/');
    return (slash == std::string::npos ? std::string(".") : library.substr(0, slash)) + "/ZOKA-ENG.so";
}

void Complain(const std::string& what) { std::fprintf(stderr, "zoka frei0r: %s\n", what.c_str()); }

// The bridge, loading the module on first use; null after a message when it
// cannot be loaded. The caller holds gLock.
Bridge* Loaded() {
    if (gBridge != nullptr) return gBridge;
    auto bridge = std::make_unique<Bridge>();
    {
        // A new host makes itself current on its thread: keep this thread's own.
        ourhost::HostOnThisThread keep(nullptr);
        bridge->host = std::make_unique<ourhost::Host>();
    }
    bridge->host->ServeRenders();
    const std::string path = ModulePath();
    std::string error;
    bridge->module = ourhost::Module::Load(path, error);
    if (!bridge->module) {
        Complain("cannot load the module " + path + ": " + error);
        return nullptr;
    }
    // Bands inside each frame on every core, whether the host renders one
    // frame at a time (ffmpeg) or several (MLT's frame threads).
    bridge->host->UseWorkers(bridge->module->WorkerOffer(), BandThreads());
    for (const ZokaEffectKeys& keys : bridge->module->AllEffects()) {
        bridge->effects.push_back(InModule(*bridge, [&] { return Describe(*bridge, keys); }));
    }
    gBridge = bridge.release();
    return gBridge;
}

// Unloads the module once no plug-in and no instance needs it. The caller
// holds gLock.
void ReleaseIfUnused() {
    if (gBridge == nullptr || gBridge->initialised > 0 || gBridge->instances > 0) return;
    std::unique_ptr<Bridge> bridge(gBridge);
    gBridge = nullptr;
    bridge->effects.clear();
    bridge->module.reset();
    ourhost::HostOnThisThread keep(bridge->host.get());
    bridge->host.reset();
}

// The effect of that index, loading the module when a plug-in outlived an
// unload. The caller holds gLock.
Effect* EffectAt(int effect) {
    if (Loaded() == nullptr || effect < 0 || static_cast<size_t>(effect) >= gBridge->effects.size()) return nullptr;
    return &gBridge->effects[static_cast<size_t>(effect)];
}

bool SameKey(const std::string& key, const char* name) {
    return key.size() == std::strlen(name) &&
           std::equal(key.begin(), key.end(), name, [](unsigned char a, unsigned char b) {
               return std::tolower(a) == std::tolower(b);
           });
}

}  // namespace
}  // namespace zoka_frei0r

using namespace zoka_frei0r;

// One applied effect: the module's instance in our host, its frame size and
// the parameters' defaults.
struct ZokaFrei0rInstance {
    Bridge* bridge = nullptr;  // loaded while the instance lives
    const Effect* effect = nullptr;
    FrameSize frame{};
    std::unique_ptr<ourhost::EffectInstance> module;
    std::vector<HostParamValue> defaults;  // by frei0r parameter index
    ourhost::Image input;
    std::string text;       // the popup text handed out by get
    bool reported = false;  // a failed render's message is printed once
    double unitsPerSecond = 0;  // of the caller's times; 0 until the first update
    // One thread at a time inside an instance: frei0r lets a host hand an
    // instance to any thread, and its input frame, parameter values and our
    // host's records for it are its own. Different instances never wait.
    std::mutex use;

    ourhost::ParamSlot* Slot(int index) {
        if (index < 0 || static_cast<size_t>(index) >= effect->params.size()) return nullptr;
        return &module->Params()[effect->params[static_cast<size_t>(index)].hostIndex];
    }
};

namespace zoka_frei0r {
namespace {

// RGBA8888 (red, green, blue, alpha bytes) into the host's order (alpha,
// red, green, blue): one rotation of each little-endian pixel word, a loop
// the compiler vectorises.
void ReadFrame(const uint32_t* in, ourhost::Image& image) {
    uint8_t* to = image.Data();
    const size_t pixels = static_cast<size_t>(image.Width()) * static_cast<size_t>(image.Height());
    for (size_t i = 0; i < pixels; ++i, to += 4) {
        const uint32_t rgba = std::rotl(in[i], 8);
        std::memcpy(to, &rgba, 4);
    }
}

// The rendered frame over the layer's own area (the input's place in it),
// in RGBA8888; transparent where the render did not reach.
void WriteFrame(const ourhost::FrameResult& frame, FrameSize size, uint32_t* out) {
    const ourhost::Image& image = frame.image;
    // The columns of each row that the frame covers.
    const int64_t from = std::clamp<int64_t>(-int64_t{frame.originX}, 0, size.width);
    const int64_t to = std::clamp<int64_t>(int64_t{image.Width()} - frame.originX, from, size.width);
    for (int32_t y = 0; y < size.height; ++y, out += size.width) {
        const int64_t sy = int64_t{y} + frame.originY;
        if (sy < 0 || sy >= image.Height()) {
            std::fill_n(out, size.width, 0u);
            continue;
        }
        std::fill_n(out, from, 0u);
        if (from < to) {
            const uint8_t* row = image.Data() + (sy * image.Width() + from + frame.originX) * 4;
            for (int64_t x = from; x < to; ++x, row += 4) {
                uint32_t argb;
                std::memcpy(&argb, row, 4);
                out[x] = std::rotr(argb, 8);
            }
        }
        std::fill(out + to, out + size.width, 0u);
    }
}

// Points handed out at their default are remembered per parameter, so that
// the same fractions set back on an instance of another frame size mean the
// default in pixels, not a place scaled to that frame.
constexpr size_t kDefaultsRemembered = 16;

bool SamePosition(const f0r_param_position_t& a, const f0r_param_position_t& b) { return a.x == b.x && a.y == b.y; }

bool AtDefault(const ZokaFrei0rInstance& instance, int index) {
    const HostPointValue& now = instance.module->Params()[instance.effect->params[static_cast<size_t>(index)].hostIndex]
                                    .def.u.point;
    const HostPointValue& declared = instance.defaults[static_cast<size_t>(index)].point;
    return now.x == declared.x && now.y == declared.y;
}

void RememberHandedOutDefault(const ZokaFrei0rInstance& instance, int index, const f0r_param_position_t& value) {
    std::lock_guard lock(gLock);
    auto& handed = instance.effect->params[static_cast<size_t>(index)].defaultsHandedOut;
    if (std::none_of(handed.begin(), handed.end(), [&](const auto& p) { return SamePosition(p, value); }) &&
        handed.size() < kDefaultsRemembered) {
        handed.push_back(value);
    }
}

bool HandedOutAsDefault(const ZokaFrei0rInstance& instance, int index, const f0r_param_position_t& value) {
    std::lock_guard lock(gLock);
    const auto& handed = instance.effect->params[static_cast<size_t>(index)].defaultsHandedOut;
    return std::any_of(handed.begin(), handed.end(), [&](const auto& p) { return SamePosition(p, value); });
}

void LeaveUnchanged(const ZokaFrei0rInstance& instance, const uint32_t* in, uint32_t* out) {
    std::memmove(out, in, static_cast<size_t>(instance.frame.width) * static_cast<size_t>(instance.frame.height) * 4);
}

std::string MessageOf(const ourhost::FrameResult& frame) {
    std::string message = ourhost::Utf8FromAnsi(frame.message);
    std::replace(message.begin(), message.end(), '\r', ' ');
    std::replace(message.begin(), message.end(), '\n', ' ');
    while (!message.empty() && message.back() == ' ') message.pop_back();
    if (frame.code == kHostErrorCancelled) return "the render was cancelled";
    return (message.empty() ? "the render failed" : message) + " (code " + std::to_string(frame.code) + ")";
}

void ReportOnce(ZokaFrei0rInstance& instance, const std::string& message) {
    if (instance.reported) return;
    instance.reported = true;
    Complain(instance.effect->name + ": " + message + "; the frame is left as it was");
}

// Whether the code at caller is ffmpeg's frei0r filter, in libavfilter.
bool CalledFromFfmpeg(const void* caller) {
    Dl_info info{};
    if (caller == nullptr || dladdr(caller, &info) == 0 || info.dli_fname == nullptr) return false;
    const std::string file = info.dli_fname;
    return file.substr(file.find_last_of('/') + 1).rfind("libavfilter", 0) == 0;
}

// Whether the code calling the plug-in gives times in milliseconds:
// ffmpeg's frei0r filter does, where frei0r asks for seconds.
// ZOKA_FREI0R_TIME_UNIT=s or ms overrides the guess.
bool CallerCountsMilliseconds(const void* caller) {
    if (const char* unit = std::getenv("ZOKA_FREI0R_TIME_UNIT"); unit != nullptr && *unit != '\0') {
        return std::strcmp(unit, "ms") == 0;
    }
    return CalledFromFfmpeg(caller);
}

// Why a frame of that size cannot be had, or empty: beyond our host's
// layers, or rows ffmpeg would pad.
std::string FrameRefusal(unsigned width, unsigned height, const void* caller) {
    if (!ourhost::SizeAllowed(width, height)) return ourhost::SizeRefusal("the frame", width, height);
    if (CalledFromFfmpeg(caller) && width % kFfmpegRowPixels != 0) {
        const std::string w = std::to_string(width);
        return "ffmpeg pads the rows of a frame " + w +
               " pixels wide, which would shear it: pad the frame to a multiple of 16 pixels and crop it back "
               "(pad=ceil(iw/16)*16:ih:color=black@0,frei0r=...,crop=" + w + ":ih:0:0)";
    }
    return {};
}

// The frame's time in seconds, within the bridge's reach.
double FrameTime(double time, double unitsPerSecond) {
    if (std::isnan(time)) return 0;
    return std::clamp(time / unitsPerSecond, -kLatestSeconds, kLatestSeconds);
}

std::unique_ptr<ZokaFrei0rInstance> Construct(int effectIndex, unsigned width, unsigned height,
                                              const void* caller) {
    if (width == 0 || height == 0) return nullptr;
    std::lock_guard lock(gLock);
    Effect* effect = EffectAt(effectIndex);
    if (effect == nullptr) return nullptr;
    if (const std::string refusal = FrameRefusal(width, height, caller); !refusal.empty()) {
        if (!effect->refusalSaid) Complain(effect->name + ": " + refusal);
        effect->refusalSaid = true;
        return nullptr;
    }
    Bridge* bridge = gBridge;
    auto instance = std::make_unique<ZokaFrei0rInstance>();
    instance->bridge = bridge;
    instance->effect = effect;
    instance->frame = FrameSize{static_cast<int>(width), static_cast<int>(height)};
    instance->input = ourhost::Image(instance->frame.width, instance->frame.height);
    instance->module = std::make_unique<ourhost::EffectInstance>(*bridge->host, effect->entry);
    instance->module->CarryMotion(bridge->module->MotionCarryLender());
    const bool ready = InModule(*bridge, [&] {
        ourhost::EffectInstance& m = *instance->module;
        if (m.GlobalSetup() != kHostNoError) return false;
        if (m.SetupParams() != kHostNoError || m.SequenceSetup() != kHostNoError) {
            m.GlobalSetdown();
            return false;
        }
        return true;
    });
    if (!ready) {
        Complain(effect->name + ": the effect could not be set up");
        instance.reset();
        ReleaseIfUnused();
        return nullptr;
    }
    for (size_t i = 0; i < effect->params.size(); ++i) {
        instance->defaults.push_back(instance->Slot(static_cast<int>(i))->def.u);
    }
    ++bridge->instances;
    return instance;
}

void Render(ZokaFrei0rInstance& instance, double time, const uint32_t* in, uint32_t* out, const void* caller) {
    if (instance.unitsPerSecond == 0) instance.unitsPerSecond = CallerCountsMilliseconds(caller) ? 1000 : 1;
    ReadFrame(in, instance.input);
    ourhost::FrameOptions options;
    options.time = FrameTime(time, instance.unitsPerSecond);
    options.fps = kFramesPerSecond;
    const ourhost::FrameResult frame =
        InModule(*instance.bridge, [&] { return instance.module->RenderFrame(instance.input, options); });
    ++instance.bridge->renders;
    if (frame.code != kHostNoError) {
        ReportOnce(instance, MessageOf(frame));
        LeaveUnchanged(instance, in, out);
        return;
    }
    WriteFrame(frame, instance.frame, out);
}

}  // namespace
}  // namespace zoka_frei0r

extern "C" {

int ZokaFrei0rFind(const char* name) {
    if (name == nullptr) return -1;
    try {
        std::lock_guard lock(gLock);
        const Bridge* bridge = Loaded();
        if (bridge == nullptr) return -1;
        for (size_t i = 0; i < bridge->effects.size(); ++i) {
            if (SameKey(bridge->effects[i].key, name)) return static_cast<int>(i);
        }
    } catch (...) {
    }
    return -1;
}

int ZokaFrei0rInit(int effect) {
    try {
        std::lock_guard lock(gLock);
        if (EffectAt(effect) == nullptr) return 0;
        ++gBridge->initialised;
        return 1;
    } catch (...) {
        return 0;
    }
}

void ZokaFrei0rDeinit(int) {
    std::lock_guard lock(gLock);
    if (gBridge == nullptr || gBridge->initialised == 0) return;
    --gBridge->initialised;
    ReleaseIfUnused();
}

void ZokaFrei0rPluginInfo(int effect, f0r_plugin_info_t* info) try {
    if (info == nullptr) return;
    std::lock_guard lock(gLock);
    const Effect* e = EffectAt(effect);
    if (e == nullptr) return;
    info->name = e->pluginName.c_str();
    info->author = "ZOKA-ENG, Lumetta AE Demo";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = e->majorVersion;
    info->minor_version = e->minorVersion;
    info->num_params = static_cast<int>(e->params.size());
    info->explanation = e->explanation.c_str();
} catch (...) {
}

void ZokaFrei0rParamInfo(int effect, f0r_param_info_t* info, int index) try {
    if (info == nullptr) return;
    std::lock_guard lock(gLock);
    const Effect* e = EffectAt(effect);
    if (e == nullptr || index < 0 || static_cast<size_t>(index) >= e->params.size()) return;
    const EffectParam& p = e->params[static_cast<size_t>(index)];
    info->name = p.name.c_str();
    info->type = p.type;
    info->explanation = p.explanation.c_str();
} catch (...) {
}

ZokaFrei0rInstance* ZokaFrei0rConstruct(int effect, unsigned width, unsigned height, const void* caller) {
    try {
        return Construct(effect, width, height, caller).release();
    } catch (...) {
        return nullptr;
    }
}

void ZokaFrei0rDestruct(ZokaFrei0rInstance* instance) try {
    if (instance == nullptr) return;
    std::lock_guard lock(gLock);
    InModule(*gBridge, [&] {
        instance->module->SequenceSetdown();
        instance->module->GlobalSetdown();
    });
    delete instance;
    --gBridge->instances;
    ReleaseIfUnused();
} catch (...) {
}

void ZokaFrei0rSetParam(ZokaFrei0rInstance* instance, f0r_param_t param, int index) {
    if (instance == nullptr) return;
    try {
        std::lock_guard inUse(instance->use);
        ourhost::ParamSlot* slot = instance->Slot(index);
        if (slot == nullptr) return;
        const HostParamValue& defaults = instance->defaults[static_cast<size_t>(index)];
        if (slot->def.kind == kParamPoint && param != nullptr &&
            HandedOutAsDefault(*instance, index, *static_cast<const f0r_param_position_t*>(param))) {
            slot->def.u = defaults;
            return;
        }
        slot->def.u = ValueFromFrei0r(*slot, defaults, param, instance->frame);
    } catch (...) {
    }
}

void ZokaFrei0rGetParam(ZokaFrei0rInstance* instance, f0r_param_t param, int index) {
    if (instance == nullptr) return;
    try {
        std::lock_guard inUse(instance->use);
        const ourhost::ParamSlot* slot = instance->Slot(index);
        if (slot == nullptr) return;
        ValueToFrei0r(*slot, slot->def.u, param, instance->frame, instance->text);
        if (slot->def.kind == kParamPoint && param != nullptr && AtDefault(*instance, index)) {
            RememberHandedOutDefault(*instance, index, *static_cast<const f0r_param_position_t*>(param));
        }
    } catch (...) {
    }
}

void ZokaFrei0rUpdate(ZokaFrei0rInstance* instance, double time, const uint32_t* in, uint32_t* out,
                      const void* caller) {
    if (instance == nullptr || in == nullptr || out == nullptr) return;
    // Held through the reports below too, which mark the instance.
    std::unique_lock inUse(instance->use, std::defer_lock);
    try {
        inUse.lock();
        Render(*instance, time, in, out, caller);
    } catch (const std::exception& e) {
        ReportOnce(*instance, e.what());
        LeaveUnchanged(*instance, in, out);
    } catch (...) {
        ReportOnce(*instance, "the render failed");
        LeaveUnchanged(*instance, in, out);
    }
}

const char* ZokaFrei0rEffectKey(int effect) try {
    std::lock_guard lock(gLock);
    const Effect* e = EffectAt(effect);
    return e == nullptr ? nullptr : e->key.c_str();
} catch (...) {
    return nullptr;
}

ZokaFrei0rStats ZokaFrei0rStatistics(void) {
    std::lock_guard lock(gLock);
    ZokaFrei0rStats stats{};
    stats.maxInsideModule = gMaxInside.load();
    if (gBridge == nullptr) return stats;
    stats.liveHandles = gBridge->host->LiveHandles();
    stats.instances = gBridge->instances;
    stats.renders = gBridge->renders;
    stats.hostFaults = gBridge->host->Faults().size();
    return stats;
}

void ZokaFrei0rFailAllocation(uint64_t n) {
    std::lock_guard lock(gLock);
    if (gBridge != nullptr) gBridge->host->FailAllocation(n);
}

}  // extern "C"
