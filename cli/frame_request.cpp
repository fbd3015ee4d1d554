#include "cli/frame_request.h"

#include <cmath>
#include <cstdlib>
#include <iostream>

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

}  // namespace

void AddFrameOptions(CLI::App& command, FrameRequest& request) {
    command.add_option("--set", request.sets,
                       "KEY=VALUE: a parameter by key, label or number; VALUE@SECONDS;... "
                       "for keyframes");
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
        ->check(CLI::Range(1, 64))
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
            std::cerr << "zoka: --set takes KEY=VALUE, not \"" << set << "\"\n";
            return false;
        }
        const std::string what = set.substr(0, equals);
        const auto name = ourhost::FindParam(names, what);
        if (!name) {
            std::cerr << "zoka: " << effect.name << " has no parameter \"" << what
                      << "\" (see 'zoka params " << effect.keys.effectKey << "')\n";
            return false;
        }
        std::string error;
        if (!ourhost::SetParam(instance.Params()[name->hostIndex], set.substr(equals + 1), error)) {
            std::cerr << "zoka: " << effect.name << ": " << error << "\n";
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
        std::cerr << "zoka: --selection-origin takes X,Y, each from -32767 to 32767, not \""
                  << request.selectionOrigin << "\"\n";
        return false;
    }
    const std::string refusal = ourhost::TimeRefusal(request.time, request.fps);
    if (!refusal.empty()) {
        std::cerr << "zoka: " << refusal << "\n";
        return false;
    }
    return true;
}

}  // namespace zoka_cli
