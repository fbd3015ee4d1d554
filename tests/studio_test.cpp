// zoka studio's server: files confined to the working folder, command lines
// a shell runs unchanged, and a real studio process answering bad requests
// with 4xx, previews with zoka render's own bytes, cutting off clients too
// slow to send their requests, surviving its worker's death and leaving
// nothing behind when stopped.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "images/png_files.h"
#include "studio/request.h"
#include "tests/support/proc_entries.h"

namespace zoka_cli {
namespace {

using namespace zoka_images;
using namespace zoka_studio;

namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteLayer(const fs::path& path) {
    ourhost::Image image(90, 70, ourhost::Pixel{0, 0, 0, 0});
    for (int32_t y = 15; y < 55; ++y) {
        for (int32_t x = 20; x < 70; ++x) image.At(x, y) = ourhost::Pixel{255, 200, static_cast<uint8_t>(x * 3), 40};
    }
    std::string error;
    ASSERT_TRUE(WritePng(path.string(), image, 6, WriteExtras{}, error)) << error;
}

class StudioFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/zoka-studio-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = fs::canonical(pattern);
        fs::create_directory(root_ / "sub");
        WriteLayer(root_ / "layer.png");
        std::ofstream(root_ / "sub" / "garbage.png") << "not an image";
        fs::create_symlink("/etc/hostname", root_ / "out-link");
        fs::create_symlink(root_ / "layer.png", root_ / "in-link.png");
        fs::create_symlink(root_ / "nowhere.png", root_ / "dangling.png");
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
};

TEST_F(StudioFolder, OnlyFilesInsideTheWorkingFolderAreUsed) {
    EXPECT_EQ(FileUnder(root_, "layer.png").status, 0);
    EXPECT_EQ(FileUnder(root_, (root_ / "layer.png").string()).path, root_ / "layer.png");
    EXPECT_EQ(FileUnder(root_, "in-link.png").path, root_ / "layer.png");  // a link that stays inside
    EXPECT_EQ(FileUnder(root_, "sub/../layer.png").status, 403);            // no climbing, even back in
    EXPECT_EQ(FileUnder(root_, "../" + root_.filename().string() + "/layer.png").status, 403);
    EXPECT_EQ(FileUnder(root_, "/etc/hostname").status, 403);
    EXPECT_EQ(FileUnder(root_, "out-link").status, 403);
    EXPECT_EQ(FileUnder(root_, "missing.png").status, 404);
    EXPECT_EQ(FileUnder(root_, "sub").status, 400);
    EXPECT_EQ(FileUnder(root_, std::string("layer.png\0x", 11)).status, 400);
    EXPECT_EQ(FileUnder(root_, "").status, 400);
}

TEST_F(StudioFolder, OutputsGoIntoExistingFoldersAsPlainFiles) {
    EXPECT_EQ(OutputUnder(root_, "new.png").path, root_ / "new.png");
    EXPECT_EQ(OutputUnder(root_, "sub/out_%04d.png").status, 0);
    EXPECT_EQ(OutputUnder(root_, "nofolder/new.png").status, 404);
    EXPECT_EQ(OutputUnder(root_, "sub").status, 400);
    EXPECT_EQ(OutputUnder(root_, "dangling.png").status, 400);  // would write through the link
    EXPECT_EQ(OutputUnder(root_, "out-link").status, 403);
    EXPECT_EQ(OutputUnder(root_, "../new.png").status, 403);
}

TEST(StudioCommandLine, AShellRunsTheShownLineWithTheSameWords) {
    const std::vector<std::string> words{"render", "Glow", "my layer.png", "it's.png", "--set", "Width=1@0;2@3f",
                                         "$HOME", "`x`", "a\"b", "", "é"};
    const std::string line = ShellLine(words);
    FILE* shell = popen(("printf '%s\\n' " + line).c_str(), "r");
    ASSERT_NE(shell, nullptr);
    std::vector<std::string> back;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, shell) != nullptr) {
        std::string word = buffer;
        word.pop_back();
        back.push_back(word);
    }
    pclose(shell);
    EXPECT_EQ(back, words) << line;
}

TEST(StudioCommandLine, NumbersReadBackExactly) {
    for (const double value : {0.1, 1.0 / 3, 29.97, 1e-7, 12345.678901234567}) {
        EXPECT_EQ(std::stod(NumberText(value)), value);
    }
    EXPECT_EQ(NumberText(30), "30");
}

