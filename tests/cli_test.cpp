// The command line as a user runs it: images in, images out, one error line
// and a non-zero status when something goes wrong, nothing half-written.
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
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/footage.h"
#include "cli/frame_request.h"
#include "cli/image_files.h"

namespace zoka_cli {
namespace {

namespace fs = std::filesystem;
using ourhost::Image;
using ourhost::Pixel;

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

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

TEST_F(Cli, RenderWritesTheEffectsOutput) {
    const std::string input = Write("red.png", Image(3, 2, Pixel{255, 255, 0, 0}));
    const Outcome run = Zoka("render Antimatter " + input + " " + Path("out.png") + " --set Amount=50");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("out.png").At(1, 1), (Pixel{255, 127, 0, 0}));
}

TEST_F(Cli, AnExpandingEffectWritesTheLargerImageAndReportsItsOrigin) {
    const std::string input = Write("dot.png", Image(10, 10, Pixel{255, 10, 20, 30}));
    const Outcome run = Zoka("render motiontrail " + input + " " + Path("out.png") +
                         " --set Length=20 --set Direction=0 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto json = nlohmann::json::parse(run.out);
    EXPECT_EQ(json["width"], 10);
    EXPECT_EQ(json["height"], 30);
    EXPECT_EQ(json["originY"], 20);
    EXPECT_EQ(json["code"], 0);
    EXPECT_EQ(Read("out.png").Height(), 30);
}

TEST_F(Cli, DraftsShrinkTheLayerAndTheSelection) {
    const std::string input = Write("layer.png", Image(40, 20, Pixel{255, 200, 200, 200}));
    const std::string selection = Write("selection.png", Image(10, 10, Pixel{255, 0, 0, 0}));
    const Outcome run = Zoka("render antimatter " + input + " " + Path("out.png") + " --selection " +
                         selection + " --selection-origin 20,4 --downsample 2");
    ASSERT_EQ(run.status, 0) << run.err;
    const Image out = Read("out.png");
    EXPECT_EQ(out.Width(), 20);
    EXPECT_EQ(out.At(12, 4), (Pixel{255, 55, 55, 55})) << "inside the shrunk selection";
    EXPECT_EQ(out.At(5, 4), (Pixel{255, 200, 200, 200})) << "outside it";
}

TEST_F(Cli, AMissingOrCorruptInputIsOneLineAndNoOutput) {
    Outcome run = Zoka("render antimatter " + Path("none.png") + " " + Path("out.png"));
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find("none.png"), std::string::npos);
    std::ofstream(Path("corrupt.png")) << "\x89PNG\r\n\x1a\nthis is not a picture";
    run = Zoka("render antimatter " + Path("corrupt.png") + " " + Path("out.png"));
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(Cli, AModuleErrorPrintsItsMessageAndLeavesNoFile) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    Outcome run = Zoka("render antimatter " + input + " " + Path("out.png") +
                   " --inject-allocation-failure 4");
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("Not enough memory resources are available"), std::string::npos) << run.err;
    run = Zoka("render antimatter " + input + " " + Path("out.png") + " --inject-cancel 1 --json");
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(nlohmann::json::parse(run.out)["code"], 517);
    EXPECT_EQ(FileCount(), 1u) << "only the input: no output, no temporary file";
}

TEST_F(Cli, RefusedValuesAndUnknownEffectsAreUsageErrors) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    Outcome run = Zoka("render antimatter " + input + " " + Path("out.png") + " --set Amount=101");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: Antimatter: \"Amount\" takes a number from 0 to 100, not \"101\"\n");
    run = Zoka("render Nothing " + input + " " + Path("out.png"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(Cli, AnEffectNoHostListsRendersByItsNameOrKey) {
    const std::string input = Write("box.png", Image(6, 6, Pixel{255, 200, 0, 0}));
    for (const char* effect : {"\"Drop Shadow\"", "DropShadow"}) {
        const Outcome run = Zoka(std::string("render ") + effect + " " + input + " " + Path("out.png") +
                                 " --set ShadowDirection=90 --set Blur=0 --json");
        ASSERT_EQ(run.status, 0) << run.err;
        const auto json = nlohmann::json::parse(run.out);
        EXPECT_EQ(json["width"], 16);
        const Image out = Read("out.png");
        EXPECT_EQ(out.At(2, 2), (Pixel{255, 200, 0, 0}));
        EXPECT_EQ(out.At(14, 2).a, 229) << "the shadow, ten pixels right, at 90 % opacity";
    }
}

TEST_F(Cli, AnimateWritesANumberedSequence) {
    const std::string input = Write("layer.png", Image(12, 9, Pixel{255, 100, 150, 200}));
    const Outcome run = Zoka("animate antimatter " + input + " " + Path("frame_%03d.png") +
                         " --frames 3-6 -j 2 --set \"Amount=0@0;100@1\" --fps 6");
    ASSERT_EQ(run.status, 0) << run.err;
    for (int n = 3; n <= 6; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "frame_%03d.png", n);
        EXPECT_EQ(Read(name).Width(), 12) << name;
    }
    EXPECT_FALSE(fs::exists(Path("frame_002.png")));
    // Amount 50 at frame 3 (half a second): half brightness.
    EXPECT_EQ(Read("frame_003.png").At(0, 0).b, 127);
}

TEST_F(Cli, AnimateRefusesAPatternWithoutOneNumber) {
    const std::string input = Write("layer.png", Image(4, 4));
    const Outcome run = Zoka("animate antimatter " + input + " " + Path("frame%s.png") + " --frames 0-1");
    EXPECT_EQ(run.status, 2);
}

TEST_F(Cli, AnimatedHsbNoiseDriftsAtTheFlowSpeed) {
    const std::string input = Write("flat.png", Image(64, 6, Pixel{255, 180, 90, 40}));
    const Outcome run = Zoka("animate hsbnoise " + input + " " + Path("f%d.png") +
                             " --frames 0-1 --fps 1 --set FlowVelocity=20 --set FlowDirection=90");
    ASSERT_EQ(run.status, 0) << run.err;
    const Image start = Read("f0.png"), later = Read("f1.png");
    EXPECT_NE(start, later);
    int far = 0;
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 44; ++x) {
            const Pixel p = start.At(x, y), q = later.At(x + 20, y);
            for (const int d : {p.r - q.r, p.g - q.g, p.b - q.b}) far += std::abs(d) > 1;
        }
    }
    EXPECT_EQ(far, 0) << "one second later the pattern lies 20 pixels to the right";
}

TEST_F(Cli, PremultipliedAndFloatInputsBecomeStraightBytes) {
    OIIO::ImageSpec format(2, 1, 4, OIIO::TypeDesc::FLOAT);
    format.alpha_channel = 3;
    OIIO::ImageBuf buffer(format);
    const float pixels[8] = {0.5f, 0.25f, 0, 0.5f, 2.0f, -1.0f, 0.5f, 1.0f};
    buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::FLOAT, pixels);
    ASSERT_TRUE(buffer.write(Path("float.exr")));
    const Image image = Read("float.exr");
    EXPECT_EQ(image.At(0, 0), (Pixel{128, 255, 128, 0})) << "divided by its alpha";
    EXPECT_EQ(image.At(1, 0), (Pixel{255, 255, 0, 128})) << "clamped to 0..1";
}

TEST_F(Cli, GreyImagesWithoutAlphaAreOpaque) {
    OIIO::ImageBuf buffer(OIIO::ImageSpec(1, 1, 1, OIIO::TypeDesc::UINT8));
    const uint8_t grey = 90;
    buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT8, &grey);
    ASSERT_TRUE(buffer.write(Path("grey.png")));
    EXPECT_EQ(Read("grey.png").At(0, 0), (Pixel{255, 90, 90, 90}));
}

// PNG files are read by zoka itself: 16-bit values are rounded to the
// nearest 8-bit value, as every other wide input is.
TEST_F(Cli, SixteenBitPngFilesAreRoundedToEightBits) {
    std::vector<uint16_t> rgba;
    for (int v = 0; v < 65536; ++v) {
        rgba.insert(rgba.end(), {uint16_t(v), uint16_t(65535 - v), uint16_t(v ^ 0x5555), uint16_t(v)});
    }
    OIIO::ImageSpec format(256, 256, 4, OIIO::TypeDesc::UINT16);
    format.alpha_channel = 3;
    format.attribute("oiio:UnassociatedAlpha", 1);
    OIIO::ImageBuf buffer(format);
    buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT16, rgba.data());
    ASSERT_TRUE(buffer.write(Path("wide.png")));
    const auto byte = [](int v) { return uint8_t(std::lround(v * 255.0 / 65535.0)); };
    const Image image = Read("wide.png");
    for (int v = 0; v < 65536; ++v) {
        ASSERT_EQ(image.At(v % 256, v / 256), (Pixel{byte(v), byte(v), byte(65535 - v), byte(v ^ 0x5555)})) << v;
    }
}

// ---- Values the host cannot represent, output sizes and the module file ----

// Refused with one short line (no 300-digit bound) and the usage status.
TEST_F(Cli, ValuesTheHostCannotHoldAreRefusedInOneShortLine) {
    const std::string input = Write("in.png", Image(64, 48, Pixel{255, 10, 20, 30}));
    const std::string render = "render Glow " + input + " " + Path("out.png") + " ";
    for (const std::string& options :
         {"--selection " + input + " --selection-origin 65541,5",
          "--selection " + input + " --selection-origin 32768,0",
          "--selection " + input + " --selection-origin nan,0",
          "--selection " + input + " --selection-origin 0,inf", std::string("--fps 1e16"),
          std::string("--fps nan"), std::string("--fps -1e300"), std::string("--fps 0"),
          std::string("--time nan"), std::string("--time inf"), std::string("--time ''"),
          std::string("--time 1e8"), std::string("--set Width=1e300"),
          std::string("--set Width=-1e300@0")}) {
        const Outcome run = Zoka(render + options);
        EXPECT_EQ(run.status, 2) << options << ": " << run.err;
        EXPECT_LT(run.err.size(), 200u) << options << ": " << run.err;
        EXPECT_EQ(FileCount(), 1u) << options;
    }
}

// A selection far away grows the output past what our host makes: refused
// before any pixel is computed, with the limit named.
TEST_F(Cli, AnOutputBeyondTheHostsLimitIsRefusedNotBuilt) {
    const std::string input = Write("in.png", Image(64, 48, Pixel{255, 10, 20, 30}));
    const Outcome run = Zoka("render Glow " + input + " " + Path("out.png") + " --selection " +
                             input + " --selection-origin 30000,-30000");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("up to 30000 pixels on a side"), std::string::npos) << run.err;
    EXPECT_EQ(FileCount(), 1u);
    // The last frame our host computes: bounded work, and it renders.
    const Outcome late = Zoka("render \"HSB Noise\" " + input + " " + Path("late.png") +
                              " --time 33333 --set FlowVelocity=100 --set PhaseVelocity=600");
    EXPECT_EQ(late.status, 0) << late.err;
}

