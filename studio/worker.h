// The studio's renderer: one long-lived worker process (zoka run again with
// a hidden role) that keeps the module loaded and runs zoka's own commands
// (list, params --json, render --json) for the server, one at a time. The
// server's threads never call the module.
//
// Requests and replies travel as length-prefixed messages over two pipes.
// The newest render wins: a render request that waits behind a newer one is
// answered "superseded" unrun, and a render in progress is cancelled through
// the host's abort query as soon as a newer request arrives.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zoka_studio {

// The hidden option of the studio command that makes a run of the program
// the worker; its value is "IN,OUT,FOLDER": the descriptors it reads
// requests from and writes replies to, and a private folder for its images.
inline constexpr const char* kStudioWorkerOption = "--worker";

// Previews render on `threads` threads (0: every core).
int RunStudioWorker(const std::string& modulePath, const std::string& role, int32_t threads);

// Starts a copy of this program (exe) with these arguments in folder, its
// standard input from /dev/null, its standard output and error on output
// (or the server's own when -1), and, when given, the descriptors in and
// out as 3 and 4. Every other descriptor is closed in the child; the child
// gets SIGTERM when the server ends. -1 when it could not be started.
pid_t StartProgram(const std::string& exe, const std::vector<std::string>& arguments,
                   const std::string& folder, int output, int in = -1, int out = -1);

struct WorkerReply {
    enum class Kind { kRan, kSuperseded, kUnavailable };
    Kind kind = Kind::kUnavailable;
    int status = 0;        // the command's exit status, when it ran
    std::string out;       // what it printed
    std::string err;       // its error lines, or why the worker was unavailable
    std::string image;     // the rendered PNG's bytes
};

// The server's side of the worker: started on first use, and again after it
// dies; every child is reaped.
class StudioWorker {
public:
    StudioWorker(std::string exe, std::string modulePath, std::string folder, int32_t threads);
    ~StudioWorker();
    StudioWorker(const StudioWorker&) = delete;
    StudioWorker& operator=(const StudioWorker&) = delete;

    // Sends the request ({"op": "list" | "params" | "render", ...}) and waits
    // for its reply; a worker that takes longer than limit is killed.
    WorkerReply Ask(nlohmann::json request, std::chrono::seconds limit);
    // The running worker's process, or -1.
    pid_t Pid();

private:
    bool StartLocked();
    void ReadReplies(int from, pid_t pid, uint64_t generation);
    void StopLocked(std::unique_lock<std::mutex>& lock);

    const std::string exe_, modulePath_, folder_;
    const int32_t threads_;  // --threads of the previews; 0: every core
    std::mutex mutex_;
    std::condition_variable changed_;
    pid_t pid_ = -1;
    int to_ = -1;
    uint64_t generation_ = 0;  // counts the workers started
    bool alive_ = false;
    std::thread reader_;
    uint64_t nextId_ = 0;
    std::set<uint64_t> waiting_;
    std::map<uint64_t, WorkerReply> replies_;
};

// Length-prefixed messages on a pipe; false at the end of the pipe or on an
// error, and for a message larger than limit.
bool WriteMessage(int fd, const std::string& bytes);
bool ReadMessage(int fd, std::string& bytes, size_t limit);

}  // namespace zoka_studio
