// The command line run as a user runs it: the fixtures the command-line,
// image-file and animation tests share (a folder per test, zoka as a
// process, its output and status).
#pragma once

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/tiffutils.h>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/footage.h"
#include "cli/frame_request.h"
#include "images/image_files.h"
#include "tests/support/proc_entries.h"

namespace zoka_cli {
namespace testing_cli {

using namespace zoka_images;

namespace fs = std::filesystem;
using ourhost::Image;
using ourhost::Pixel;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// A run that exited 0, or the status and what it printed to stderr, which
// is what tells a failure apart on a machine where it cannot be repeated.
inline ::testing::AssertionResult Succeeded(const Outcome& run) {
    if (run.status == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "exit status " << run.status << ", stderr:\n" << run.err;
}

class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() /
                 ("zoka-cli-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }

    Outcome Zoka(const std::string& arguments) {
        const std::string err = (folder / "stderr.txt").string();
        const std::string command = std::string(ZOKA_CLI_PATH) + " " + arguments + " 2>" + err;
        Outcome run{0, "", ""};
        FILE* pipe = popen(command.c_str(), "r");
        std::array<char, 4096> buffer;
        for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) run.out.append(buffer.data(), n);
        run.status = WEXITSTATUS(pclose(pipe));
        std::ifstream in(err);
        run.err.assign(std::istreambuf_iterator<char>(in), {});
        return run;
    }
    std::string Path(const std::string& name) const { return (folder / name).string(); }
    std::string Write(const std::string& name, const Image& image) {
        std::string error;
        EXPECT_TRUE(WriteImage(Path(name), image, error)) << error;
        return Path(name);
    }
    Image Read(const std::string& name) {
        Image image;
        std::string error;
        EXPECT_TRUE(ReadImage(Path(name), image, error)) << error;
        return image;
    }
    // Files in the folder besides the test's stderr capture.
    size_t FileCount() const {
        size_t n = 0;
        for (const auto& entry : fs::directory_iterator(folder)) n += entry.path().filename() != "stderr.txt";
        return n;
    }
    fs::path folder;
};

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

inline std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 1-bit black PNG of any size, made a row at a time: small in memory and
// on disk however many pixels it has.
inline void WriteBlackPng(const std::string& path, uint32_t width, uint32_t height) {
    const std::vector<unsigned char> row(1 + (width + 7) / 8, 0);
    std::vector<unsigned char> idat;
    z_stream z{};
    deflateInit(&z, 1);
    unsigned char buffer[1 << 16];
    for (uint32_t y = 0; y < height; ++y) {
        z.next_in = const_cast<unsigned char*>(row.data());
        z.avail_in = static_cast<uInt>(row.size());
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            deflate(&z, y + 1 == height ? Z_FINISH : Z_NO_FLUSH);
            idat.insert(idat.end(), buffer, buffer + sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    std::ofstream out(path, std::ios::binary);
    const auto word = [&](uint32_t v) {
        const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
        out.write(bytes, 4);
    };
    const auto chunk = [&](const char* type, const std::vector<unsigned char>& data) {
        word(static_cast<uint32_t>(data.size()));
        out.write(type, 4);
        out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
        word(static_cast<uint32_t>(crc32(crc, data.data(), static_cast<uInt>(data.size()))));
    };
    out.write("\x89PNG\r\n\x1a\n", 8);
    const std::vector<unsigned char> header = {
        static_cast<unsigned char>(width >> 24), static_cast<unsigned char>(width >> 16),
        static_cast<unsigned char>(width >> 8),  static_cast<unsigned char>(width),
        static_cast<unsigned char>(height >> 24), static_cast<unsigned char>(height >> 16),
        static_cast<unsigned char>(height >> 8),  static_cast<unsigned char>(height), 1, 0, 0, 0, 0};
    chunk("IHDR", header);
    chunk("IDAT", idat);
    chunk("IEND", {});
}

// A GIF of a kilobyte whose screen is width x height: one 1x1 frame in a
// two-colour table, padded.
inline void WriteGifScreen(const std::string& path, uint16_t width, uint16_t height) {
    const auto low = [](uint16_t v) { return static_cast<char>(v & 0xff); };
    const auto high = [](uint16_t v) { return static_cast<char>(v >> 8); };
    std::string bytes = "GIF89a";
    bytes += {low(width), high(width), low(height), high(height), '\x80', 0, 0};
    bytes += std::string("\0\0\0\xff\xff\xff", 6);
    bytes += std::string(",\0\0\0\0\x01\0\x01\0\0\x02\x02\x4c\x01\0;", 16);
    bytes.resize(1024, '\0');
    std::ofstream(path, std::ios::binary) << bytes;
}

// Pixels that no format compresses much.
inline Image Noise(int width, int height) {
    Image image(width, height);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            image.Set(x, y, Pixel{255, uint8_t(state >> 24), uint8_t(state >> 16), uint8_t(state >> 8)});
        }
    }
    return image;
}

// zoka as a real process: forked and executed with a umask and default
// signal actions, standard output and error in files, waited for within a
// generous bound (a hang is a failure, not a stuck test run).
class CliFiles : public Cli {
protected:
    struct Run {
        int wait = -1;  // as waitpid reports it
        std::string out, err;
        int Status() const { return WIFEXITED(wait) ? WEXITSTATUS(wait) : -1; }
        size_t ErrorLines() const { return std::count(err.begin(), err.end(), '\n'); }
    };

