#include "cli/render.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <streambuf>
#include <thread>

#include "cli/chain.h"
#include "cli/frame_workers.h"
#include "cli/streamed_frames.h"
#include "images/image_files.h"
#include "images/output_file.h"
#include "images/standard_streams.h"
#include "ourhost/param_values.h"
#include "ourhost/text.h"

namespace zoka_cli {

using namespace zoka_images;

namespace {

using Clock = std::chrono::steady_clock;

// The effects set up with the user's values and selection, ready for
// frames of the input.
struct PreparedEffect : EffectChain {
    ourhost::Image input;
    int32_t inputFrame = 0;  // the frame whose input is loaded, for input sequences
    ImageInfo inputInfo;     // whether it had alpha, its depth and metadata
    ourhost::Pixel background{255, 0, 0, 0};
};

int ReadInput(const std::string& path, ourhost::Image& image, ImageInfo& info) {
    std::string error;
    if (ReadImage(path, image, error, info)) return 0;
    std::cerr << "zoka: " << NameStandardStreams(error) << "\n";
    return kFileError;
}

int ReadInput(const std::string& path, ourhost::Image& image) {
    ImageInfo info;
    return ReadInput(path, image, info);
}

// -d's depth; CLI11 has checked the name.
std::optional<SampleDepth> DepthAsked(const RenderFiles& files) {
    return files.depth.empty() ? std::nullopt : ParseDepth(files.depth);
}

// A depth the output's format cannot hold is refused before anything is
// rendered.
int RefuseDepthNotHeld(const RenderFiles& files, const std::string& output) {
    const auto asked = DepthAsked(files);
    if (!asked) return 0;
    SampleDepth chosen{};
    std::string error;
    if (ChooseDepth(output, asked, *asked, chosen, error)) return 0;
    std::cerr << "zoka: " << error << "\n";
    return kUsageError;
}

// Every effect of the chain set up, the first with the request's values and
// the selection layer, each further one with its own values.
int SetUpStages(Session& session, const std::string& name, const RenderFiles& files, const FrameRequest& request,
                PreparedEffect& prepared) {
    if (const int status = SetUpChain(session, name, request, prepared)) return status;
    if (!files.selection.empty()) {
        ourhost::Image selection;
        const auto origin = ParsePoint(request.selectionOrigin);
        if (!origin) {
            std::cerr << "zoka: --selection-origin takes X,Y, not \"" << request.selectionOrigin
                      << "\"\n";
            return kUsageError;
        }
        if (const int status = ReadInput(files.selection, selection)) return status;
        if (const int status = SelectThrough(prepared, selection, *origin)) return status;
    }
    return StartSequence(prepared);
}

// Sets up the effects with the input of the given frame (of a sequence).
int Prepare(Session& session, const std::string& name, const RenderFiles& files,
            const FrameRequest& request, int32_t frame, PreparedEffect& prepared) {
    HostColor background{};
    if (!ourhost::ParseColor(files.background, background)) {
        std::cerr << "zoka: --background takes a colour #RRGGBB, #RGB, R,G,B or a name, not \"" << files.background
                  << "\"\n";
        return kUsageError;
    }
    prepared.background = ourhost::Pixel{255, background.red, background.green, background.blue};
    if (const int status = ReadInput(PathOfFrame(files.input, frame), prepared.input, prepared.inputInfo)) {
        return status;
    }
    prepared.inputFrame = frame;
    return SetUpStages(session, name, files, request, prepared);
}

// What one frame came to, as written.
struct Written {
    HostError code = kHostNoError;
    std::string message;
    CanvasRect canvas;
    Clock::duration rendering{}, writing{};
};

// Renders one frame into path on its canvas; 0 or an exit status after an
// error line.
int RenderOne(PreparedEffect& prepared, const FrameRequest& request, double time, const std::string& path,
              const RenderFiles& files, const CanvasChoice& choice, const std::optional<CanvasRect>& whole,
              Written& written) {
    const Clock::time_point start = Clock::now();
    PlacedFrame placed;
    const int status = RenderOnCanvas(prepared, prepared.input, request, time, choice, whole, placed);
    written.code = placed.code;
    written.message = placed.message;
    if (status != 0) return status;
    written.canvas = placed.canvas;
    const ourhost::Image& image = placed.image;
    const Clock::time_point rendered = Clock::now();
    // An input without alpha that stays opaque is written without alpha too,
    // a grey one that stays grey as grey; at the input's depth, with its
    // metadata.
    WriteExtras extras{written.canvas.x, written.canvas.y, !prepared.inputInfo.hadAlpha && Opaque(image),
                       prepared.background};
    extras.grey = prepared.inputInfo.grey && Grey(image);
    extras.metadata = &prepared.inputInfo.metadata;
    extras.jpegQuality = files.jpegQuality;
    extras.frameWidth = DraftSide(prepared.input.Width(), request.downsample);
    extras.frameHeight = DraftSide(prepared.input.Height(), request.downsample);
    if (!ChooseDepth(path, DepthAsked(files), prepared.inputInfo.depth, extras.depth, prepared.failure) ||
        !WriteImage(path, image, prepared.failure, files.pngCompression, extras)) {
        prepared.failure = NameStandardStreams(prepared.failure);
        std::cerr << "zoka: " << prepared.failure << "\n";
        return kFileError;
    }
    written.rendering = rendered - start;
    written.writing = Clock::now() - rendered;
    return 0;
}

// Writing over an input (the same file under any name) would destroy it.
int RefuseInputAsOutput(const RenderFiles& files, int32_t frame, const std::string& output) {
    for (const std::string& input : {PathOfFrame(files.input, frame), files.selection}) {
        if (!input.empty() && SameFile(output, input)) {
            std::cerr << "zoka: the output " << output << " is the input " << input
                      << ": write to another file\n";
            return kUsageError;
        }
    }
    return 0;
}

// A frame's time: frame n at n / fps, or counted from --start.
double FrameTime(const FrameRequest& request, const Animation& animation, int32_t n) {
    const auto start = animation.startGiven ? std::optional(request.time) : std::nullopt;
    return zoka_cli::FrameTime(n, request.fps, start, animation.range.front());
}

// One size for the whole range: the union of every frame's output, found
// by frame setup alone (cheap beside a render) over the whole range, so
// that every shard and worker finds the same canvas.
int WholeRangeCanvas(PreparedEffect& prepared, const FrameRequest& request, const Animation& animation,
                     CanvasRect& whole) {
    std::vector<double> times;
    for (const int32_t n : animation.range) times.push_back(FrameTime(request, animation, n));
    return WholeCanvas(prepared, prepared.input, request.Options(), times, whole);
}

// Renders every frame of the range that falls to this worker, reporting each
// frame once its file is in place (or found there, with --skip-existing).
int RenderShare(const std::string& modulePath, const std::string& effect, const RenderFiles& files,
                const FrameRequest& request, const Animation& animation, const WorkerChannel& channel) {
    const auto choice = CanvasChosen(files.canvas);
    if (!choice) return kUsageError;
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    // The cores shared among the workers, unless --threads says otherwise.
    session.UseThreads(files.threads > 0 ? files.threads : std::max(1, Cores() / channel.Workers()));
    PreparedEffect prepared;
    if (const int status = Prepare(session, effect, files, request, animation.range.front(), prepared)) {
        return status;
    }
    // A worker's frames come in increasing time: each continues the motion
    // the one before integrated.
    for (Stage& stage : prepared.stages) stage.instance->CarryMotion(session.MotionCarryLender());
    std::optional<CanvasRect> whole;
    if (choice->kind == CanvasChoice::Kind::kDefault) {
        whole.emplace();
        if (const int status = WholeRangeCanvas(prepared, request, animation, *whole)) return status;
    }
    if (!channel.Ready()) return kModuleError;
    const bool sequence = IsFramePattern(files.input);
    const auto& frames = animation.frames;
    for (size_t i = static_cast<size_t>(channel.Worker()); i < frames.size();
         i += static_cast<size_t>(channel.Workers())) {
        const int32_t n = frames[i];
        const std::string path = PathOfFrame(files.output, n);
        // zoka never leaves a partial frame; an empty file or anything but a
        // file is no frame to keep.
        struct stat existing {};
        if (animation.skipExisting && stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode) &&
            existing.st_size > 0) {
            if (!channel.Skipped(n)) return kModuleError;
            continue;
        }
        if (sequence && n != prepared.inputFrame) {
            if (const int status = ReadInput(PathOfFrame(files.input, n), prepared.input, prepared.inputInfo)) {
                return status;
            }
            prepared.inputFrame = n;
        }
        Written written;
        if (const int status = RenderOne(prepared, request, FrameTime(request, animation, n), path, files,
                                         *choice, whole, written)) {
            return status;
        }
        if (!channel.Written(n)) return kModuleError;
    }
    Finish(prepared);
    return 0;
}

// Each worker holds its own copy of the layer and a frame's working images
// (about 100 MB for an HD frame) and its share of the cores: more than a few
// workers per core only cost memory.
int32_t MaxJobs() { return 4 * Cores(); }

long Milliseconds(Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// --format goes with "-" as the output and names a format zoka writes, and
// standard input can be read once.
int CheckStandardStreams(const RenderFiles& files) {
    const bool toStream = IsStandardStream(files.output);
    if (toStream == files.format.empty()) {
        std::cerr << (toStream ? "zoka: writing to standard output (-) needs --format, e.g. --format png\n"
                               : "zoka: --format is for standard output (-); a file's format is its extension\n");
        return kUsageError;
    }
    std::string error;
    if (toStream && FormatForStandardOutput(files.format, error).empty()) {
        std::cerr << "zoka: " << error << "\n";
        return kUsageError;
    }
    if (IsStandardStream(files.input) && IsStandardStream(files.selection)) {
        std::cerr << "zoka: standard input (-) can be the input or the selection layer, not both\n";
        return kUsageError;
    }
    return 0;
}

// "-" as the input or the selection: standard input taken, and the file
// named by the temporary file standing for it (its path, else empty).
int TakeStandardInput(RenderFiles& files, std::unique_ptr<StandardInput>& input, std::string& taken) {
    for (std::string* path : {&files.input, &files.selection}) {
        if (!IsStandardStream(*path)) continue;
        std::string error;
        input = StandardInput::Take(error);
        if (!input) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        *path = taken = input->Path();
    }
    return 0;
}

// "-" for the input, the selection or the output of one frame: the streams
// taken, and the files named by the temporary files standing for them. 0,
// or an exit status after one error line.
int TakeStandardStreams(RenderFiles& files, std::unique_ptr<StandardInput>& input,
                        std::unique_ptr<StandardOutput>& output) {
    if (const int status = CheckStandardStreams(files)) return status;
    if (IsStandardStream(files.output)) {
        std::string error;
        output = StandardOutput::Create(files.format, error);
        if (!output) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;  // the format is checked: its temporary file could not be made
        }
        files.output = output->Path();
    }
    std::string taken;
    return TakeStandardInput(files, input, taken);
}

// The same for a range: standard input is copied once for every worker, and
// the frames go out in order through temporary files; the workers learn
// those files from hidden options added to their command line.
int TakeAnimationStreams(RenderFiles& files, const Animation& animation, std::vector<std::string>& workerCommand,
                         std::unique_ptr<StandardInput>& input, std::unique_ptr<StreamedFrames>& frames) {
    if (const int status = CheckStandardStreams(files)) return status;
    if (IsStandardStream(files.output)) {
        if (animation.skipExisting) {
            std::cerr << "zoka: --skip-existing is for files; every frame goes to standard output\n";
            return kUsageError;
        }
        std::string error;
        frames = StreamedFrames::Create(files.format, error);
        if (!frames) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;  // the format is checked: its temporary file could not be made
        }
        files.output = frames->Pattern();
        workerCommand.insert(workerCommand.end(), {kStreamedOutputOption, files.output});
    }
    std::string taken;
    if (const int status = TakeStandardInput(files, input, taken)) return status;
    if (!taken.empty()) workerCommand.insert(workerCommand.end(), {kStreamedInputOption, taken});
    return 0;
}

