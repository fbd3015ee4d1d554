// The command line as a user runs it: images in, images out, one error line
// and a non-zero status when something goes wrong, nothing half-written.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <OpenImageIO/imagebuf.h>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

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

TEST_F(Cli, TheDemoWritesValidImagesAndAGallery) {
    const Outcome run = Zoka("demo -o " + folder.string());
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream html(Path("index.html"));
    const std::string page((std::istreambuf_iterator<char>(html)), {});
    size_t images = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() != ".png") continue;
        const Image image = Read(entry.path().filename().string());
        EXPECT_GT(image.Width(), 0) << entry.path();
        bool visible = false;
        for (int y = 0; y < image.Height() && !visible; ++y) {
            for (int x = 0; x < image.Width() && !visible; ++x) visible = image.At(x, y).a > 0;
        }
        EXPECT_TRUE(visible) << entry.path() << " is empty";
        if (entry.path().filename() != "contact-sheet.png") {
            EXPECT_NE(page.find(entry.path().filename().string()), std::string::npos) << entry.path();
        }
        ++images;
    }
    EXPECT_GE(images, 4u) << "the sample, the contact sheet and at least two effects";

    // Effects that move by themselves also get a looping animation.
    EXPECT_NE(page.find("HSBNoise-motion.gif"), std::string::npos);
    OIIO::ImageBuf first(Path("HSBNoise-motion.gif"), 0, 0), later(Path("HSBNoise-motion.gif"), 12, 0);
    ASSERT_TRUE(first.read(0, 0, true, OIIO::TypeDesc::UINT8));
    ASSERT_TRUE(later.read(12, 0, true, OIIO::TypeDesc::UINT8));
    EXPECT_EQ(first.nsubimages(), 24);
    std::vector<uint8_t> a(first.spec().image_bytes()), b(later.spec().image_bytes());
    first.get_pixels(first.roi(), OIIO::TypeDesc::UINT8, a.data());
    later.get_pixels(later.roi(), OIIO::TypeDesc::UINT8, b.data());
    EXPECT_NE(a, b) << "the pattern moves";
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
    OIIO::ImageSpec spec(2, 1, 4, OIIO::TypeDesc::FLOAT);
    spec.alpha_channel = 3;
    OIIO::ImageBuf buffer(spec);
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

}  // namespace
}  // namespace zoka_cli