// A damaged module file is refused by the loader's check, not by a bus error
// when its missing pages are first touched.
TEST_F(Cli, ATruncatedModuleIsRefusedWithoutCrashing) {
    const auto size = fs::file_size(ZOKA_MODULE_PATH);
    for (const auto keep : {size / 2, size / 5, uintmax_t{64}, uintmax_t{0}}) {
        const std::string module = Path("ZOKA-ENG.so");
        fs::copy_file(ZOKA_MODULE_PATH, module, fs::copy_options::overwrite_existing);
        fs::resize_file(module, keep);
        const Outcome run = Zoka("--module " + module + " list");
        EXPECT_EQ(run.status, 1) << keep << ": " << run.err;
        EXPECT_NE(run.err.find("cannot load the module"), std::string::npos) << run.err;
    }
}

// ---- Image files: nothing lost on a full disk, out of memory or a signal;
// temporary files made safely; only regular files read ---------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 1-bit black PNG of any size, made a row at a time: small in memory and
// on disk however many pixels it has.
void WriteBlackPng(const std::string& path, uint32_t width, uint32_t height) {
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

// Pixels that no format compresses much.
Image Noise(int width, int height) {
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

TEST_F(CliFiles, AWriteThatFailsLeavesTheEarlierFileWhole) {
    const std::string input = Write("noise.png", Noise(200, 200));
    for (const char* name : {"out.png", "out.jpg"}) {
        SCOPED_TRACE(name);
        const std::string good = Write(name, Image(4, 4, Pixel{255, 9, 8, 7}));
        const std::string before = Contents(good);
        // 8 blocks of 512 or 1024 bytes, far below what the noise encodes to.
        const Run run = RunZoka({"render", "antimatter", input, good, "--json"}, "ulimit -f 8");
        EXPECT_EQ(run.Status(), 3) << run.err;
        EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
        EXPECT_NE(run.err.find("File too large"), std::string::npos) << run.err;
        const auto json = nlohmann::json::parse(run.out);
        EXPECT_EQ(json["written"], false);
        EXPECT_NE(json["error"].get<std::string>().find(name), std::string::npos);
        EXPECT_EQ(Contents(good), before) << "the earlier file is kept byte for byte";
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(CliFiles, AFullFileSystemLeavesTheEarlierFileWhole) {
    const std::string input = Write("noise.png", Noise(200, 200));
    const std::string good = Write("good.png", Image(4, 4, Pixel{255, 9, 8, 7}));
    fs::create_directories(Path("small"));
    // A private mount namespace: the small file system goes with the shell.
    const std::string script =
        "mount -t tmpfs -o size=64k none small || exit 99; cp good.png small/out.png; \"$0\" render "
        "antimatter noise.png small/out.png 2>stderr.txt; echo $? >status.txt; cmp -s good.png "
        "small/out.png && echo kept >kept.txt; ls -A small >listing.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) == 0) {
            execlp("unshare", "unshare", "-m", "sh", "-c", script.c_str(), ZOKA_CLI_PATH, nullptr);
        }
        _exit(99);
    }
    int wait = 0;
    waitpid(pid, &wait, 0);
    if (!WIFEXITED(wait) || WEXITSTATUS(wait) == 99 || !fs::exists(Path("status.txt"))) {
        GTEST_SKIP() << "no private tmpfs mount here";
    }
    EXPECT_EQ(Contents(Path("status.txt")), "3\n") << Contents(Path("stderr.txt"));
    EXPECT_NE(Contents(Path("stderr.txt")).find("No space left on device"), std::string::npos);
    EXPECT_TRUE(fs::exists(Path("kept.txt"))) << "the earlier file is kept byte for byte";
    EXPECT_EQ(Contents(Path("listing.txt")), "out.png\n") << "no temporary file";
}

TEST_F(CliFiles, TheTemporaryFileCannotBeRedirected) {
    const std::string input = Write("layer.png", Image(5, 3, Pixel{255, 40, 50, 60}));
    const std::string victim = Path("victim.txt");
    for (const mode_t mask : {mode_t{027}, mode_t{002}}) {
        std::ofstream(victim) << "precious";
        int gate[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        const pid_t pid = Start({"render", "antimatter", input, Path("out.png")}, "", mask, gate[0]);
        // Every name the process could once have used for its temporary file.
        fs::create_symlink(victim, Path(".zoka-" + std::to_string(pid) + "-out.png"));
        ASSERT_EQ(write(gate[1], "g", 1), 1);
        close(gate[0]);
        close(gate[1]);
        const Run run = Finish(pid);
        ASSERT_EQ(run.Status(), 0) << run.err;
        EXPECT_EQ(Contents(victim), "precious");
        EXPECT_EQ(Read("out.png").Width(), 5);
        const auto mode = fs::status(Path("out.png")).permissions() & fs::perms::all;
        EXPECT_EQ(static_cast<mode_t>(mode), 0666 & ~mask) << "as a plain create would give";
        fs::remove(Path(".zoka-" + std::to_string(pid) + "-out.png"));
        EXPECT_TRUE(Leftovers().empty());
    }
}

TEST_F(CliFiles, ASignalWhileWritingRemovesTheTemporaryFile) {
    // Large and noisy, so that its encoding takes long enough to be caught.
    OIIO::ImageSpec format(4000, 3000, 4, OIIO::TypeDesc::UINT8);
    format.attribute("compression", "none");
    const Image noise = Noise(format.width, format.height);
    auto output = OIIO::ImageOutput::create(Path("noise.tif"));
    ASSERT_TRUE(output->open(Path("noise.tif"), format) &&
                output->write_image(OIIO::TypeDesc::UINT8, noise.Data()) && output->close());
    const std::string good = Write("out.png", Image(4, 4, Pixel{255, 9, 8, 7}));
    const std::string before = Contents(good);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(sig));
        bool caught = false;
        for (int attempt = 0; attempt < 3 && !caught; ++attempt) {
            const pid_t pid = Start({"render", "antimatter", Path("noise.tif"), good});
            int wait = 0;
            bool ended = false;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(3);
            while (!ended && Leftovers().empty() && std::chrono::steady_clock::now() < deadline) {
                ended = waitpid(pid, &wait, WNOHANG) == pid;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (!ended) {
                kill(pid, sig);
                wait = Finish(pid).wait;
            }
            // Finished before the signal came: too quick to catch; again.
            caught = WIFSIGNALED(wait);
            if (caught) {
                EXPECT_EQ(WTERMSIG(wait), sig);
            }
            EXPECT_TRUE(Leftovers().empty());
            if (Contents(good) != before) {
                EXPECT_EQ(Read("out.png").Width(), format.width) << "replaced only by a whole file";
                std::ofstream(good, std::ios::binary) << before;
            }
        }
        EXPECT_TRUE(caught) << "the write was never caught in progress";
    }
}

TEST_F(CliFiles, AnOutputThatIsAnInputIsRefused) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 1, 2, 3}));
    const std::string before = Contents(input);
    fs::create_hard_link(input, Path("link.png"));
    fs::create_symlink(input, Path("symlink.png"));
    for (const std::string& output : {input, Path("link.png"), Path("symlink.png"), Path("./layer.png")}) {
        const Run run = RunZoka({"render", "antimatter", input, output});
        EXPECT_EQ(run.Status(), 2) << output;
        EXPECT_NE(run.err.find("is the input"), std::string::npos) << run.err;
    }
    const std::string selection = Write("selection.png", Image(2, 2, Pixel{255, 0, 0, 0}));
    EXPECT_EQ(RunZoka({"render", "antimatter", input, selection, "--selection", selection}).Status(), 2);
    fs::rename(input, Path("f7.png"));
    const Run animate = RunZoka({"animate", "antimatter", Path("f7.png"), Path("f%d.png"), "--frames", "5-9"});
    EXPECT_EQ(animate.Status(), 2);
    EXPECT_EQ(Contents(Path("f7.png")), before);
    EXPECT_FALSE(fs::exists(Path("f5.png"))) << "refused before any frame is written";
}

TEST_F(CliFiles, ALongOutputNameIsWritten) {
    const std::string input = Write("layer.png", Image(3, 2, Pixel{255, 10, 20, 30}));
    const std::string name = std::string(246, 'n') + ".png";
    const Run run = RunZoka({"render", "antimatter", input, Path(name)});
    ASSERT_EQ(run.Status(), 0) << run.err;
    EXPECT_EQ(Read(name).Width(), 3);
}

