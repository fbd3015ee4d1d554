#include "studio/server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <iostream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/footage.h"
#include "cli/session.h"
#include "studio/assets.h"
#include "studio/deadline_server.h"
#include "studio/request.h"
#include "studio/worker.h"

namespace zoka_studio {

using namespace zoka_cli;

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr size_t kMaxBodyBytes = 64 * 1024;
// A request's line, headers and body arrive within this time (the page
// sends them at once), and this many connections are served at once: a
// browser opens six, and a few slow clients must leave the page some.
constexpr std::chrono::seconds kRequestDeadline{10};
constexpr size_t kConnections = 32;
// A preview longer than this is taken as hung; listing and parameters are quick.
constexpr std::chrono::seconds kRenderLimit{300};
constexpr std::chrono::seconds kQueryLimit{60};
// The lines of a file render's output kept for the page.
constexpr size_t kMaxJobLines = 200;
// The image files the page offers, found this deep in the working folder.
constexpr int kMaxFileDepth = 3;
constexpr size_t kMaxFiles = 500;

void SendError(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(json{{"error", message}}.dump(), "application/json");
}

void SendJson(httplib::Response& res, const json& body) { res.set_content(body.dump(), "application/json"); }

const char* MimeOf(const std::string& name) {
    const std::string ext = fs::path(name).extension().string();
    if (ext == ".html") return "text/html; charset=utf-8";
    if (ext == ".css") return "text/css; charset=utf-8";
    if (ext == ".js") return "text/javascript; charset=utf-8";
    if (ext == ".png") return "image/png";
    if (ext == ".jpg" || ext == ".jpeg") return "image/jpeg";
    if (ext == ".json") return "application/json";
    return "application/octet-stream";
}

bool IsImageName(const fs::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    for (const char* known : {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".exr", ".bmp", ".webp"}) {
        if (ext == known) return true;
    }
    return false;
}

// The error lines of a command, without "zoka: ", as one message.
std::string MessageOf(const std::string& err) {
    std::string message;
    size_t from = 0;
    while (from < err.size()) {
        size_t end = err.find('\n', from);
        if (end == std::string::npos) end = err.size();
        std::string line = err.substr(from, end - from);
        if (line.rfind("zoka: ", 0) == 0) line.erase(0, 6);
        if (!line.empty()) message += (message.empty() ? "" : "\n") + line;
        from = end + 1;
    }
    return message.empty() ? "the command failed" : message;
}

// The reply of a command the worker ran, as the HTTP status the page gets:
// a refused request is the client's (4xx), a cancelled render is superseded
// (409), a worker that is gone is the server's (503).
int StatusOf(const WorkerReply& reply, const json& report) {
    switch (reply.kind) {
        case WorkerReply::Kind::kSuperseded: return 409;
        case WorkerReply::Kind::kUnavailable: return 503;
        case WorkerReply::Kind::kRan: break;
    }
    if (reply.status == 0) return 200;
    if (reply.status == kUsageError) return 400;
    if (reply.status == kFileError) return 422;
    if (report.is_object() && report.value("code", 0) == kHostErrorCancelled) return 409;
    return 422;  // the module refused these values (a frame too large ...)
}

// A render to file: zoka render or zoka animate as a child process, its
// output kept for the page.
class FileJob {
public:
    FileJob(pid_t pid, int output, std::string command, int total)
        : pid_(pid), command_(std::move(command)), total_(total) {
        reader_ = std::thread(&FileJob::Follow, this, output);
    }
    ~FileJob() {
        Stop();
        if (reader_.joinable()) reader_.join();
    }
    FileJob(const FileJob&) = delete;
    FileJob& operator=(const FileJob&) = delete;

    bool Running() {
        std::lock_guard lock(mutex_);
        return running_;
    }

    void Stop() {
        std::lock_guard lock(mutex_);
        if (running_) kill(pid_, SIGTERM);  // zoka removes what it was writing
    }

    json State() {
        std::lock_guard lock(mutex_);
        json state{{"command", command_}, {"running", running_}, {"done", done_}, {"total", total_},
                   {"lines", lines_}};
        if (!running_) state["exitStatus"] = exitStatus_;
        return state;
    }

private:
    void Follow(int output) {
        std::string pending;
        char buffer[4096];
        for (ssize_t got; (got = read(output, buffer, sizeof buffer)) != 0;) {
            if (got < 0) {
                if (errno == EINTR) continue;
                break;
            }
            pending.append(buffer, static_cast<size_t>(got));
            for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
                Note(pending.substr(0, end));
            }
        }
        close(output);
        if (!pending.empty()) Note(pending);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        std::lock_guard lock(mutex_);
        running_ = false;
        exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (exitStatus_ == 0) done_ = total_;
    }

