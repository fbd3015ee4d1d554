// zoka: the effects module from the command line, through our host.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "cli/frame_request.h"
#include "cli/frame_workers.h"
#include "cli/inspect.h"
#include "cli/render.h"
#include "cli/session.h"
#include "images/image_files.h"
#include "images/signal_cleanup.h"
#include "images/standard_streams.h"
#include "ourhost/module.h"
#include "site/demo.h"
#include "studio/server.h"
#include "studio/worker.h"

namespace zoka_cli {

using namespace zoka_images;
using namespace zoka_site;
using namespace zoka_studio;

// What the effects see of an image file, and what is written back.
constexpr const char* kPixelsNote =
    "Pixels: the effects work on 8-bit straight (unpremultiplied) RGBA. 16-bit and float images are "
    "clamped to 0..1 and rounded to 8 bits, so values above 1 (HDR highlights) are lost; colour stored "
    "premultiplied by alpha (EXR, and TIFF files that say so) is divided by alpha first. Results are "
    "written at the input's bit depth where the format holds it (or the nearest it holds; -d chooses), an "
    "8-bit value v as v * 257 in 16 bits and v / 255 in half or float, premultiplied again where the "
    "format stores it so. The input's ICC profile, EXIF and resolution go with it where the format "
    "carries them (PNG's only when they come before its pixels).";

void AddThreadsOption(CLI::App& command, RenderFiles& files, const char* description) {
    command.add_option("--threads", files.threads, description)->check(CLI::Range(1, static_cast<int>(kZokaMaxWorkers)));
}

void AddCompressionOption(CLI::App& command, RenderFiles& files) {
    command.add_option("--compression", files.pngCompression,
                       "PNG's zlib level, 0 (fastest) to 9 (smallest files)")
        ->check(CLI::Range(0, kMaxPngCompression))
        ->capture_default_str();
}

void AddDepthAndQualityOptions(CLI::App& command, RenderFiles& files) {
    command.add_option("-d,--depth", files.depth,
                       "The samples written: uint8, uint16, half or float (default: the input's, or "
                       "the nearest the format holds); refused when the format cannot hold it")
        ->check(CLI::IsMember({"uint8", "uint16", "half", "float"}));
    command.add_option("--quality", files.jpegQuality,
                       "JPEG's quality, 1 to 100 (default: 98); WebP's, lossy (default: lossless)")
        ->check(CLI::Range(1, 100));
}

void AddBackgroundOption(CLI::App& command, RenderFiles& files) {
    command.add_option("--background", files.background,
                       "The colour under the image in formats without alpha (JPEG)")
        ->capture_default_str();
}

// --then is taken out of the command line before it is parsed (see
// SplitFurtherEffects); this entry only shows it in the help.
void AddThenHelp(CLI::App& command, std::string& shown) {
    command.add_option("--then", shown,
                       "A further effect applied to the result, with its own --set and --preset "
                       "(any number, in order; the selection layer is the first effect's)")
        ->type_name("EFFECT");
}

void AddCanvasOption(CLI::App& command, RenderFiles& files, const char* byDefault) {
    command.add_option("--canvas", files.canvas,
                       std::string("The image each frame is written as: grown (the layer as the effect "
                                   "grew it), input (the input's frame) or WxH+X+Y (X,Y relative to "
                                   "the input's top-left, signed); default: ") + byDefault);
}

// The first word that is not an option names the command; an unknown one is
// refused with the list of commands.
bool RefuseUnknownCommand(CLI::App& app, int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--module" || word == kWorkerOption) {
            ++i;  // the option's value
            continue;
        }
        if (word.empty() || word[0] == '-') continue;
        std::string commands;
        for (const CLI::App* command : app.get_subcommands({})) {
            if (command->get_name() == word) return false;
            commands += (commands.empty() ? "" : ", ") + command->get_name();
        }
        std::cerr << "zoka: unknown command \"" << word << "\"; the commands are " << commands << "\n";
        return true;
    }
    return false;
}