// In a worker: the temporary files the parent made for "-".
RenderFiles WorkerFiles(RenderFiles files, const Animation& animation) {
    if (!animation.streamedOutput.empty()) files.output = animation.streamedOutput;
    for (std::string* path : {&files.input, &files.selection}) {
        if (IsStandardStream(*path)) *path = animation.streamedInput;
    }
    return files;
}

// The last line zoka printed on standard error while this lives, every
// line still going there: a render's --json report names why it failed,
// which is printed where it is found.
class LastErrorLine final : private std::streambuf {
public:
    LastErrorLine() : shown_(std::cerr.rdbuf(this)) {}
    ~LastErrorLine() override { std::cerr.rdbuf(shown_); }
    LastErrorLine(const LastErrorLine&) = delete;
    LastErrorLine& operator=(const LastErrorLine&) = delete;

    // The line without "zoka: ".
    std::string Text() const {
        const std::string prefix = "zoka: ";
        return last_.rfind(prefix, 0) == 0 ? last_.substr(prefix.size()) : last_;
    }

private:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        Keep(static_cast<char>(c));
        return shown_->sputc(static_cast<char>(c));
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) Keep(text[i]);
        return shown_->sputn(text, count);
    }
    int sync() override { return shown_->pubsync(); }

    void Keep(char c) {
        if (c != '\n') {
            line_ += c;
            return;
        }
        last_ = std::move(line_);
        line_.clear();
    }

    std::streambuf* shown_;
    std::string line_, last_;
};

