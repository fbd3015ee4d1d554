#include "cli/render.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <thread>
#include <vector>

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

void ShowProgress(int32_t done, int32_t total) {
    constexpr int kBar = 40;
    const int filled = total > 0 ? done * kBar / total : kBar;
    std::fprintf(stderr, "\r[%s%s] %d/%d frames", std::string(filled, '#').c_str(),
                 std::string(kBar - filled, '.').c_str(), done, total);
    if (done == total) std::fputc('\n', stderr);
    std::fflush(stderr);
}

// Renders every frame of the range that falls to this worker; reports each
// finished frame with one byte on the pipe.
int RenderShare(const std::string& modulePath, const std::string& effect, const RenderFiles& files,
                const FrameRequest& request, const Animation& frames, int32_t worker,
                int32_t workers, int progress) {
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    PreparedEffect prepared;
    if (const int status = Prepare(session, effect, files, request, prepared)) return status;
    for (int32_t n = frames.first + worker; n <= frames.last; n += workers) {
        std::string path;
        FramePath(files.output, n, path);
        ourhost::FrameResult frame;
        if (const int status = RenderOne(prepared, request, n / request.fps, path, frame)) {
            return status;
        }
        const char done = 1;
        if (write(progress, &done, 1) != 1) return kFileError;
    }
    Finish(prepared);
    return 0;
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
    char* end = nullptr;
    const long first = std::strtol(text.c_str(), &end, 10);
    long last = first;
    if (*end == '-') last = std::strtol(end + 1, &end, 10);
    if (*end != '\0' || end == text.c_str() || first < 0 || last < first || last > 1000000) {
        return false;
    }
    frames.first = static_cast<int32_t>(first);
    frames.last = static_cast<int32_t>(last);
    return true;
}

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& files, const FrameRequest& request, const Animation& frames) {
    std::string path;
    if (!FramePath(files.output, frames.first, path)) {
        std::cerr << "zoka: the output pattern needs one %d (for example out_%04d.png), not \""
                  << files.output << "\"\n";
        return kUsageError;
    }
    {
        // Everything a worker would refuse is refused once, here.
        Session session(modulePath);
        if (!session.Loaded()) return kModuleError;
        PreparedEffect prepared;
        if (const int status = Prepare(session, effect, files, request, prepared)) return status;
        for (int32_t n = frames.first; n <= frames.last; ++n) {
            FramePath(files.output, n, path);
            if (const int status = RefuseInputAsOutput(files, path)) return status;
        }
    }
    const int32_t total = frames.last - frames.first + 1;
    const int32_t cores = static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
    const int32_t workers = std::min(total, frames.jobs > 0 ? frames.jobs : cores);
    int progress[2];
    if (pipe(progress) != 0) {
        std::cerr << "zoka: cannot start the workers\n";
        return kFileError;
    }
    // The module is not reentrant: each worker is a process of its own.
    std::vector<pid_t> children;
    for (int32_t w = 0; w < workers; ++w) {
        const pid_t child = fork();
        if (child == 0) {
            close(progress[0]);
            _exit(RenderShare(modulePath, effect, files, request, frames, w, workers, progress[1]));
        }
        if (child > 0) children.push_back(child);
    }
    close(progress[1]);
    const bool terminal = isatty(STDERR_FILENO);
    int32_t done = 0;
    char byte;
    while (read(progress[0], &byte, 1) == 1) {
        ++done;
        if (terminal) ShowProgress(done, total);
    }
    close(progress[0]);
    int status = children.size() == static_cast<size_t>(workers) ? 0 : kFileError;
    for (const pid_t child : children) {
        int childStatus = 0;
        waitpid(child, &childStatus, 0);
        if (!WIFEXITED(childStatus) || WEXITSTATUS(childStatus) != 0) status = kModuleError;
    }
    if (status == 0) std::printf("%d frames written\n", total);
    return status;
}

}  // namespace zoka_cli
