// The commands that inspect the module: list, about, params, pipl, frame.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "cli/frame_request.h"
#include "cli/session.h"

namespace zoka_cli {

int ListEffects(Session& session, bool json);
// An effect's about text; every effect's when name is empty. Line breaks
// and UTF-8, or the module's own bytes when raw.
int ShowAbout(Session& session, const std::string& name, bool raw);
// The parameters, with their values after the request's preset and --set.
int ShowParams(Session& session, const std::string& name, const FrameRequest& request, bool json);
// Every parameter of a set-up instance as `zoka params --json` prints them:
// number, key, label, kind, default, and the ranges, flags, items or
// checkbox text each kind has.
nlohmann::json ParamsJson(ourhost::EffectInstance& instance, const EffectEntry& effect);
// What `zoka params EFFECT --json` prints, with the request's values: 0, or
// an exit status after one error line.
int ParamsWithValues(Session& session, const std::string& name, const FrameRequest& request,
                     nlohmann::json& params);
int WritePipl(Session& session, const std::string& name);

struct FrameQuery {
    std::string size;           // WxH of the layer
    std::string selectionSize;  // WxH, empty without a selection layer
    bool json = false;
};
// Global setup, parameter setup and frame setup: the output size and origin.
int ShowFrame(Session& session, const std::string& name, const FrameRequest& request,
              const FrameQuery& query);

}  // namespace zoka_cli
