#include "python/request.h"

#include <atomic>
#include <nlohmann/json.hpp>

#include "cli/error_lines.h"
#include "cli/frame_request.h"
#include "cli/inspect.h"
#include "cli/render.h"
#include "ourhost/effect_instance.h"
#include "ourhost/host.h"

namespace zoka_python {

using zoka_cli::kModuleError;
using zoka_cli::kUsageError;
using zoka_cli::Session;

namespace {

std::string gModulePath;
std::atomic<uint64_t> gHandlesLeft{0};
std::atomic<uint64_t> gFaults{0};
std::atomic<uint64_t> gRequests{0};
std::atomic<int> gInside{0};
std::atomic<int> gMostInside{0};

// Counts a call inside the module for its life.
class Presence {
public:
    Presence() {
        const int now = ++gInside;
        int most = gMostInside.load();
        while (now > most && !gMostInside.compare_exchange_weak(most, now)) {
        }
    }
    ~Presence() { --gInside; }
    Presence(const Presence&) = delete;
    Presence& operator=(const Presence&) = delete;
};

}  // namespace

CallCounts Calls() { return CallCounts{gInside.load(), gMostInside.load()}; }

// A call into the module: counted, this thread's error lines captured, and a
// session's host lent to the thread once it has one.
class InModule {
public:
    InModule() = default;

    void Lend(Session& session) { host_.emplace(&session.Host()); }
    // The captured line (or, when nothing was said, the fallback) as a
    // Failure.
    [[noreturn]] void Fail(int status, HostError code = kHostNoError, const std::string& fallback = "") {
        const std::string line = errors_.LastLine();
        throw Failure(status, code, line.empty() ? fallback : line);
    }

private:
    Presence presence_;
    zoka_cli::ErrorCapture errors_;
    std::optional<ourhost::HostOnThisThread> host_;
};

// The session of a call or a request, with a host of its own. A host
// becomes current where it is made and puts back what it found where it
// ends; both happen here inside a scope of no host, so that the thread's
// current host is the same on either side. Only a call lends it.
class OwnSession {
public:
    explicit OwnSession(InModule& call) {
        {
            ourhost::HostOnThisThread none(nullptr);
            session_ = std::make_unique<Session>(gModulePath);
            if (!session_->Loaded()) session_.reset();
            if (session_) session_->UseThreads(zoka_cli::Cores());
        }
        if (!session_) call.Fail(kModuleError);
        call.Lend(*session_);
    }
    ~OwnSession() {
        ourhost::HostOnThisThread none(nullptr);
        session_.reset();
    }
    OwnSession(const OwnSession&) = delete;
    OwnSession& operator=(const OwnSession&) = delete;

    Session& operator*() { return *session_; }
    Session* operator->() { return session_.get(); }

