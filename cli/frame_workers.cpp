#include "cli/frame_workers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/session.h"

namespace zoka_cli {

namespace {

using Clock = std::chrono::steady_clock;

// One message on the pipe, smaller than PIPE_BUF so that it is written whole
// even when several workers write at once.
struct Report {
    int32_t worker;
    int32_t kind;
    int32_t value;  // the frame written, or the errno of a failed start
};
enum ReportKind : int32_t { kReady, kWritten, kCannotRun, kSkipped };

// A worker asked to stop gets this long to clean up before it is killed.
constexpr std::chrono::seconds kGrace{5};

// The signals that end an animation, and the one that says a worker ended.
constexpr std::array<int, 4> kWatched{SIGINT, SIGTERM, SIGHUP, SIGCHLD};

bool Send(int fd, Report report) {
    ssize_t sent;
    do {
        sent = write(fd, &report, sizeof report);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(sizeof report);
}

// The handler only notes the signal on a pipe that the parent's loop polls:
// it may run on any thread, including those the libraries started.
int signalPipe = -1;

extern "C" void NoteSignal(int signo) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signo);
    [[maybe_unused]] const ssize_t written = write(signalPipe, &byte, 1);
    errno = saved;
}

struct Worker {
    pid_t pid = -1;
    bool running = false;
    bool stopping = false;  // sent SIGTERM; SIGKILL once the grace time is over
    bool killed = false;
    Clock::time_point since;  // the last sign of progress, or when stopping began
    int waitStatus = 0;
    long peakKb = 0;
    std::string failure;  // why the parent gave up on it; empty when it ended by itself
};

// "12 s", "3 min 20 s", "2 h 5 min".
std::string Duration(double seconds) {
    const auto s = static_cast<int64_t>(std::min(seconds, 1e9) + 0.5);
    char text[48];
    if (s < 60) {
        std::snprintf(text, sizeof text, "%lld s", static_cast<long long>(s));
    } else if (s < 3600) {
        std::snprintf(text, sizeof text, "%lld min %lld s", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld h %lld min", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60));
    }
    return text;
}

// "[####....] 12/48 frames, 2.4 frames/s, 15 s left": the rate of frames
// rendered since the start (frames skipped take no time and are left out).
std::string ProgressText(int32_t done, int32_t skipped, int32_t total, double seconds) {
    constexpr int kBar = 40;
    const int32_t finished = done + skipped;
    const int filled = total > 0 ? static_cast<int>(int64_t{finished} * kBar / total) : kBar;
    std::string text(1, '[');
    text.append(static_cast<size_t>(filled), '#').append(static_cast<size_t>(kBar - filled), '.');
    char count[48];
    std::snprintf(count, sizeof count, "] %d/%d frames", finished, total);
    text += count;
    if (done > 0 && seconds > 0) {
        const double rate = done / seconds;
        char figures[96];
        std::snprintf(figures, sizeof figures, ", %.3g frames/s, %s left", rate,
                      Duration((total - finished) / rate).c_str());
        text += figures;
    }
    return text;
}

// "3, 5-9, 12": runs of consecutive frames joined.
std::string FrameList(const std::vector<int32_t>& frames) {
    std::string text;
    for (size_t i = 0; i < frames.size();) {
        size_t end = i;
        while (end + 1 < frames.size() && frames[end + 1] == frames[end] + 1) ++end;
        if (!text.empty()) text += ", ";
        text += std::to_string(frames[i]);
        if (end > i) text.append(1, '-').append(std::to_string(frames[end]));
        i = end + 1;
    }
    return text;
}

class Supervisor {
public:
    explicit Supervisor(const FrameWorkers& plan)
        : plan_(plan),
          timeout_(std::chrono::duration_cast<Clock::duration>(
              std::chrono::duration<double>(std::clamp(plan.frameTimeout, 0.0, 1e9)))),
          workers_(static_cast<size_t>(plan.workers)),
          written_(plan.frames.size(), false),
          skipped_(plan.frames.size(), false),
          terminal_(isatty(STDERR_FILENO) == 1),
          started_(Clock::now()) {}

    Supervisor(const Supervisor&) = delete;
    Supervisor& operator=(const Supervisor&) = delete;

    ~Supervisor() {
        RestoreHandlers();
        for (const int fd : {reportRead_, reportWrite_, signalRead_, signalWrite_}) {
            if (fd >= 0) close(fd);
        }
        signalPipe = -1;
    }

    int Run() {
        if (!Open()) return kModuleError;
        Start(0);
        while (AnyRunning()) {
            Wait();
            ReadSignals();
            Reap();
            // After reaping: everything a reaped worker sent is in the pipe by now.
            ReadReports();
            CheckTimes();
        }
        CloseWriteEnd();
        ReadReports();
        if (interrupted_ != 0) return EndBySignal();
        return Conclude();
    }

private:
    bool Open() {
        int reports[2], signals[2];
        if (pipe2(reports, O_CLOEXEC) != 0) return CannotOpen();
        reportRead_ = reports[0];
        reportWrite_ = reports[1];
        if (pipe2(signals, O_CLOEXEC | O_NONBLOCK) != 0) return CannotOpen();
        signalRead_ = signals[0];
        signalWrite_ = signals[1];
        fcntl(reportRead_, F_SETFL, O_NONBLOCK);
        signalPipe = signalWrite_;
        for (size_t i = 0; i < kWatched.size(); ++i) {
            sigaction(kWatched[i], nullptr, &savedActions_[i]);
            // An ignored signal (nohup) stays ignored, for the workers too.
            if (savedActions_[i].sa_handler == SIG_IGN && kWatched[i] != SIGCHLD) continue;
            struct sigaction note {};
            note.sa_handler = NoteSignal;
            note.sa_flags = SA_RESTART | (kWatched[i] == SIGCHLD ? SA_NOCLDSTOP : 0);
            sigemptyset(&note.sa_mask);
            sigaction(kWatched[i], &note, nullptr);
        }
        handlersInstalled_ = true;
        return true;
    }

    bool CannotOpen() {
        std::fprintf(stderr, "zoka: cannot start the workers: %s\n", std::strerror(errno));
        return false;
    }

    void RestoreHandlers() {
        if (!handlersInstalled_) return;
        for (size_t i = 0; i < kWatched.size(); ++i)
            sigaction(kWatched[i], &savedActions_[i], nullptr);
        handlersInstalled_ = false;
    }

    // The worker's command line: the parent's, with its role in front.
    std::vector<std::string> WorkerArguments(int32_t w) const {
        std::vector<std::string> arguments{
            plan_.commandLine.empty() ? "zoka" : plan_.commandLine[0], kWorkerOption,
            std::to_string(w) + "," + std::to_string(plan_.workers) + "," +
                std::to_string(reportWrite_)};
        if (!plan_.commandLine.empty()) {
            arguments.insert(arguments.end(), plan_.commandLine.begin() + 1,
                             plan_.commandLine.end());
        }
        return arguments;
    }

    void Start(int32_t w) {
        Worker& worker = workers_[static_cast<size_t>(w)];
        std::vector<std::string> arguments = WorkerArguments(w);
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        // Blocked across the fork, so that the child's copy of the handler
        // never runs: the child puts the saved actions back first.
        sigset_t watched, before;
        sigemptyset(&watched);
        for (const int s : kWatched) sigaddset(&watched, s);
        pthread_sigmask(SIG_BLOCK, &watched, &before);
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) ExecWorker(w, parent, before, argv.data());
        const int forkError = errno;
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (pid < 0) {
            worker.failure = std::string("could not be started: ") + std::strerror(forkError);
            return;
        }
        worker.pid = pid;
        worker.running = true;
        worker.since = Clock::now();
    }

    // Between fork and exec, in a copy of a threaded process: system calls only.
    [[noreturn]] void ExecWorker(int32_t w, pid_t parent, const sigset_t& mask, char** argv) {
        // A worker must not outlive the parent that accounts for its frames;
        // this survives the exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(kModuleError);
        RestoreHandlers();
        fcntl(reportWrite_, F_SETFD, 0);
        pthread_sigmask(SIG_SETMASK, &mask, nullptr);
        execv("/proc/self/exe", argv);
        Send(reportWrite_, Report{w, kCannotRun, errno});
        _exit(127);
    }

    // Worker 0 checks the request before the others start.
    void StartOthers() {
        for (int32_t w = 1; w < plan_.workers && interrupted_ == 0; ++w) Start(w);
        CloseWriteEnd();
    }

    void CloseWriteEnd() {
        if (reportWrite_ >= 0) close(reportWrite_);
        reportWrite_ = -1;
    }

    bool AnyRunning() const {
        return std::any_of(workers_.begin(), workers_.end(),
                           [](const Worker& w) { return w.running; });
    }

    // Until a report, a signal, or the next worker's time limit.
    void Wait() {
        const Clock::time_point now = Clock::now();
        Clock::duration wait = std::chrono::minutes(1);
        for (const Worker& w : workers_) {
            if (!w.running || w.killed) continue;
            wait = std::min(wait, w.since + (w.stopping ? kGrace : timeout_) - now);
        }
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
        pollfd fds[2] = {{reportRead_, POLLIN, 0}, {signalRead_, POLLIN, 0}};
        poll(fds, 2, static_cast<int>(std::max<int64_t>(ms, 0)));
    }

    void ReadSignals() {
        unsigned char signals[64];
        for (ssize_t got; (got = read(signalRead_, signals, sizeof signals)) > 0;) {
            for (ssize_t i = 0; i < got; ++i) {
                if (signals[i] == SIGCHLD || interrupted_ != 0) continue;
                interrupted_ = signals[i];
                for (Worker& w : workers_) Stop(w);
            }
        }
    }

    void Reap() {
        for (Worker& w : workers_) {
            rusage usage{};
            if (!w.running) continue;
            const pid_t reaped = wait4(w.pid, &w.waitStatus, WNOHANG, &usage);
            if (reaped == w.pid) {
                w.running = false;
                w.peakKb = usage.ru_maxrss;
            } else if (reaped < 0 && errno == ECHILD) {
                // Reaped by someone else: its status is unknown, its frames are not.
                w.running = false;
                w.failure = "ended without a status";
            }
        }
    }

    void ReadReports() {
        Report reports[64];
        for (ssize_t got; (got = read(reportRead_, reports, sizeof reports)) > 0;) {
            for (size_t i = 0; i < static_cast<size_t>(got) / sizeof(Report); ++i) Take(reports[i]);
        }
    }

    void Take(const Report& report) {
        if (report.worker < 0 || report.worker >= plan_.workers) return;
        Worker& worker = workers_[static_cast<size_t>(report.worker)];
        worker.since = worker.stopping ? worker.since : Clock::now();
        if (report.kind == kCannotRun) {
            worker.failure = std::string("could not be started: ") + std::strerror(report.value);
        } else if (report.kind == kReady) {
            if (report.worker == 0 && !ready_) StartOthers();
            ready_ = true;
        } else if (report.kind == kWritten || report.kind == kSkipped) {
            const auto at = std::lower_bound(plan_.frames.begin(), plan_.frames.end(), report.value);
            if (at == plan_.frames.end() || *at != report.value) return;
            const auto slot = static_cast<size_t>(at - plan_.frames.begin());
            if (written_[slot] || skipped_[slot]) return;
            if (report.kind == kWritten) {
                written_[slot] = true;
                ++done_;
            } else {
                skipped_[slot] = true;
                ++skippedCount_;
            }
            ShowProgress(report.value);
            Deliver();
        }
    }

    // Hands the sink every frame whose turn has come.
    void Deliver() {
        if (plan_.sink == nullptr || !deliveryFailure_.empty()) return;
        while (delivered_ < written_.size() && written_[delivered_]) {
            if (!plan_.sink->Deliver(plan_.frames[delivered_], deliveryFailure_)) {
                for (Worker& w : workers_) Stop(w);
                return;
            }
            ++delivered_;
        }
    }

    // The sink lets go of every frame not delivered: reported or not, since
    // a worker stopped between finishing a frame and reporting it leaves the
    // file without a word.
    void AbandonUndelivered() const {
        if (plan_.sink == nullptr) return;
        plan_.sink->Abandon(std::vector<int32_t>(plan_.frames.begin() + static_cast<std::ptrdiff_t>(delivered_),
                                                 plan_.frames.end()));
    }

    bool RedrawnProgress() const { return plan_.progress != Progress::kNone && terminal_; }

    // One line redrawn on a terminal; on anything else (with -v), a line per frame.
    void ShowProgress(int32_t frame) const {
        if (plan_.progress == Progress::kNone || (plan_.progress == Progress::kOnTerminal && !terminal_)) return;
        const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        const std::string text =
            ProgressText(done_, skippedCount_, static_cast<int32_t>(written_.size()), seconds);
        if (terminal_) {
            std::fprintf(stderr, "\r%s\033[K", text.c_str());
            if (done_ + skippedCount_ == static_cast<int32_t>(written_.size())) std::fputc('\n', stderr);
        } else {
            std::fprintf(stderr, "frame %d: %s\n", frame, text.c_str());
        }
        std::fflush(stderr);
    }

    // Ends a redrawn line left unfinished.
    void EndProgressLine() const {
        const int32_t finished = done_ + skippedCount_;
        if (RedrawnProgress() && finished > 0 && finished < static_cast<int32_t>(written_.size())) {
            std::fputc('\n', stderr);
        }
    }

    void CheckTimes() {
        const Clock::time_point now = Clock::now();
        for (Worker& w : workers_) {
            if (!w.running || w.killed) continue;
            if (w.stopping && now - w.since >= kGrace) {
                kill(w.pid, SIGKILL);
                w.killed = true;
            } else if (!w.stopping && now - w.since >= timeout_) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", plan_.frameTimeout);
                w.failure =
                    std::string("wrote no frame in ") + seconds + " seconds and was stopped";
                Stop(w);
            }
        }
    }

