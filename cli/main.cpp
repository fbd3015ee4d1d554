// zoka: the effects module from the command line, through our host.
#include <CLI/CLI.hpp>
#include <iostream>
#include <new>
#include <string>

#include "cli/demo.h"
#include "cli/frame_request.h"
#include "cli/frame_workers.h"
#include "cli/inspect.h"
#include "cli/render.h"
#include "cli/session.h"
#include "cli/signal_cleanup.h"
#include "ourhost/module.h"

namespace zoka_cli {

void AddCompressionOption(CLI::App& command, RenderFiles& files) {
    command.add_option("--compression", files.pngCompression,
                       "PNG's zlib level, 0 (fastest) to 9 (smallest files)")
        ->check(CLI::Range(0, kMaxPngCompression))
        ->capture_default_str();
}

int Main(int argc, char** argv) {
    CLI::App app{"zoka: the Lumetta effects module from the command line"};
    app.require_subcommand(1);
    std::string modulePath = ourhost::DefaultModulePath();
    app.add_option("--module", modulePath, "The module file to load")->capture_default_str();

    std::string effect;
    bool json = false;
    auto* list = app.add_subcommand("list", "List every effect: index, name, key, registered");
    list->add_flag("--json", json, "Print JSON");

    auto* about = app.add_subcommand("about", "Show an effect's about text (all without a name)");
    about->add_option("effect", effect, "Effect name or key");

    auto* params = app.add_subcommand("params", "Show an effect's parameters");
    params->add_option("effect", effect, "Effect name or key")->required();
    params->add_flag("--json", json, "Print JSON");

    auto* pipl = app.add_subcommand("pipl", "Write an effect's PiPL resource to standard output");
    pipl->add_option("effect", effect, "Effect name or key")->required();

    FrameRequest request;
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
    render->add_option("input", files.input, "The layer image")->required();
    render->add_option("output", files.output, "The image to write (its format by its extension)")
        ->required();
    AddFrameOptions(*render, request);
    render->add_option("--selection", files.selection, "A selection layer (\"Alpha Layer\") image");
    render->add_option("--selection-origin", request.selectionOrigin,
                       "Where the selection layer's top-left corner lies, X,Y")
        ->capture_default_str();
    render->add_flag("--json", renderJson, "Print size, origin, result code and message as JSON");
    AddCompressionOption(*render, files);

    Animation animation;
    std::string frameRange;
    auto* animate = app.add_subcommand("animate", "Render a range of frames to a numbered sequence");
    animate->add_option("effect", effect, "Effect name or key")->required();
    animate->add_option("input", files.input, "The layer image")->required();
    animate->add_option("pattern", files.output, "The images to write, e.g. out_%04d.png")->required();
    animate->add_option("--frames", frameRange, "The frames A-B (frame n at n / fps seconds)")
        ->required();
    animate->add_option("-j,--jobs", animation.jobs,
                        "Frames rendered at once (default: every core; at most 4 per core)")
        ->check(CLI::NonNegativeNumber);
    // Hidden: how long a worker may go without writing a frame, shortened by tests.
    animate->add_option("--frame-timeout", animation.frameTimeout)
        ->check(CLI::PositiveNumber)
        ->group("");
    app.add_option(kWorkerOption, animation.workerRole)->group("");
    animation.commandLine.assign(argv, argv + argc);
    AddFrameOptions(*animate, request);
    AddCompressionOption(*animate, files);
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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kUsageError;
    }

    if ((*frame || *render || *animate) && !CheckFrameRequest(request)) return kUsageError;
    if (*animate) {
        if (!ParseFrameRange(frameRange, animation)) {
            std::cerr << "zoka: --frames takes A or A-B, whole numbers with A <= B <= 1000000, not \""
                      << frameRange << "\"\n";
            return kUsageError;
        }
        return AnimateCommand(modulePath, effect, files, request, animation);
    }
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    if (*render) return RenderCommand(session, effect, files, request, renderJson);
    if (*demo) return DemoCommand(session, demoOptions);
    if (*list) return ListEffects(session, json);
    if (*about) return ShowAbout(session, effect);
    if (*params) return ShowParams(session, effect, json);
    if (*pipl) return WritePipl(session, effect);
    if (*frame) return ShowFrame(session, effect, request, query);
    return kUsageError;
}

}  // namespace zoka_cli

int main(int argc, char** argv) {
    zoka_cli::InstallSignalCleanup();
    try {
        return zoka_cli::Main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "zoka: out of memory\n";
        return zoka_cli::kModuleError;
    }
}
