#include "cli/render.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string_view>
#include <thread>

#include "cli/frame_workers.h"
#include "cli/image_files.h"
#include "cli/output_file.h"
#include "ourhost/text.h"

namespace zoka_cli {

namespace {

// An effect set up with the user's values and selection, ready for frames.
struct PreparedEffect {
    const EffectEntry* effect = nullptr;
    std::unique_ptr<ourhost::EffectInstance> instance;
    ourhost::Image input;
    std::string failure;  // the error line of a failed frame, without "zoka: "
};

int Prepare(Session& session, const std::string& name, const RenderFiles& files,
            const FrameRequest& request, PreparedEffect& prepared) {
    prepared.effect = session.Find(name);
    if (prepared.effect == nullptr) return kUsageError;
    std::string error;
    if (!ReadImage(files.input, prepared.input, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    std::string about;
    session.Instantiate(*prepared.effect)->About(about);
    prepared.instance = SetUpEffect(session, *prepared.effect);
    if (!prepared.instance) return kModuleError;
    if (!ApplySettings(*prepared.effect, *prepared.instance, request.sets)) return kUsageError;
    if (!files.selection.empty()) {
        ourhost::Image selection;
        const auto origin = ParsePoint(request.selectionOrigin);
        if (!origin) {
            std::cerr << "zoka: --selection-origin takes X,Y, not \"" << request.selectionOrigin
                      << "\"\n";
            return kUsageError;
        }
        if (!ReadImage(files.selection, selection, error)) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        if (prepared.instance->Params().size() < 3 ||
            prepared.instance->Params()[1].def.kind != kParamLayer) {
            std::cerr << "zoka: " << prepared.effect->name << " takes no selection layer\n";
            return kUsageError;
        }
        prepared.instance->SetSelection(selection, origin->first, origin->second);
    }
    return prepared.instance->SequenceSetup() == kHostNoError ? 0 : kModuleError;
}

// The module's message as one line.
std::string MessageLine(const ourhost::FrameResult& frame) {
    std::string message = ourhost::Utf8FromAnsi(frame.message);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) message.pop_back();
    for (char& c : message) c = c == '\r' || c == '\n' ? ' ' : c;
    return message;
}

// Renders one frame into path; 0 or an exit status after an error line.
int RenderOne(PreparedEffect& prepared, const FrameRequest& request, double time,
              const std::string& path, ourhost::FrameResult& frame) {
    ourhost::FrameOptions options = request.Options();
    options.time = time;
    ourhost::Host& host = *ourhost::Host::Current();
    host.FailAllocation(request.failAllocation);
    host.CancelFromPoll(request.cancelAtPoll);
    frame = prepared.instance->RenderFrame(prepared.input, options);
    host.FailAllocation(0);
    host.CancelFromPoll(0);
    if (frame.code != kHostNoError) {
        prepared.failure = prepared.effect->name + ": " +
                           (frame.code == kHostErrorCancelled ? "the render was cancelled"
                            : frame.message.empty()           ? "the render failed"
                                                              : MessageLine(frame)) +
                           " (code " + std::to_string(frame.code) + ")";
        std::cerr << "zoka: " << prepared.failure << "\n";
        return kModuleError;
    }
    if (!WriteImage(path, frame.image, prepared.failure)) {
        std::cerr << "zoka: " << prepared.failure << "\n";
        return kFileError;
    }
    return 0;
}

// Writing over an input (the same file under any name) would destroy it.
int RefuseInputAsOutput(const RenderFiles& files, const std::string& output) {
    for (const std::string* input : {&files.input, &files.selection}) {
        if (!input->empty() && SameFile(output, *input)) {
            std::cerr << "zoka: the output " << output << " is the input " << *input
                      << ": write to another file\n";
            return kUsageError;
        }
    }
    return 0;
}

void Finish(PreparedEffect& prepared) {
    prepared.instance->SequenceSetdown();
    prepared.instance->GlobalSetdown();
}

// Formats a frame number into a pattern with one %d (with optional zero
// padding and width), the only conversion accepted.
bool FramePath(const std::string& pattern, int32_t frame, std::string& path) {
    const size_t percent = pattern.find('%');
    if (percent == std::string::npos) return false;
    size_t at = percent + 1;
    const bool zeros = at < pattern.size() && pattern[at] == '0';
    int width = 0;
    while (at < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[at]))) {
        width = width * 10 + (pattern[at++] - '0');
    }
    if (at >= pattern.size() || pattern[at] != 'd' || width > 12) return false;
    if (pattern.find('%', at) != std::string::npos) return false;
    char number[32];
    std::snprintf(number, sizeof number, zeros ? "%0*d" : "%*d", width, frame);
    path = pattern.substr(0, percent) + number + pattern.substr(at + 1);
    return true;
}

// Renders every frame of the range that falls to this worker, reporting each
// frame once its file is in place.
int RenderShare(const std::string& modulePath, const std::string& effect, const RenderFiles& files,
                const FrameRequest& request, const Animation& frames,
                const WorkerChannel& channel) {
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    PreparedEffect prepared;
    if (const int status = Prepare(session, effect, files, request, prepared)) return status;
    if (!channel.Ready()) return kModuleError;
    for (int32_t n = frames.first + channel.Worker(); n <= frames.last; n += channel.Workers()) {
        std::string path;
        FramePath(files.output, n, path);
        ourhost::FrameResult frame;
        if (const int status = RenderOne(prepared, request, n / request.fps, path, frame)) {
            return status;
        }
        if (!channel.Written(n)) return kModuleError;
    }
    Finish(prepared);
    return 0;
}

// Each worker holds its own copy of the layer and a frame's working images
// (about 100 MB for an HD frame) and renders on one core: more than a few
// workers per core only cost memory.
int32_t Cores() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }
int32_t MaxJobs() { return 4 * Cores(); }

