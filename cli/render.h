// Rendering from the command line: one frame, or a numbered sequence of
// frames rendered in parallel processes.
#pragma once

#include <string>
#include <vector>

#include "cli/footage.h"
#include "cli/frame_request.h"
#include "cli/session.h"
#include "images/image_files.h"

namespace zoka_cli {

struct RenderFiles {
    std::string input;            // a file, a pattern for a sequence (in_%04d.png, in_#.png), or "-"
    std::string output;           // a file, or a pattern for a sequence; "-" for standard output
    std::string format;           // --format: of standard output (an extension, "png")
    std::string selection;        // a selection layer image, or empty
    int pngCompression = zoka_images::kDefaultPngCompression;  // zlib level of PNG outputs
    std::string canvas;           // --canvas: grown, input or WxH+X+Y; empty for the default
    std::string background = "black";  // under the image in formats without alpha
    std::string depth;            // -d: uint8, uint16, half or float; empty for the input's
    int jpegQuality = 0;          // --quality of JPEG outputs; 0 for the image library's own
    Verbosity verbosity = Verbosity::kNormal;
    // --threads: the threads each render uses; 0 for the machine's cores
    // (zoka animate: the cores shared among its worker processes).
    int32_t threads = 0;
};

// The machine's cores, at least 1.
int32_t Cores();

// The whole command sequence for one frame; writes the output at the size
// and origin frame setup reported (or on the canvas asked for). Patterns in
// the file names take the number of the frame at --time.
int RenderCommand(Session& session, const std::string& effect, const RenderFiles& files,
                  const FrameRequest& request, bool json);

// Hidden options by which the parent tells its workers the temporary files
// standing for standard input and output.
inline constexpr const char* kStreamedInputOption = "--streamed-input";
inline constexpr const char* kStreamedOutputOption = "--streamed-output";

struct Animation {
    std::string frameList;      // --frames
    std::string shard;          // --shard I/N, or empty for every frame
    bool startGiven = false;    // --start or --time: the first frame's time
    bool skipExisting = false;  // frames whose file exists are not rendered again
    std::vector<int32_t> range;   // every frame of --frames, in order
    std::vector<int32_t> frames;  // those this run renders (its shard)
    int32_t jobs = 0;  // 0: every core
    double frameTimeout = 600;  // seconds a worker may go without writing a frame
    std::vector<std::string> commandLine;  // run again by each worker
    std::string workerRole;  // set in a worker: which share of the frames it renders
    // Set in a worker when the parent streams: the copy of standard input
    // ("-" as input or selection), and the pattern of frames to stream.
    std::string streamedInput;
    std::string streamedOutput;
};

// Parses --frames and --shard into range and frames; false after one error
// line.
bool ChooseFrames(Animation& animation);

int AnimateCommand(const std::string& modulePath, const std::string& effect,
                   const RenderFiles& files, const FrameRequest& request, const Animation& frames);

}  // namespace zoka_cli
