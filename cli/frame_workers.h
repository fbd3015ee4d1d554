// A range of frames rendered by worker processes (each its own copy of the
// image libraries and of the module's frames), watched until every frame is
// written or the reason it was not is known.
//
// Each worker is a fresh run of this program (/proc/self/exe) with the
// parent's own command line and a hidden role option in front: the image
// libraries start threads (some as soon as they are loaded), and a process
// forked from a threaded one may inherit their locks held. A fresh program
// starts clean.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zoka_cli {

// The hidden option that makes a run of the program one worker of an
// animation; its value is "W,N,FD": worker W of N, reporting on descriptor FD.
inline constexpr const char* kWorkerOption = "--animate-worker";

// When the progress line is shown on standard error.
enum class Progress { kNone, kOnTerminal, kAlways };

// Where frames go once written, in order (standard output, for a stream of
// frames).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    // The frame's file is written, and so is every frame before it. False,
    // with error set, stops the workers.
    virtual bool Deliver(int32_t frame, std::string& error) = 0;
    // The run ended before these frames were delivered: whichever of them
    // a worker wrote, reported or not, is to go.
    virtual void Abandon(const std::vector<int32_t>& undelivered) = 0;
};

struct FrameWorkers {
    std::vector<int32_t> frames;  // in order, each once
    int32_t workers = 1;          // worker w renders frames[w], frames[w + workers], ...
    double frameTimeout = 600;  // seconds a worker may go without writing a frame
    std::vector<std::string> commandLine;  // the parent's, run again by each worker
    // A terminal gets one line redrawn; anything else a line per frame.
    Progress progress = Progress::kOnTerminal;
    bool quiet = false;  // no final line
    // Takes each frame in order; the final line then goes to standard error.
    FrameSink* sink = nullptr;
};

// Runs the workers and returns the exit status: 0 and the line "N frames
// written (...)" ("N frames written, M skipped (...)" when some were found
// in place) only when every frame was written or skipped. Otherwise each worker that
// could not start, was killed or stopped making progress is named, then the
// frames not written, and the status is the worst of the workers' own (3 for
// a file not written) or 1. Workers die with the parent; SIGINT, SIGTERM or
// SIGHUP stop the workers and then end the parent by the same signal.
int RunFrameWorkers(const FrameWorkers& plan);

// A worker's side: which share of the frames is its own, and how it tells
// the parent about its progress.
class WorkerChannel {
public:
    // From the hidden option's value; nothing when it is malformed.
    static std::optional<WorkerChannel> FromRole(const std::string& role);

    int32_t Worker() const { return worker_; }
    int32_t Workers() const { return workers_; }
    // The request is sound (worker 0 checks it alone; the others start once it
    // is ready, so a refused request gives one error line).
    bool Ready() const;
    // The frame's file is in place.
    bool Written(int32_t frame) const;
    // The frame's file was there already and was left alone.
    bool Skipped(int32_t frame) const;

private:
    WorkerChannel(int32_t worker, int32_t workers, int fd)
        : worker_(worker), workers_(workers), fd_(fd) {}

    int32_t worker_;
    int32_t workers_;
    int fd_;
};

}  // namespace zoka_cli