TEST_F(CliFiles, OnlyRegularFilesAreRead) {
    ASSERT_EQ(mkfifo(Path("pipe.png").c_str(), 0600), 0);
    fs::create_directories(Path("folder.png"));
    for (const std::string& input : {std::string("/dev/zero"), Path("pipe.png"), Path("folder.png")}) {
        const Run run = RunZoka({"render", "antimatter", input, Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << input;
        EXPECT_EQ(run.err, "zoka: cannot read " + input + ": it is not a regular file\n");
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(CliFiles, DamagedFilesGiveOneLine) {
    const std::string whole = Contents(Write("whole.png", Noise(64, 64)));
    std::ofstream(Path("truncated.png"), std::ios::binary) << whole.substr(0, whole.size() / 2);
    std::ofstream(Path("header.png"), std::ios::binary) << whole.substr(0, 20);
    std::ofstream(Path("text.png")) << "not a picture\n";
    std::ofstream(Path("empty.png"));
    // A header the image library throws out of instead of refusing.
    const unsigned char throwing[] = {0x47, 0x49, 0x46, 0x34, 0x34, 0x61, 0x03, 0x49, 0x49, 0x7a,
                                      0x66, 0x69, 0x6c, 0x2a, 0x00, 0x00, 0xfd, 0xff, 0xf3, 0x0e};
    std::ofstream(Path("throws.gif"), std::ios::binary)
        .write(reinterpret_cast<const char*>(throwing), sizeof throwing);
    for (const char* name : {"truncated.png", "header.png", "text.png", "empty.png", "throws.gif"}) {
        const Run run = RunZoka({"render", "antimatter", Path(name), Path("out.png")});
        EXPECT_EQ(run.Status(), 3) << name;
        EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("zoka: cannot read", 0), 0u) << run.err;
    }
    EXPECT_FALSE(fs::exists(Path("out.png")));
}

TEST_F(CliFiles, AnImageTooLargeIsRefusedFromItsHeader) {
    WriteBlackPng(Path("huge.png"), 20000, 20000);
    // Decoding it whole would take gigabytes: within 4 GB it must be refused.
    const Run run = RunZoka({"render", "antimatter", Path("huge.png"), Path("out.png")},
                          kAddressSanitizer ? "" : "ulimit -v 4000000");
    EXPECT_EQ(run.Status(), 3);
    EXPECT_EQ(run.err, "zoka: cannot use " + Path("huge.png") +
                           ": it is 20000x20000 pixels; zoka takes up to 30000 pixels a side and "
                           "134217728 pixels in all\n");
}

TEST_F(CliFiles, RunningOutOfMemoryIsAnErrorLine) {
    if (kAddressSanitizer) GTEST_SKIP() << "the address sanitizer needs more address space than the limit";
    // 64 million pixels take 256 MB a copy, and a render holds at least
    // three. zoka reads PNG files itself and starts at a few tens of MB of
    // address space.
    WriteBlackPng(Path("large.png"), 8000, 8000);
    const std::string limit = "ulimit -v 600000";
    const Run run = RunZoka({"render", "antimatter", Path("large.png"), Path("out.png")}, limit);
    EXPECT_TRUE(WIFEXITED(run.wait)) << "not killed by a signal";
    EXPECT_EQ(run.Status(), 1);
    EXPECT_EQ(run.ErrorLines(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("zoka: ", 0), 0u) << run.err;
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(CliFiles, AnAnimationThatCannotBeWrittenLeavesTheEarlierOne) {
    const std::vector<Image> frames(4, Noise(120, 90));
    std::string error;
    ASSERT_TRUE(WriteAnimation(Path("loop.gif"), {Image(2, 2, Pixel{255, 1, 1, 1})}, 10, error)) << error;
    const std::string before = Contents(Path("loop.gif"));
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = WriteAnimation(Path("loop.gif"), frames, 10, error);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(Contents(Path("loop.gif")), before);
    EXPECT_TRUE(Leftovers().empty());
    ASSERT_TRUE(WriteAnimation(Path("loop.gif"), frames, 10, error)) << error;
    OIIO::ImageBuf last(Path("loop.gif"), 3, 0);
    ASSERT_TRUE(last.read(3, 0, true, OIIO::TypeDesc::UINT8));
    EXPECT_EQ(last.spec().width, 120);
}

TEST_F(CliFiles, ThinImagesRoundTrip) {
    for (const auto& [width, height] : {std::pair{1, 1}, std::pair{1, 37}, std::pair{37, 1}}) {
        for (const char* extension : {".png", ".tif", ".exr"}) {
            const Image image = Noise(width, height);
            const std::string name =
                "thin" + std::to_string(width) + "x" + std::to_string(height) + extension;
            Write(name, image);
            EXPECT_EQ(Read(name), image) << name;
        }
    }
    const std::string input = Write("column.png", Noise(1, 37));
    ASSERT_EQ(RunZoka({"render", "antimatter", input, Path("out.png")}).Status(), 0);
    EXPECT_EQ(Read("out.png").Height(), 37);
}

TEST_F(CliFiles, EightBitFilesAreReadAsTheyAre) {
    // Every grey value under every alpha, straight (PNG) and premultiplied
    // (TIFF), and a tiled file.
    std::vector<uint8_t> pairs;
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v < 256; ++v) pairs.insert(pairs.end(), {uint8_t(v), uint8_t(a)});
    }
    for (const char* name : {"straight.png", "premultiplied.tif"}) {
        OIIO::ImageSpec format(256, 256, 2, OIIO::TypeDesc::UINT8);
        format.alpha_channel = 1;
        format.attribute("oiio:UnassociatedAlpha", std::string(name) == "straight.png");
        OIIO::ImageBuf buffer(format);
        buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT8, pairs.data());
        ASSERT_TRUE(buffer.write(Path(name)));
    }
    const Image straight = Read("straight.png"), premultiplied = Read("premultiplied.tif");
    for (int a = 0; a < 256; ++a) {
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(straight.At(v, a), (Pixel{uint8_t(a), uint8_t(v), uint8_t(v), uint8_t(v)}));
        }
    }
    EXPECT_EQ(premultiplied.At(64, 128), (Pixel{128, 128, 128, 128})) << "64 / 128 of 255, rounded";
    EXPECT_EQ(premultiplied.At(200, 100), (Pixel{100, 255, 255, 255})) << "clamped";
    EXPECT_EQ(premultiplied.At(7, 0), (Pixel{0, 0, 0, 0}));

    const Image pattern = Noise(100, 70);
    OIIO::ImageSpec tiled(100, 70, 4, OIIO::TypeDesc::UINT8);
    tiled.alpha_channel = 3;
    tiled.tile_width = tiled.tile_height = 16;
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 70; ++y) {
        for (int x = 0; x < 100; ++x) {
            const Pixel p = pattern.At(x, y);
            rgba.insert(rgba.end(), {p.r, p.g, p.b, p.a});
        }
    }
    auto output = OIIO::ImageOutput::create(Path("tiled.tif"));
    ASSERT_TRUE(output->open(Path("tiled.tif"), tiled) &&
                output->write_image(OIIO::TypeDesc::UINT8, rgba.data()) && output->close());
    EXPECT_EQ(Read("tiled.tif"), pattern);
}

// Listing, inspecting and rendering PNG files never load the image library
// (and its libraries); other formats load it when they are met.
TEST_F(CliFiles, OnlyOtherFormatsLoadTheImageLibrary) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 1, 2, 3}));
    const auto loads = [&](const std::vector<std::string>& arguments) {
        const Run run = RunZoka(arguments, "export LD_DEBUG=files");
        EXPECT_EQ(run.Status(), 0) << arguments[0];
        return run.err.find("zoka-images.so") != std::string::npos;
    };
    EXPECT_FALSE(loads({"list"}));
    EXPECT_FALSE(loads({"params", "glass"}));
    EXPECT_FALSE(loads({"render", "antimatter", input, Path("out.png")}));
    EXPECT_TRUE(loads({"render", "antimatter", input, Path("out.tif")}));
    EXPECT_EQ(Read("out.tif"), Read("out.png"));
}

// The zlib level changes the file, never the pixels.
TEST_F(CliFiles, CompressionLevelsKeepThePixels) {
    const std::string input = Write("layer.png", Noise(64, 48));
    for (const char* level : {"0", "9"}) {
        const Outcome run = Zoka("render antimatter " + input + " " + Path(std::string("out") + level + ".png") +
                                 " --compression " + level);
        EXPECT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(Read("out0.png"), Read("out9.png"));
    EXPECT_GT(fs::file_size(Path("out0.png")), fs::file_size(Path("out9.png")));
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("out.png") + " --compression 10").status, 2);
    EXPECT_EQ(Zoka("animate antimatter " + input + " " + Path("f%d.png") + " --frames 0-1 --compression 9").status,
              0);
    EXPECT_EQ(Read("f1.png"), Read("out9.png"));
}

// GIF readers name an alpha channel past the last one: each pixel's alpha
// is its own, not the next pixel's red.
TEST_F(CliFiles, AGifsPixelsAreReadWhole) {
    OIIO::ImageSpec format(3, 1, 4, OIIO::TypeDesc::UINT8);
    format.alpha_channel = 3;
    OIIO::ImageBuf buffer(format);
    const uint8_t pixels[12] = {255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 255};
    buffer.set_pixels(buffer.roi(), OIIO::TypeDesc::UINT8, pixels);
    ASSERT_TRUE(buffer.write(Path("dots.gif")));
    const Image image = Read("dots.gif");
    EXPECT_EQ(image.At(0, 0), (Pixel{255, 255, 0, 0}));
    EXPECT_EQ(image.At(1, 0), (Pixel{255, 0, 0, 0})) << "written opaque: GIF keeps no partial alpha";
    EXPECT_EQ(image.At(2, 0), (Pixel{255, 0, 0, 255}));
}

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
    // The live (not zombie) processes whose parent is pid.
    static std::vector<pid_t> ChildrenOf(pid_t pid) {
        std::vector<pid_t> children;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos) continue;
            char state = 0;
            pid_t parent = 0;
            if (Stat(std::stoi(name), state, parent) && parent == pid && state != 'Z') {
                children.push_back(std::stoi(name));
            }
        }
        return children;
    }
    static bool Alive(pid_t pid) {
        char state = 0;
        pid_t parent = 0;
        return Stat(pid, state, parent) && state != 'Z';
    }
    static bool Stopped(pid_t pid) {
        char state = 0;
        pid_t parent = 0;
        return Stat(pid, state, parent) && state == 'T';
    }
    static bool Stat(pid_t pid, char& state, pid_t& parent) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        const std::string line((std::istreambuf_iterator<char>(in)), {});
        const size_t name = line.rfind(')');
        return name != std::string::npos &&
               std::sscanf(line.c_str() + name + 1, " %c %d", &state, &parent) == 2;
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

TEST_F(Animate, ShortRunsNeverHang) {
    // Large enough for the image library to read it with its thread pool.
    const std::string input = Write("layer.png", Image(256, 256, Pixel{255, 100, 150, 200}));
    for (const int jobs : {1, 2}) {
        for (int run = 0; run < 12; ++run) {
            const std::string command = "timeout -s KILL 120 " + std::string(ZOKA_CLI_PATH) +
                                        " animate antimatter " + input + " " + Path("f_%d.png") +
                                        " --frames 0-5 -j " + std::to_string(jobs) + " >/dev/null";
            const int status = std::system(command.c_str());
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
                << "run " << run << " at -j " << jobs << " ended with " << status;
        }
    }
}

TEST_F(Animate, TheFinalLineCountsFramesWorkersAndMemory) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") + " --frames 7");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(Path("f_7.png")));
    int megabytes = 0;
    EXPECT_EQ(std::sscanf(run.out.c_str(),
                          "1 frame written (1 worker, peak memory per worker %d MB)", &megabytes),
              1)
        << run.out;
    EXPECT_GT(megabytes, 0);
    EXPECT_TRUE(run.out.ends_with(" MB)\n")) << run.out;
    run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") + " --frames 0-4 -j 3");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("5 frames written (3 workers, peak memory per worker "))
        << run.out;
}

