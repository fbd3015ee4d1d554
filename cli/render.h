// Rendering from the command line: one frame, or a numbered sequence of
// frames rendered in parallel processes.
#pragma once

#include <string>

#include "cli/frame_request.h"
#include "cli/session.h"

namespace zoka_cli {

struct RenderFiles {
    std::string input;
    std::string output;           // a file, or a pattern with one %d for a sequence
    std::string selection;        // a selection layer image, or empty
};

// The whole command sequence for one frame; writes the output at the size
// and origin frame setup reported.
int RenderCommand(Session& session, const std::string& effect, const RenderFiles& files,
                  const FrameRequest& request, bool json);

struct Animation {
    int32_t first = 0;
    int32_t last = 0;
    int32_t jobs = 0;  // 0: every core
};

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& files, const FrameRequest& request, const Animation& frames);

// "A-B" or "A".
bool ParseFrameRange(const std::string& text, Animation& frames);

}  // namespace zoka_cli
