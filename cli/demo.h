// The main job: every effect at its defaults on the built-in sample layer,
// gathered into a web gallery and a contact sheet.
#pragma once

#include <string>

#include "cli/session.h"

namespace zoka_cli {

int DemoCommand(Session& session, const std::string& folder);

}  // namespace zoka_cli
