// The options shared by the commands that compute frames: parameter values,
// time, draft resolution and the selection layer's placement.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/session.h"
#include "ourhost/effect_instance.h"

namespace zoka_cli {

// An effect applied after the first, to its result (--then EFFECT), with
// its own values.
struct FurtherEffect {
    std::string effect;
    std::vector<std::string> sets;  // KEY=VALUE
    std::string preset;
};

// The coarsest draft: --downsample takes 1 to this.
inline constexpr int32_t kMaxDownsample = 64;

struct FrameRequest {
    std::vector<std::string> sets;  // KEY=VALUE
    std::string preset;             // a JSON file of values, applied before sets
    double time = 0;
    double fps = 30;
    bool still = false;
    int32_t downsample = 1;
    std::string selectionOrigin = "0,0";
    // Failures our host injects into the render, for testing the error paths.
    uint64_t failAllocation = 0;
    uint64_t cancelAtPoll = 0;
    std::vector<FurtherEffect> then;  // applied in order to the first effect's result

    ourhost::FrameOptions Options() const {
        return ourhost::FrameOptions{time, fps, still, downsample};
    }
};

void AddFrameOptions(CLI::App& command, FrameRequest& request);
// A number written in full: no "nan", "inf" or empty text.
const CLI::Validator& FiniteNumber();

// Applies every --set to the instance; prints one line and returns false at
// the first refusal.
// KEY=VALUE with its keyframes at frame numbers ("VALUE@12f") turned into
// seconds at the rate given; everything else unchanged.
std::string KeyframesInSeconds(const std::string& set, double fps);
bool ApplySettings(const EffectEntry& effect, ourhost::EffectInstance& instance,
                   const std::vector<std::string>& sets);

// The preset's values, then every --set: 0, or an exit status after one
// error line (3 when the preset cannot be read, 2 when it is refused).
// A preset is what `zoka params EFFECT --json` prints (each entry's "value",
// else its "default", by key or else label), or an object {"KEY": VALUE}.
int ApplyRequest(const EffectEntry& effect, ourhost::EffectInstance& instance,
                 const FrameRequest& request);

// Only errors (quiet), or progress and timings too (verbose).
enum class Verbosity { kQuiet, kNormal, kVerbose };
void AddVerbosityOptions(CLI::App& command, Verbosity& verbosity);

// The command line with every "--then EFFECT [--set KEY=VALUE]...
// [--preset FILE]" taken out into further effects: the --set and --preset
// after a --then belong to its effect, every other word stays where it was
// (so options and files may follow a further effect). False after one error
// line.
struct SplitCommandLine {
    std::vector<std::string> words;  // the program's name first
    std::vector<FurtherEffect> then;
};
bool SplitFurtherEffects(int argc, const char* const* argv, SplitCommandLine& split);

// Refuses, with one line, what the host cannot represent: a selection origin
// beyond 16.16 fixed point, a time or frame rate outside our host's range.
bool CheckFrameRequest(const FrameRequest& request);

// "WxH" and "X,Y" (each within 16.16 fixed point).
std::optional<std::pair<int32_t, int32_t>> ParseSize(const std::string& text);
std::optional<std::pair<double, double>> ParsePoint(const std::string& text);

}  // namespace zoka_cli
