#include "cli/inspect.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace zoka_cli {

namespace {

// Padded to width characters as a terminal shows them: UTF-8 text ("°")
// counted by characters, not bytes.
std::string Padded(const std::string& text, size_t width) {
    const auto shown = static_cast<size_t>(
        std::count_if(text.begin(), text.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
    return shown >= width ? text : text + std::string(width - shown, ' ');
}

using nlohmann::json;
using ourhost::ParamSlot;

std::string FixedText(int32_t v) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.10g", v / 65536.0);
    return buffer;
}

// Whether the effect renders a small opaque layer at its defaults: what
// `list` reports, so that no effect looks finished that does not.
bool RendersAtDefaults(Session& session, const EffectEntry& effect) {
    constexpr int32_t kProbeSide = 16;
    auto instance = session.Instantiate(effect);
    bool rendered = instance->GlobalSetup() == kHostNoError && instance->SetupParams() == kHostNoError &&
                    instance->SequenceSetup() == kHostNoError;
    if (rendered) {
        const ourhost::Image layer(kProbeSide, kProbeSide, ourhost::Pixel{255, 128, 96, 64});
        const ourhost::FrameResult frame = instance->RenderFrame(layer, ourhost::FrameOptions{});
        rendered = frame.code == kHostNoError && !frame.image.Empty();
        instance->SequenceSetdown();
    }
    instance->GlobalSetdown();
    return rendered;
}

// Slider and valid ranges in user units, empty for other kinds.
std::pair<std::string, std::string> Ranges(const ParamSlot& slot) {
    const HostParamValue& u = slot.def.u;
    if (slot.def.kind == kParamSlider) {
        return {std::to_string(u.slider.sliderMin) + ".." + std::to_string(u.slider.sliderMax),
                std::to_string(u.slider.validMin) + ".." + std::to_string(u.slider.validMax)};
    }
    if (slot.def.kind == kParamFixedSlider) {
        return {FixedText(u.fixedSlider.sliderMin) + ".." + FixedText(u.fixedSlider.sliderMax),
                FixedText(u.fixedSlider.validMin) + ".." + FixedText(u.fixedSlider.validMax)};
    }
    return {};
}

std::string Notes(const ParamSlot& slot) {
    if (slot.def.kind == kParamFixedSlider && (slot.def.u.fixedSlider.displayFlags & kFixedPercentFlag)) {
        return "shown as a percentage";
    }
    if (slot.def.kind == kParamCheckbox) return "\"" + ourhost::Utf8FromAnsi(slot.checkboxText) + "\"";
    if (slot.def.kind == kParamPopup) return ourhost::Utf8FromAnsi(slot.choices);
    return "";
}

// The value as --set takes it: keyframes as VALUE@SECONDS;...
std::string ValueText(const ParamSlot& slot) {
    if (slot.keys.empty()) return ourhost::FormatValue(slot, slot.def.u);
    std::string text;
    for (const auto& [seconds, value] : slot.keys) {
        char at[40];
        std::snprintf(at, sizeof at, "@%.17g", seconds);
        text += (text.empty() ? "" : ";") + ourhost::FormatValue(slot, value) + at;
    }
    return text;
}

json ParamJson(const ourhost::ParamName& name, const ParamSlot& slot, const ParamSlot& declared) {
    json p{{"number", name.number >= 0 ? json(name.number) : json(nullptr)},
           {"hostIndex", name.hostIndex},
           {"key", name.key.empty() ? json(nullptr) : json(name.key)},
           {"label", name.label},
           {"kind", ourhost::KindName(slot.def.kind)},
           {"default", ourhost::FormatValue(declared, declared.def.u)}};
    if (slot.def.kind != kParamLayer) p["value"] = ValueText(slot);
    const HostParamValue& u = slot.def.u;
    if (slot.def.kind == kParamSlider) {
        p["slider"] = {u.slider.sliderMin, u.slider.sliderMax};
        p["valid"] = {u.slider.validMin, u.slider.validMax};
    } else if (slot.def.kind == kParamFixedSlider) {
        p["slider"] = {u.fixedSlider.sliderMin / 65536.0, u.fixedSlider.sliderMax / 65536.0};
        p["valid"] = {u.fixedSlider.validMin / 65536.0, u.fixedSlider.validMax / 65536.0};
        p["flags"] = u.fixedSlider.displayFlags;
    } else if (slot.def.kind == kParamCheckbox) {
        p["checkboxText"] = ourhost::Utf8FromAnsi(slot.checkboxText);
    } else if (slot.def.kind == kParamPopup) {
        p["items"] = ourhost::PopupItems(slot);
    }
    return p;
}

// Every parameter as JSON, its default the declared one and its value the
// instance's.
json ParamsJsonOf(ourhost::EffectInstance& instance, const EffectEntry& effect,
                  const std::vector<ParamSlot>& declared) {
    json all = json::array();
    for (const auto& n : ourhost::ParamNames(instance, effect.keys)) {
        all.push_back(ParamJson(n, instance.Params()[n.hostIndex], declared[n.hostIndex]));
    }
    return all;
}

}  // namespace

int ListEffects(Session& session, bool json) {
    nlohmann::json all = nlohmann::json::array();
    for (const EffectEntry& e : session.Effects()) {
        const bool renders = RendersAtDefaults(session, e);
        if (json) {
            all.push_back({{"index", e.keys.effectIndex}, {"name", e.name},
                           {"key", e.keys.effectKey}, {"registered", e.Registered()},
                           {"renders", renders}});
        } else {
            std::printf("%2d  %-20s %-20s %-15s %s\n", e.keys.effectIndex, e.name.c_str(),
                        e.keys.effectKey, e.Registered() ? "registered" : "not registered",
                        renders ? "renders" : "does not render");
        }
    }
    if (json) std::cout << all.dump(2) << "\n";
    return 0;
}

int ShowAbout(Session& session, const std::string& name, bool raw) {
    const EffectEntry* only = name.empty() ? nullptr : session.Find(name);
    if (!name.empty() && only == nullptr) return kUsageError;
    for (const EffectEntry& e : session.Effects()) {
        if (only != nullptr && &e != only) continue;
        std::string text;
        const HostError result = session.Instantiate(e)->About(text);
        if (result != kHostNoError) {
            std::cerr << "zoka: " << e.name << ": about failed with code " << result << "\n";
            return kModuleError;
        }
        // Text for terminals, pipes and files alike: the carriage returns that
        // break the host's about box into lines become line breaks, in UTF-8.
        // --raw keeps the module's own bytes.
        if (!raw) {
            for (char& c : text) c = c == '\r' ? '\n' : c;
            text = ourhost::Utf8FromAnsi(text);
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputs(name.empty() ? "\n\n" : "\n", stdout);
    }
    return 0;
}

int ParamsWithValues(Session& session, const std::string& name, const FrameRequest& request,
                     nlohmann::json& params) {
    const EffectEntry* effect = session.Find(name);
    if (effect == nullptr) return kUsageError;
    auto instance = SetUpEffect(session, *effect);
    if (!instance) return kModuleError;
    const std::vector<ParamSlot> declared = instance->Params();
    const int status = ApplyRequest(*effect, *instance, request);
    if (status == 0) params = ParamsJsonOf(*instance, *effect, declared);
    instance->GlobalSetdown();
    return status;
}

int ShowParams(Session& session, const std::string& name, const FrameRequest& request, bool json) {
    if (json) {
        nlohmann::json params;
        if (const int status = ParamsWithValues(session, name, request, params)) return status;
        std::cout << params.dump(2) << "\n";
        return 0;
    }
    const EffectEntry* effect = session.Find(name);
    if (effect == nullptr) return kUsageError;
    auto instance = SetUpEffect(session, *effect);
    if (!instance) return kModuleError;
    if (const int status = ApplyRequest(*effect, *instance, request)) return status;
    std::printf("%-3s %-4s %-24s %-30s %-13s %-10s %-10s %-10s %s\n", "#", "host", "key", "label", "kind",
                request.sets.empty() && request.preset.empty() ? "default" : "value", "slider", "valid", "notes");
    for (const auto& n : ourhost::ParamNames(*instance, effect->keys)) {
        const ParamSlot& slot = instance->Params()[n.hostIndex];
        const auto [slider, valid] = Ranges(slot);
        std::printf("%-3s %-4zu %-24s %s %-13s %-10s %-10s %-10s %s\n",
                    n.number >= 0 ? std::to_string(n.number).c_str() : "-", n.hostIndex,
                    n.key.empty() ? "-" : n.key.c_str(), Padded("\"" + n.label + "\"", 30).c_str(),
                    ourhost::KindName(slot.def.kind),
                    ValueText(slot).c_str(), slider.c_str(), valid.c_str(),
                    Notes(slot).c_str());
    }
    return 0;
}

nlohmann::json ParamsJson(ourhost::EffectInstance& instance, const EffectEntry& effect) {
    return ParamsJsonOf(instance, effect, instance.Params());
}

int WritePipl(Session& session, const std::string& name) {
    const EffectEntry* effect = session.Find(name);
    if (effect == nullptr) return kUsageError;
    if (!effect->Registered()) {
        std::cerr << "zoka: " << effect->name << " has no PiPL resource\n";
        return kUsageError;
    }
    if (isatty(STDOUT_FILENO)) {
        std::cerr << "zoka: the PiPL resource is binary: redirect it to a file (zoka pipl "
                  << effect->keys.effectKey << " > " << effect->keys.effectKey << ".pipl)\n";
        return kUsageError;
    }
    const auto& bytes = effect->pipl->bytes;
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    return 0;
}

int ShowFrame(Session& session, const std::string& name, const FrameRequest& request,
              const FrameQuery& query) {
    const EffectEntry* effect = session.Find(name);
    if (effect == nullptr) return kUsageError;
    const auto size = ParseSize(query.size);
    if (!size) {
        std::cerr << "zoka: --size takes WxH, not \"" << query.size << "\"\n";
        return kUsageError;
    }
    auto instance = SetUpEffect(session, *effect);
    if (!instance) return kModuleError;
    if (const int status = ApplyRequest(*effect, *instance, request)) return status;
    if (!query.selectionSize.empty()) {
        const auto selection = ParseSize(query.selectionSize);
        const auto origin = ParsePoint(request.selectionOrigin);
        if (!selection || !origin) {
            std::cerr << "zoka: --selection-size takes WxH and --selection-origin X,Y\n";
            return kUsageError;
        }
        instance->SetSelection(ourhost::Image(selection->first, selection->second,
                                              ourhost::Pixel{255, 0, 0, 0}),
                               origin->first, origin->second);
    }
    const ourhost::Image layer = ourhost::Image(size->first, size->second).Shrunk(request.downsample);
    const HostError result = instance->FrameSetup(layer, request.Options());
    const HostOutputRecord& out = instance->Output();
    if (result != kHostNoError) {
        std::cerr << "zoka: " << effect->name << ": frame setup failed with code " << result
                  << ": " << ourhost::Utf8FromAnsi(out.message) << "\n";
        return kModuleError;
    }
    if (query.json) {
        std::cout << nlohmann::json{{"width", out.width},
                                    {"height", out.height},
                                    {"originX", out.originH},
                                    {"originY", out.originV},
                                    {"flags", instance->GlobalFlags()},
                                    {"version", instance->Version()}}
                         .dump(2)
                  << "\n";
    } else {
        std::printf("width %d, height %d, origin %d,%d\n", out.width, out.height, out.originH,
                    out.originV);
    }
    return 0;
}

}  // namespace zoka_cli