TEST(StudioCommandLine, MalformedValuesAreRefused) {
    std::string error;
    EXPECT_FALSE(ValuesFromJson(nlohmann::json::array(), error));
    EXPECT_FALSE(ValuesFromJson({{"input", "a.png"}}, error));  // no effect
    EXPECT_FALSE(ValuesFromJson({{"effect", "Glow"}, {"downsample", 3}}, error));
    EXPECT_FALSE(ValuesFromJson({{"effect", "Glow"}, {"sets", {1, 2}}}, error));
    EXPECT_FALSE(ValuesFromJson({{"effect", "Glow"}, {"time", "soon"}}, error));
    EXPECT_FALSE(ValuesFromJson({{"effect", "Glow"}, {"sets", std::vector<std::string>(65, "Width=1")}}, error));
    const auto values = ValuesFromJson({{"effect", "Glow"}, {"sets", {"Width=3"}}, {"time", 0.5}}, error);
    ASSERT_TRUE(values);
    EXPECT_EQ(RenderArguments(*values, "o.png"),
              (std::vector<std::string>{"render", "Glow", "", "o.png", "--set", "Width=3", "--time", "0.5"}));
}

// ---- A studio process ------------------------------------------------------

class Studio : public StudioFolder {
protected:
    void SetUp() override {
        StudioFolder::SetUp();
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            execl(ZOKA_CLI_PATH, "zoka", "studio", "layer.png", "-C", root_.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        FILE* lines = fdopen(out[0], "r");
        char line[512] = {};
        ASSERT_NE(std::fgets(line, sizeof line, lines), nullptr);
        fclose(lines);
        ASSERT_EQ(std::sscanf(line, "zoka studio: http://127.0.0.1:%d/", &port_), 1) << line;
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
        client_->set_read_timeout(120);
    }

    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        StudioFolder::TearDown();
    }

    httplib::Result Preview(const nlohmann::json& body) {
        return client_->Post("/api/preview", body.dump(), "application/json");
    }

    // The studio's children, zombies included; any may end while this looks.
    std::vector<pid_t> Children() const { return zoka_test_proc::ChildrenOf(pid_, true); }

    pid_t pid_ = -1;
    int port_ = 0;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(Studio, BadRequestsAreAnsweredWithA4xxAndAMessage) {
    const auto expect = [&](const httplib::Result& result, int status, const std::string& words) {
        ASSERT_TRUE(result);
        EXPECT_EQ(result->status, status) << result->body;
        EXPECT_NE(result->body.find(words), std::string::npos) << result->body;
    };
    expect(Preview({{"effect", "NoSuchEffect"}, {"input", "layer.png"}}), 404, "no effect named");
    expect(Preview({{"effect", "Glow"}, {"input", "layer.png"}, {"sets", {"Width=5000"}}}), 400, "0 to 999");
    expect(Preview({{"effect", "Glow"}, {"input", "layer.png"}, {"sets", {"Nonsense=1"}}}), 400, "no parameter");
    expect(Preview({{"effect", "Glow"}, {"input", "../etc/passwd"}}), 403, "working folder");
    expect(Preview({{"effect", "Glow"}, {"input", "out-link"}}), 403, "outside the working folder");
    expect(Preview({{"effect", "Glow"}, {"input", "sub/garbage.png"}}), 422, "garbage.png");
    expect(Preview({{"effect", "Glow"}, {"input", "layer.png"}, {"selection", "missing.png"}}), 404, "selection");
    expect(client_->Post("/api/preview", "{not json", "application/json"), 400, "JSON object");
    expect(client_->Get("/files/out-link"), 403, "outside");
    expect(client_->Post("/api/render-file", nlohmann::json{{"values", {{"effect", "Glow"}, {"input", "layer.png"}}},
                                                             {"output", "sub"}}.dump(), "application/json"),
           400, "not a file");
    const auto large = client_->Post("/api/preview", std::string(100000, ' '), "application/json");
    ASSERT_TRUE(large);
    EXPECT_EQ(large->status, 413);
    expect(client_->Get("/api/effects", {{"Host", "attacker.example:" + std::to_string(port_)}}), 403, "127.0.0.1");
    expect(client_->Post("/api/preview", {{"Origin", "http://attacker.example"}}, "{}", "application/json"), 403,
           "other pages");
    // A render to file with values zoka would refuse is refused before it starts.
    const auto renderFile = [&](const nlohmann::json& values, const std::string& output, const std::string& frames) {
        nlohmann::json body{{"values", values}, {"output", output}};
        if (!frames.empty()) body["frames"] = frames;
        return client_->Post("/api/render-file", body.dump(), "application/json");
    };
    const nlohmann::json layer{{"effect", "Glow"}, {"input", "layer.png"}};
    expect(renderFile(layer, "out_%04d.png", "0-1000001"), 400, "A <= B <= 1000000");
    expect(renderFile(layer, "out_%04d.png", "5-2"), 400, "5-2");
    expect(renderFile(layer, "out.png", "0-3"), 400, "needs one %d");
    expect(renderFile({{"effect", "Glow"}, {"input", "layer.png"}, {"time", 1e12}}, "out.png", ""), 400,
           "within 1000000 frames");
    expect(renderFile({{"effect", "Glow"}, {"input", "layer.png"}, {"fps", 0}}, "out.png", ""), 400, "frame rate");
    const auto job = client_->Get("/api/job");
    ASSERT_TRUE(job);
    EXPECT_EQ(nlohmann::json::parse(job->body, nullptr, false), (nlohmann::json{{"running", false}})) << job->body;
}

// A client that sends a request's headers a line a second and never ends
// them, for a minute and a half at most: true when the studio answers it or
// closes the connection first. started counts the clients that have begun.
bool SlowClientIsCut(int port, std::atomic<int>& started) {
    const int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string first = "GET /api/effects HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n";
    bool cut = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
               send(sock, first.data(), first.size(), MSG_NOSIGNAL) < 0;
    ++started;
    for (int line = 0; !cut && line < 90; ++line) {
        pollfd answer{sock, POLLIN, 0};
        const std::string header = "X-Slow-" + std::to_string(line) + ": 1\r\n";
        cut = poll(&answer, 1, 1000) != 0 || send(sock, header.data(), header.size(), MSG_NOSIGNAL) < 0;
    }
    close(sock);
    return cut;
}

// Eight clients that send their headers slowly, beside the page's requests:
// the page is answered, and the slow clients are cut off.
TEST_F(Studio, SlowClientsNeitherStallTheStudioNorHoldIt) {
    std::atomic<int> started{0};
    std::vector<std::future<bool>> slow;
    for (int i = 0; i < 8; ++i) slow.push_back(std::async(std::launch::async, SlowClientIsCut, port_, std::ref(started)));
    while (started < 8) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    httplib::Client page("127.0.0.1", port_);
    page.set_read_timeout(60);  // a bound for a hang
    const auto listed = page.Get("/api/effects");
    ASSERT_TRUE(listed) << "no answer while slow clients are connected";
    EXPECT_EQ(listed->status, 200);
    const auto preview = page.Post("/api/preview", nlohmann::json{{"effect", "Glow"}, {"input", "layer.png"}}.dump(),
                                   "application/json");
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->status, 200);
    for (auto& client : slow) EXPECT_TRUE(client.get()) << "a client still sending its headers after 90 s";
}