TEST_F(Animate, FrameRangesAndJobCountsOutsideTheirBoundsAreRefused) {
    const std::string input = Write("layer.png", Image(4, 4));
    for (const char* range : {"-", "0-", "", "5-4", "+1", " 1", "1-2-3", "1.5", "0-1000001",
                              "99999999999999999999"}) {
        const Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") +
                                 " --frames \"" + range + "\"");
        EXPECT_EQ(run.status, 2) << "--frames \"" << range << "\"";
        EXPECT_NE(run.err.find("--frames takes A or A-B"), std::string::npos) << run.err;
    }
    const std::string animate = "animate antimatter " + input + " " + Path("f_%d.png");
    Outcome run = Zoka(animate + " --frames 0-1 -j 100000");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("-j takes at most"), std::string::npos) << run.err;
    // Checked by the first worker alone: one line, not one per worker.
    run = Zoka(animate + " --frames 0-9 -j 4 --set Amount=101");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: Antimatter: \"Amount\" takes a number from 0 to 100, not \"101\"\n");
    EXPECT_EQ(FileCount(), 1u) << "nothing written";
}

TEST_F(Animate, AFrameThatCannotBeWrittenIsAFileErrorNamingTheFramesLeft) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    fs::create_directory(Path("f_0007.png"));  // in the way of frame 7
    Outcome run =
        Zoka("animate antimatter " + input + " " + Path("f_%04d.png") + " --frames 0-19 -j 2");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.out, "");
    fs::remove(Path("f_0007.png"));
    ExpectMissingNamed(run.err, 19);
    EXPECT_TRUE(NamedMissing(run.err).contains(7));
    EXPECT_TRUE(fs::exists(Path("f_0008.png"))) << "the other worker went on";

    // Past the file-size limit (8 KB; a frame of noise is larger): the write
    // fails or the worker is killed by SIGXFSZ, a file error either way.
    const std::string big = Write("big.png", Image(200, 200, Pixel{255, 1, 2, 3}));
    const int limited = std::system(("sh -c 'ulimit -f 16; exec " + std::string(ZOKA_CLI_PATH) +
                                     " animate hsbnoise " + big + " " + Path("h_%04d.png") +
                                     " --frames 0-3 -j 2 >/dev/null 2>&1'")
                                        .c_str());
    EXPECT_TRUE(WIFEXITED(limited) && WEXITSTATUS(limited) == 3) << limited;
    EXPECT_FALSE(fs::exists(Path("h_0000.png")));
}

TEST_F(Animate, AKilledWorkerIsNamedWithTheFramesItLeft) {
    std::vector<pid_t> workers;
    const pid_t parent = StartLongRun(workers, 1999);
    ASSERT_EQ(workers.size(), 2u);
    kill(workers[0], SIGKILL);
    const int status = Finish(parent);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("was killed by signal 9"), std::string::npos) << err;
    EXPECT_EQ(Text("stdout.txt"), "") << "no success line";
    ExpectMissingNamed(err, 1999, 1);
}

TEST_F(Animate, AWorkerThatMakesNoProgressIsStoppedAndNamed) {
    std::vector<pid_t> workers;
    const pid_t parent = StartLongRun(workers, 1999, "--frame-timeout 3");
    ASSERT_EQ(workers.size(), 2u);
    kill(workers[1], SIGSTOP);
    const int status = Finish(parent);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("wrote no frame in 3 seconds and was stopped"), std::string::npos) << err;
    ExpectMissingNamed(err, 1999, 1);
    EXPECT_FALSE(Alive(workers[1]));
}

TEST_F(Animate, WorkersDieWithTheirParentAndPublishNothingAfter) {
    for (const int signal : {SIGTERM, SIGKILL, SIGHUP}) {
        // Far more frames than the workers could render within the wait below.
        std::vector<pid_t> workers;
        const pid_t parent = StartLongRun(workers, 999999);
        ASSERT_EQ(workers.size(), 2u) << strsignal(signal);
        // Held still, most likely inside a frame, so that the count below is
        // final: a worker that outlived its parent would finish that frame
        // once continued.
        for (const pid_t w : workers) kill(w, SIGSTOP);
        EXPECT_TRUE(Within([&] { return Stopped(workers[0]) && Stopped(workers[1]); }));
        const size_t frames = FramesWritten();
        kill(parent, signal);
        const int status = Finish(parent);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << strsignal(signal);
        for (const pid_t w : workers) kill(w, SIGCONT);
        EXPECT_TRUE(Within([&] { return !Alive(workers[0]) && !Alive(workers[1]); }))
            << strsignal(signal) << ": a worker outlived its parent";
        EXPECT_EQ(FramesWritten(), frames) << strsignal(signal) << ": a frame appeared afterwards";
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename() != "layer.png") fs::remove(entry.path());
        }
    }
}

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

TEST(FootageText, FrameListsShardsPatternsAndCanvases) {
    EXPECT_EQ(ParseFrameList("3"), (std::vector<int32_t>{3}));
    EXPECT_EQ(ParseFrameList("10-20x5,1,12,10"), (std::vector<int32_t>{1, 10, 12, 15, 20}));
    EXPECT_EQ(ParseFrameList("999998-1000000x7"), (std::vector<int32_t>{999998}));
    EXPECT_EQ(ParseFrameList("0-1000000")->size(), 1000001u);
    EXPECT_EQ(FramesOfShard({1, 10, 12, 15, 20}, Shard{2, 2}), (std::vector<int32_t>{10, 15}));
    EXPECT_TRUE(FramesOfShard({1, 2}, Shard{3, 4}).empty());
    EXPECT_EQ(PathOfFrame("a/in_#.png", 7), "a/in_0007.png");
    EXPECT_EQ(PathOfFrame("in_%d_%03d.png", 7), "in_%d_%03d.png") << "two numbers: no pattern";
    EXPECT_EQ(PathOfFrame("take#1#.png", 7), "take#1#.png");
    EXPECT_EQ(PathOfFrame("f%012d", 5), "f000000000005");
    EXPECT_FALSE(IsFramePattern("f%013d"));
    const auto canvas = ParseCanvas("300x200-50+7");
    ASSERT_TRUE(canvas);
    EXPECT_EQ(canvas->rect.x, -50);
    EXPECT_EQ(canvas->rect.y, 7);
    EXPECT_EQ(canvas->rect.width, 300);
    const CanvasRect both = Union(CanvasRect{-5, 0, 10, 10}, CanvasRect{0, -3, 20, 4});
    EXPECT_EQ(both.x, -5);
    EXPECT_EQ(both.y, -3);
    EXPECT_EQ(both.width, 25);
    EXPECT_EQ(both.height, 13);
    // Placing: the input's top-left at 2,1 in a 4x3 frame, onto a canvas
    // from -1,-1 of 4x4: frame pixel (1,0) lands at canvas (0,0).
    Image frame(4, 3);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) frame.Set(x, y, Pixel{255, uint8_t(x), uint8_t(y), 0});
    }
    const Image placed = PlaceOnCanvas(frame, 2, 1, CanvasRect{-1, -1, 4, 4});
    EXPECT_EQ(placed.At(0, 0), (Pixel{255, 1, 0, 0}));
    EXPECT_EQ(placed.At(2, 2), (Pixel{255, 3, 2, 0}));
    EXPECT_EQ(placed.At(3, 0).a, 0) << "beyond the frame";
    EXPECT_EQ(placed.At(0, 3).a, 0);
}

TEST_F(Footage, VersionUnknownCommandsAndQuietAndVerboseRenders) {
    Outcome run = Zoka("--version");
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.out.starts_with("zoka 3.")) << run.out;
    run = Zoka("rendr Glow a.png b.png");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.find("zoka: unknown command \"rendr\"; the commands are list, about, params"), 0u) << run.err;
    EXPECT_NE(run.err.find("render, animate"), std::string::npos) << run.err;
    EXPECT_EQ(Zoka("--module " + std::string(ZOKA_MODULE_PATH) + " list").status, 0) << "an option's value is no command";

    const std::string input = Shape("in.png");
    run = Zoka("render antimatter " + input + " " + Path("out.png") + " -q");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "");
    run = Zoka("render antimatter " + input + " " + Path("out.png") + " -v");
    EXPECT_NE(run.out.find("16x16"), std::string::npos);
    EXPECT_NE(run.err.find("rendered in "), std::string::npos) << run.err;
    // A write that fails is a file error, quiet or not.
    run = Zoka("render antimatter " + input + " " + Path("none/out.png") + " -q");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

TEST_F(Footage, CheckboxesGoByTheirTextAndColoursByName) {
    Outcome run = Zoka("params cutout");
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("SolidFill                \"Solid Fill\""), std::string::npos) << run.out;
    const std::string input = Shape("in.png");
    ASSERT_EQ(Zoka("render cutout " + input + " " + Path("a.png") + " --set SolidFill=off").status, 0);
    ASSERT_EQ(Zoka("render cutout " + input + " " + Path("b.png") + " --set \"solid fill=off\"").status, 0);
    ASSERT_EQ(Zoka("render cutout " + input + " " + Path("c.png")).status, 0);
    EXPECT_EQ(Read("a.png"), Read("b.png"));
    EXPECT_NE(Read("a.png"), Read("c.png"));
    run = Zoka("render cutout " + input + " " + Path("d.png") + " --set SolidFill=maybe");
    EXPECT_EQ(run.err, "zoka: Cutout: \"Solid Fill\" takes on or off, not \"maybe\"\n");

    for (const auto& [given, shown] : std::vector<std::pair<std::string, std::string>>{
             {"orange", "#FFA500"}, {"Grey", "#808080"}, {"gray", "#808080"}, {"#f80", "#FF8800"},
             {"#0a0B0c", "#0A0B0C"}, {"1,2,3", "#010203"}, {"magenta", "#FF00FF"}}) {
        run = Zoka("params glow --json --set Color=" + given);
        ASSERT_EQ(run.status, 0) << given << ": " << run.err;
        EXPECT_EQ(nlohmann::json::parse(run.out)[4]["value"], shown) << given;
    }
    for (const char* refused : {"#ff", "#12345", "#ggg", "ultraviolet", "256,0,0"}) {
        run = Zoka(std::string("params glow --set \"Color=") + refused + "\"");
        EXPECT_EQ(run.status, 2) << refused;
        EXPECT_NE(run.err.find("#RGB"), std::string::npos) << run.err;
    }
}

// The table's columns line up as a terminal shows them, "°" included.
TEST_F(Footage, ParamsTableColumnsLineUpWithUnitSigns) {
    const Outcome run = Zoka("params star");
    ASSERT_EQ(run.status, 0);
    const auto column = [](const std::string& line, const std::string& word) {
        const std::string before = line.substr(0, line.find(word));
        return std::count_if(before.begin(), before.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; });
    };
    std::istringstream lines(run.out);
    std::string header, line;
    std::getline(lines, header);
    int checked = 0;
    while (std::getline(lines, line)) {
        for (const char* kind : {" angle ", " point ", " colour "}) {
            if (line.find(kind) == std::string::npos) continue;
            EXPECT_EQ(column(line, kind), column(header, " kind")) << line;
            ++checked;
        }
    }
    EXPECT_GE(checked, 3);
}

