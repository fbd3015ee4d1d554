// The plug-ins inside the real programs: a frame made by ffmpeg's frei0r
// filter and by melt must be, pixel for pixel, the frame `zoka render` makes
// of the same layer with the same values at the same time, cut to the
// layer's own area. The layer is small (96 x 64) with a real alpha shape.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "images/png_files.h"
#include "site/sample_layer.h"

namespace {

namespace fs = std::filesystem;
using ourhost::Image;

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kMeltFps = 25;

// One parameter as each program takes it. A program that cannot pass the
// value has an empty text: it keeps the default there, and so does the
// render it is compared with.
struct Setting {
    std::string ffmpeg;  // positional, in filter_params
    std::string melt;    // index=value
    std::string zoka;    // --set KEY=VALUE
};

struct Case {
    std::string key;
    double time;  // seconds, a whole number of frames at 25 per second
    std::vector<Setting> settings;  // from the first parameter on
};

// Glow grows the layer and has a colour, a popup and a checkbox; Star has a
// point, an angle and whole-number sliders; Fire grows and moves; Jiggle and
// Swirl drift and undulate.
const std::vector<Case> kCases = {
    {"Glow", 0,
     {{"0.4", "0.4", "Width=40"},
      {"0.8", "0.8", "Opacity=80"},
      {"0.2/0.5/1", "#3380ff", "Color=#3380FF"},
      {"Thin", "Thin", "DropoffType=Thin"},
      {"y", "1", "DrawEverywhere=on"}}},
    {"Star", 0,
     {{"0.16", "0.16", "Sides=8"},
      {"0.5", "0.5", "Indentation=47.5"},
      {"0.55", "0.55", "Scale=110"},
      // melt 7 passes no position parameter to a frei0r filter.
      {"0.25/0.75", "", "Position=24,48"},
      {"1", "1", "Opacity=100"},
      {"0.125", "0.125", "Orientation=45"}}},
    {"GaussianBlur", 0, {{"0.05", "0.05", "Width=5"}}},
    {"Fire", 2.4, {{"0.28", "0.28", "WispWidth=14"}}},
    {"Jiggle", 1.2,
     {{"0.505", "0.505", "BubbleSize=50.5"},
      {"0.505", "0.505", "WarpAmount=50.5"},
      {"0.25", "0.25", "Twist=90"},
      {"Turbulence", "Turbulence", "Field=Turbulence"},
      {"0.07", "0.07", "RandomSeed=7"},
      {"0.5", "0.5", "FlowDirection=180"},
      {"0.4", "0.4", "FlowVelocity=40"},
      {"0.25", "0.25", "PhaseVelocity=160"}}},
    {"Swirl", 0.8,
     {{"0.29", "0.29", "WhirlpoolSpacing=29"},
      {"0", "0", "SmearLength=3"},
      {"0.125", "0.125", "Twist=45"},
      {"0.51", "0.51", "StreakDetail=51"},
      {"y", "1", "Warp=on"},
      {"n", "0", "Smooth=off"},
      {"0.03", "0.03", "RandomSeed=3"},
      {"0.25", "0.25", "FlowDirection=90"},
      {"0.5", "0.5", "FlowVelocity=50"}}},
};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool Installed(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

class Frei0rInPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("zoka-frei0r-" + std::to_string(getpid()));
        fs::create_directories(folder_);
        std::string error;
        ASSERT_TRUE(zoka_images::WritePng(Path("in.png"), zoka_site::SampleLayer(kWidth, kHeight), 1, {}, error)) << error;
        // The layer as melt sees it: 96 x 64 square pixels, 25 frames a second.
        std::ofstream(Path("profile")) << "description=zoka test\nframe_rate_num=" << kMeltFps
                                       << "\nframe_rate_den=1\nwidth=96\nheight=64\nprogressive=1\n"
                                          "sample_aspect_num=1\nsample_aspect_den=1\n"
                                          "display_aspect_num=3\ndisplay_aspect_den=2\ncolorspace=709\n";
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    // Runs a shell command; its standard error goes to a file shown on failure.
    void Run(const std::string& command) {
        const std::string errors = Path("stderr.txt");
        const int status = std::system((command + " 2>" + errors).c_str());
        std::ifstream in(errors);
        const std::string said(std::istreambuf_iterator<char>(in), {});
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command << "\n" << said;
        EXPECT_EQ(said.find("zoka frei0r"), std::string::npos) << said;
    }

    Image Read(const std::string& name) {
        Image image;
        std::string error;
        bool hadAlpha = false;
        EXPECT_EQ(zoka_images::ReadPng(Path(name), image, error, hadAlpha), zoka_images::PngRead::kRead) << error;
        return image;
    }

    // zoka's frame of the case, cut to the layer's own area.
    Image ZokaFrame(const Case& c, bool forMelt) {
        std::string command = std::string(ZOKA_CLI_PATH) + " render " + c.key + " " + Path("in.png") + " " +
                              Path("zoka.png") + " --json --fps 600 --time " + std::to_string(c.time);
        for (const Setting& s : c.settings) {
            if (!forMelt || !s.melt.empty()) command += " --set '" + s.zoka + "'";
        }
        Run(command + " >" + Path("zoka.json"));
        const auto report = nlohmann::json::parse(std::ifstream(Path("zoka.json")));
        const Image grown = Read("zoka.png");
        Image frame(kWidth, kHeight);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                frame.Set(x, y, grown.At(x + report["originX"].get<int>(), y + report["originY"].get<int>()));
            }
        }
        return frame;
    }

    std::string Plugins() const {
        return std::string(ZOKA_FREI0R_PROGRAM_PREFIX) + "FREI0R_PATH=" + ZOKA_FREI0R_PLUGIN_DIR + " ";
    }

    // ffmpeg, asked for RGBA in and out; the time set through the frame's
    // time stamp.
    Image FfmpegFrame(const Case& c) {
        std::string params;
        for (const Setting& s : c.settings) params += (params.empty() ? "" : "|") + s.ffmpeg;
        const std::string filter = "setpts=" + std::to_string(c.time) + "/TB,frei0r=filter_name=zoka_" +
                                   Lower(c.key) + (params.empty() ? "" : ":filter_params=" + params);
        Run(Plugins() + "ffmpeg -nostdin -v error -y -i " + Path("in.png") + " -vf '" + filter +
            "' -pix_fmt rgba -update 1 " + Path("ffmpeg.png"));
        return Read("ffmpeg.png");
    }

    // melt renders the clip up to the case's time and keeps the last frame,
    // written as RGBA PNG.
    Image MeltFrame(const Case& c) {
        std::string params;
        for (size_t i = 0; i < c.settings.size(); ++i) {
            if (!c.settings[i].melt.empty()) params += " '" + std::to_string(i) + "=" + c.settings[i].melt + "'";
        }
        // Every frame to its own file, a few past the one compared: melt may
        // end before its consumer has written the last frames, and with
        // real_time=-1 it drops none on a busy machine (it would otherwise
        // skip the filter on frames that are late). The image muxer numbers
        // frames from 1.
        const long last = std::lround(c.time * kMeltFps);
        Run(Plugins() + "melt -silent -profile " + Path("profile") + " avformat:" + Path("in.png") +
            " out=" + std::to_string(last + 3) + " -filter frei0r.zoka_" + Lower(c.key) + params +
            " -consumer avformat:" + Path("melt_%04d.png") + " vcodec=png pix_fmt=rgba real_time=-1 >/dev/null");
        char name[32];
        std::snprintf(name, sizeof name, "melt_%04ld.png", last + 1);
        return Read(name);
    }

    fs::path folder_;
};

TEST_F(Frei0rInPrograms, FfmpegGivesZokasFrames) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.key);
        const Image ffmpeg = FfmpegFrame(c);
        ASSERT_EQ(ffmpeg.Width(), kWidth);
        EXPECT_TRUE(ffmpeg == ZokaFrame(c, false));
    }
}

TEST_F(Frei0rInPrograms, MeltGivesZokasFrames) {
    if (!Installed("melt")) GTEST_SKIP() << "melt is not installed";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.key);
        const Image melt = MeltFrame(c);
        ASSERT_EQ(melt.Width(), kWidth);
        EXPECT_TRUE(melt == ZokaFrame(c, true));
    }
}

// The settings matter: a frame with them differs from one at the defaults
// at time 0, so the comparisons above cannot pass by ignoring them.
TEST_F(Frei0rInPrograms, SettingsAndTimeChangeTheFrame) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.key);
        EXPECT_FALSE(FfmpegFrame(c) == FfmpegFrame(Case{c.key, 0, {}}));
    }
}

}  // namespace