    // "frame 12: [###...] 5/48 frames, ..." counts the frames written.
    void Note(const std::string& line) {
        std::lock_guard lock(mutex_);
        int frame = 0, done = 0, total = 0;
        const size_t bracket = line.find("] ");
        if (line.rfind("frame ", 0) == 0 && bracket != std::string::npos &&
            std::sscanf(line.c_str(), "frame %d:", &frame) == 1 &&
            std::sscanf(line.c_str() + bracket + 2, "%d/%d", &done, &total) == 2) {
            done_ = std::max(done_, done);
        }
        lines_.push_back(line);
        if (lines_.size() > kMaxJobLines) lines_.pop_front();
    }

    std::mutex mutex_;
    const pid_t pid_;
    const std::string command_;
    const int total_;
    bool running_ = true;
    int exitStatus_ = 0;
    int done_ = 0;
    std::deque<std::string> lines_;
    std::thread reader_;
};

class Studio {
public:
    Studio(const std::string& modulePath, const StudioOptions& options, fs::path root, std::string exe,
           std::string privateFolder)
        : modulePath_(modulePath),
          options_(options),
          root_(std::move(root)),
          exe_(std::move(exe)),
          worker_(exe_, modulePath, std::move(privateFolder), options.threads) {}

    ~Studio() {
        std::lock_guard lock(jobMutex_);
        job_.reset();  // stops it and reaps it
    }

    int Serve(int port) {
        Routes();
        const int bound = port == 0 ? server_.bind_to_any_port("127.0.0.1")
                                    : (server_.bind_to_port("127.0.0.1", port) ? port : -1);
        if (bound < 0) {
            std::cerr << "zoka: studio cannot listen on 127.0.0.1:" << port << "\n";
            return kUsageError;
        }
        port_ = bound;
        std::printf("zoka studio: http://127.0.0.1:%d/ (working folder %s; Ctrl-C stops)\n", port_,
                    root_.c_str());
        std::fflush(stdout);
        return server_.listen_after_bind() ? 0 : kModuleError;
    }