TEST_F(Footage, AboutTextIsLinesAndThePiplIsNotWrittenToATerminal) {
    Outcome run = Zoka("about glow");
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("Release \n\n"), std::string::npos) << run.out;
    run = Zoka("about glow --raw");
    EXPECT_NE(run.out.find("Release \r\r"), std::string::npos);

    const Outcome shown = ZokaOnATerminal({"pipl", "star"});
    EXPECT_EQ(shown.status, 2);
    EXPECT_EQ(shown.out, "zoka: the PiPL resource is binary: redirect it to a file (zoka pipl Star > Star.pipl)\r\n");
}

TEST_F(Footage, TheListSaysWhichEffectsRender) {
    const Outcome run = Zoka("list --json");
    ASSERT_EQ(run.status, 0);
    const auto all = nlohmann::json::parse(run.out);
    ASSERT_EQ(all.size(), 21u);
    for (const auto& effect : all) EXPECT_TRUE(effect["renders"].get<bool>()) << effect["name"];
    EXPECT_NE(Zoka("list").out.find("not registered  renders"), std::string::npos);
}

TEST_F(Footage, PresetsAreWhatParamsPrintsAndSetOverridesThem) {
    const std::string input = Shape("in.png");
    Outcome run = Zoka("params glow --json --set Width=7 --set \"Color=#00FF00@0;blue@1\"");
    ASSERT_EQ(run.status, 0) << run.err;
    std::ofstream(Path("glow.json")) << run.out;
    const std::string render = "render glow " + input + " ";
    ASSERT_EQ(Zoka(render + Path("set.png") + " --time 0.5 --set Width=7 --set \"Color=#00FF00@0;blue@1\"").status, 0);
    run = Zoka(render + Path("preset.png") + " --time 0.5 --preset " + Path("glow.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("preset.png"), Read("set.png"));
    ASSERT_EQ(Zoka(render + Path("over.png") + " --preset " + Path("glow.json") + " --set Width=3").status, 0);
    ASSERT_EQ(Zoka(render + Path("plain.png") + " --set Width=3 --set \"Color=#00FF00@0;blue@1\"").status, 0);
    EXPECT_EQ(Read("over.png"), Read("plain.png")) << "--set after the preset";
    // By hand: an object of keys or labels.
    std::ofstream(Path("hand.json")) << R"j({"Width (pixels)": 3, "Color": "#00FF00@0;blue@1"})j";
    ASSERT_EQ(Zoka(render + Path("hand.png") + " --preset " + Path("hand.json")).status, 0);
    EXPECT_EQ(Read("hand.png"), Read("plain.png"));

    std::ofstream(Path("bad.json")) << "{\"Width\": ";
    run = Zoka(render + Path("x.png") + " --preset " + Path("bad.json"));
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("is not JSON"), std::string::npos) << run.err;
    std::ofstream(Path("wide.json")) << R"({"Width": 5000})";
    EXPECT_EQ(Zoka(render + Path("x.png") + " --preset " + Path("wide.json")).status, 2);
    EXPECT_EQ(Zoka(render + Path("x.png") + " --preset " + Path("none.json")).status, 3);
    EXPECT_FALSE(fs::exists(Path("x.png")));
}

TEST_F(Footage, FrameListsStartTimesAndProgress) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 100, 150, 200}));
    Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%02d.png") +
                       " --frames 1-9x4,3,3 --fps 2 --start 10 --set \"Amount=0@10;100@12\" -v");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("4 frames written")) << run.out;
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"layer.png", "stderr.txt", "f_01.png", "f_03.png", "f_05.png", "f_09.png"}));
    // Frame 1 is the range's first, at 10 s; frame 3 one second later: Amount 50.
    EXPECT_EQ(Read("f_01.png").At(0, 0).b, 200);
    EXPECT_EQ(Read("f_03.png").At(0, 0).b, 127);
    // -v: a progress line per frame with the rate and the time left, even into a file.
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 4) << run.err;
    EXPECT_NE(run.err.find("4/4 frames, "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(" frames/s, 0 s left"), std::string::npos) << run.err;
    run = Zoka("animate antimatter " + input + " " + Path("f_%02d.png") + " --frames 1 -q");
    EXPECT_EQ(run.out + run.err, "");
    for (const char* frames : {"1,", ",1", "1-9x0", "1-9x", "9-1x2", "1x2", "0-1000001x1000"}) {
        run = Zoka("animate antimatter " + input + " " + Path("g_%02d.png") + " --frames " + frames);
        EXPECT_EQ(run.status, 2) << frames;
    }
    for (const char* shard : {"0/2", "3/2", "1", "1/0", "a/b"}) {
        EXPECT_EQ(Zoka("animate antimatter " + input + " " + Path("g_%02d.png") + " --frames 1 --shard " + shard).status, 2)
            << shard;
    }
}

TEST_F(Footage, SkipExistingLeavesFramesInPlaceAndCountsThem) {
    const std::string input = Write("layer.png", Image(6, 4, Pixel{255, 100, 150, 200}));
    const Image marker(2, 2, Pixel{255, 1, 2, 3});
    Write("f_2.png", marker);
    std::ofstream(Path("f_3.png")).flush();  // empty: no frame
    const Outcome run = Zoka("animate antimatter " + input + " " + Path("f_%d.png") + " --frames 0-4 -j 2 --skip-existing");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("4 frames written, 1 skipped (2 workers, ")) << run.out;
    EXPECT_EQ(Read("f_2.png"), marker);
    EXPECT_EQ(Read("f_4.png").Width(), 6);
    EXPECT_EQ(Read("f_3.png").Width(), 6);
}

// A trail whose length is keyframed grows the layer differently each frame:
// animate writes every frame at one size holding them all, placed alike.
TEST_F(Footage, AnimatedFramesShareOneCanvasThatHoldsEveryFrame) {
    const std::string input = Shape("in.png");
    const std::string trail = " --set \"Length=0@0;30@1\" --set Direction=90 --fps 4 ";
    Outcome run = Zoka("animate motiontrail " + input + " " + Path("f_#.png") + " --frames 0-4" + trail);
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<std::pair<int, int>> sizes;
    for (int n = 0; n <= 4; ++n) {
        run = Zoka("render motiontrail " + input + " " + Path(Name("r_%d.png", n)) + trail + "--time " +
                   std::to_string(n / 4.0) + " --json");
        const auto json = nlohmann::json::parse(run.out);
        const Image frame = Read(Name("f_%04d.png", n)), alone = Read(Name("r_%d.png", n));
        EXPECT_EQ(frame.Width(), 16 + 30);
        EXPECT_EQ(frame.Height(), 16);
        EXPECT_EQ(Position(Path(Name("f_%04d.png", n))), std::make_pair(0, 0)) << "the trail grows to the right";
        // The same pixels as the frame rendered alone, at the same place.
        for (int x = 0; x < alone.Width(); ++x) {
            ASSERT_EQ(frame.At(x - json["originX"].get<int>(), 8), alone.At(x, 8)) << n << ", " << x;
        }
        for (int x = alone.Width() - json["originX"].get<int>(); x < frame.Width(); ++x) {
            ASSERT_EQ(frame.At(x, 8).a, 0) << n << ", " << x;
        }
        sizes.emplace_back(alone.Width(), alone.Height());
    }
    EXPECT_NE(sizes.front(), sizes.back()) << "alone, the frames change size";

    // Growing left and up: the position goes into the file.
    run = Zoka("render motiontrail " + input + " " + Path("left.png") + " --set Length=10 --set Direction=-45");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto [x, y] = Position(Path("left.png"));
    EXPECT_LT(x, 0);
    EXPECT_LT(y, 0);
    EXPECT_NE(run.out.find("the layer's top-left at " + std::to_string(-x) + "," + std::to_string(-y)), std::string::npos)
        << run.out;

    // The input's frame, or an explicit canvas placed from the input's top-left.
    run = Zoka("render motiontrail " + input + " " + Path("input.png") + " --set Length=10 --canvas input --json");
    EXPECT_EQ(nlohmann::json::parse(run.out)["width"], 16);
    EXPECT_EQ(Read("input.png").Width(), 16);
    EXPECT_EQ(Position(Path("input.png")), std::make_pair(0, 0));
    ASSERT_EQ(Zoka("render antimatter " + input + " " + Path("box.png") + " --canvas 20x10-2+3").status, 0);
    const Image box = Read("box.png");
    EXPECT_EQ(box.Width(), 20);
    EXPECT_EQ(box.Height(), 10);
    EXPECT_EQ(Position(Path("box.png")), std::make_pair(-2, 3));
    EXPECT_EQ(box.At(6, 1).a, 255) << "input pixel 4,4";
    EXPECT_EQ(box.At(5, 1).a, 0) << "input pixel 3,4";
    EXPECT_EQ(box.At(19, 9).a, 0) << "beyond the input";
    for (const char* refused : {"big", "20x10", "20x10+1", "0x10+0+0", "20x10+0+0+0", "40000x10+0+0"}) {
        run = Zoka("render antimatter " + input + " " + Path("no.png") + " --canvas " + refused);
        EXPECT_EQ(run.status, 2) << refused;
    }
    // animate --canvas grown: each frame its own size, as render makes it.
    ASSERT_EQ(Zoka("animate motiontrail " + input + " " + Path("g_#.png") + " --frames 0,4 --canvas grown" + trail).status, 0);
    EXPECT_EQ(Read("g_0000.png"), Read("r_0.png"));
    EXPECT_EQ(Read("g_0004.png"), Read("r_4.png"));
}