    // Counts what the session's host was left holding once the call or
    // request is done.
    void Account() {
        gHandlesLeft += session_->Host().LiveHandles();
        gFaults += session_->Host().Faults().size();
        ++gRequests;
    }

private:
    std::unique_ptr<Session> session_;
};

namespace {

// The process's own session: the module file stays loaded between requests.
// Never ended, as the process may end with threads still rendering.
OwnSession* gKeeper = nullptr;

}  // namespace

void LoadModule(const std::string& path) {
    InModule call;
    if (gKeeper != nullptr) {
        if (path == gModulePath) return;
        throw Failure(kUsageError, kHostNoError, "the module " + gModulePath + " is loaded; another cannot be");
    }
    gModulePath = path;
    try {
        gKeeper = new OwnSession(call);
    } catch (const Failure&) {
        gModulePath.clear();
        throw;
    }
}

std::vector<EffectSummary> SummariseEffects() {
    InModule call;
    OwnSession session(call);
    std::vector<EffectSummary> effects;
    for (const zoka_cli::EffectEntry& entry : session->Effects()) {
        auto instance = session->Instantiate(entry);
        const bool setUp = instance->GlobalSetup() == kHostNoError;
        effects.push_back({entry.name, entry.keys.effectKey, entry.keys.effectIndex, entry.Registered(),
                           setUp && (instance->GlobalFlags() & kOutFlagVariesOverTime) != 0});
        if (setUp) instance->GlobalSetdown();
    }
    session.Account();
    return effects;
}

std::string ParamsJson(const std::string& effect, const std::vector<std::string>& sets) {
    InModule call;
    OwnSession session(call);
    zoka_cli::FrameRequest request;
    request.sets = sets;
    nlohmann::json params;
    const int status = zoka_cli::ParamsWithValues(*session, effect, request, params);
    session.Account();
    if (status != 0) call.Fail(status);
    return params.dump();
}

Request::Request(const std::vector<Step>& steps, const FrameSpec& spec, ourhost::Image input,
                 const ourhost::Image* selection)
    : input_(std::move(input)) {
    if (steps.empty()) throw Failure(kUsageError, kHostNoError, "a request needs an effect");
    if (spec.downsample < 1 || spec.downsample > zoka_cli::kMaxDownsample) {
        throw Failure(kUsageError, kHostNoError,
                      "downsample takes 1 to " + std::to_string(zoka_cli::kMaxDownsample) + ", not " +
                          std::to_string(spec.downsample));
    }
    request_.sets = steps.front().sets;
    for (size_t i = 1; i < steps.size(); ++i) request_.then.push_back({steps[i].effect, steps[i].sets, ""});
    request_.fps = spec.fps;
    request_.still = spec.still;
    request_.downsample = static_cast<int32_t>(spec.downsample);
    request_.selectionOrigin = spec.selectionOrigin;
    request_.failAllocation = spec.failAllocation;
    request_.cancelAtPoll = spec.cancelAtPoll;
    InModule call;
    if (!zoka_cli::CheckFrameRequest(request_)) call.Fail(kUsageError);
    const auto choice = zoka_cli::CanvasChosen(spec.canvas);
    if (!choice) call.Fail(kUsageError);
    choice_ = *choice;
    session_ = std::make_unique<OwnSession>(call);
    try {
        if (const int status = zoka_cli::SetUpChain(**session_, steps.front().effect, request_, chain_)) {
            call.Fail(status);
        }
        if (selection != nullptr) {
            const auto origin = zoka_cli::ParsePoint(request_.selectionOrigin);
            if (const int status = zoka_cli::SelectThrough(chain_, *selection, *origin)) call.Fail(status);
        }
        if (const int status = zoka_cli::StartSequence(chain_)) {
            call.Fail(status, kHostNoError, zoka_cli::ChainName(chain_) + ": sequence setup failed");
        }
    } catch (...) {
        zoka_cli::Finish(chain_);
        session_->Account();
        throw;
    }
}

Request::~Request() {
    try {
        Close();
    } catch (...) {
        // Closing ends the chain in the module; a destructor lets nothing
        // out.
    }
}

zoka_cli::PlacedFrame Request::Render(double time) {
    InModule call;
    if (chain_.stages.empty() || !chain_.stages.front().instance) {
        throw Failure(kUsageError, kHostNoError, "the request is closed");
    }
    call.Lend(**session_);
    const std::string refusal = ourhost::TimeRefusal(time, request_.fps);
    if (!refusal.empty()) throw Failure(kUsageError, kHostNoError, refusal);
    const auto start = std::chrono::steady_clock::now();
    zoka_cli::PlacedFrame placed;
    const int status = zoka_cli::RenderOnCanvas(chain_, input_, request_, time, choice_, whole_, placed);
    lastRender_ = std::chrono::steady_clock::now() - start;
    if (status != 0) call.Fail(status, placed.code);
    return placed;
}

zoka_cli::CanvasRect Request::HoldAll(const std::vector<double>& times) {
    InModule call;
    if (chain_.stages.empty() || !chain_.stages.front().instance) {
        throw Failure(kUsageError, kHostNoError, "the request is closed");
    }
    call.Lend(**session_);
    for (const double time : times) {
        const std::string refusal = ourhost::TimeRefusal(time, request_.fps);
        if (!refusal.empty()) throw Failure(kUsageError, kHostNoError, refusal);
    }
    zoka_cli::CanvasRect whole;
    if (const int status = zoka_cli::WholeCanvas(chain_, input_, request_.Options(), times, whole)) {
        call.Fail(status);
    }
    if (choice_.kind == zoka_cli::CanvasChoice::Kind::kDefault) whole_ = whole;
    return whole;
}

void Request::Close() {
    if (!session_ || chain_.stages.empty()) return;
    InModule call;
    call.Lend(**session_);
    zoka_cli::Finish(chain_);
    chain_.stages.clear();
    session_->Account();
}

Leftovers LeftSoFar() { return Leftovers{gHandlesLeft.load(), gFaults.load(), gRequests.load()}; }

}  // namespace zoka_python
