// The bridge between the GEGL operations and the module: our host and the
// module, loaded once per process and kept for its life (GEGL never unloads
// a plug-in's types), and one fresh instance of the effect for every frame
// asked, set up with the frame's values as `zoka render` sets them.
#include "gegl/bridge.h"

#include <dlfcn.h>
#include <locale.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace zoka_gegl {
namespace {

struct Bridge {
    std::unique_ptr<ourhost::Host> host;
    std::unique_ptr<ourhost::Module> module;
};

// Held while the module is loaded and while the kept areas are read or
// written; renders run at once, the module being reentrant.
std::mutex gBookkeeping;
Bridge* gBridge = nullptr;
bool gLoadFailed = false;

// GEGL asks an operation's area many times over (its bounding box, cached
// and invalidated regions, before each render), so the last answers are
// kept: asking the module means a setup and a layer of the input's size.
struct AreaAnswer {
    int effect;
    std::vector<std::string> settings;
    double time, fps;
    int32_t width, height;
    ZokaGeglArea area;
};
constexpr size_t kAreasKept = 16;
std::vector<AreaAnswer> gAreas;  // under gBookkeeping, the newest last

std::vector<std::string> SettingsOf(const ZokaGeglFrame& frame) {
    std::vector<std::string> settings;
    for (int i = 0; i < frame.count; ++i) settings.emplace_back(frame.settings[i] != nullptr ? frame.settings[i] : "");
    return settings;
}

std::optional<ZokaGeglArea> KnownArea(int effect, const ZokaGeglFrame& frame) {
    const std::vector<std::string> settings = SettingsOf(frame);
    const std::lock_guard<std::mutex> hold(gBookkeeping);
    for (const AreaAnswer& a : gAreas) {
        if (a.effect == effect && a.settings == settings && a.time == frame.time && a.fps == frame.fps &&
            a.width == frame.width && a.height == frame.height) {
            return a.area;
        }
    }
    return std::nullopt;
}

void KeepArea(int effect, const ZokaGeglFrame& frame, const ZokaGeglArea& area) {
    const std::lock_guard<std::mutex> hold(gBookkeeping);
    if (gAreas.size() == kAreasKept) gAreas.erase(gAreas.begin());
    gAreas.push_back(AreaAnswer{effect, SettingsOf(frame), frame.time, frame.fps, frame.width, frame.height, area});
}

// Where the module is: ZOKA_MODULE, or lib/zoka/ZOKA-ENG.so seen from the
// plug-in's folder: lib/gegl-0.4 in the build tree, lib/<triplet>/gegl-0.4
// in the Debian package, share/gegl-0.4/plug-ins below a user's prefix.
std::string ModulePath() {
    if (const char* path = std::getenv("ZOKA_MODULE"); path != nullptr && *path != '\0') return path;
    Dl_info self{};
    if (dladdr(reinterpret_cast<void*>(&ModulePath), &self) == 0 || self.dli_fname == nullptr) {
        return "ZOKA-ENG.so";
    }
    const std::string file = self.dli_fname;
    const std::string folder = file.substr(0, file.find_last_of('/') + 1);
    for (const char* up : {"../zoka/", "../../zoka/", "../../../lib/zoka/"}) {
        const std::string candidate = folder + up + "ZOKA-ENG.so";
        if (access(candidate.c_str(), R_OK) == 0) return candidate;
    }
    return folder + "../zoka/ZOKA-ENG.so";
}

// The bridge, loading the module on first use; null (said once) when it
// cannot be loaded. The caller holds gBookkeeping.
Bridge* Loaded() {
    if (gBridge != nullptr || gLoadFailed) return gBridge;
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
        std::fprintf(stderr, "zoka gegl: cannot load the module %s: %s\n", path.c_str(), error.c_str());
        gLoadFailed = true;
        return nullptr;
    }
    // GEGL asks for a whole frame in one call: its bands use the cores.
    bridge->host->UseWorkers(bridge->module->WorkerOffer(),
                             static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())));
    gBridge = bridge.release();
    return gBridge;
}

bool SameKey(const char* key, const char* name) {
    return std::strlen(key) == std::strlen(name) &&
           std::equal(key, key + std::strlen(key), name, [](unsigned char a, unsigned char b) {
               return std::tolower(a) == std::tolower(b);
           });
}

