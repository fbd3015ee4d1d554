// zoka studio: the effects' controls in a browser, served on 127.0.0.1 by
// the command line itself, with a live preview rendered by a worker process
// and "Render to file" through zoka render and zoka animate.
#pragma once

#include <cstdint>
#include <string>

namespace zoka_studio {

struct StudioOptions {
    std::string image;          // the layer to start with, under the folder
    std::string folder = ".";   // the working folder: every file named lies under it
    int port = 0;               // 0: a free port, printed on start
    std::string workerRole;     // set in the worker (kStudioWorkerOption)
    bool moduleGiven = false;   // --module named: the commands shown name it too
    int32_t threads = 0;        // --threads of each preview; 0: every core
};

int StudioCommand(const std::string& modulePath, const StudioOptions& options);

}  // namespace zoka_studio