    void Stop() { server_.stop(); }

private:
    void Routes() {
        server_.set_payload_max_length(kMaxBodyBytes);
        // No SO_REUSEPORT (the library's default): a second program must not
        // be able to listen on the studio's port and take its requests.
        server_.set_socket_options([](int sock) {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        });
        server_.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return Admit(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                   : httplib::Server::HandlerResponse::Handled;
        });
        server_.Get("/", [](const httplib::Request&, httplib::Response& res) { SendAsset("index.html", res); });
        server_.Get(R"(/(studio\.[a-z]+))", [](const httplib::Request& req, httplib::Response& res) {
            SendAsset(req.matches[1], res);
        });
        server_.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
        server_.Get("/api/effects", [this](const httplib::Request&, httplib::Response& res) { Effects(res); });
        server_.Get("/api/files", [this](const httplib::Request&, httplib::Response& res) { Files(res); });
        server_.Get("/api/params", [this](const httplib::Request& req, httplib::Response& res) { Params(req, res); });
        server_.Post("/api/preview", [this](const httplib::Request& req, httplib::Response& res) { Preview(req, res); });
        server_.Post("/api/command", [this](const httplib::Request& req, httplib::Response& res) { Command(req, res); });
        server_.Post("/api/render-file", [this](const httplib::Request& req, httplib::Response& res) {
            RenderFile(req, res);
        });
        server_.Get("/api/job", [this](const httplib::Request&, httplib::Response& res) { Job(res); });
        server_.Get(R"(/files/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            ServeFile(req.matches[1], res);
        });
    }

    // Only this machine's pages may use the studio: the Host header must
    // name the loopback address it listens on (a page elsewhere that names
    // its own host resolving here is refused), and a request sent by a page
    // must come from the studio's own.
    bool Admit(const httplib::Request& req, httplib::Response& res) const {
        const std::string port = ":" + std::to_string(port_);
        const std::string host = req.get_header_value("Host");
        if (host != "127.0.0.1" + port && host != "localhost" + port) {
            SendError(res, 403, "the studio answers requests for 127.0.0.1" + port + " only");
            return false;
        }
        const std::string origin = req.get_header_value("Origin");
        if (!origin.empty() && origin != "http://127.0.0.1" + port && origin != "http://localhost" + port) {
            SendError(res, 403, "requests from other pages are refused");
            return false;
        }
        return true;
    }

    static void SendAsset(const std::string& name, httplib::Response& res) {
        for (size_t i = 0; i < kStudioAssetCount; ++i) {
            if (name == kStudioAssets[i].name) {
                res.set_content(reinterpret_cast<const char*>(kStudioAssets[i].bytes), kStudioAssets[i].size,
                                MimeOf(name));
                return;
            }
        }
        SendError(res, 404, "no such page");
    }

    // zoka list --json, asked of the worker once.
    bool EffectList(json& list, std::string& error) {
        std::lock_guard lock(cacheMutex_);
        if (!effects_.is_array()) {
            const WorkerReply reply = worker_.Ask(json{{"op", "list"}}, kQueryLimit);
            if (reply.kind != WorkerReply::Kind::kRan || reply.status != 0) {
                error = reply.kind == WorkerReply::Kind::kRan ? MessageOf(reply.err) : reply.err;
                return false;
            }
            effects_ = json::parse(reply.out, nullptr, false);
            if (!effects_.is_array()) {
                effects_ = json();
                error = "the effects could not be listed";
                return false;
            }
        }
        list = effects_;
        return true;
    }

    void Effects(httplib::Response& res) {
        json list;
        std::string error;
        if (!EffectList(list, error)) return SendError(res, 503, error);
        SendJson(res, list);
    }

    // The effect's key, by key or name in any case; empty when there is none.
    std::string EffectKey(const std::string& name) {
        json list;
        std::string error;
        if (!EffectList(list, error)) return {};
        const auto same = [&](const std::string& other) {
            return other.size() == name.size() &&
                   std::equal(other.begin(), other.end(), name.begin(), [](unsigned char a, unsigned char b) {
                       return std::tolower(a) == std::tolower(b);
                   });
        };
        for (const auto& effect : list) {
            if (same(effect.value("key", "")) || same(effect.value("name", ""))) return effect.value("key", "");
        }
        return {};
    }

    void Files(httplib::Response& res) const {
        json files = json::array();
        std::error_code error;
        fs::recursive_directory_iterator it(root_, fs::directory_options::skip_permission_denied, error);
        for (; !error && it != fs::recursive_directory_iterator() && files.size() < kMaxFiles; it.increment(error)) {
            const std::string name = it->path().filename().string();
            if (!name.empty() && name[0] == '.') {
                if (it->is_directory(error)) it.disable_recursion_pending();
                continue;
            }
            if (it.depth() >= kMaxFileDepth - 1) it.disable_recursion_pending();
            if (it->is_regular_file(error) && IsImageName(it->path())) {
                files.push_back(RelativeName(root_, it->path()));
            }
        }
        std::sort(files.begin(), files.end());
        SendJson(res, json{{"folder", root_.string()}, {"image", options_.image}, {"files", files}});
    }

    void Params(const httplib::Request& req, httplib::Response& res) {
        const std::string key = EffectKey(req.get_param_value("effect"));
        if (key.empty()) return SendError(res, 404, "no effect named \"" + req.get_param_value("effect") + "\"");
        const WorkerReply reply =
            worker_.Ask(json{{"op", "params"}, {"values", {{"effect", key}}}}, kQueryLimit);
        const int status = StatusOf(reply, json());
        if (status != 200) return SendError(res, status, MessageOf(reply.err));
        res.set_content(reply.out, "application/json");
    }

    // The page's values with their files confined to the working folder:
    // absolute for the worker, as given for the command lines. False after
    // an error reply.
    bool Checked(const json& body, StudioValues& values, StudioValues& absolute, httplib::Response& res) {
        std::string error;
        const auto parsed = ValuesFromJson(body, error);
        if (!parsed) {
            SendError(res, 400, error);
            return false;
        }
        values = *parsed;
        values.effect = EffectKey(parsed->effect);
        if (values.effect.empty()) {
            SendError(res, 404, "no effect named \"" + parsed->effect + "\"");
            return false;
        }
        absolute = values;
        const PathVerdict input = FileUnder(root_, values.input);
        if (input.status != 0) {
            SendError(res, input.status, "the layer image: " + input.error);
            return false;
        }
        absolute.input = input.path.string();
        values.input = RelativeName(root_, input.path);
        if (!values.selection.empty()) {
            const PathVerdict selection = FileUnder(root_, values.selection);
            if (selection.status != 0) {
                SendError(res, selection.status, "the selection layer: " + selection.error);
                return false;
            }
            absolute.selection = selection.path.string();
            values.selection = RelativeName(root_, selection.path);
        }
        return true;
    }

    static json ParseBody(const httplib::Request& req) { return json::parse(req.body, nullptr, false); }

    void Preview(const httplib::Request& req, httplib::Response& res) {
        StudioValues values, absolute;
        if (!Checked(ParseBody(req), values, absolute, res)) return;
        const WorkerReply reply = worker_.Ask(json{{"op", "render"}, {"values", ValuesToJson(absolute)}}, kRenderLimit);
        const json report = json::parse(reply.out, nullptr, false);
        const int status = StatusOf(reply, report);
        if (status == 409) {
            // Cancelled mid-render, or dropped before it began.
            const bool cancelled = reply.kind == WorkerReply::Kind::kRan;
            res.set_header("X-Zoka-Superseded", cancelled ? "cancelled" : "unrun");
            return SendError(res, 409, cancelled ? "cancelled by a newer change" : "superseded by a newer change");
        }
        if (status != 200) return SendError(res, status, reply.kind == WorkerReply::Kind::kRan ? MessageOf(reply.err) : reply.err);
        res.set_header("X-Zoka-Origin", std::to_string(report.value("originX", 0)) + "," +
                                            std::to_string(report.value("originY", 0)));
        res.set_header("Cache-Control", "no-store");
        res.set_content(reply.image, "image/png");
    }

    // The command lines for the page's values, and for a file render the
    // arguments run: {"render": line, "animate": line}.
    std::vector<std::string> Prefix() const {
        return options_.moduleGiven ? std::vector<std::string>{"--module", modulePath_} : std::vector<std::string>{};
    }

    std::vector<std::string> FileArguments(const StudioValues& values, const std::string& output,
                                           const std::string& frames) const {
        std::vector<std::string> words = Prefix();
        const auto command = frames.empty() ? RenderArguments(values, output) : AnimateArguments(values, output, frames);
        words.insert(words.end(), command.begin(), command.end());
        return words;
    }

    static std::string Line(const std::vector<std::string>& words) {
        std::vector<std::string> all{"zoka"};
        all.insert(all.end(), words.begin(), words.end());
        return ShellLine(all);
    }

    void Command(const httplib::Request& req, httplib::Response& res) {
        const json body = ParseBody(req);
        StudioValues values, absolute;
        if (!Checked(body.is_object() ? body.value("values", json::object()) : json(), values, absolute, res)) return;
        const std::string output = body.value("output", "out.png");
        const std::string pattern = body.value("pattern", "out_%04d.png");
        const std::string frames = body.value("frames", "0-47");
        SendJson(res, json{{"render", Line(FileArguments(values, output, ""))},
                           {"animate", Line(FileArguments(values, pattern, frames))}});
    }

    // {"values": ..., "output": NAME, "frames": "A-B" or absent}: the same
    // values checked as --set checks them, then zoka render or animate run
    // in the working folder.
    void RenderFile(const httplib::Request& req, httplib::Response& res) {
        const json body = ParseBody(req);
        StudioValues values, absolute;
        if (!Checked(body.is_object() ? body.value("values", json::object()) : json(), values, absolute, res)) return;
        const auto output = body.find("output");
        const auto frames = body.find("frames");
        if (output == body.end() || !output->is_string() || (frames != body.end() && !frames->is_string())) {
            return SendError(res, 400, "name the file to write");
        }
        const PathVerdict target = OutputUnder(root_, output->get<std::string>());
        if (target.status != 0) return SendError(res, target.status, "the output: " + target.error);
        const std::string range = frames == body.end() ? "" : frames->get<std::string>();
        // What zoka animate would refuse is refused here, not by the job later.
        if (!range.empty()) {
            for (const std::string& refusal : {FrameListRefusal(range), PatternRefusal(output->get<std::string>())}) {
                if (!refusal.empty()) return SendError(res, 400, refusal);
            }
        }
        const WorkerReply check = worker_.Ask(json{{"op", "params"}, {"values", ValuesToJson(absolute)}}, kQueryLimit);
        if (const int status = StatusOf(check, json()); status != 200) {
            return SendError(res, status, check.kind == WorkerReply::Kind::kRan ? MessageOf(check.err) : check.err);
        }
        std::lock_guard lock(jobMutex_);
        if (job_ && job_->Running()) return SendError(res, 409, "a render to file is running");
        std::vector<std::string> words = FileArguments(values, RelativeName(root_, target.path), range);
        words.push_back("-v");  // a line per frame: the page's progress
        int pipe[2];
        if (pipe2(pipe, O_CLOEXEC) != 0) return SendError(res, 503, "cannot start zoka: " + std::string(std::strerror(errno)));
        const pid_t pid = StartProgram(exe_, words, root_.string(), pipe[1]);
        close(pipe[1]);
        if (pid < 0) {
            close(pipe[0]);
            return SendError(res, 503, "cannot start zoka: " + std::string(std::strerror(errno)));
        }
        job_.reset();
        job_ = std::make_unique<FileJob>(pid, pipe[0], Line(words),
                                         range.empty() ? 1 : static_cast<int>(ParseFrameList(range)->size()));
        SendJson(res, job_->State());
    }

    void Job(httplib::Response& res) {
        std::lock_guard lock(jobMutex_);
        if (!job_) return SendJson(res, json{{"running", false}});
        SendJson(res, job_->State());
    }

    void ServeFile(const std::string& name, httplib::Response& res) const {
        const PathVerdict file = FileUnder(root_, name);
        if (file.status != 0) return SendError(res, file.status, file.error);
        std::ifstream in(file.path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        res.set_header("Cache-Control", "no-store");
        res.set_content(bytes, MimeOf(name));
    }

    const std::string modulePath_;
    const StudioOptions options_;
    const fs::path root_;
    const std::string exe_;
    DeadlineServer server_{kRequestDeadline, kConnections};
    StudioWorker worker_;
    int port_ = 0;
    std::mutex cacheMutex_;
    json effects_;
    std::mutex jobMutex_;
    std::unique_ptr<FileJob> job_;
};

