#include "cli/frame_request.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/error_lines.h"
#include "ourhost/param_values.h"

namespace zoka_cli {

namespace {

// A number written in full: CLI11's own conversion takes "nan", "inf" and an
// empty text, which would quietly become a time of 0 or the default rate.
const CLI::Validator kFiniteNumber(
    [](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0' || !std::isfinite(value)) {
            return "takes a number, not \"" + text + "\"";
        }
        return {};
    },
    "NUMBER");

// A preset file is a few kilobytes; anything far larger is no preset.
constexpr off_t kMaxPresetBytes = off_t{1} << 20;

// 0, or the exit status: a file that cannot be read (3), or is not JSON (2).
int ReadPreset(const std::string& path, nlohmann::json& preset, std::string& error) {
    struct stat status {};
    const char* why = stat(path.c_str(), &status) != 0 ? std::strerror(errno)
                      : !S_ISREG(status.st_mode)       ? "it is not a regular file"
                      : status.st_size > kMaxPresetBytes ? "it is larger than 1 MB"
                                                         : nullptr;
    if (why != nullptr) {
        error = "cannot read the preset " + path + ": " + why;
        return kFileError;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the preset " + path + ": " + std::strerror(errno);
        return kFileError;
    }
    preset = nlohmann::json::parse(in, nullptr, false);
    if (preset.is_discarded()) {
        error = "the preset " + path + " is not JSON";
        return kUsageError;
    }
    return 0;
}

// A JSON value as --set text: strings as they are, numbers and booleans
// written out.
std::string SettingText(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_boolean()) return value.get<bool>() ? "on" : "off";
    return value.dump();
}

// The preset as KEY=VALUE settings, in its own order.
bool PresetSettings(const nlohmann::json& preset, const std::string& path,
                    std::vector<std::string>& sets, std::string& error) {
    const auto refuse = [&](const std::string& why) {
        error = "the preset " + path + " " + why;
        return false;
    };
    if (preset.is_object()) {
        for (const auto& [name, value] : preset.items()) {
            if (value.is_object() || value.is_array() || value.is_null()) {
                return refuse("gives \"" + name + "\" no value");
            }
            sets.push_back(name + "=" + SettingText(value));
        }
        return true;
    }
    if (!preset.is_array()) return refuse("is neither a list of parameters nor an object");
    for (const auto& entry : preset) {
        if (!entry.is_object()) return refuse("lists something other than parameters");
        if (entry.value("kind", "") == "layer") continue;  // layers are chosen on the command line
        const auto key = entry.find("key");
        const auto label = entry.find("label");
        const bool keyed = key != entry.end() && key->is_string();
        if (!keyed && (label == entry.end() || !label->is_string())) return refuse("has a parameter without a key or label");
        const auto value = entry.contains("value") ? entry.find("value") : entry.find("default");
        if (value == entry.end() || value->is_null() || value->is_object() || value->is_array()) {
            return refuse("has a parameter without a value");
        }
        sets.push_back((keyed ? key->get<std::string>() : label->get<std::string>()) + "=" + SettingText(*value));
    }
    return true;
}

}  // namespace

const CLI::Validator& FiniteNumber() { return kFiniteNumber; }

void AddVerbosityOptions(CLI::App& command, Verbosity& verbosity) {
    command.add_flag_callback("-q,--quiet", [&verbosity] { verbosity = Verbosity::kQuiet; },
                              "Print errors only");
    command.add_flag_callback("-v,--verbose", [&verbosity] { verbosity = Verbosity::kVerbose; },
                              "Print progress and timings on standard error");
}

int ApplyRequest(const EffectEntry& effect, ourhost::EffectInstance& instance,
                 const FrameRequest& request) {
    std::vector<std::string> sets;
    if (!request.preset.empty()) {
        nlohmann::json preset;
        std::string error;
        if (const int status = ReadPreset(request.preset, preset, error)) {
            ErrorStream() << "zoka: " << error << "\n";
            return status;
        }
        if (!PresetSettings(preset, request.preset, sets, error)) {
            ErrorStream() << "zoka: " << error << "\n";
            return kUsageError;
        }
    }
    sets.insert(sets.end(), request.sets.begin(), request.sets.end());
    // Keyframes at frame numbers, in a preset as on the command line.
    for (std::string& set : sets) set = KeyframesInSeconds(set, request.fps);
    return ApplySettings(effect, instance, sets) ? 0 : kUsageError;
}

namespace {

// "--set VALUE" or "--set=VALUE" at words[i]: the value, and i moved past it.
std::optional<std::string> OptionValue(const std::vector<std::string>& words, size_t& i, const std::string& name) {
    const std::string& word = words[i];
    if (word.rfind(name + "=", 0) == 0) return word.substr(name.size() + 1);
    if (word != name || i + 1 >= words.size()) return std::nullopt;
    return words[++i];
}

}  // namespace

