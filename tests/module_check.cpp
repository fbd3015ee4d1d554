// The module check: what a host sees of the module, printed the same way on
// every platform, so the Linux module and the Windows module (under wine) can
// be compared line by line. The system's text for code 8 is printed on its
// own line, since each system words it its own way.
//
//   zoka_module_check [MODULE]
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/sample_layer.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"
#include "ourhost/module.h"
#include "ourhost/param_values.h"

namespace {

// The system's code for a render the module does not support yet.
constexpr HostError kNotBuiltYet = 50;

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

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
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
    if (frame.code == kNotBuiltYet) return;
    std::printf("%s%s%s: code %d, %dx%d at %d,%d, pixels %016llx, handles left %zu\n",
                effect.name.c_str(), variant ? " with " : "", variant ? variant->value : "",
                frame.code, frame.image.Width(), frame.image.Height(), frame.originX, frame.originY,
                static_cast<unsigned long long>(Fnv1a(frame.image.Bytes())), host.LiveHandles());
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
    const ourhost::Image layer = zoka_cli::SampleLayer();
    std::printf("== renders\n");
    for (const auto& e : module->Effects()) {
        PrintRender(*module, e, layer, nullptr);
        for (const Variant& v : kVariants) {
            if (e.name == v.effect) PrintRender(*module, e, layer, &v);
        }
    }
    std::printf("== out of memory\n");
    PrintOutOfMemory(*module, layer);
    return 0;
}
