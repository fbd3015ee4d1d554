#include "studio/worker.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iostream>
#include <iterator>

#include "cli/frame_request.h"
#include "cli/inspect.h"
#include "cli/render.h"
#include "cli/session.h"
#include "images/descriptor_io.h"
#include "studio/request.h"

namespace zoka_studio {

using namespace zoka_cli;
using namespace zoka_images;

namespace {

// A reply holds at most one PNG; a request a few kilobytes.
constexpr size_t kMaxReplyBytes = size_t{1} << 30;
constexpr size_t kMaxRequestBytes = size_t{1} << 20;

// ---- The worker's side --------------------------------------------------

// What a command printed, caught in a memory file that stands in for the
// standard output or error while it runs.
class Capture {
public:
    explicit Capture(int target) : target_(target), fd_(memfd_create("zoka-studio", MFD_CLOEXEC)) {}
    bool Install() const { return fd_ >= 0 && dup2(fd_, target_) == target_; }

    void Reset() const {
        [[maybe_unused]] const int truncated = ftruncate(fd_, 0);
        lseek(fd_, 0, SEEK_SET);
    }

    std::string Text() const {
        std::string text;
        const off_t size = lseek(fd_, 0, SEEK_END);
        if (size <= 0) return text;
        text.resize(static_cast<size_t>(size));
        if (pread(fd_, text.data(), text.size(), 0) != size) text.clear();
        return text;
    }

private:
    int target_;
    int fd_;
};

void FlushOutputs() {
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class WorkerLoop {
public:
    WorkerLoop(Session& session, int in, int out, std::string folder, int32_t threads)
        : session_(session), in_(in), out_(out), folder_(std::move(folder)), threads_(threads) {}

    bool CaptureOutputs() const { return outCapture_.Install() && errCapture_.Install(); }

    int Run() {
        // A render ends (with the host's cancel) as soon as a newer one waits.
        session_.Host().SetCancelCheck([this] {
            Drain();
            return RenderWaiting();
        });
        while (true) {
            if (queue_.empty() && !ReadOne()) return 0;
            Drain();
            nlohmann::json request = std::move(queue_.front());
            queue_.pop_front();
            const bool render = request.value("op", "") == "render";
            const bool ok = render && RenderWaiting() ? Reply(request, nullptr, {}) : Run(request);
            if (!ok) return 0;
            if (ended_ && queue_.empty()) return 0;
        }
    }

private:
    bool ReadOne() {
        std::string bytes;
        if (ended_ || !ReadMessage(in_, bytes, kMaxRequestBytes)) {
            ended_ = true;
            return false;
        }
        nlohmann::json request = nlohmann::json::parse(bytes, nullptr, false);
        queue_.push_back(request.is_object() ? std::move(request) : nlohmann::json::object());
        return true;
    }

    // Every request already sent, without waiting for more.
    void Drain() {
        pollfd waiting{in_, POLLIN, 0};
        while (!ended_ && poll(&waiting, 1, 0) > 0 && (waiting.revents & (POLLIN | POLLHUP)) != 0) {
            if (!ReadOne()) break;
        }
    }

    bool RenderWaiting() const {
        for (const auto& request : queue_) {
            if (request.value("op", "") == "render") return true;
        }
        return false;
    }

    bool Run(const nlohmann::json& request) {
        const std::string op = request.value("op", "");
        std::string error;
        const auto values = ValuesFromJson(request.value("values", nlohmann::json::object()), error);
        outCapture_.Reset();
        errCapture_.Reset();
        int status = kUsageError;
        std::string image;
        if (op == "list") {
            status = ListEffects(session_, true);
        } else if (!values) {
            std::cerr << "zoka: " << error << "\n";
        } else if (op == "params") {
            // The time and rate are checked too: a file render is checked by this request.
            const FrameRequest frame = FrameRequestOf(*values);
            status = CheckFrameRequest(frame) ? ShowParams(session_, values->effect, frame, true) : kUsageError;
        } else if (op == "render") {
            status = Render(*values, image);
        } else {
            std::cerr << "zoka: the worker knows no request \"" << op << "\"\n";
        }
        FlushOutputs();
        const int result = status;
        return Reply(request, &result, image);
    }

    static FrameRequest FrameRequestOf(const StudioValues& values) {
        FrameRequest request;
        request.sets = values.sets;
        request.time = values.time;
        request.fps = values.fps;
        request.downsample = values.downsample;
        request.selectionOrigin = values.selectionOrigin;
        return request;
    }

    // zoka render --json of the values into the worker's own folder; the
    // file's bytes are the reply.
    int Render(const StudioValues& values, std::string& image) {
        const FrameRequest request = FrameRequestOf(values);
        if (!CheckFrameRequest(request)) return kUsageError;
        RenderFiles files;
        files.input = values.input;
        files.selection = values.selection;
        files.output = folder_ + "/preview.png";
        files.pngCompression = 1;  // a preview is read once, at once
        files.verbosity = Verbosity::kQuiet;
        files.threads = threads_;
        const int status = RenderCommand(session_, values.effect, files, request, true);
        if (status == 0) image = ReadFile(files.output);
        std::remove(files.output.c_str());
        return status;
    }

    // A reply with no status says the request was superseded unrun.
    bool Reply(const nlohmann::json& request, const int* status, const std::string& image) {
        nlohmann::json header{{"id", request.value("id", uint64_t{0})}, {"superseded", status == nullptr}};
        if (status != nullptr) {
            header["status"] = *status;
            header["stdout"] = outCapture_.Text();
            header["stderr"] = errCapture_.Text();
        }
        return WriteMessage(out_, header.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)) &&
               WriteMessage(out_, image);
    }

    Capture outCapture_{STDOUT_FILENO};
    Capture errCapture_{STDERR_FILENO};
    Session& session_;
    int in_, out_;
    std::string folder_;
    int32_t threads_;
    std::deque<nlohmann::json> queue_;
    bool ended_ = false;
};

bool ParseRole(const std::string& role, int& in, int& out, std::string& folder) {
    const char* at = role.data();
    const char* end = at + role.size();
    auto [next, error] = std::from_chars(at, end, in);
    if (error != std::errc{} || next == end || *next != ',') return false;
    auto [after, error2] = std::from_chars(next + 1, end, out);
    if (error2 != std::errc{} || after == end || *after != ',') return false;
    folder.assign(after + 1, end);
    return in >= 0 && out >= 0 && fcntl(in, F_GETFD) >= 0 && fcntl(out, F_GETFD) >= 0 && !folder.empty();
}

// ---- The server's side --------------------------------------------------

// The messages of the worker's reply: its header and the image.
bool ReadReply(int fd, nlohmann::json& header, std::string& image) {
    std::string bytes;
    if (!ReadMessage(fd, bytes, kMaxReplyBytes)) return false;
    header = nlohmann::json::parse(bytes, nullptr, false);
    return header.is_object() && ReadMessage(fd, image, kMaxReplyBytes);
}

WorkerReply Unavailable(std::string why) {
    WorkerReply reply;
    reply.err = std::move(why);
    return reply;
}

// A request in a pipe the worker may not be reading yet: written whole
// within the limit, else the worker is taken to be stuck.
bool SendWithin(int fd, const std::string& bytes, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string frame(4, '\0');
    const auto size = static_cast<uint32_t>(bytes.size());
    std::memcpy(frame.data(), &size, 4);
    frame += bytes;
    size_t sent = 0;
    while (sent < frame.size()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd writable{fd, POLLOUT, 0};
        const int ready = poll(&writable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t written = write(fd, frame.data() + sent, frame.size() - sent);
        if (written < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (written <= 0) return false;
        sent += static_cast<size_t>(written);
    }
    return true;
}

}  // namespace

bool WriteMessage(int fd, const std::string& bytes) {
    const auto size = static_cast<uint32_t>(bytes.size());
    char prefix[4];
    std::memcpy(prefix, &size, 4);
    return bytes.size() <= UINT32_MAX && WriteAll(fd, prefix, 4) && WriteAll(fd, bytes.data(), bytes.size());
}

bool ReadMessage(int fd, std::string& bytes, size_t limit) {
    char prefix[4];
    if (!ReadExactly(fd, prefix, 4)) return false;
    uint32_t size = 0;
    std::memcpy(&size, prefix, 4);
    if (size > limit) return false;
    bytes.resize(size);
    return ReadExactly(fd, bytes.data(), size);
}

int RunStudioWorker(const std::string& modulePath, const std::string& role, int32_t threads) {
    int in = -1, out = -1;
    std::string folder;
    if (!ParseRole(role, in, out, folder)) {
        std::cerr << "zoka: " << kStudioWorkerOption << " is for the worker zoka studio starts\n";
        return kUsageError;
    }
    fcntl(in, F_SETFD, FD_CLOEXEC);
    fcntl(out, F_SETFD, FD_CLOEXEC);
    Session session(modulePath);
    if (!session.Loaded()) return kModuleError;
    WorkerLoop loop(session, in, out, folder, threads);
    if (!loop.CaptureOutputs()) {
        std::cerr << "zoka: the studio's worker cannot capture its output: " << std::strerror(errno) << "\n";
        return kModuleError;
    }
    return loop.Run();
}

pid_t StartProgram(const std::string& exe, const std::vector<std::string>& arguments,
                   const std::string& folder, int output, int in, int out) {
    // Everything the child needs is made before the fork: between fork and
    // exec a copy of a threaded process may only make system calls.
    std::vector<std::string> words{"zoka"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0) return -1;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(kModuleError);
        // Out of the way of 0 to 4 first, then in place.
        const int high = 10;
        const int nullHigh = fcntl(null, F_DUPFD, high);
        const int outputHigh = output >= 0 ? fcntl(output, F_DUPFD, high) : -1;
        const int inHigh = in >= 0 ? fcntl(in, F_DUPFD, high) : -1;
        const int outHigh = out >= 0 ? fcntl(out, F_DUPFD, high) : -1;
        dup2(nullHigh, STDIN_FILENO);
        if (outputHigh >= 0) {
            dup2(outputHigh, STDOUT_FILENO);
            dup2(outputHigh, STDERR_FILENO);
        }
        if (inHigh >= 0) dup2(inHigh, 3);
        if (outHigh >= 0) dup2(outHigh, 4);
        const int firstFree = in >= 0 ? 5 : 3;
        if (syscall(SYS_close_range, firstFree, ~0u, 0u) != 0) {
            for (int fd = firstFree; fd < 4096; ++fd) close(fd);
        }
        signal(SIGPIPE, SIG_DFL);
        if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    close(null);
    return pid;
}

StudioWorker::StudioWorker(std::string exe, std::string modulePath, std::string folder, int32_t threads)
    : exe_(std::move(exe)), modulePath_(std::move(modulePath)), folder_(std::move(folder)), threads_(threads) {}

StudioWorker::~StudioWorker() {
    std::unique_lock lock(mutex_);
    StopLocked(lock);
}

pid_t StudioWorker::Pid() {
    std::lock_guard lock(mutex_);
    return alive_ ? pid_ : -1;
}

void StudioWorker::StopLocked(std::unique_lock<std::mutex>& lock) {
    if (to_ >= 0) close(to_);  // the worker's end of its input: it ends by itself
    to_ = -1;
    if (alive_) kill(pid_, SIGTERM);
    std::thread reader = std::move(reader_);
    lock.unlock();
    if (reader.joinable()) reader.join();  // reaps the worker
    lock.lock();
}

bool StudioWorker::StartLocked() {
    int requests[2], replies[2];
    if (pipe2(requests, O_CLOEXEC) != 0) return false;
    if (pipe2(replies, O_CLOEXEC) != 0) {
        close(requests[0]);
        close(requests[1]);
        return false;
    }
    std::vector<std::string> arguments{"--module", modulePath_, "studio"};
    if (threads_ > 0) arguments.insert(arguments.end(), {"--threads", std::to_string(threads_)});
    arguments.insert(arguments.end(), {kStudioWorkerOption, "3,4," + folder_});
    const pid_t pid = StartProgram(exe_, arguments, "", -1, requests[0], replies[1]);
    close(requests[0]);
    close(replies[1]);
    if (pid < 0) {
        close(requests[1]);
        close(replies[0]);
        return false;
    }
    fcntl(requests[1], F_SETFL, O_NONBLOCK);
    pid_ = pid;
    to_ = requests[1];
    alive_ = true;
    ++generation_;
    reader_ = std::thread(&StudioWorker::ReadReplies, this, replies[0], pid, generation_);
    return true;
}

void StudioWorker::ReadReplies(int from, pid_t pid, uint64_t generation) {
    nlohmann::json header;
    std::string image;
    while (ReadReply(from, header, image)) {
        WorkerReply reply;
        if (header.value("superseded", false)) {
            reply.kind = WorkerReply::Kind::kSuperseded;
        } else {
            reply.kind = WorkerReply::Kind::kRan;
            reply.status = header.value("status", kModuleError);
            reply.out = header.value("stdout", "");
            reply.err = header.value("stderr", "");
            reply.image = std::move(image);
        }
        std::lock_guard lock(mutex_);
        const uint64_t id = header.value("id", uint64_t{0});
        if (waiting_.count(id) != 0) replies_[id] = std::move(reply);
        changed_.notify_all();
    }
    close(from);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    std::lock_guard lock(mutex_);
    if (generation_ == generation) {
        alive_ = false;
        if (to_ >= 0) close(to_);
        to_ = -1;
    }
    changed_.notify_all();
}

WorkerReply StudioWorker::Ask(nlohmann::json request, std::chrono::seconds limit) {
    std::unique_lock lock(mutex_);
    // A worker that died since the last request is found dead only when the
    // request cannot be sent; it is started again and the request sent once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!alive_) {
            // The last worker ended: its reader has reaped it.
            if (reader_.joinable()) {
                std::thread reader = std::move(reader_);
                lock.unlock();
                reader.join();
                lock.lock();
            }
            if (!alive_ && !StartLocked()) {
                return Unavailable(std::string("the renderer could not be started: ") + std::strerror(errno));
            }
        }
        const uint64_t id = ++nextId_;
        const uint64_t generation = generation_;
        const pid_t pid = pid_;
        request["id"] = id;
        waiting_.insert(id);
        if (!SendWithin(to_, request.dump(), limit)) {
            waiting_.erase(id);
            // Its reader reaps it (a worker that stopped reading is killed first).
            if (alive_ && generation_ == generation) kill(pid, SIGKILL);
            changed_.wait_for(lock, limit, [&] { return !alive_ || generation_ != generation; });
            continue;
        }
        const bool answered = changed_.wait_for(lock, limit, [&] {
            return replies_.count(id) != 0 || generation_ != generation || !alive_;
        });
        waiting_.erase(id);
        if (const auto reply = replies_.find(id); reply != replies_.end()) {
            WorkerReply taken = std::move(reply->second);
            replies_.erase(reply);
            return taken;
        }
        if (!answered && generation_ == generation && alive_) {
            kill(pid, SIGKILL);  // still unreaped, so still ours; its reader reaps it
            return Unavailable("the renderer took longer than " + std::to_string(limit.count()) +
                               " s and was stopped");
        }
        break;
    }
    return Unavailable("the renderer ended unexpectedly; it starts again with the next change");
}

}  // namespace zoka_studio