// Renders one frame into its file, or through a temporary file to standard
// output; 0, or an exit status after one error line. The path written is
// the output's, a pattern filled in with the frame at --time.
int RenderAndSend(Session& session, const std::string& effect, const RenderFiles& given,
                  const FrameRequest& request, PreparedEffect& prepared, Written& written, std::string& output) {
    RenderFiles files = given;
    std::unique_ptr<StandardInput> standardInput;
    std::unique_ptr<StandardOutput> standardOutput;
    if (const int status = TakeStandardStreams(files, standardInput, standardOutput)) return status;
    const auto choice = CanvasChosen(files.canvas);
    if (!choice) return kUsageError;
    // Patterns take the number of the frame at --time.
    const auto frameNumber = static_cast<int32_t>(std::lround(request.time * request.fps));
    output = PathOfFrame(files.output, frameNumber);
    if (const int status = RefuseInputAsOutput(files, frameNumber, output)) return status;
    if (const int status = RefuseDepthNotHeld(files, output)) return status;
    if (const int status = Prepare(session, effect, files, request, frameNumber, prepared)) return status;
    const int status = RenderOne(prepared, request, request.time, output, files, *choice, std::nullopt, written);
    Finish(prepared);
    if (status == 0 && standardOutput && !standardOutput->Send(prepared.failure)) {
        std::cerr << "zoka: " << prepared.failure << "\n";
        return kFileError;
    }
    return status;
}

}  // namespace