// The program's own file, so that workers and file renders run this zoka
// even when it is started through a link.
std::string OwnExecutable() {
    std::error_code error;
    const fs::path exe = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string("/proc/self/exe") : exe.string();
}

// A private folder for the worker's previews, removed when the studio ends.
std::string MakePrivateFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zoka-studio-XXXXXX";
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

}  // namespace

int StudioCommand(const std::string& modulePath, const StudioOptions& options) {
    if (!options.workerRole.empty()) return RunStudioWorker(modulePath, options.workerRole, options.threads);
    const fs::path root = WorkingFolder(options.folder);
    if (root.empty()) {
        std::cerr << "zoka: the working folder " << options.folder << " does not exist\n";
        return kUsageError;
    }
    if (!options.image.empty()) {
        const PathVerdict image = FileUnder(root, options.image);
        if (image.status != 0) {
            std::cerr << "zoka: studio: " << image.error << "\n";
            return kUsageError;
        }
    }
    const std::string privateFolder = MakePrivateFolder();
    if (privateFolder.empty()) {
        std::cerr << "zoka: studio cannot make a temporary folder: " << std::strerror(errno) << "\n";
        return kFileError;
    }
    // The server's threads take no signals: one thread waits for them and
    // stops the server, so that the worker and any file render are stopped
    // and reaped and the private folder removed.
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopping, before;
    sigemptyset(&stopping);
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopping, s);
    pthread_sigmask(SIG_BLOCK, &stopping, &before);
    int status = 0;
    {
        Studio studio(modulePath, options, root, OwnExecutable(), privateFolder);
        std::atomic<bool> served{false};
        std::thread stopper([&] {
            int signo = 0;
            while (sigwait(&stopping, &signo) == 0 && !served.load()) {
                studio.Stop();
                break;
            }
        });
        status = studio.Serve(options.port);
        served = true;
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
    }
    std::error_code error;
    fs::remove_all(privateFolder, error);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return status;
}

}  // namespace zoka_studio