// Numbers read in the C locale whatever the program chose (GIMP takes the
// user's, where 47.5 may be written 47,5): for this thread, while in scope.
class CNumbers {
public:
    CNumbers() : c_(newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0))) {
        if (c_ != static_cast<locale_t>(0)) previous_ = uselocale(c_);
    }
    ~CNumbers() {
        if (c_ == static_cast<locale_t>(0)) return;
        uselocale(previous_);
        freelocale(c_);
    }
    CNumbers(const CNumbers&) = delete;
    CNumbers& operator=(const CNumbers&) = delete;

private:
    locale_t c_;
    locale_t previous_ = static_cast<locale_t>(0);
};

void Say(const std::string& what, char* message, size_t size) {
    if (message == nullptr || size == 0) return;
    std::snprintf(message, size, "%s", what.c_str());
}

// The module's text as one line of UTF-8.
std::string OneLine(const std::string& text) {
    std::string line = ourhost::Utf8FromAnsi(text);
    std::replace(line.begin(), line.end(), '\r', ' ');
    std::replace(line.begin(), line.end(), '\n', ' ');
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

// One instance of the effect with the frame's values, set up as zoka render
// sets one up; its sequence and global setdown on destruction. The caller
// has our host current on its thread.
class FrameInstance {
public:
    FrameInstance(Bridge& bridge, const ZokaEffectKeys& keys)
        : keys_(keys), instance_(*bridge.host, bridge.module->EntryPoint(keys.entryName)) {}
    ~FrameInstance() {
        if (sequence_) instance_.SequenceSetdown();
        if (global_) instance_.GlobalSetdown();
    }
    FrameInstance(const FrameInstance&) = delete;
    FrameInstance& operator=(const FrameInstance&) = delete;

    // Set up with the frame's values; false with the reason.
    bool Prepare(const ZokaGeglFrame& frame, std::string& why) {
        global_ = instance_.GlobalSetup() == kHostNoError;
        if (!global_ || instance_.SetupParams() != kHostNoError) return Fail("the effect could not be set up", why);
        sequence_ = instance_.SequenceSetup() == kHostNoError;
        if (!sequence_) return Fail("the effect could not be set up", why);
        const std::vector<ourhost::ParamName> names = ourhost::ParamNames(instance_, keys_);
        const CNumbers cNumbers;
        for (int i = 0; i < frame.count; ++i) {
            const std::string setting = frame.settings[i] != nullptr ? frame.settings[i] : "";
            const size_t equals = setting.find('=');
            const auto name = ourhost::FindParam(names, setting.substr(0, equals));
            if (equals == std::string::npos || !name) return Fail("no parameter \"" + setting + "\"", why);
            std::string error;
            if (!ourhost::SetParam(instance_.Params()[name->hostIndex], setting.substr(equals + 1), error)) {
                return Fail(error, why);
            }
        }
        if (const std::string refusal = ourhost::TimeRefusal(frame.time, frame.fps); !refusal.empty()) {
            return Fail(refusal, why);
        }
        return true;
    }

    ourhost::EffectInstance& Instance() { return instance_; }

private:
    static bool Fail(const std::string& what, std::string& why) {
        why = what;
        return false;
    }

    const ZokaEffectKeys& keys_;
    ourhost::EffectInstance instance_;
    bool global_ = false;
    bool sequence_ = false;
};

ourhost::FrameOptions OptionsOf(const ZokaGeglFrame& frame) {
    ourhost::FrameOptions options;
    options.time = frame.time;
    options.fps = frame.fps;
    return options;
}

// Straight RGBA bytes into the host's order (alpha first).
ourhost::Image HostImage(const uint8_t* rgba, int32_t width, int32_t height) {
    ourhost::Image image(width, height);
    uint8_t* to = image.Data();
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < pixels; ++i, rgba += 4, to += 4) {
        to[0] = rgba[3];
        to[1] = rgba[0];
        to[2] = rgba[1];
        to[3] = rgba[2];
    }
    return image;
}

// The rendered frame over area, in straight RGBA; transparent where the
// frame does not reach.
void WriteArea(const ourhost::FrameResult& frame, const ZokaGeglArea& area, uint8_t* out) {
    for (int32_t y = 0; y < area.height; ++y) {
        for (int32_t x = 0; x < area.width; ++x, out += 4) {
            const int64_t sx = int64_t{x} + area.x + frame.originX;
            const int64_t sy = int64_t{y} + area.y + frame.originY;
            const bool inside = sx >= 0 && sy >= 0 && sx < frame.image.Width() && sy < frame.image.Height();
            const ourhost::Pixel p = inside ? frame.image.At(static_cast<int32_t>(sx), static_cast<int32_t>(sy))
                                            : ourhost::Pixel{0, 0, 0, 0};
            out[0] = p.r;
            out[1] = p.g;
            out[2] = p.b;
            out[3] = p.a;
        }
    }
}