int32_t Cores() { return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency())); }

int RenderCommand(Session& session, const std::string& effect, const RenderFiles& given,
                  const FrameRequest& request, bool json) {
    session.UseThreads(given.threads > 0 ? given.threads : Cores());
    std::optional<LastErrorLine> errors;
    if (json) errors.emplace();
    PreparedEffect prepared;
    Written written;
    std::string output;
    const int status = RenderAndSend(session, effect, given, request, prepared, written, output);
    // With the image on standard output, what zoka says goes to standard error.
    const bool toStream = IsStandardStream(given.output);
    FILE* says = toStream ? stderr : stdout;
    if (json) {
        nlohmann::json report{{"width", written.canvas.width},
                              {"height", written.canvas.height},
                              {"originX", -written.canvas.x},
                              {"originY", -written.canvas.y},
                              {"code", written.code},
                              {"message", written.message},
                              {"written", status == 0}};
        if (status != 0) report["error"] = errors->Text();
        std::fprintf(says, "%s\n", report.dump(2).c_str());
    } else if (status == 0 && given.verbosity != Verbosity::kQuiet) {
        std::fprintf(says, "%s: %dx%d, the layer's top-left at %d,%d\n",
                     toStream ? "standard output" : output.c_str(), written.canvas.width,
                     written.canvas.height, -written.canvas.x, -written.canvas.y);
    }
    if (status == 0 && given.verbosity == Verbosity::kVerbose) {
        std::fprintf(stderr, "zoka: %s: rendered in %ld ms, written in %ld ms\n", ChainName(prepared).c_str(),
                     Milliseconds(written.rendering), Milliseconds(written.writing));
    }
    return status;
}