    // SIGTERM lets the worker remove what it was writing; SIGCONT wakes a
    // stopped one so that it can.
    void Stop(Worker& w) {
        if (!w.running || w.stopping) return;
        kill(w.pid, SIGTERM);
        kill(w.pid, SIGCONT);
        w.stopping = true;
        w.since = Clock::now();
    }

    // The workers are gone; the parent ends by the signal it was sent.
    int EndBySignal() {
        EndProgressLine();
        AbandonUndelivered();
        // The handler zoka started with removes its own temporary files (a
        // copy of standard input, a stream's name) and ends it by the signal.
        RestoreHandlers();
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, interrupted_);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(interrupted_);
        return 128 + interrupted_;
    }

    int Conclude() {
        AbandonUndelivered();
        // The workers were stopped because the frames could not be delivered.
        if (!deliveryFailure_.empty()) {
            EndProgressLine();
            std::fprintf(stderr, "zoka: %s\n", deliveryFailure_.c_str());
            return kFileError;
        }
        const Worker& first = workers_[0];
        // Worker 0 refused the request and said why: nothing was rendered.
        if (!ready_ && first.failure.empty() && WIFEXITED(first.waitStatus) &&
            WEXITSTATUS(first.waitStatus) != 0) {
            return WEXITSTATUS(first.waitStatus);
        }
        const int32_t total = static_cast<int32_t>(written_.size());
        EndProgressLine();
        int status = 0;
        long peakKb = 0;
        for (size_t w = 0; w < workers_.size(); ++w) {
            status = std::max(status, ReportWorker(static_cast<int32_t>(w)));
            peakKb = std::max(peakKb, workers_[w].peakKb);
        }
        std::vector<int32_t> missing;
        for (size_t i = 0; i < written_.size(); ++i) {
            if (!written_[i] && !skipped_[i]) missing.push_back(plan_.frames[i]);
        }
        if (!missing.empty()) {
            std::fprintf(stderr, "zoka: %zu of %d frames were not written: %s\n", missing.size(),
                         total, FrameList(missing).c_str());
            return status == 0 ? kModuleError : status;
        }
        if (status != 0 || plan_.quiet) return status;
        const std::string skipped =
            skippedCount_ > 0 ? ", " + std::to_string(skippedCount_) + " skipped" : "";
        std::fprintf(plan_.sink != nullptr ? stderr : stdout,
                     "%d frame%s written%s (%d worker%s, peak memory per worker %ld MB)\n", done_,
                    done_ == 1 ? "" : "s", skipped.c_str(), plan_.workers, plan_.workers == 1 ? "" : "s",
                    (peakKb + 1023) / 1024);
        return 0;
    }

    // A worker's exit status, after saying why the parent gave up on it.
    int ReportWorker(int32_t index) const {
        const Worker& w = workers_[static_cast<size_t>(index)];
        if (w.pid < 0 && w.failure.empty()) return 0;  // not started: worker 0 failed first
        if (!w.failure.empty()) {
            std::fprintf(stderr, "zoka: worker %d %s\n", index, w.failure.c_str());
            return kModuleError;
        }
        if (WIFSIGNALED(w.waitStatus)) {
            const int signo = WTERMSIG(w.waitStatus);
            std::fprintf(stderr, "zoka: worker %d was killed by signal %d (%s)\n", index, signo,
                         strsignal(signo));
            // Writing past the file-size limit.
            return signo == SIGXFSZ ? kFileError : kModuleError;
        }
        return WEXITSTATUS(w.waitStatus);
    }

    const FrameWorkers& plan_;
    const Clock::duration timeout_;
    std::vector<Worker> workers_;
    std::vector<bool> written_;
    std::vector<bool> skipped_;
    int32_t done_ = 0;
    size_t delivered_ = 0;         // frames handed to the sink, in order
    std::string deliveryFailure_;  // why the sink could not take a frame
    int32_t skippedCount_ = 0;
    bool ready_ = false;
    int interrupted_ = 0;
    const bool terminal_;
    const Clock::time_point started_;
    int reportRead_ = -1;
    int reportWrite_ = -1;
    int signalRead_ = -1;
    int signalWrite_ = -1;
    std::array<struct sigaction, kWatched.size()> savedActions_{};
    bool handlersInstalled_ = false;
};