std::string Reason(HostError code, const std::string& message) {
    if (code == kHostErrorCancelled) return "the render was cancelled";
    const std::string line = OneLine(message);
    return (line.empty() ? "the frame failed" : line) + " (code " + std::to_string(code) + ")";
}

Bridge* LoadedNow() {
    const std::lock_guard<std::mutex> hold(gBookkeeping);
    return Loaded();
}

// Runs call with the module loaded and our host current; false with the
// reason when the effect cannot be had.
template <typename Call>
bool WithEffect(int effect, char* message, size_t size, Call call) {
    try {
        Bridge* bridge = LoadedNow();
        const auto& all = bridge != nullptr ? bridge->module->AllEffects() : std::vector<ZokaEffectKeys>{};
        if (effect < 0 || static_cast<size_t>(effect) >= all.size()) {
            Say("the module or the effect is missing", message, size);
            return false;
        }
        const ourhost::HostOnThisThread current(bridge->host.get());
        FrameInstance instance(*bridge, all[static_cast<size_t>(effect)]);
        std::string why;
        if (!call(instance, why)) {
            Say(why, message, size);
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        Say(e.what(), message, size);
    } catch (...) {
        Say("the frame failed", message, size);
    }
    return false;
}

bool LayerAllowed(const ZokaGeglFrame& frame, std::string& why) {
    if (frame.width >= 1 && frame.height >= 1 && ourhost::SizeAllowed(frame.width, frame.height)) return true;
    why = ourhost::SizeRefusal("the layer", frame.width, frame.height);
    return false;
}

}  // namespace
}  // namespace zoka_gegl

using namespace zoka_gegl;

extern "C" {

int zoka_gegl_find(const char* key) {
    if (key == nullptr) return -1;
    try {
        const Bridge* bridge = LoadedNow();
        if (bridge == nullptr) return -1;
        const auto& all = bridge->module->AllEffects();
        for (size_t i = 0; i < all.size(); ++i) {
            if (SameKey(all[i].effectKey, key)) return static_cast<int>(i);
        }
    } catch (...) {
    }
    return -1;
}

int zoka_gegl_area(int effect, const ZokaGeglFrame* frame, ZokaGeglArea* area, char* message, size_t size) {
    if (frame == nullptr || area == nullptr) return 0;
    return WithEffect(effect, message, size, [&](FrameInstance& instance, std::string& why) {
        if (const std::optional<ZokaGeglArea> known = KnownArea(effect, *frame)) {
            *area = *known;
            return true;
        }
        if (!LayerAllowed(*frame, why) || !instance.Prepare(*frame, why)) return false;
        const ourhost::Image layer(frame->width, frame->height);
        const auto areas = instance.Instance().FrameAreas(layer, OptionsOf(*frame), {frame->time});
        if (areas.empty() || areas.front().code != kHostNoError) {
            why = areas.empty() ? "the frame failed" : Reason(areas.front().code, areas.front().message);
            return false;
        }
        const ourhost::FrameArea& a = areas.front();
        *area = ZokaGeglArea{-a.originX, -a.originY, a.width, a.height};
        KeepArea(effect, *frame, *area);
        return true;
    });
}

int zoka_gegl_render(int effect, const ZokaGeglFrame* frame, const uint8_t* input, const ZokaGeglArea* area,
                     uint8_t* output, char* message, size_t size) {
    if (frame == nullptr || input == nullptr || area == nullptr || output == nullptr) return 0;
    return WithEffect(effect, message, size, [&](FrameInstance& instance, std::string& why) {
        if (!LayerAllowed(*frame, why) || !instance.Prepare(*frame, why)) return false;
        const ourhost::FrameResult result =
            instance.Instance().RenderFrame(HostImage(input, frame->width, frame->height), OptionsOf(*frame));
        if (result.code != kHostNoError) {
            why = Reason(result.code, result.message);
            return false;
        }
        WriteArea(result, *area, output);
        return true;
    });
}

}  // extern "C"