bool ChooseFrames(Animation& animation) {
    const std::string refusal = FrameListRefusal(animation.frameList);
    if (!refusal.empty()) {
        std::cerr << "zoka: " << refusal << "\n";
        return false;
    }
    animation.range = *ParseFrameList(animation.frameList);
    Shard shard;
    if (!animation.shard.empty()) {
        const auto parsed = ParseShard(animation.shard);
        if (!parsed) {
            std::cerr << "zoka: --shard takes I/N, whole numbers with 1 <= I <= N, not \"" << animation.shard
                      << "\"\n";
            return false;
        }
        shard = *parsed;
    }
    animation.frames = FramesOfShard(animation.range, shard);
    return true;
}

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& given, const FrameRequest& request, const Animation& animation) {
    if (!animation.workerRole.empty()) {
        const auto channel = WorkerChannel::FromRole(animation.workerRole);
        if (!channel) {
            std::cerr << "zoka: " << kWorkerOption << " is for the workers zoka animate starts\n";
            return kUsageError;
        }
        return RenderShare(modulePath, effect, WorkerFiles(given, animation), request, animation, *channel);
    }
    RenderFiles files = given;
    FrameWorkers plan;
    plan.commandLine = animation.commandLine;
    std::unique_ptr<StandardInput> standardInput;
    std::unique_ptr<StreamedFrames> streamed;
    if (const int status = TakeAnimationStreams(files, animation, plan.commandLine, standardInput, streamed)) {
        return status;
    }
    plan.sink = streamed.get();
    if (const std::string refusal = PatternRefusal(files.output); !refusal.empty()) {
        std::cerr << "zoka: " << refusal << "\n";
        return kUsageError;
    }
    if (animation.jobs > MaxJobs()) {
        std::cerr << "zoka: -j takes at most " << MaxJobs() << " here (4 per core), not "
                  << animation.jobs << "\n";
        return kUsageError;
    }
    if (!CanvasChosen(files.canvas)) return kUsageError;
    // Frame n at n / fps is within the host's range for every frame --frames
    // takes; counted from --start, the last frame must be checked.
    const std::string refusal =
        animation.startGiven ? ourhost::TimeRefusal(FrameTime(request, animation, animation.range.back()), request.fps)
                             : std::string();
    if (!refusal.empty()) {
        std::cerr << "zoka: the range's last frame: " << refusal << "\n";
        return kUsageError;
    }
    for (const int32_t n : animation.frames) {
        if (const int status = RefuseInputAsOutput(files, n, PathOfFrame(files.output, n))) return status;
    }
    if (const int status = RefuseDepthNotHeld(files, PathOfFrame(files.output, animation.range.front()))) {
        return status;
    }
    if (animation.frames.empty()) {
        if (files.verbosity != Verbosity::kQuiet) {
            std::fprintf(streamed ? stderr : stdout, "0 frames written (shard %s has none of the %zu frames)\n",
                         animation.shard.c_str(), animation.range.size());
        }
        return 0;
    }
    const auto total = static_cast<int32_t>(animation.frames.size());
    plan.frames = animation.frames;
    plan.workers = std::min(total, animation.jobs > 0 ? animation.jobs : Cores());
    plan.frameTimeout = animation.frameTimeout;
    plan.progress = files.verbosity == Verbosity::kQuiet     ? Progress::kNone
                    : files.verbosity == Verbosity::kVerbose ? Progress::kAlways
                                                             : Progress::kOnTerminal;
    plan.quiet = files.verbosity == Verbosity::kQuiet;
    return RunFrameWorkers(plan);
}

}  // namespace zoka_cli
