// A request of the Python module, served as zoka render and animate serve
// theirs (cli/chain): the module loaded into a host of the request's own,
// the chain of effects set up with its values and selection, then frames at
// any time, each placed on the request's canvas. Calls from several Python
// threads render at once, each in its request's host; each raises the
// command line's error line as a Failure.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/chain.h"
#include "cli/session.h"
#include "ourhost/image.h"

namespace zoka_python {

// What a failed call says: the command line's exit status and error line.
struct Failure : std::runtime_error {
    Failure(int exitStatus, HostError resultCode, const std::string& line)
        : std::runtime_error(line), status(exitStatus), code(resultCode) {}
    int status;      // zoka_cli::kModuleError or kUsageError
    HostError code;  // the module's result code, 0 when it gave none
};

// The calls inside the module now and the most ever inside at once: for
// tests, which see through them that renders leave the GIL free and overlap.
struct CallCounts {
    int inside;
    int mostInside;
};
CallCounts Calls();

// The module file every request loads, loaded once here and kept for the
// process; throws Failure when it cannot be loaded.
void LoadModule(const std::string& path);

// An effect as zoka.effects() lists it.
struct EffectSummary {
    std::string name;
    std::string key;
    int32_t index = 0;
    bool registered = false;
    bool moves = false;  // its output changes with time alone
};
std::vector<EffectSummary> SummariseEffects();

// What `zoka params EFFECT --json` prints with these KEY=VALUE settings.
std::string ParamsJson(const std::string& effect, const std::vector<std::string>& sets);

// One effect of a chain and its KEY=VALUE settings.
struct Step {
    std::string effect;
    std::vector<std::string> sets;
};

// What a request asks besides its effects, in the command line's terms.
struct FrameSpec {
    double fps = 30;
    bool still = false;
    int64_t downsample = 1;               // checked before it is narrowed
    std::string selectionOrigin = "0,0";  // X,Y
    std::string canvas;                   // --canvas; empty: as grown, until HoldAll
    uint64_t failAllocation = 0;          // our host's injected failures, for tests
    uint64_t cancelAtPoll = 0;
};

class OwnSession;

class Request {
public:
    // Sets the chain up on the input; throws Failure.
    Request(const std::vector<Step>& steps, const FrameSpec& spec, ourhost::Image input,
            const ourhost::Image* selection);
    ~Request();
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // The frame at time on its canvas; throws Failure.
    zoka_cli::PlacedFrame Render(double time);
    // From now on, frames of the default canvas are placed on one that holds
    // the frames at every one of these times; throws Failure.
    zoka_cli::CanvasRect HoldAll(const std::vector<double>& times);
    // Ends the chain (also done on destruction).
    void Close();

    // How long the last frame took to render and place, without the
    // conversions around it.
    std::chrono::duration<double> LastRenderTime() const { return lastRender_; }

private:
    std::unique_ptr<OwnSession> session_;
    zoka_cli::EffectChain chain_;
    zoka_cli::FrameRequest request_;
    ourhost::Image input_;
    zoka_cli::CanvasChoice choice_;
    std::optional<zoka_cli::CanvasRect> whole_;
    std::chrono::duration<double> lastRender_{};
};

// What every request has left behind once closed: our host's handles still
// live and the faults it saw (both 0 when nothing leaks), and the requests.
struct Leftovers {
    uint64_t handles = 0;
    uint64_t faults = 0;
    uint64_t requests = 0;
};
Leftovers LeftSoFar();

}  // namespace zoka_python