bool ParseNumber(const char*& at, const char* end, int32_t& value) {
    const auto [next, error] = std::from_chars(at, end, value);
    at = next;
    return error == std::errc{};
}

}  // namespace

int RunFrameWorkers(const FrameWorkers& plan) {
    Supervisor supervisor(plan);
    return supervisor.Run();
}

std::optional<WorkerChannel> WorkerChannel::FromRole(const std::string& role) {
    const char* at = role.data();
    const char* end = at + role.size();
    int32_t worker = 0, workers = 0, fd = 0;
    const bool parsed = ParseNumber(at, end, worker) && at < end && *at++ == ',' &&
                        ParseNumber(at, end, workers) && at < end && *at++ == ',' &&
                        ParseNumber(at, end, fd) && at == end;
    if (!parsed || worker < 0 || worker >= workers || fd < 0 || fcntl(fd, F_GETFD) < 0) {
        return std::nullopt;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return WorkerChannel(worker, workers, fd);
}

bool WorkerChannel::Ready() const { return Send(fd_, Report{worker_, kReady, 0}); }

bool WorkerChannel::Written(int32_t frame) const {
    return Send(fd_, Report{worker_, kWritten, frame});
}

bool WorkerChannel::Skipped(int32_t frame) const {
    return Send(fd_, Report{worker_, kSkipped, frame});
}

}  // namespace zoka_cli