    // argv runs as is; with limits, through sh -c "limits; exec zoka ...".
    pid_t Start(std::vector<std::string> args, const std::string& limits = "", mode_t mask = 022,
                int gate = -1) {
        args.insert(args.begin(), ZOKA_CLI_PATH);
        if (!limits.empty()) args.insert(args.begin(), {"/bin/sh", "-c", limits + "; exec \"$0\" \"$@\""});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const std::string out = Path("stdout.txt"), err = Path("stderr.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) signal(s, SIG_DFL);
            umask(mask);
            char go;
            if (gate >= 0 && read(gate, &go, 1) != 1) _exit(126);
            dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), STDERR_FILENO);
            execv(argv[0], argv.data());
            _exit(127);
        }
        return pid;
    }
    Run Finish(pid_t pid) {
        Run run;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (waitpid(pid, &run.wait, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &run.wait, 0);
                ADD_FAILURE() << "zoka did not finish";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        run.out = Contents(Path("stdout.txt"));
        run.err = Contents(Path("stderr.txt"));
        fs::remove(Path("stdout.txt"));
        fs::remove(Path("stderr.txt"));
        return run;
    }
    Run RunZoka(const std::vector<std::string>& args, const std::string& limits = "", mode_t mask = 022) {
        return Finish(Start(args, limits, mask));
    }
    // Temporary files left in the test's folder.
    std::vector<std::string> Leftovers() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().rfind(".zoka-", 0) == 0) found.push_back(entry.path());
        }
        return found;
    }
};

// ---- zoka animate: worker processes that never hang, never lose a frame
// silently, and die with their parent ----