bool SplitFurtherEffects(int argc, const char* const* argv, SplitCommandLine& split) {
    const std::vector<std::string> words(argv, argv + argc);
    FurtherEffect* current = nullptr;
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--then") {
            if (i + 1 >= words.size() || words[i + 1].empty() || words[i + 1][0] == '-') {
                ErrorStream() << "zoka: --then takes the name or key of an effect, then its --set and --preset\n";
                return false;
            }
            split.then.push_back(FurtherEffect{words[++i], {}, {}});
            current = &split.then.back();
            continue;
        }
        if (current != nullptr) {
            if (auto value = OptionValue(words, i, "--set")) {
                current->sets.push_back(*value);
                continue;
            }
            if (auto value = OptionValue(words, i, "--preset")) {
                if (!current->preset.empty()) {
                    ErrorStream() << "zoka: --then " << current->effect << " takes one --preset\n";
                    return false;
                }
                current->preset = *value;
                continue;
            }
        }
        split.words.push_back(words[i]);
    }
    return true;
}

std::string KeyframesInSeconds(const std::string& set, double fps) {
    std::string out;
    size_t from = 0;
    while (from <= set.size()) {
        size_t end = set.find(';', from);
        if (end == std::string::npos) end = set.size();
        std::string key = set.substr(from, end - from);
        const size_t at = key.rfind('@');
        const std::string when = at == std::string::npos ? "" : key.substr(at + 1);
        // "@12f": frame 12, at 12 / fps seconds.
        if (when.size() >= 2 && when.size() <= 8 && when.back() == 'f' &&
            std::all_of(when.begin(), when.end() - 1, [](unsigned char c) { return std::isdigit(c) != 0; })) {
            char seconds[40];
            std::snprintf(seconds, sizeof seconds, "%.17g", std::stod(when.substr(0, when.size() - 1)) / fps);
            key = key.substr(0, at + 1) + seconds;
        }
        out += (from == 0 ? "" : ";") + key;
        from = end + 1;
    }
    return out;
}

void AddFrameOptions(CLI::App& command, FrameRequest& request) {
    command.add_option("--set", request.sets,
                       "KEY=VALUE: a parameter by key, label or number; keyframes are "
                       "VALUE@SECONDS;... or VALUE@FRAMEf;... (frame N at N / fps seconds), "
                       "linear between keys for numbers, points and colours, held for the others");
    command.add_option("--preset", request.preset,
                       "A JSON file of values (as 'zoka params EFFECT --json' prints), "
                       "applied before --set");
    command.add_option("--time", request.time,
                       "The frame's time in seconds, within a million frames of 0")
        ->check(kFiniteNumber)
        ->capture_default_str();
    command.add_option("--fps", request.fps,
                       "Frames per second, 0.001 to 1000 (29.97 is 30000/1001)")
        ->check(kFiniteNumber)
        ->capture_default_str();
    command.add_flag("--still", request.still, "A still image: the frame's time step is 0");
    command.add_option("--downsample", request.downsample, "Render at 1/N resolution, as a draft")
        ->check(CLI::Range(1, kMaxDownsample))
        ->capture_default_str();
    // Hidden: our host's failure injection, for tests of the error paths.
    command.add_option("--inject-allocation-failure", request.failAllocation)->group("");
    command.add_option("--inject-cancel", request.cancelAtPoll)->group("");
}

bool ApplySettings(const EffectEntry& effect, ourhost::EffectInstance& instance,
                   const std::vector<std::string>& sets) {
    const auto names = ourhost::ParamNames(instance, effect.keys);
    for (const std::string& set : sets) {
        const size_t equals = set.find('=');
        if (equals == std::string::npos) {
            ErrorStream() << "zoka: --set takes KEY=VALUE, not \"" << set << "\"\n";
            return false;
        }
        const std::string what = set.substr(0, equals);
        const auto name = ourhost::FindParam(names, what);
        if (!name) {
            ErrorStream() << "zoka: " << effect.name << " has no parameter \"" << what
                      << "\" (see 'zoka params " << effect.keys.effectKey << "')\n";
            return false;
        }
        std::string error;
        if (!ourhost::SetParam(instance.Params()[name->hostIndex], set.substr(equals + 1), error)) {
            ErrorStream() << "zoka: " << effect.name << ": " << error << "\n";
            return false;
        }
    }
    return true;
}

std::optional<std::pair<int32_t, int32_t>> ParseSize(const std::string& text) {
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const long w = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + x) return std::nullopt;
    const long h = std::strtol(text.c_str() + x + 1, &end, 10);
    if (*end != '\0' || w < 1 || h < 1 || !ourhost::SizeAllowed(w, h)) return std::nullopt;
    return std::make_pair(static_cast<int32_t>(w), static_cast<int32_t>(h));
}

std::optional<std::pair<double, double>> ParsePoint(const std::string& text) {
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const double x = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + comma) return std::nullopt;
    const double y = std::strtod(text.c_str() + comma + 1, &end);
    if (*end != '\0') return std::nullopt;
    // The host keeps the point in 16.16 fixed point.
    const auto fits = [](double v) { return std::fabs(v) <= ourhost::kMaxFixedMagnitude; };
    if (!fits(x) || !fits(y)) return std::nullopt;
    return std::make_pair(x, y);
}

bool CheckFrameRequest(const FrameRequest& request) {
    if (!ParsePoint(request.selectionOrigin)) {
        ErrorStream() << "zoka: --selection-origin takes X,Y, each from -32767 to 32767, not \""
                  << request.selectionOrigin << "\"\n";
        return false;
    }
    const std::string refusal = ourhost::TimeRefusal(request.time, request.fps);
    if (!refusal.empty()) {
        ErrorStream() << "zoka: " << refusal << "\n";
        return false;
    }
    return true;
}

}  // namespace zoka_cli
