// The command line as a user runs it: effects found by name, values refused
// in one line, presets, chains, frames as footage, the standard streams.

#include <optional>

#include "tests/support/cli_fixtures.h"

namespace zoka_cli {
namespace {

using namespace testing_cli;

// $TMPDIR for the zoka processes started while this lives.
class TemporaryFolderSetting {
public:
    explicit TemporaryFolderSetting(const std::string& folder) {
        if (const char* given = std::getenv("TMPDIR")) saved_ = given;
        setenv("TMPDIR", folder.c_str(), 1);
    }
    ~TemporaryFolderSetting() {
        if (saved_) {
            setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    TemporaryFolderSetting(const TemporaryFolderSetting&) = delete;
    TemporaryFolderSetting& operator=(const TemporaryFolderSetting&) = delete;

private:
    std::optional<std::string> saved_;
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

// --json reports a render that failed before its frame as well: not
// written, and why.
TEST_F(Cli, RenderJsonSaysWhyNothingWasWritten) {
    const std::string input = Write("layer.png", Image(8, 8, Pixel{255, 1, 2, 3}));
    const auto report = [](const std::string& text) {
        return nlohmann::json::parse(text.substr(std::min(text.find('{'), text.size())), nullptr, false);
    };
    Outcome run = Zoka("render antimatter " + Path("none.png") + " " + Path("out.png") + " --json");
    EXPECT_EQ(run.status, 3);
    nlohmann::json json = report(run.out);
    ASSERT_TRUE(json.is_object()) << "no report: " << run.out;
    EXPECT_EQ(json.value("written", true), false) << run.out;
    EXPECT_EQ(json.value("error", ""), "cannot read " + Path("none.png") + ": No such file or directory");
    run = Zoka("render antimatter " + input + " " + Path("out.png") + " --json --set Amount=101");
    EXPECT_EQ(run.status, 2);
    json = report(run.out);
    ASSERT_TRUE(json.is_object()) << "no report: " << run.out;
    EXPECT_EQ(json.value("written", true), false) << run.out;
    EXPECT_NE(json.value("error", "").find("Amount"), std::string::npos) << run.out;
    // With "-" as the output, on standard error.
    run = Zoka("render antimatter " + Path("none.png") + " - --format png --json > /dev/null");
    EXPECT_EQ(run.status, 3);
    json = report(run.err);
    ASSERT_TRUE(json.is_object()) << "no report: " << run.err;
    EXPECT_EQ(json.value("written", true), false) << run.err;
    EXPECT_EQ(FileCount(), 1u);
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

// A worker carries each moving effect of the chain's motion from its frame to
// its next (every other frame here): the frames are still those render makes
// at their times.
TEST_F(Cli, AnimatedMovingEffectsAreTheFramesRenderMakes) {
    const std::string input = Write("layer.png", Image(32, 24, Pixel{255, 180, 90, 40}));
    const std::string settings =
        " --fps 24 --set \"FlowVelocity=40@0;250@1\" --then hsbnoise --set \"FlowVelocity=10@0;60@0.5\""
        " --set FlowDirection=120 --set PhaseVelocity=300";
    const Outcome run = Zoka("animate fire " + input + " " + Path("f%d.png") + " --frames 0-9 -j 2" + settings);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const int n : {6, 9}) {
        const Outcome alone = Zoka("render fire " + input + " " + Path("r.png") + " --time " +
                                   std::to_string(n / 24.0) + settings);
        ASSERT_EQ(alone.status, 0) << alone.err;
        EXPECT_EQ(Read("f" + std::to_string(n) + ".png"), Read("r.png")) << "frame " << n;
    }
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
    // Origins further out, up to the extremes, ask for frames beyond what a
    // host layer holds at all, which the module refuses as memory it cannot
    // have: the same refusal, with the size the output would have, moving
    // with the selection.
    const auto size = [](const std::string& err) {
        int width = 0, height = 0;
        const size_t at = err.find("the output would be ");
        if (at != std::string::npos) std::sscanf(err.c_str() + at, "the output would be %dx%d", &width, &height);
        return std::pair{width, height};
    };
    for (const char* effect : {"Glow", "\"Drop Shadow\"", "Fire"}) {
        const std::string render = std::string("render ") + effect + " " + input + " " + Path("out.png") +
                                   " --selection " + input + " --selection-origin ";
        const Outcome near = Zoka(render + "-30000,-30000");
        ASSERT_EQ(near.status, 1) << near.err;
        for (const char* origin : {"-32767,-32767", "32767,32767"}) {
            const Outcome far = Zoka(render + origin);
            EXPECT_EQ(far.status, 1) << effect << " " << origin;
            EXPECT_NE(far.err.find("up to 30000 pixels on a side"), std::string::npos) << effect << ": " << far.err;
            EXPECT_EQ(std::count(far.err.begin(), far.err.end(), '\n'), 1) << far.err;
        }
        const Outcome far = Zoka(render + "-32767,-32767");
        EXPECT_EQ(size(far.err), std::pair(size(near.err).first + 2767, size(near.err).second + 2767)) << far.err;
    }
    const Outcome animated = Zoka("animate Glow " + input + " " + Path("f_#.png") + " --frames 0-1 --selection " +
                                  input + " --selection-origin 32767,32767");
    EXPECT_EQ(animated.status, 1);
    EXPECT_NE(animated.err.find("the output would be 32852x32836 pixels"), std::string::npos) << animated.err;
    EXPECT_EQ(FileCount(), 1u);
    // Memory that runs out in frame setup is still said to, whatever the selection.
    for (int n = 1; n <= 12; ++n) {
        const Outcome starved = Zoka("render Glow " + input + " " + Path("out.png") + " --selection " + input +
                                     " --selection-origin 20,10 --inject-allocation-failure " + std::to_string(n));
        EXPECT_EQ(starved.err.find("would be"), std::string::npos) << n << ": " << starved.err;
    }
    // The last frame our host computes: bounded work, and it renders.
    const Outcome late = Zoka("render \"HSB Noise\" " + input + " " + Path("late.png") +
                              " --time 33333 --set FlowVelocity=100 --set PhaseVelocity=600");
    EXPECT_EQ(late.status, 0) << late.err;
}

// A damaged module file is refused by the loader's check, not by a bus error
// when its missing pages are first touched.
TEST_F(Cli, AMissingModuleFileIsSaidToBeMissing) {
    const Outcome run = Zoka("--module " + Path("nowhere.so") + " list");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "zoka: cannot load the module " + Path("nowhere.so") + ": No such file or directory\n");
}

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
    EXPECT_TRUE(Succeeded(Zoka("--module " + std::string(ZOKA_MODULE_PATH) + " list"))) << "an option's value is no command";

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
    ASSERT_TRUE(Succeeded(Zoka("render cutout " + input + " " + Path("a.png") + " --set SolidFill=off")));
    ASSERT_TRUE(Succeeded(Zoka("render cutout " + input + " " + Path("b.png") + " --set \"solid fill=off\"")));
    ASSERT_TRUE(Succeeded(Zoka("render cutout " + input + " " + Path("c.png"))));
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
    ASSERT_TRUE(Succeeded(Zoka(render + Path("set.png") + " --time 0.5 --set Width=7 --set \"Color=#00FF00@0;blue@1\"")));
    run = Zoka(render + Path("preset.png") + " --time 0.5 --preset " + Path("glow.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read("preset.png"), Read("set.png"));
    ASSERT_TRUE(Succeeded(Zoka(render + Path("over.png") + " --preset " + Path("glow.json") + " --set Width=3")));
    ASSERT_TRUE(Succeeded(Zoka(render + Path("plain.png") + " --set Width=3 --set \"Color=#00FF00@0;blue@1\"")));
    EXPECT_EQ(Read("over.png"), Read("plain.png")) << "--set after the preset";
    // By hand: an object of keys or labels.
    std::ofstream(Path("hand.json")) << R"j({"Width (pixels)": 3, "Color": "#00FF00@0;blue@1"})j";
    ASSERT_TRUE(Succeeded(Zoka(render + Path("hand.png") + " --preset " + Path("hand.json"))));
    EXPECT_EQ(Read("hand.png"), Read("plain.png"));
    // Keyframes at frame numbers, as --set takes them.
    std::ofstream(Path("frames.json")) << R"({"Width": "2@0f;20@30f"})";
    run = Zoka(render + Path("frames.png") + " --time 0.5 --preset " + Path("frames.json"));
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(Succeeded(Zoka(render + Path("keys.png") + " --time 0.5 --set \"Width=2@0f;20@30f\"")));
    EXPECT_EQ(Read("frames.png"), Read("keys.png"));
    EXPECT_NE(Read("frames.png"), Read("plain.png")) << "Width 11 at frame 15, not 3";

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
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + input + " " + Path("box.png") + " --canvas 20x10-2+3")));
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
    ASSERT_TRUE(Succeeded(Zoka("animate motiontrail " + input + " " + Path("g_#.png") + " --frames 0,4 --canvas grown" + trail)));
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
    ASSERT_TRUE(Succeeded(Zoka("animate motiontrail " + input + " " + Path("one_%02d.png") + options + " -j 1")));
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
    ASSERT_TRUE(Succeeded(Zoka("animate motiontrail " + input + " " + Path("one_%04d.png") + options)));
    const std::string command = "parallel --will-cite -q " + std::string(ZOKA_CLI_PATH) + " animate motiontrail " +
                                input + " " + Path("part_%04d.png") + options +
                                " --shard {}/3 ::: 1 2 3 >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    for (int n = 0; n <= 7; ++n) {
        EXPECT_EQ(Contents(Path(Name("part_%04d.png", n))), Contents(Path(Name("one_%04d.png", n)))) << n;
    }
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
    ASSERT_TRUE(Succeeded(Zoka("render glow " + input + " " + Path("file.png"))));
    Outcome run = Zoka("render glow - - --format png < " + input + " > " + Path("piped.png"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Contents(Path("piped.png")), Contents(Path("file.png")));
    EXPECT_EQ(run.err.rfind("standard output: ", 0), 0u) << "what zoka says goes to stderr: " << run.err;
    EXPECT_EQ(Zoka("render glow - - --format png -q < " + input + " > /dev/null").err, "");
    // Other formats by their first bytes, and to standard output by --format.
    Write("noise.jpg", Noise(24, 16));
    ASSERT_TRUE(Succeeded(Zoka("render antimatter " + Path("noise.jpg") + " " + Path("file.exr"))));
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

// A standard stream the caller closed stays closed to zoka's own files: an
// image is never written into a temporary file that took standard output's
// number, and a closed output is a failed write.
TEST_F(Footage, ClosedStandardStreamsAreFailuresNotFiles) {
    const std::string input = Shape("in.png");
    const TemporaryFolderSetting temporary(folder.string());
    Outcome run = Zoka("render glow " + input + " - --format png >&-");
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_EQ(run.err, "zoka: cannot write standard output: Bad file descriptor\n");
    run = Zoka("render glow " + input + " - --format png --json >&-");
    EXPECT_EQ(run.status, 3);
    const auto report = nlohmann::json::parse(run.err.substr(std::min(run.err.find('{'), run.err.size())), nullptr, false);
    ASSERT_TRUE(report.is_object()) << run.err;
    EXPECT_EQ(report.value("written", true), false) << run.err;
    run = Zoka("animate glow " + input + " - --format png --frames 0-3 -j 2 >&-");
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("cannot write standard output"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("frames written"), std::string::npos) << run.err;
    run = Zoka("render glow - - --format png <&- > " + Path("out.png"));
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("cannot read standard input"), std::string::npos) << run.err;
    // Without standard error zoka works on, saying nothing.
    ASSERT_TRUE(Succeeded(Zoka("render glow " + input + " " + Path("file.png"))));
    const std::string quiet = std::string(ZOKA_CLI_PATH) + " render glow - - --format png < " + input + " > " +
                              Path("piped.png") + " 2>&-";
    EXPECT_EQ(std::system(quiet.c_str()), 0);
    EXPECT_EQ(Contents(Path("piped.png")), Contents(Path("file.png")));
    for (const auto& entry : fs::directory_iterator(folder)) {
        EXPECT_NE(entry.path().filename().string().rfind(".zoka-", 0), 0u) << entry.path();
    }
}

// Standard output goes through a temporary file in $TMPDIR: a folder there
// that cannot take it is a file error, as an output folder would be.
TEST_F(Footage, AnUnusableTemporaryFolderIsAFileError) {
    const std::string input = Shape("in.png");
    std::ofstream(Path("plain-file"));
    for (const std::string& unusable : {Path("missing"), Path("plain-file")}) {
        const TemporaryFolderSetting temporary(unusable);
        for (const std::string& command : {"render glow " + input + " - --format png",
                                          "animate glow " + input + " - --format png --frames 0-1"}) {
            const Outcome run = Zoka(command + " > /dev/null");
            EXPECT_EQ(run.status, 3) << unusable << ": " << command << ": " << run.err;
            EXPECT_NE(run.err.find("cannot write " + unusable), std::string::npos) << run.err;
        }
    }
}

// Frames on standard output, one file after another in order, are what
// ffmpeg's image2pipe reads.
TEST_F(Footage, AnimatedFramesStreamToStandardOutputInOrder) {
    const std::string input = Shape("in.png");
    const std::string env = "TMPDIR=" + folder.string() + " ";
    const std::string trail = " --frames 0-5 --set \"Length=0@0;30@5f\" --set Direction=90 --then glow -j 2";
    ASSERT_TRUE(Succeeded(Zoka("animate motiontrail " + input + " " + Path("f_#.png") + trail + " -q")));
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
