// The command line as a user runs it: images in, images out, one error line
// and a non-zero status when something goes wrong, nothing half-written.
#include <gtest/gtest.h>

#include <OpenImageIO/imagebuf.h>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
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

}  // namespace
}  // namespace zoka_cli