TEST_F(Studio, ASecondStudioCannotListenOnTheSamePort) {
    // Under timeout: a second studio that did listen would serve until stopped.
    const std::string command = "timeout 30 " + std::string(ZOKA_CLI_PATH) + " studio -C " + root_.string() + " -p " +
                                std::to_string(port_) + " >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

TEST_F(Studio, APreviewIsWhatZokaRenderWritesAtTheSameValues) {
    const auto result = Preview({{"effect", "Glow"}, {"input", "layer.png"}, {"sets", {"Width=12", "Color=orange"}},
                                 {"downsample", 2}});
    ASSERT_TRUE(result);
    ASSERT_EQ(result->status, 200) << result->body;
    const std::string command = std::string(ZOKA_CLI_PATH) + " render Glow " + (root_ / "layer.png").string() + " " +
                                (root_ / "direct.png").string() +
                                " --set Width=12 --set Color=orange --downsample 2 --compression 1 -q";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(result->body, ReadBytes(root_ / "direct.png"));
}

TEST_F(Studio, AWorkerThatDiesIsReapedAndReplaced) {
    ASSERT_EQ(Preview({{"effect", "Glow"}, {"input", "layer.png"}})->status, 200);
    const std::vector<pid_t> first = Children();
    ASSERT_EQ(first.size(), 1u);
    kill(first[0], SIGKILL);
    int status = 0;
    for (int attempt = 0; attempt < 3 && status != 200; ++attempt) {
        status = Preview({{"effect", "Glow"}, {"input", "layer.png"}})->status;  // 503 while it is found dead
    }
    EXPECT_EQ(status, 200);
    const std::vector<pid_t> second = Children();
    ASSERT_EQ(second.size(), 1u);  // the dead one reaped: no zombie left
    EXPECT_NE(second[0], first[0]);
}

TEST_F(Studio, StoppingTheStudioEndsItsWorkerAndRemovesItsFiles) {
    ASSERT_EQ(Preview({{"effect", "Glow"}, {"input", "layer.png"}})->status, 200);
    const std::vector<pid_t> workers = Children();
    ASSERT_EQ(workers.size(), 1u);
    const std::optional<std::string> cmdline = zoka_test_proc::ReadEntry(workers[0], "cmdline");
    ASSERT_TRUE(cmdline) << "the worker ended before its command line was read";
    const std::string& words = *cmdline;
    const std::string privateFolder = words.substr(words.rfind("3,4,") + 4, words.size() - words.rfind("3,4,") - 5);
    ASSERT_TRUE(fs::is_directory(privateFolder)) << privateFolder;
    kill(pid_, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(pid_, &status, 0), pid_);
    pid_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_FALSE(fs::exists(privateFolder));
    EXPECT_FALSE(zoka_test_proc::Listed(workers[0]));  // ended and reaped
}

}  // namespace
}  // namespace zoka_cli
