// The main job: the documentation site. Every effect on two built-in sample
// layers, before and after, with sweeps of its main parameters, other
// settings, animations, the commands that reproduce each picture and their
// render times; and a contact sheet.
#pragma once

#include <cstdint>
#include <string>

#include "cli/session.h"

namespace zoka_site {

struct DemoOptions {
    std::string folder = "zoka-demo";
    std::string size = "400x300";  // the sample layers', WxH
    int32_t motionFrames = 24;     // frames in each animation
};

int DemoCommand(zoka_cli::Session& session, const DemoOptions& options);

}  // namespace zoka_site
