// The module check: what a host sees of the module, printed the same way on
// every platform, so the Linux module and the Windows module (under wine) can
// be compared line by line. The system's text for code 8 is printed on its
// own line, since each system words it its own way.
//
//   zoka_module_check [MODULE]
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"
#include "site/sample_layer.h"

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

uint64_t Fnv1a(const ourhost::ImageBytes& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (const uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// Settings beyond the defaults that take other paths through the engines.
struct Variant {
    const char* effect;
    const char* key;  // the parameter's key
    const char* value;
    double seconds = 0;  // the frame's time
};
constexpr Variant kVariants[] = {
    {"Gaussian Blur", "Width", "45"},   // the FFT method
    {"Motion Trail", "Taper", "off"},  // the uniform smear
    {"Motion Trail", "Direction", "100"},  // the column sweep
    {"Squint", "Radius", "12.5"},
    {"HSB Noise", "Opacity", "80"},        // opacity noise
    {"HSB Noise", "FlowVelocity", "30", 1.5},  // drifting
    {"HSB Noise", "PhaseVelocity", "200", 0.75},  // undulating
    {"Chrome", "Softness", "40"},  // the blur's FFT
    {"Chrome", "Bands", "10"},
    {"Chrome", "Direction", "300"},  // light from below left
    {"Chrome", "Contrast", "100"},   // the clamped table
    {"Fire", "FireColor", "User Defined"},      // the colours' ramp
    {"Fire", "EdgeSoftness", "40"},             // the FFT blur of the shape
    {"Fire", "FlowVelocity", "100", 1.25},      // risen
    {"Smoke", "InsideMasking", "0"},            // over the shape too
    {"Smoke", "WispWidth", "5"},                // three octaves
    {"Smoke", "FlowVelocity", "300", 0.75},     // risen
    {"Star", "Sides", "12"},
    {"Star", "Indentation", "0"},  // the regular polygon
    {"Star", "Antialias", "off"},  // the hard edge
    {"Star", "EraseImage", "on"},
    {"Weave", "Smear", "on"},         // smeared threads
    {"Weave", "GapFill", "off"},      // cleared crossings
    {"Weave", "FlowVelocity", "30", 1.0},  // drifting between whole pixels
    {"Fur", "Smooth", "off"},                    // hard-drawn hairs
    {"Fur", "FlowVelocity", "30", 1.5},          // drifting waves
    {"Fur", "PhaseVelocity", "200", 0.75},       // undulating waves
    {"Jiggle", "Field", "2"},                    // Brownian Motion
    {"Jiggle", "Field", "3"},                    // Turbulence
    {"Jiggle", "FlowVelocity", "30", 1.5},       // drifting bubbles
    {"Swirl", "Warp", "off"},                    // smeared both ways
    {"Swirl", "Smooth", "off"},                  // cell sampling
    {"Swirl", "PhaseVelocity", "200", 0.75},     // undulating whirlpools
    {"Inner Bevel", "Bevel", "Rounded"},
    {"Inner Bevel", "Bevel", "Flat"},
    {"Inner Bevel", "Bevel", "Mesa"},
    {"Outer Bevel", "Bevel", "Rounded"},
    {"Outer Bevel", "Bevel", "Flat"},
    {"Outer Bevel", "Bevel", "Mesa"},
    {"Carve", "Bevel", "Rounded"},
    {"Carve", "Bevel", "Flat"},
    {"Carve", "Bevel", "Mesa"},
    {"Cutout", "SolidFill", "off"},
    {"Cutout", "Blur", "40"},  // the FFT blur
    {"Drop_Shadow_Entry_Point", "Blur", "40"},
    {"Drop_Shadow_Entry_Point", "DrawEverywhere", "on"},
    {"Perspective Shadow", "Blur", "40"},
    {"Perspective Shadow", "DrawEverywhere", "on"},
    {"Perspective Shadow", "VanishingPointDirection", "330"},
    {"Glow", "DropoffType", "Medium"},
    {"Glow", "DropoffType", "Thin"},
    {"Glow", "DropoffType", "Diffuse"},  // the blurred mask
    {"Glow", "DrawEverywhere", "on"},
    {"Glass", "BevelType", "Button"},
    {"Glass", "BevelType", "Rounded"},
    {"Glass", "BevelType", "Mesa"},
    {"Glass", "FlowVelocity", "30", 1.5},    // drifting flaws
    {"Glass", "PhaseVelocity", "200", 0.75},  // undulating flaws
};

// Sets the variant's parameter, found by its key; false (and a line saying
// why) when the effect has no such parameter or refuses the value.
bool SetByKey(ourhost::Module& module, const ourhost::EffectDescriptor& effect,
              ourhost::EffectInstance& instance, const Variant& variant) {
    const auto keys = module.Keys(effect.entryName);
    const auto param = keys ? ourhost::FindParam(ourhost::ParamNames(instance, *keys), variant.key)
                            : std::nullopt;
    std::string error = "no parameter " + std::string(variant.key);
    if (param && ourhost::SetParam(instance.Params()[param->hostIndex], variant.value, error)) {
        return true;
    }
    std::printf("%s with %s: %s\n", effect.name.c_str(), variant.value, error.c_str());
    return false;
}

// One frame's pixels' hash at the defaults, in a host of its own that offers
// the module this many workers.
uint64_t DefaultFrameHash(ourhost::Module& module, const std::string& entryName,
                          const ourhost::Image& layer, int32_t workers) {
    ourhost::Host host;
    host.UseWorkers(module.WorkerOffer(), workers);
    ourhost::EffectInstance instance(host, module.EntryPoint(entryName));
    instance.GlobalSetup();
    instance.SetupParams();
    const ourhost::FrameResult frame = instance.RenderFrame(layer, {});
    return frame.code == kHostNoError && host.LiveHandles() == 0 ? Fnv1a(frame.image.Bytes()) : 0;
}

// Every effect rendered alone on one thread, then on three threads of the
// process at once (each its own host at three workers): the module's
// per-thread records, whatever the system's threads are.
void PrintConcurrentRenders(ourhost::Module& module, const ourhost::Image& layer) {
    const std::vector<ZokaEffectKeys>& effects = module.AllEffects();
    std::vector<uint64_t> alone;
    for (const ZokaEffectKeys& e : effects) alone.push_back(DefaultFrameHash(module, e.entryName, layer, 1));
    constexpr size_t kThreads = 3;
    std::vector<uint64_t> together(effects.size());
    std::vector<std::thread> threads;
    for (size_t t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (size_t i = t; i < effects.size(); i += kThreads) {
                together[i] = DefaultFrameHash(module, effects[i].entryName, layer, 3);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (size_t i = 0; i < effects.size(); ++i) {
        std::printf("%s: pixels %016llx alone, the same on three threads at once: %s\n",
                    effects[i].entryName, static_cast<unsigned long long>(alone[i]),
                    alone[i] != 0 && together[i] == alone[i] ? "yes" : "no");
    }
}

void PrintRender(ourhost::Module& module, const ourhost::EffectDescriptor& effect,
                 const ourhost::Image& layer, const Variant* variant) {
    ourhost::Host host;
    ourhost::EffectInstance instance(host, module.EntryPoint(effect.entryName));
    instance.GlobalSetup();
    instance.SetupParams();
    if (variant != nullptr && !SetByKey(module, effect, instance, *variant)) return;
    ourhost::FrameOptions options;
    if (variant != nullptr) options.time = variant->seconds;
    const ourhost::FrameResult frame = instance.RenderFrame(layer, options);
    std::printf("%s%s%s: code %d, %dx%d at %d,%d, pixels %016llx, handles left %zu\n",
                effect.name.c_str(), variant ? " with " : "", variant ? variant->value : "",
                frame.code, frame.image.Width(), frame.image.Height(), frame.originX, frame.originY,
                static_cast<unsigned long long>(Fnv1a(frame.image.Bytes())), host.LiveHandles());
}

// A moving variant's frame rendered after the three frames before it by an
// instance that carries its motion (through the module's lending): the
// frame alone's pixels, with only its own steps checked out.
void PrintCarriedRender(ourhost::Module& module, const ourhost::EffectDescriptor& effect,
                        const ourhost::Image& layer, const Variant& variant) {
    ourhost::Host host;
    ourhost::EffectInstance alone(host, module.EntryPoint(effect.entryName)),
        carried(host, module.EntryPoint(effect.entryName));
    for (ourhost::EffectInstance* instance : {&alone, &carried}) {
        instance->GlobalSetup();
        instance->SetupParams();
        if (!SetByKey(module, effect, *instance, variant)) return;
    }
    carried.CarryMotion(module.MotionCarryLender());
    ourhost::FrameOptions options;
    options.time = variant.seconds;
    const ourhost::FrameResult reference = alone.RenderFrame(layer, options);
    ourhost::FrameResult frame;
    uint64_t checkouts = 0;
    for (int n = 3; n >= 0; --n) {
        options.time = variant.seconds - n / 30.0;
        const uint64_t before = host.Checkouts();
        frame = carried.RenderFrame(layer, options);
        checkouts = host.Checkouts() - before;
    }
    std::printf("%s with %s after 3 frames: code %d, the frame alone: %s, checkouts %llu, handles left %zu\n",
                effect.name.c_str(), variant.value, frame.code, frame.image == reference.image ? "yes" : "no",
                static_cast<unsigned long long>(checkouts), host.LiveHandles());
}

// The effects with code but no PiPL (Drop Shadow), which no host lists,
// named by their entry point.
void PrintUnlistedRenders(ourhost::Module& module, const ourhost::Image& layer) {
    for (const ZokaEffectKeys& keys : module.AllEffects()) {
        bool listed = false;
        for (const auto& e : module.Effects()) listed = listed || e.entryName == keys.entryName;
        if (listed) continue;
        ourhost::EffectDescriptor unlisted;
        unlisted.name = keys.entryName;
        unlisted.entryName = keys.entryName;
        PrintRender(module, unlisted, layer, nullptr);
        for (const Variant& v : kVariants) {
            if (unlisted.name == v.effect) PrintRender(module, unlisted, layer, &v);
        }
    }
}

// A render whose third allocation fails: the system's text for code 8.
void PrintOutOfMemory(ourhost::Module& module, const ourhost::Image& layer) {
    ourhost::Host host;
    ourhost::EffectInstance instance(host, module.EntryPoint("Antimatter_Entry_Point"));
    instance.GlobalSetup();
    instance.SetupParams();
    instance.FrameSetup(layer, {});
    ourhost::Image output(layer.Width(), layer.Height());
    host.FailAllocation(3);
    const HostError code = instance.Render(layer, output, {});
    std::printf("code %d, flags 0x%x, output is the input: %s, handles left %zu\n", code,
                instance.Output().flags, output == layer ? "yes" : "no", host.LiveHandles());
    std::printf("system text: %s\n", Escaped(instance.Output().message).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const std::string path = argc > 1 ? argv[1] : ourhost::DefaultModulePath();
    std::string error;
    auto module = ourhost::Module::Load(path, error);
    if (!module) {
        std::fprintf(stderr, "zoka_module_check: %s\n", error.c_str());
        return 1;
    }
    std::printf("== effects\n");
    for (const auto& e : module->Effects()) {
        std::printf("%d %s %s %s 0x%08x 0x%x\n", e.resourceId, e.name.c_str(), e.entryName.c_str(),
                    e.matchName.c_str(), e.version, e.globalFlags);
    }
    std::printf("== about\n");
    for (const auto& e : module->Effects()) {
        ourhost::Host host;
        ourhost::EffectInstance instance(host, module->EntryPoint(e.entryName));
        std::string text;
        instance.About(text);
        std::printf("%s\n", Escaped(text).c_str());
    }
    const ourhost::Image layer = zoka_site::SampleLayer();
    std::printf("== renders\n");
    for (const auto& e : module->Effects()) {
        PrintRender(*module, e, layer, nullptr);
        for (const Variant& v : kVariants) {
            if (e.name == v.effect) PrintRender(*module, e, layer, &v);
        }
    }
    PrintUnlistedRenders(*module, layer);
    std::printf("== carried motion\n");
    for (const auto& e : module->Effects()) {
        for (const Variant& v : kVariants) {
            if (e.name == v.effect && v.seconds > 0) PrintCarriedRender(*module, e, layer, v);
        }
    }
    std::printf("== out of memory\n");
    PrintOutOfMemory(*module, layer);
    std::printf("== renders at once\n");
    PrintConcurrentRenders(*module, layer);
    return 0;
}
