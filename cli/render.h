// Rendering from the command line: one frame, or a numbered sequence of
// frames rendered in parallel processes.
#pragma once

#include <string>
#include <vector>

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
    double frameTimeout = 600;  // seconds a worker may go without writing a frame
    std::vector<std::string> commandLine;  // run again by each worker
    std::string workerRole;  // set in a worker: which share of the frames it renders
};

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& files, const FrameRequest& request, const Animation& frames);

// "A-B" or "A": non-negative whole numbers, A <= B <= 1000000.
bool ParseFrameRange(const std::string& text, Animation& frames);

}  // namespace zoka_cli
