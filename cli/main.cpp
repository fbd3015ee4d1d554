// zoka: the effects module from the command line, through our host.
#include <CLI/CLI.hpp>
#include <string>

#include "cli/frame_request.h"
#include "cli/inspect.h"
#include "cli/session.h"
#include "ourhost/module.h"

namespace zoka_cli {

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

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kUsageError;
    }

    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    if (*list) return ListEffects(session, json);
    if (*about) return ShowAbout(session, effect);
    if (*params) return ShowParams(session, effect, json);
    if (*pipl) return WritePipl(session, effect);
    if (*frame) return ShowFrame(session, effect, request, query);
    return kUsageError;
}

}  // namespace zoka_cli

int main(int argc, char** argv) { return zoka_cli::Main(argc, argv); }