// Shards run as separate processes (as on separate machines) make the same
// files as one run of the whole range.
// A sequence whose layer grows over the range goes into a video of one size
// without rescaling: ffmpeg makes a lossless video of the frames, and its
// frames decoded again are the files, pixel for pixel.
TEST_F(Footage, AGrowingSequenceBecomesAVideoOfOneSize) {
    if (std::system("command -v ffmpeg > /dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const std::string input = Shape("in.png");
    const Outcome run = Zoka("animate motiontrail " + input + " " + Path("f_#.png") +
                             " --frames 0-5 --fps 4 --set \"Length=0@0;30@1\" --set Direction=135");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string video = Path("trail.mkv");
    ASSERT_EQ(std::system(("ffmpeg -v error -y -framerate 4 -i " + Path("f_%04d.png") + " -c:v ffv1 -pix_fmt bgra " +
                           video + " && ffmpeg -v error -y -i " + video + " -pix_fmt rgba " + Path("d_%04d.png"))
                              .c_str()),
              0);
    for (int n = 0; n <= 5; ++n) {
        const Image frame = Read(Name("f_%04d.png", n));
        EXPECT_GT(frame.Width(), 16) << "the canvas holds the longest trail";
        EXPECT_TRUE(Read(Name("d_%04d.png", n + 1)) == frame) << "frame " << n;
    }
}

// OpenEXR keeps the layer's place as its data window on the input's frame,
// the display window, as PNG keeps it in its offset chunk.
TEST_F(Footage, ExrFilesPlaceTheGrownLayerOnTheInputsFrame) {
    const std::string input = Shape("in.png");
    for (const char* name : {"left.png", "left.exr"}) {
        const Outcome run = Zoka("render motiontrail " + input + " " + Path(name) + " --set Length=10 --set Direction=-45");
        ASSERT_EQ(run.status, 0) << run.err;
    }
    const auto [x, y] = Position(Path("left.png"));
    EXPECT_LT(x, 0);
    EXPECT_EQ(Position(Path("left.exr")), std::make_pair(x, y));
    auto exr = OIIO::ImageInput::open(Path("left.exr"));
    ASSERT_TRUE(exr);
    EXPECT_EQ(exr->spec().full_x, 0);
    EXPECT_EQ(exr->spec().full_width, 16) << "the input's frame";
    EXPECT_EQ(exr->spec().full_height, 16);
}

TEST(FootageText, KeyframesAtFrameNumbersAreSecondsAtTheRate) {
    EXPECT_EQ(KeyframesInSeconds("Length=0@0f;120@48f", 24), "Length=0@0;120@2");
    EXPECT_EQ(KeyframesInSeconds("Length=0@0;120@2.5", 24), "Length=0@0;120@2.5");
    EXPECT_EQ(KeyframesInSeconds("Opacity=50@1f;80@1.5", 4), "Opacity=50@0.25;80@1.5");
    EXPECT_EQ(KeyframesInSeconds("Color=red", 24), "Color=red");
    EXPECT_EQ(KeyframesInSeconds("Length=5@1e3f;7@f;9@-2f", 24), "Length=5@1e3f;7@f;9@-2f") << "left for the parser to refuse";
}

TEST_F(Footage, KeyframesAtFrameNumbersRenderAsTheirSeconds) {
    const std::string input = Shape("in.png");
    for (const auto& [name, keys] : {std::pair{"frames.png", "Length=0@0f;40@8f"}, std::pair{"seconds.png", "Length=0@0;40@2"}}) {
        const Outcome run = Zoka("render motiontrail " + input + " " + Path(name) + " --fps 4 --time 1 --set \"" +
                                 keys + "\" --set Direction=90");
        ASSERT_EQ(run.status, 0) << run.err;
    }
    EXPECT_TRUE(Read("frames.png") == Read("seconds.png"));
    EXPECT_GT(Read("frames.png").Width(), 16 + 10) << "halfway: a trail of 20 pixels";
}

TEST_F(Footage, ShardsMakeTheFramesOfOneRun) {
    const std::string input = Shape("in.png");
    const std::string options = " --frames 0-10 --fps 5 --set \"Length=0@0;20@2\" --set Direction=200";
    ASSERT_EQ(Zoka("animate motiontrail " + input + " " + Path("one_%02d.png") + options + " -j 1").status, 0);
    std::vector<FILE*> shards;
    for (int i = 1; i <= 3; ++i) {
        const std::string command = std::string(ZOKA_CLI_PATH) + " animate motiontrail " + input + " " +
                                    Path("part_%02d.png") + options + " -j 1 --shard " + std::to_string(i) + "/3 >/dev/null";
        shards.push_back(popen(command.c_str(), "r"));
    }
    for (FILE* shard : shards) EXPECT_EQ(pclose(shard), 0);
    for (int n = 0; n <= 10; ++n) {
        EXPECT_EQ(Contents(Path(Name("part_%02d.png", n))), Contents(Path(Name("one_%02d.png", n)))) << n;
    }
    const Outcome run = Zoka("animate motiontrail " + input + " " + Path("s_%02d.png") + options + " --shard 2/3");
    EXPECT_TRUE(run.out.starts_with("4 frames written")) << run.out;
    EXPECT_TRUE(fs::exists(Path("s_01.png")) && fs::exists(Path("s_10.png")) && !fs::exists(Path("s_02.png")));
}

// The README's example, on this machine: GNU parallel runs the shards.
TEST_F(Footage, GnuParallelRunsTheShards) {
    if (std::system("command -v parallel >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    const std::string input = Shape("in.png");
    const std::string options = " --frames 0-7 --fps 4 --set \"Length=0@0;20@2\" --set Direction=20 -j 1";
    ASSERT_EQ(Zoka("animate motiontrail " + input + " " + Path("one_%04d.png") + options).status, 0);
    const std::string command = "parallel --will-cite -q " + std::string(ZOKA_CLI_PATH) + " animate motiontrail " +
                                input + " " + Path("part_%04d.png") + options +
                                " --shard {}/3 ::: 1 2 3 >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (int n = 0; n <= 7; ++n) {
        EXPECT_EQ(Contents(Path(Name("part_%04d.png", n))), Contents(Path(Name("one_%04d.png", n)))) << n;
    }
}

// An input without alpha that stays opaque comes out without alpha; formats
// without alpha get the image over the background, not its bare colours.
TEST_F(Footage, ChannelsFollowTheInputAndJpegsGetABackground) {
    OIIO::ImageBuf rgb(OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT8));
    const std::vector<uint8_t> pixels(8 * 8 * 3, 90);
    rgb.set_pixels(rgb.roi(), OIIO::TypeDesc::UINT8, pixels.data());
    ASSERT_TRUE(rgb.write(Path("rgb.png")));
    const auto channels = [](const std::string& path) {
        auto in = OIIO::ImageInput::open(path);
        return in ? in->spec().nchannels : 0;
    };
    ASSERT_EQ(Zoka("render antimatter " + Path("rgb.png") + " " + Path("rgb_out.png")).status, 0);
    EXPECT_EQ(channels(Path("rgb_out.png")), 3);
    EXPECT_EQ(Read("rgb_out.png").At(3, 3), (Pixel{255, 165, 165, 165}));
    ASSERT_EQ(Zoka("render motiontrail " + Path("rgb.png") + " " + Path("grown.png") + " --set Length=5").status, 0);
    EXPECT_EQ(channels(Path("grown.png")), 4) << "the trail leaves transparent corners";
    const std::string shape = Shape("shape.png");
    ASSERT_EQ(Zoka("render antimatter " + shape + " " + Path("shape_out.png")).status, 0);
    EXPECT_EQ(channels(Path("shape_out.png")), 4);

    Image halfClear(8, 8, Pixel{0, 250, 10, 10});
    for (int x = 0; x < 4; ++x) {
        for (int y = 0; y < 8; ++y) halfClear.Set(x, y, Pixel{255, 10, 10, 250});
    }
    const std::string input = Write("half.png", halfClear);
    ASSERT_EQ(Zoka("render antimatter " + input + " " + Path("black.jpg") + " --set Amount=0").status, 0);
    ASSERT_EQ(Zoka("render antimatter " + input + " " + Path("white.jpg") + " --set Amount=0 --background white").status, 0);
    const Image black = Read("black.jpg"), white = Read("white.jpg");
    EXPECT_LT(black.At(7, 4).r, 20) << "not the transparent pixels' own red";
    EXPECT_GT(white.At(7, 4).g, 235);
    EXPECT_GT(black.At(0, 4).b, 220) << "opaque pixels as they are";
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("x.jpg") + " --background ultraviolet").status, 2);
}

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

// 16-bit inputs give 16-bit outputs holding the 8-bit render's values v as
// v * 257; float and half EXRs give back the values they were written from.
TEST_F(Depth, OutputsKeepTheInputsDepthOrTheOneAsked) {
    const std::string in8 = Layer("in8.png");
    ASSERT_EQ(Zoka("render antimatter " + in8 + " " + Path("in16.png") + " --set Amount=0 -d uint16").status, 0);
    const std::vector<uint16_t> in16 = Samples16(Path("in16.png"));
    EXPECT_EQ(Stored(Path("in16.png")), OIIO::TypeDesc::UINT16);
    ASSERT_EQ(in16.size(), 12u * 4 * 4);
    EXPECT_EQ(in16[4 * 12 + 3], 128 * 257) << "the half-transparent alpha";
    // The same two renders at 8 bits.
    ASSERT_EQ(Zoka("render antimatter " + in8 + " " + Path("in8b.png") + " --set Amount=0").status, 0);
    EXPECT_EQ(Samples16(Path("in8b.png")), in16) << "OpenImageIO widens 8-bit v to v * 257 too";

    ASSERT_EQ(Zoka("render antimatter " + Path("in8b.png") + " " + Path("out8.png") + " --set Amount=30").status, 0);
    ASSERT_EQ(Zoka("render antimatter " + Path("in16.png") + " " + Path("out16.png") + " --set Amount=30").status, 0);
    EXPECT_EQ(Stored(Path("out8.png")), OIIO::TypeDesc::UINT8) << "8-bit inputs stay 8-bit";
    EXPECT_EQ(Stored(Path("out16.png")), OIIO::TypeDesc::UINT16);
    const std::vector<uint16_t> out8 = Samples16(Path("out8.png"));
    const std::vector<uint16_t> out16 = Samples16(Path("out16.png"));
    EXPECT_EQ(out16, out8);
    EXPECT_TRUE(SameImage(Read("out16.png"), Read("out8.png")));

    for (const std::string depth : {"float", "half"}) {
        const std::string exr = Path(depth + ".exr"), again = Path(depth + "_again.exr");
        ASSERT_EQ(Zoka("render antimatter " + in8 + " " + exr + " --set Amount=0 -d " + depth).status, 0);
        ASSERT_EQ(Zoka("render antimatter " + exr + " " + again + " --set Amount=0").status, 0);
        const OIIO::TypeDesc expected = depth == "float" ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::HALF;
        EXPECT_EQ(Stored(exr), expected);
        EXPECT_EQ(Stored(again), expected) << "kept from the input";
        // The same two renders at 8 bits; colour under alpha 0 is not kept.
        ASSERT_EQ(Zoka("render antimatter " + Path("in8b.png") + " " + Path("in8c.png") + " --set Amount=0").status, 0);
        const Image eight = Read("in8c.png"), back = Read(depth + "_again.exr");
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 12; ++x) EXPECT_EQ(back.At(x, y), eight.At(x, y)) << depth << " " << x << "," << y;
        }
    }
    ASSERT_EQ(Zoka("render antimatter " + in8 + " " + Path("eight.exr") + " --set Amount=0").status, 0);
    EXPECT_EQ(Stored(Path("eight.exr")), OIIO::TypeDesc::HALF) << "OpenEXR's nearest to 8 bits";
    ASSERT_EQ(Zoka("render antimatter " + Path("float.exr") + " " + Path("float.png")).status, 0);
    EXPECT_EQ(Stored(Path("float.png")), OIIO::TypeDesc::UINT16) << "PNG's nearest to float";
    ASSERT_EQ(Zoka("render antimatter " + Path("in16.png") + " " + Path("in16.jpg")).status, 0);
}