bool AllDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return std::isdigit(c) != 0;
    });
}

}  // namespace

int RenderCommand(Session& session, const std::string& effect, const RenderFiles& files,
                  const FrameRequest& request, bool json) {
    if (const int status = RefuseInputAsOutput(files, files.output)) return status;
    PreparedEffect prepared;
    if (const int status = Prepare(session, effect, files, request, prepared)) return status;
    ourhost::FrameResult frame;
    const int status = RenderOne(prepared, request, request.time, files.output, frame);
    Finish(prepared);
    if (json) {
        nlohmann::json report{{"width", frame.image.Width()},
                              {"height", frame.image.Height()},
                              {"originX", frame.originX},
                              {"originY", frame.originY},
                              {"code", frame.code},
                              {"message", MessageLine(frame)},
                              {"written", status == 0}};
        if (status != 0) report["error"] = prepared.failure;
        std::cout << report.dump(2) << "\n";
    } else if (status == 0) {
        std::printf("%s: %dx%d, the layer's top-left at %d,%d\n", files.output.c_str(),
                    frame.image.Width(), frame.image.Height(), frame.originX, frame.originY);
    }
    return status;
}

bool ParseFrameRange(const std::string& text, Animation& frames) {
    constexpr int32_t kLastFrame = 1000000;
    const size_t dash = text.find('-');
    const std::string_view first = std::string_view(text).substr(0, dash);
    const std::string_view last =
        dash == std::string::npos ? first : std::string_view(text).substr(dash + 1);
    if (!AllDigits(first) || !AllDigits(last)) return false;
    int32_t a = 0, b = 0;
    const auto parse = [](std::string_view digits, int32_t& value) {
        return std::from_chars(digits.data(), digits.data() + digits.size(), value).ec == std::errc{};
    };
    if (!parse(first, a) || !parse(last, b) || a > b || b > kLastFrame) return false;
    frames.first = a;
    frames.last = b;
    return true;
}

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& files, const FrameRequest& request, const Animation& frames) {
    if (!frames.workerRole.empty()) {
        const auto channel = WorkerChannel::FromRole(frames.workerRole);
        if (!channel) {
            std::cerr << "zoka: " << kWorkerOption << " is for the workers zoka animate starts\n";
            return kUsageError;
        }
        return RenderShare(modulePath, effect, files, request, frames, *channel);
    }
    std::string path;
    if (!FramePath(files.output, frames.first, path)) {
        std::cerr << "zoka: the output pattern needs one %d (for example out_%04d.png), not \""
                  << files.output << "\"\n";
        return kUsageError;
    }
    if (frames.jobs > MaxJobs()) {
        std::cerr << "zoka: -j takes at most " << MaxJobs() << " here (4 per core), not "
                  << frames.jobs << "\n";
        return kUsageError;
    }
    for (int32_t n = frames.first; n <= frames.last; ++n) {
        FramePath(files.output, n, path);
        if (const int status = RefuseInputAsOutput(files, path)) return status;
    }
    const int32_t total = frames.last - frames.first + 1;
    FrameWorkers plan;
    plan.first = frames.first;
    plan.last = frames.last;
    plan.workers = std::min(total, frames.jobs > 0 ? frames.jobs : Cores());
    plan.frameTimeout = frames.frameTimeout;
    plan.commandLine = frames.commandLine;
    return RunFrameWorkers(plan);
}

}  // namespace zoka_cli
