// zoka: the effects module from the command line, through our host.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/session.h"
#include "cli/text.h"
#include "ourhost/module.h"

namespace zoka_cli {

namespace {

constexpr int kModuleError = 1;
constexpr int kUsageError = 2;

int UnknownEffect(const std::string& name) {
    std::cerr << "zoka: no effect named '" << name << "' (see 'zoka list')\n";
    return kUsageError;
}

int List(Session& session) {
    for (const EffectEntry& e : session.Effects()) {
        std::printf("%2d  %-20s %-20s %s\n", e.keys.effectIndex,
                    Utf8FromAnsi(e.descriptor.name).c_str(), e.keys.effectKey,
                    e.descriptor.category.c_str());
    }
    return 0;
}

// The about box as the module wrote it. On a terminal the carriage returns
// that break the host's about box into lines are shown as line breaks.
void PrintAbout(const std::string& text) {
    std::string shown = text;
    if (isatty(STDOUT_FILENO)) {
        for (char& c : shown) c = c == '\r' ? '\n' : c;
        shown = Utf8FromAnsi(shown);
    }
    std::fwrite(shown.data(), 1, shown.size(), stdout);
    std::fputc('\n', stdout);
}

int About(Session& session, const EffectEntry& effect) {
    auto instance = session.Instantiate(effect);
    std::string text;
    const HostError result = instance->About(text);
    if (result != kHostNoError) {
        std::cerr << "zoka: " << effect.descriptor.name << ": about failed with code " << result
                  << "\n";
        return kModuleError;
    }
    PrintAbout(text);
    return 0;
}

int AboutAll(Session& session) {
    for (const EffectEntry& e : session.Effects()) {
        if (const int status = About(session, e)) return status;
        std::fputc('\n', stdout);
    }
    return 0;
}

}  // namespace

int Main(int argc, char** argv) {
    CLI::App app{"zoka: the Lumetta effects module from the command line"};
    app.require_subcommand(1);
    std::string modulePath = ourhost::DefaultModulePath();
    app.add_option("--module", modulePath, "The module file to load")->capture_default_str();

    auto* list = app.add_subcommand("list", "List the effects the module registers");
    std::string aboutEffect;
    auto* about = app.add_subcommand("about", "Show an effect's about text (all without a name)");
    about->add_option("effect", aboutEffect, "Effect name or key");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kUsageError;
    }

    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    if (*list) return List(session);
    if (*about) {
        if (aboutEffect.empty()) return AboutAll(session);
        const EffectEntry* effect = session.Find(aboutEffect);
        return effect ? About(session, *effect) : UnknownEffect(aboutEffect);
    }
    return kUsageError;
}

}  // namespace zoka_cli

int main(int argc, char** argv) { return zoka_cli::Main(argc, argv); }