// A depth the format cannot hold is refused before the input is even read.
TEST_F(Depth, DepthsTheFormatCannotHoldAreRefusedBeforeRendering) {
    const std::string missing = Path("missing.png");
    Outcome run = Zoka("render antimatter " + missing + " " + Path("out.png") + " -d float");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d float: PNG files hold 8 or 16 bits\n");
    run = Zoka("render antimatter " + missing + " " + Path("out.jpg") + " -d uint16");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d uint16: JPEG files hold 8 bits\n");
    run = Zoka("render antimatter " + missing + " " + Path("out.exr") + " -d uint8");
    EXPECT_EQ(run.err, "zoka: -d uint8: OpenEXR files hold half or float\n");
    run = Zoka("animate antimatter " + missing + " " + Path("out_%d.png") + " --frames 1-3 -d half");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "zoka: -d half: PNG files hold 8 or 16 bits\n");
    EXPECT_EQ(Zoka("render antimatter " + missing + " " + Path("out.png") + " -d int12").status, 2);
    EXPECT_EQ(FileCount(), 0u);
}

// A small RGB display profile: a header and a copyright text, long and
// varied enough that libpng reads its compressed chunk back (it skips
// profiles that compress to a few dozen bytes).
std::vector<uint8_t> TinyProfile() {
    constexpr size_t kSize = 256, kText = 144;
    std::vector<uint8_t> icc(kSize, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) icc[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    const auto put = [&](size_t at, const char* four) { std::memcpy(&icc[at], four, 4); };
    put32(0, kSize);
    put32(8, 0x02100000);
    put(12, "mntr");
    put(16, "RGB ");
    put(20, "XYZ ");
    put(36, "acsp");
    put32(68, 0xf6d6);  // the D50 illuminant
    put32(72, 0x10000);
    put32(76, 0xd32d);
    put(80, "zoka");
    put32(128, 1);  // one tag: the copyright
    put(132, "cprt");
    put32(136, kText);
    put32(140, kSize - kText);
    put(kText, "text");
    uint32_t x = 1;
    for (size_t i = kText + 8; i + 1 < kSize; ++i) {
        x = x * 1103515245u + 12345u;
        icc[i] = uint8_t('!' + (x >> 16) % 90);
    }
    return icc;
}

// The ICC profile, EXIF and resolution go with the image, PNG to PNG and
// through TIFF and JPEG, as zoka and other tools read them.
TEST_F(Depth, ProfilesExifAndResolutionGoWithTheImage) {
    OIIO::ImageSpec exifSpec;
    exifSpec.attribute("Exif:LensModel", "zoka lens");
    std::vector<char> blob;
    OIIO::encode_exif(exifSpec, blob, OIIO::endian::big);
    ImageMetadata metadata;
    metadata.icc = TinyProfile();
    metadata.exif.assign(blob.begin(), blob.end());
    metadata.xResolution = metadata.yResolution = 40;
    metadata.unit = ImageMetadata::Unit::kCentimetre;
    WriteExtras extras;
    extras.metadata = &metadata;
    std::string error;
    ASSERT_TRUE(WriteImage(Path("in.png"), Image(6, 4, Pixel{255, 1, 2, 3}), error, 1, extras)) << error;

    const auto kept = [&](const std::string& name, bool exif) {
        Image image;
        ImageInfo info;
        ASSERT_TRUE(ReadImage(Path(name), image, error, info)) << error;
        EXPECT_EQ(info.metadata.icc, metadata.icc) << name;
        EXPECT_FLOAT_EQ(static_cast<float>(info.metadata.xResolution), 40) << name;
        EXPECT_EQ(info.metadata.unit, ImageMetadata::Unit::kCentimetre) << name;
        OIIO::ImageSpec decoded;
        OIIO::decode_exif(OIIO::cspan<uint8_t>(info.metadata.exif.data(), int64_t(info.metadata.exif.size())), decoded);
        EXPECT_EQ(decoded.get_string_attribute("Exif:LensModel"), exif ? "zoka lens" : "") << name;
        const std::string text = Info(Path(name));
        EXPECT_NE(text.find("ICCProfile"), std::string::npos) << name << text;
        // OpenImageIO gives PNG's pixels per metre in inches.
        const bool perCm = text.find("XResolution: 40\n") != std::string::npos &&
                           text.find("ResolutionUnit: \"cm\"") != std::string::npos;
        const bool perInch = text.find("XResolution: 101.6\n") != std::string::npos &&
                             text.find("ResolutionUnit: \"inch\"") != std::string::npos;
        EXPECT_TRUE(perCm || perInch) << name << text;
        // OpenImageIO reads no EXIF from PNG files.
        if (name.ends_with(".png")) return;
        EXPECT_EQ(text.find("Exif:LensModel: \"zoka lens\"") != std::string::npos, exif) << name << text;
    };
    kept("in.png", true);
    for (const std::string name : {"out.png", "out.tif", "out.jpg"}) {
        ASSERT_EQ(Zoka("render antimatter " + Path("in.png") + " " + Path(name)).status, 0) << name;
        kept(name, true);
    }
    ASSERT_EQ(Zoka("render antimatter " + Path("out.tif") + " " + Path("back.png")).status, 0);
    kept("back.png", true);
    ASSERT_EQ(Zoka("render antimatter " + Path("out.jpg") + " " + Path("back.tif")).status, 0);
    kept("back.tif", true);

    // OpenEXR carries the resolution (in inches) and EXIF, not the profile.
    ASSERT_EQ(Zoka("render antimatter " + Path("in.png") + " " + Path("out.exr")).status, 0);
    Image image;
    ImageInfo info;
    ASSERT_TRUE(ReadImage(Path("out.exr"), image, error, info)) << error;
    EXPECT_TRUE(info.metadata.icc.empty());
    EXPECT_FLOAT_EQ(static_cast<float>(info.metadata.xResolution), 101.6f);
    EXPECT_EQ(info.metadata.unit, ImageMetadata::Unit::kInch);
    EXPECT_NE(Info(Path("out.exr")).find("Exif:LensModel: \"zoka lens\""), std::string::npos);
}

// --quality trades JPEG's size for its fidelity.
TEST_F(Depth, JpegQualityChangesTheFileSize) {
    Image noisy(64, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            noisy.Set(x, y, Pixel{255, uint8_t(x * 37 ^ y * 11), uint8_t(x * y), uint8_t(y * 5)});
        }
    }
    const std::string input = Write("noisy.png", noisy);
    for (const std::string quality : {"10", "95"}) {
        const std::string output = Path(quality + ".jpg");
        ASSERT_EQ(Zoka("render antimatter " + input + " " + output + " --quality " + quality).status, 0);
    }
    ASSERT_EQ(Zoka("render antimatter " + input + " " + Path("default.jpg")).status, 0);
    ASSERT_EQ(Zoka("render antimatter " + input + " " + Path("98.jpg") + " --quality 98").status, 0);
    EXPECT_LT(fs::file_size(Path("10.jpg")) * 2, fs::file_size(Path("95.jpg")));
    EXPECT_EQ(fs::file_size(Path("default.jpg")), fs::file_size(Path("98.jpg"))) << "the default is 98";
    EXPECT_EQ(Zoka("render antimatter " + input + " " + Path("0.jpg") + " --quality 0").status, 2);
}

// Footage goes through an effect frame by frame: the input's frame number
// follows the output's.
TEST_F(Footage, InputSequencesAreReadFrameByFrame) {
    for (int n = 1; n <= 3; ++n) Write(Name("in_%04d.png", n), Image(5, 5, Pixel{255, uint8_t(n * 50), 0, 0}));
    Outcome run = Zoka("animate antimatter " + Path("in_#.png") + " " + Path("out_%d.png") + " --frames 1-3 -j 2");
    ASSERT_EQ(run.status, 0) << run.err;
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(Read(Name("out_%d.png", n)).At(2, 2).r, 255 - n * 50) << n;
    run = Zoka("render antimatter " + Path("in_%04d.png") + " " + Path("one_#.png") + " --time 2 --fps 1");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("one_0002.png").At(0, 0).r, 155);
    run = Zoka("animate antimatter " + Path("in_#.png") + " " + Path("out_%d.png") + " --frames 1-4");
    EXPECT_EQ(run.status, 3) << "frame 4 has no input";
    EXPECT_NE(run.err.find("in_0004.png"), std::string::npos) << run.err;
    run = Zoka("animate antimatter " + Path("in_#.png") + " " + Path("in_%04d.png") + " --frames 1-3");
    EXPECT_EQ(run.status, 2) << "the output would be the input";
}


// ---- Several effects in one call, and images through pipes ---------------