class Animate : public Cli {
protected:
    // Starts zoka in the background (the shell execs it: the pid is zoka's).
    pid_t Launch(const std::string& arguments) {
        const std::string command = "exec " + std::string(ZOKA_CLI_PATH) + " " + arguments + " >" +
                                    Path("stdout.txt") + " 2>" + Path("stderr.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            for (const int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
            execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        return pid;
    }
    int Finish(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }
    std::string Text(const std::string& name) const {
        std::ifstream in(Path(name));
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Polls until done() or a minute has passed (a bound for a hang, not a
    // timing requirement).
    static bool Within(const std::function<bool()>& done) {
        for (int i = 0; i < 3000; ++i) {
            if (done()) return true;
            usleep(20000);
        }
        return done();
    }
    // The live (not zombie) processes whose parent is pid. Any of them may
    // end while this looks: one that does is simply not there.
    static std::vector<pid_t> ChildrenOf(pid_t pid) { return zoka_test_proc::ChildrenOf(pid, false); }
    static bool Alive(pid_t pid) {
        const std::optional<zoka_test_proc::Stat> stat = zoka_test_proc::ReadStat(pid);
        return stat && stat->state != 'Z';
    }
    static bool Stopped(pid_t pid) {
        const std::optional<zoka_test_proc::Stat> stat = zoka_test_proc::ReadStat(pid);
        return stat && stat->state == 'T';
    }
    size_t FramesWritten() const {
        size_t n = 0;
        for (const auto& entry : fs::directory_iterator(folder)) {
            n += entry.path().filename().string().starts_with("f_");
        }
        return n;
    }
    // Starts an animation of frames 0..last and waits for its two workers and
    // a first frame.
    pid_t StartLongRun(std::vector<pid_t>& workers, int last, const std::string& options = "") {
        const std::string input = Write("layer.png", Image(24, 24, Pixel{255, 90, 160, 30}));
        const pid_t parent = Launch("animate swirl " + input + " " + Path("f_%04d.png") +
                                    " --frames 0-" + std::to_string(last) + " -j 2 " + options);
        EXPECT_TRUE(Within([&] { return ChildrenOf(parent).size() == 2 && FramesWritten() > 0; }));
        workers = ChildrenOf(parent);
        return parent;
    }
    // The frames the final report names as not written.
    std::set<int> NamedMissing(const std::string& err) const {
        std::set<int> frames;
        const size_t list = err.find("were not written: ");
        if (list == std::string::npos) return frames;
        std::istringstream in(err.substr(list + 18));
        for (std::string item; std::getline(in, item, ',');) {
            int a = 0, b = 0;
            const int got = std::sscanf(item.c_str(), "%d-%d", &a, &b);
            for (int n = a; got >= 1 && n <= (got == 2 ? b : a); ++n) frames.insert(n);
        }
        return frames;
    }
    // Every missing file among 0..last is named. A worker killed between
    // putting a frame in place and reporting it leaves one more frame named
    // than missing: at most `unreported` of those.
    void ExpectMissingNamed(const std::string& err, int last, size_t unreported = 0) {
        const std::set<int> named = NamedMissing(err);
        EXPECT_FALSE(named.empty()) << err;
        size_t namedButPresent = 0;
        for (int n = 0; n <= last; ++n) {
            char name[32];
            std::snprintf(name, sizeof name, "f_%04d.png", n);
            const bool present = fs::exists(Path(name));
            EXPECT_TRUE(present || named.contains(n)) << name << " is missing but not named";
            namedButPresent += present && named.contains(n);
        }
        EXPECT_LE(namedButPresent, unreported) << err;
    }
};

// ---- What users of other image tools expect: conventions, presets, and
// frames that work as footage ------------------------------------------------

class Footage : public Cli {
protected:
    // The image's position on the page (PNG's oFFs), as other tools read it.
    static std::pair<int, int> Position(const std::string& path) {
        auto in = OIIO::ImageInput::open(path);
        if (!in) return {-99999, -99999};
        return {in->spec().x, in->spec().y};
    }
    static std::string Name(const std::string& pattern, int n) { return PathOfFrame(pattern, n); }
    // zoka with its standard streams on a terminal: what the terminal shows.
    static Outcome ZokaOnATerminal(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), ZOKA_CLI_PATH);
        std::vector<char*> argv;
        for (std::string& word : arguments) argv.push_back(word.data());
        argv.push_back(nullptr);
        int terminal = -1;
        const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (pid == 0) {
            execv(ZOKA_CLI_PATH, argv.data());
            _exit(127);
        }
        Outcome run{-1, "", ""};
        if (pid < 0) return run;
        char buffer[512];
        for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) run.out.append(buffer, static_cast<size_t>(n));
        int status = 0;
        waitpid(pid, &status, 0);
        close(terminal);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return run;
    }
    // A layer with a shape: an opaque square inside a transparent border.
    std::string Shape(const std::string& name, Pixel colour = Pixel{255, 200, 120, 40}) {
        Image image(16, 16);
        for (int y = 4; y < 12; ++y) {
            for (int x = 4; x < 12; ++x) image.Set(x, y, colour);
        }
        return Write(name, image);
    }
};

// ---- Bit depth and metadata from input to output -----------------------------

class Depth : public Footage {
protected:
    // A layer with opaque, half-transparent, faint and clear pixels.
    std::string Layer(const std::string& name) {
        Image image(12, 4);
        for (int x = 0; x < 12; ++x) {
            image.Set(x, 0, Pixel{255, uint8_t(x * 21), uint8_t(255 - x * 20), 7});
            image.Set(x, 1, Pixel{128, uint8_t(x * 19 + 3), 200, 1});
            image.Set(x, 2, Pixel{uint8_t(x + 1), 250, uint8_t(x * 17), 99});
        }
        return Write(name, image);
    }
    // The file's samples as other tools read them.
    static std::vector<uint16_t> Samples16(const std::string& path) {
        OIIO::ImageSpec straight;
        straight.attribute("oiio:UnassociatedAlpha", 1);
        OIIO::ImageBuf buffer(path, 0, 0, nullptr, &straight);
        if (!buffer.read(0, 0, true, OIIO::TypeDesc::UINT16)) return {};
        std::vector<uint16_t> samples(buffer.spec().image_pixels() * buffer.nchannels());
        buffer.get_pixels(buffer.roi(), OIIO::TypeDesc::UINT16, samples.data());
        return samples;
    }
    static OIIO::TypeDesc Stored(const std::string& path) {
        auto in = OIIO::ImageInput::open(path);
        return in ? in->spec().format : OIIO::TypeDesc::UNKNOWN;
    }
    // What oiiotool --info -v says of a file.
    std::string Info(const std::string& path) {
        std::string text;
        FILE* pipe = popen(("oiiotool --info -v " + path + " 2>&1").c_str(), "r");
        std::array<char, 4096> buffer;
        for (size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) text.append(buffer.data(), n);
        EXPECT_EQ(pclose(pipe), 0) << text;
        return text;
    }
    static bool SameImage(const Image& a, const Image& b) {
        return a.Width() == b.Width() && a.Height() == b.Height() && a.Bytes() == b.Bytes();
    }
};

}  // namespace testing_cli
}  // namespace zoka_cli