// The command line with the further effects taken out (argc, argv), and as
// given (fullArgc, fullArgv).
int RunCommand(const SplitCommandLine& split, int argc, char** argv, int fullArgc, char** fullArgv) {
    CLI::App app{"zoka: the Lumetta effects module from the command line"};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("zoka ") + ZOKA_VERSION);
    std::string modulePath = ourhost::DefaultModulePath();
    app.add_option("--module", modulePath, "The module file to load")->capture_default_str();

    std::string effect;
    bool json = false;
    auto* list = app.add_subcommand("list", "List every effect: index, name, key, registered, renders");
    list->add_flag("--json", json, "Print JSON");

    bool raw = false;
    auto* about = app.add_subcommand("about", "Show an effect's about text (all without a name)");
    about->add_option("effect", effect, "Effect name or key");
    about->add_flag("--raw", raw, "The module's own bytes: carriage returns, code page 1252");

    FrameRequest request;
    auto* params = app.add_subcommand("params", "Show an effect's parameters");
    params->add_option("effect", effect, "Effect name or key")->required();
    params->add_flag("--json", json, "Print JSON (a preset for --preset: each entry's value)");
    params->add_option("--set", request.sets, "KEY=VALUE: show the values with these set");
    params->add_option("--preset", request.preset, "A JSON file of values to show the parameters with");

    auto* pipl = app.add_subcommand("pipl", "Write an effect's PiPL resource to standard output");
    pipl->add_option("effect", effect, "Effect name or key")->required();

    FrameQuery query;
    auto* frame = app.add_subcommand("frame", "Run frame setup: the output size and origin");
    frame->add_option("effect", effect, "Effect name or key")->required();
    frame->add_option("--size", query.size, "The layer's size, WxH")->required();
    AddFrameOptions(*frame, request);
    frame->add_option("--selection-size", query.selectionSize, "An opaque selection layer, WxH");
    frame->add_option("--selection-origin", request.selectionOrigin,
                      "Where the selection layer's top-left corner lies, X,Y")
        ->capture_default_str();
    frame->add_flag("--json", query.json, "Print JSON, with the flags and version words");

    RenderFiles files;
    bool renderJson = false;
    auto* render = app.add_subcommand("render", "Render one frame of an effect into an image file");
    render->add_option("effect", effect, "Effect name or key")->required();
    render->add_option("input", files.input, "The layer image (- for standard input, any format zoka reads)")
        ->required();
    render->add_option("output", files.output,
                       "The image to write, its format by its extension (- for standard output, with --format)")
        ->required();
    render->add_option("--format", files.format,
                       "The format written to standard output, as an extension: png, jpg, tif, exr, ...");
    AddFrameOptions(*render, request);
    std::string thenShown;
    AddThenHelp(*render, thenShown);
    render->add_option("--selection", files.selection, "A selection layer (\"Alpha Layer\") image");
    render->add_option("--selection-origin", request.selectionOrigin,
                       "Where the selection layer's top-left corner lies, X,Y")
        ->capture_default_str();
    render->add_flag("--json", renderJson, "Print size, origin, result code and message as JSON");
    AddCompressionOption(*render, files);
    AddCanvasOption(*render, files, "grown");
    AddDepthAndQualityOptions(*render, files);
    AddBackgroundOption(*render, files);
    AddVerbosityOptions(*render, files.verbosity);
    AddThreadsOption(*render, files, "Threads the render uses, 1 to 64 (default: every core)");
    render->footer(kPixelsNote);

    Animation animation;
    auto* animate = app.add_subcommand("animate", "Render a range of frames to a numbered sequence");
    animate->add_option("effect", effect, "Effect name or key")->required();
    animate->add_option("input", files.input,
                        "The layer image, a numbered sequence (in_%04d.png, in_#.png), or - for standard input")
        ->required();
    animate->add_option("pattern", files.output,
                        "The images to write, e.g. out_%04d.png or out_#.png; - for one file after another "
                        "on standard output, in order, with --format")
        ->required();
    animate->add_option("--format", files.format,
                        "The format of the frames on standard output, as an extension: png, jpg, tif, exr, ...");
    animate->add_option("--frames", animation.frameList,
                        "The frames: A, A-B, A-BxN (every N-th) or a comma list of these "
                        "(frame n at n / fps seconds, or counted from --start)")
        ->required();
    animate->add_option("--shard", animation.shard,
                        "I/N: only the I-th of every N frames of the range (1 <= I <= N), to spread a "
                        "range over machines");
    animate->add_flag("--skip-existing", animation.skipExisting,
                      "Leave frames whose file exists alone (to resume a range)");
    animate->add_option("-j,--jobs", animation.jobs,
                        "Frames rendered at once (default: every core; at most 4 per core)")
        ->check(CLI::NonNegativeNumber);
    AddThreadsOption(*animate, files,
                     "Threads each frame uses, 1 to 64 (default: the cores shared among the jobs)");
    // Hidden: how long a worker may go without writing a frame, shortened by tests.
    animate->add_option("--frame-timeout", animation.frameTimeout)
        ->check(CLI::PositiveNumber)
        ->group("");
    app.add_option(kWorkerOption, animation.workerRole)->group("");
    animate->add_option(kStreamedInputOption, animation.streamedInput)->group("");
    animate->add_option(kStreamedOutputOption, animation.streamedOutput)->group("");
    // Each worker splits the whole command line again.
    animation.commandLine.assign(fullArgv, fullArgv + fullArgc);
    AddFrameOptions(*animate, request);
    AddThenHelp(*animate, thenShown);
    animate->footer(kPixelsNote);
    auto* start = animate->add_option("--start", request.time,
                                      "The time of the range's first frame, in seconds (as --time)")
                         ->check(FiniteNumber());
    AddCompressionOption(*animate, files);
    AddCanvasOption(*animate, files, "one size for the whole range, holding every frame");
    AddDepthAndQualityOptions(*animate, files);
    AddBackgroundOption(*animate, files);
    AddVerbosityOptions(*animate, files.verbosity);
    animate->add_option("--selection", files.selection, "A selection layer (\"Alpha Layer\") image");
    animate->add_option("--selection-origin", request.selectionOrigin,
                        "Where the selection layer's top-left corner lies, X,Y")
        ->capture_default_str();

    DemoOptions demoOptions;
    auto* demo = app.add_subcommand("demo", "Render the documentation site: a page per effect, with pictures");
    demo->add_option("-o,--output", demoOptions.folder, "The site's folder")->capture_default_str();
    demo->add_option("--size", demoOptions.size, "The sample layers' size, WxH")->capture_default_str();
    demo->add_option("--frames", demoOptions.motionFrames, "Frames in each animation, at 12 fps")
        ->check(CLI::Range(1, 240))
        ->capture_default_str();

    StudioOptions studioOptions;
    auto* studio = app.add_subcommand("studio", "Try settings by eye in a browser: controls and a live preview");
    studio->add_option("image", studioOptions.image, "The layer image to start with (in the working folder)");
    studio->add_option("-C,--folder", studioOptions.folder, "The working folder: every file used lies in it")
        ->capture_default_str();
    studio->add_option("-p,--port", studioOptions.port, "The port on 127.0.0.1 (default: a free one, printed)")
        ->check(CLI::Range(0, 65535));
    studio->add_option("--threads", studioOptions.threads, "Threads each preview uses, 1 to 64 (default: every core)")
        ->check(CLI::Range(1, static_cast<int>(kZokaMaxWorkers)));
    studio->add_option(kStudioWorkerOption, studioOptions.workerRole)->group("");

    if (RefuseUnknownCommand(app, argc, argv)) return kUsageError;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kUsageError;
    }

    if (!split.then.empty() && !*render && !*animate) {
        std::cerr << "zoka: --then is for render and animate\n";
        return kUsageError;
    }
    request.then = split.then;
    if ((*frame || *render || *animate) && !CheckFrameRequest(request)) return kUsageError;
    if (*animate) {
        if (!ChooseFrames(animation)) return kUsageError;
        animation.startGiven = start->count() > 0 || animate->count("--time") > 0;
        return AnimateCommand(modulePath, effect, files, request, animation);
    }
    if (*studio) {
        studioOptions.moduleGiven = app.count("--module") > 0;
        return StudioCommand(modulePath, studioOptions);
    }
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    if (*render) return RenderCommand(session, effect, files, request, renderJson);
    if (*demo) return DemoCommand(session, demoOptions);
    if (*list) return ListEffects(session, json);
    if (*about) return ShowAbout(session, effect, raw);
    if (*params) return ShowParams(session, effect, request, json);
    if (*pipl) return WritePipl(session, effect);
    if (*frame) return ShowFrame(session, effect, request, query);
    return kUsageError;
}

int Main(int argc, char** argv) {
    SplitCommandLine split;
    if (!SplitFurtherEffects(argc, argv, split)) return kUsageError;
    std::vector<char*> words;
    for (std::string& word : split.words) words.push_back(word.data());
    return RunCommand(split, static_cast<int>(words.size()), words.data(), argc, argv);
}

}  // namespace zoka_cli

int main(int argc, char** argv) {
    if (!zoka_cli::HoldClosedStandardStreams()) return zoka_cli::kFileError;
    zoka_cli::InstallSignalCleanup();
    int code = zoka_cli::kModuleError;
    try {
        code = zoka_cli::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "zoka: out of memory\n";
    }
    zoka_images::CheckLeaksNow();
    return code;
}