TEST_F(Footage, FurtherEffectsApplyInOrderToTheResult) {
    const std::string input = Shape("in.png");
    Outcome run = Zoka("render glow " + input + " " + Path("glow.png") + " --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto glow = nlohmann::json::parse(run.out);
    run = Zoka("render gaussianblur " + Path("glow.png") + " " + Path("blur.png") + " --set Width=3 --json");
    const auto blur = nlohmann::json::parse(run.out);
    // The --set after --then is the blur's; the glow keeps its defaults.
    run = Zoka("render glow " + input + " " + Path("both.png") + " --then gaussianblur --set Width=3 --json");
    ASSERT_EQ(run.status, 0) << run.err;
    const auto both = nlohmann::json::parse(run.out);
    EXPECT_EQ(Read("both.png"), Read("blur.png"));
    EXPECT_EQ(both["originX"], glow["originX"].get<int>() + blur["originX"].get<int>()) << "origins add up";
    EXPECT_EQ(Position(Path("both.png")), std::make_pair(-both["originX"].get<int>(), -both["originY"].get<int>()));
    EXPECT_NE(Read("both.png"), Read("glow.png"));

    // Options and files may follow a further effect; they stay the command's.
    run = Zoka("render glow " + input + " --then antimatter " + Path("after.png") + " -q --time 0.5");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(Read("after.png").Width(), Read("glow.png").Width());

    // A draft shrinks the input once: the blur's margin at half size is the
    // same on the glow's result as on the layer itself.
    const auto width = [&](const std::string& arguments) {
        const Outcome drafted = Zoka(arguments + " --downsample 2 --json");
        EXPECT_EQ(drafted.status, 0) << drafted.err;
        return nlohmann::json::parse(drafted.out)["width"].get<int>();
    };
    const int margin = width("render gaussianblur " + input + " " + Path("d1.png") + " --set Width=6") -
                       width("render antimatter " + input + " " + Path("d2.png"));
    EXPECT_GT(margin, 0);
    EXPECT_EQ(width("render glow " + input + " " + Path("d3.png") + " --then gaussianblur --set Width=6"),
              width("render glow " + input + " " + Path("d4.png")) + margin);

    for (const char* refused : {" --then", " --then --set Width=3", " --then nosuch",
                                " --then antimatter --set Width=3", " --then glow --preset a --preset b"}) {
        run = Zoka("render glow " + input + " " + Path("no.png") + refused);
        EXPECT_EQ(run.status, 2) << refused;
        EXPECT_NE(run.err, "") << refused;
    }
    EXPECT_NE(Zoka("render glow " + input + " " + Path("no.png") + " --then antimatter --set Width=3").err.find("Width"),
              std::string::npos);
    EXPECT_EQ(Zoka("params glow --then antimatter").status, 2);
    EXPECT_FALSE(fs::exists(Path("no.png")));
}

// A failure anywhere in the chain is the frame's: one line naming the effect,
// no file.
TEST_F(Footage, AFailureInAnyEffectOfAChainWritesNothing) {
    const std::string input = Shape("in.png");
    const std::string chain = "render glow " + input + " " + Path("out.png") + " --then gaussianblur --set Width=3 ";
    std::set<std::string> failedIn;
    for (const char* injection : {"--inject-allocation-failure ", "--inject-cancel "}) {
        // Every failure point is swept in the effects' own tests; here, points
        // spread over the whole chain.
        for (int n = 1; n < 1000000; n += 1 + n / 4) {
            const Outcome run = Zoka(chain + injection + std::to_string(n));
            if (run.status == 0) break;
            ASSERT_EQ(run.status, 1) << injection << n << run.err;
            // An allocation failure is out of memory, or, for the effect's own
            // object, the module's failed creation.
            const bool expected = injection[9] == 'a' ? run.err.find("(code 8)") != std::string::npos ||
                                                            run.err.find("(code 44000)") != std::string::npos
                                                      : run.err.find("(code 517)") != std::string::npos;
            EXPECT_TRUE(expected) << run.err;
            failedIn.insert(run.err.substr(0, run.err.find(':', 6)));
            ASSERT_FALSE(fs::exists(Path("out.png"))) << injection << n;
        }
        ASSERT_TRUE(fs::exists(Path("out.png"))) << injection << "the chain never finished";
        fs::remove(Path("out.png"));
    }
    EXPECT_EQ(failedIn, (std::set<std::string>{"zoka: Glow", "zoka: Gaussian Blur"}));
}

TEST_F(Footage, AnimatedChainsShareOneCanvas) {
    const std::string input = Shape("in.png");
    const std::string chain = " --set \"Length=0@0;30@1\" --set Direction=90 --fps 4 --then glow";
    Outcome run = Zoka("animate motiontrail " + input + " " + Path("f_#.png") + " --frames 0-4 -j 2" + chain);
    ASSERT_EQ(run.status, 0) << run.err;
    run = Zoka("render motiontrail " + input + " " + Path("last.png") + chain + " --time 1");
    ASSERT_EQ(run.status, 0) << run.err;
    // The trail grows to the right, the glow all round: the last frame is the
    // largest and holds all the others.
    for (int n = 0; n <= 4; ++n) {
        EXPECT_EQ(Read(Name("f_%04d.png", n)).Width(), Read("last.png").Width()) << n;
        EXPECT_EQ(Position(Path(Name("f_%04d.png", n))), Position(Path("last.png"))) << n;
    }
    EXPECT_EQ(Read("f_0004.png"), Read("last.png"));
}

TEST_F(Footage, ImagesComeFromStandardInputAndGoToStandardOutput) {
    const std::string input = Shape("in.png");
    const std::string env = "TMPDIR=" + folder.string() + " ";
    ASSERT_EQ(Zoka("render glow " + input + " " + Path("file.png")).status, 0);
    Outcome run = Zoka("render glow - - --format png < " + input + " > " + Path("piped.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Contents(Path("piped.png")), Contents(Path("file.png")));
    EXPECT_EQ(run.err.rfind("standard output: ", 0), 0u) << "what zoka says goes to stderr: " << run.err;
    EXPECT_EQ(Zoka("render glow - - --format png -q < " + input + " > /dev/null").err, "");
    // Other formats by their first bytes, and to standard output by --format.
    Write("noise.jpg", Noise(24, 16));
    ASSERT_EQ(Zoka("render antimatter " + Path("noise.jpg") + " " + Path("file.exr")).status, 0);
    run = Zoka("render antimatter - - --format exr --json < " + Path("noise.jpg") + " > " + Path("piped.exr"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("piped.exr"), Read("file.exr"));
    EXPECT_EQ(nlohmann::json::parse(run.err)["width"], 24);
    // The selection layer may come from standard input too.
    run = Zoka("render antimatter " + input + " " + Path("sel.png") + " --selection - < " + input);
    EXPECT_EQ(run.status, 0) << run.err;

    struct Refusal {
        std::string arguments;
        int status;
        std::string says;
    };
    std::ofstream(Path("garbage.txt")) << "not an image\n";
    const std::vector<Refusal> refusals{
        {"render glow " + input + " - > /dev/null", 2, "needs --format"},
        {"render glow " + input + " " + Path("x.png") + " --format png", 2, "--format is for standard output"},
        {"render glow " + input + " - --format nosuch > /dev/null", 2, "not \"nosuch\""},
        {"render glow " + input + " - --format ../png > /dev/null", 2, "not \"../png\""},
        {"render glow - " + Path("x.png") + " < /dev/null", 3, "standard input is empty"},
        {"render glow - " + Path("x.png") + " < " + Path("garbage.txt"), 3, "no image zoka reads"},
        {"render glow - " + Path("x.png") + " --selection - < " + input, 2, "not both"},
        {"render glow " + input + " - --format png --set Radius=999 > " + Path("x.png"), 2, "Radius"},
    };
    for (const Refusal& refusal : refusals) {
        run = Zoka(refusal.arguments);
        EXPECT_EQ(run.status, refusal.status) << refusal.arguments;
        EXPECT_NE(run.err.find(refusal.says), std::string::npos) << refusal.arguments << ": " << run.err;
    }
    EXPECT_EQ(Contents(Path("x.png")), "") << "a failed render sends nothing";
    // A damaged image from standard input is named so, not by a temporary file.
    std::string damaged = Contents(input);
    damaged.resize(damaged.size() / 2);
    std::ofstream(Path("damaged.png"), std::ios::binary) << damaged;
    run = Zoka("render glow - " + Path("x.png") + " < " + Path("damaged.png"));
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("standard input"), std::string::npos) << run.err;

    const Outcome shown = ZokaOnATerminal({"render", "glow", input, "-", "--format", "png"});
    EXPECT_EQ(shown.status, 2);
    EXPECT_NE(shown.out.find("will not write PNG bytes to a terminal"), std::string::npos) << shown.out;

    // A reader that goes away is a failed write, and the temporary files go.
    Write("big.png", Noise(600, 400));
    const std::string closed = "bash -c 'set -o pipefail; " + env + ZOKA_CLI_PATH + " render antimatter - - --format png < " +
                               Path("big.png") + " 2>" + Path("stderr.txt") + " | true'";
    const int status = std::system(closed.c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(Contents(Path("stderr.txt")).find("cannot write standard output"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string().rfind(".zoka-", 0), 0u) << entry.path();
    }
}


// Frames on standard output, one file after another in order, are what
// ffmpeg's image2pipe reads.
TEST_F(Footage, AnimatedFramesStreamToStandardOutputInOrder) {
    const std::string input = Shape("in.png");
    const std::string env = "TMPDIR=" + folder.string() + " ";
    const std::string trail = " --frames 0-5 --set \"Length=0@0;30@5f\" --set Direction=90 --then glow -j 2";
    ASSERT_EQ(Zoka("animate motiontrail " + input + " " + Path("f_#.png") + trail + " -q").status, 0);
    std::string files;
    for (int n = 0; n <= 5; ++n) files += Contents(Path(Name("f_%04d.png", n)));
    Outcome run = Zoka("animate motiontrail - - --format png" + trail + " < " + input + " > " + Path("stream"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contents(Path("stream")) == files) << "the same files, in order";
    EXPECT_NE(run.err.find("6 frames written"), std::string::npos) << "said on standard error: " << run.err;

    // Into ffmpeg: six frames of one size.
    run = Zoka("animate motiontrail " + input + " - --format png -q" + trail +
               " | ffmpeg -v error -f image2pipe -c:v png -i - -f framemd5 -");
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::set<std::string> sizes;
    int frames = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#') continue;
        ++frames;
        std::vector<std::string> fields;
        std::istringstream columns(line);
        for (std::string field; std::getline(columns, field, ',');) fields.push_back(field);
        ASSERT_GE(fields.size(), 5u) << line;
        sizes.insert(fields[4]);
    }
    EXPECT_EQ(frames, 6);
    EXPECT_EQ(sizes.size(), 1u) << "bytes per frame";

    EXPECT_EQ(Zoka("animate glow " + input + " - --frames 0-1 > /dev/null").status, 2) << "no --format";
    run = Zoka("animate glow " + input + " - --format png --frames 0-1 --skip-existing > /dev/null");
    EXPECT_EQ(run.status, 2);

    // A reader that goes away stops the workers and leaves no frame behind;
    // so does a signal.
    Write("big.png", Noise(600, 400));
    const std::string many = ZOKA_CLI_PATH + std::string(" animate antimatter ") + Path("big.png") +
                             " - --format png --frames 0-300 -j 2 2>" + Path("stderr.txt");
    int status = std::system(("bash -c 'set -o pipefail; " + env + many + " | head -c 1000 >/dev/null'").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_NE(Contents(Path("stderr.txt")).find("cannot write standard output"), std::string::npos);
    status = std::system(("bash -c 'set -o pipefail; " + env + "timeout -s TERM 0.5 " + many + " | cat >/dev/null'").c_str());
    EXPECT_EQ(WEXITSTATUS(status), 124) << "ended by the signal";
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string().rfind(".zoka-", 0), 0u) << entry.path();
    }
}

}  // namespace
}  // namespace zoka_cli
