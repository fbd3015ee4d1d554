// The plug-ins inside the real programs: a frame made by ffmpeg's frei0r
// filter and by melt must be, pixel for pixel, the frame `zoka render` makes
// of the same layer with the same values at the same time, cut to the
// layer's own area. The layer is small (96 x 64) with a real alpha shape.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "images/png_files.h"
#include "ourhost/client_names.h"
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

    struct Outcome {
        int status;  // the exit status; 128 + the signal that ended it
        std::string said;  // its standard error
    };

    // Runs a shell command, its standard error kept.
    Outcome Try(const std::string& command) {
        const std::string errors = Path("stderr.txt");
        const int status = std::system((command + " 2>" + errors).c_str());
        std::ifstream in(errors);
        return Outcome{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
                       std::string(std::istreambuf_iterator<char>(in), {})};
    }

    // Runs a shell command that must succeed without a word from the
    // plug-ins; its standard error is shown on failure.
    void Run(const std::string& command) {
        const Outcome run = Try(command);
        ASSERT_EQ(run.status, 0) << command << "\n" << run.said;
        EXPECT_EQ(run.said.find("zoka frei0r"), std::string::npos) << run.said;
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
        std::vector<std::string> sets;
        for (const Setting& s : c.settings) {
            if (!forMelt || !s.melt.empty()) sets.push_back(s.zoka);
        }
        return ZokaFrame(c.key, c.time, sets);
    }

    // zoka render of a layer file at a time (600 frames a second, as the
    // plug-ins integrate), cut to the layer's own area.
    Image ZokaFrame(const std::string& key, double time, const std::vector<std::string>& sets,
                    const std::string& layer = "in.png") {
        std::string command = std::string(ZOKA_CLI_PATH) + " render " + key + " " + Path(layer) + " " +
                              Path("zoka.png") + " --json --fps 600 --time " + std::to_string(time);
        for (const std::string& set : sets) command += " --set '" + set + "'";
        Run(command + " >" + Path("zoka.json"));
        const auto report = nlohmann::json::parse(std::ifstream(Path("zoka.json")));
        const Image grown = Read("zoka.png");
        const Image input = Read(layer);
        Image frame(input.Width(), input.Height());
        for (int y = 0; y < frame.Height(); ++y) {
            for (int x = 0; x < frame.Width(); ++x) {
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
        return MeltFrame("frei0r.zoka_" + Lower(c.key), params, c.time);
    }

    // melt's frame through a service with its properties (" 'NAME=VALUE' ...").
    Image MeltFrame(const std::string& service, const std::string& params, double time) {
        // Every frame to its own file, a few past the one compared: melt may
        // end before its consumer has written the last frames, and with
        // real_time=-1 it drops none on a busy machine (it would otherwise
        // skip the filter on frames that are late). The image muxer numbers
        // frames from 1.
        const long last = std::lround(time * kMeltFps);
        char name[32];
        std::snprintf(name, sizeof name, "melt_%04ld.png", last + 1);
        UntilMeltWrites("melt_", name, [&] {
            Run(Plugins() + "melt -silent -profile " + Path("profile") + " avformat:" + Path("in.png") +
                " out=" + std::to_string(last + 3) + " -filter " + service + params + " -consumer avformat:" +
                Path("melt_%04d.png") + " vcodec=png pix_fmt=rgba real_time=-1 >/dev/null");
        });
        return Read(name);
    }

    // Now and then melt ends with its consumer having written no frame at
    // all, and exits 0: runs melt (runMelt) up to five times until frame is
    // written, each time from a folder without the frames of an earlier run
    // (PNG files starting with prefix), which would be read in their place.
    template <typename RunMelt>
    void UntilMeltWrites(const std::string& prefix, const std::string& frame, const RunMelt& runMelt) {
        for (int attempt = 0; attempt == 0 || (attempt < 5 && !fs::exists(Path(frame))); ++attempt) {
            for (const auto& entry : fs::directory_iterator(folder_)) {
                const std::string file = entry.path().filename().string();
                if (file.starts_with(prefix) && file.ends_with(".png")) fs::remove(entry.path());
            }
            runMelt();
        }
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

// ---- ffmpeg at any width ------------------------------------------------------

size_t LinesSaying(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// 854 and 401 pixels are not multiples of 16, so ffmpeg would pad the rows
// it hands over: the plain filter is refused in one line with a non-zero
// status, never a sheared image; padded to a multiple of 16 with
// transparency and cropped back, as that line says, the frame is zoka's.
TEST_F(Frei0rInPrograms, FfmpegRefusesWidthsItWouldPadAndThePaddedCommandGivesZokasFrames) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const auto& [width, height] : {std::pair{854, 480}, std::pair{401, 300}}) {
        SCOPED_TRACE(width);
        std::string error;
        ASSERT_TRUE(zoka_images::WritePng(Path("wide.png"), zoka_site::SampleLayer(width, height), 1, {}, error));
        const std::string ffmpeg = Plugins() + "ffmpeg -nostdin -v error -y -i " + Path("wide.png") + " -vf ";
        fs::remove(Path("plain.png"));
        const Outcome plain = Try(ffmpeg + "frei0r=zoka_glow:0.2 -pix_fmt rgba -update 1 " + Path("plain.png"));
        EXPECT_NE(plain.status, 0);
        EXPECT_LT(plain.status, 128) << plain.said;
        EXPECT_FALSE(fs::exists(Path("plain.png")) && fs::file_size(Path("plain.png")) > 0);
        EXPECT_EQ(LinesSaying(plain.said, "zoka frei0r: Glow: ffmpeg pads the rows of a frame " +
                                              std::to_string(width) + " pixels wide"),
                  1u)
            << plain.said;
        EXPECT_NE(plain.said.find("pad=ceil(iw/16)*16:ih:color=black@0"), std::string::npos) << plain.said;

        Run(ffmpeg + "'pad=ceil(iw/16)*16:ih:color=black@0,frei0r=zoka_glow:0.2,crop=" + std::to_string(width) +
            ":ih:0:0' -pix_fmt rgba -update 1 " + Path("padded.png"));
        EXPECT_TRUE(Read("padded.png") == ZokaFrame("Glow", 0, {"Width=20"}, "wide.png"));
    }
}

// The other way the README gives for any width: zoka animate between two
// ffmpeg pipes, frame by frame as zoka renders them.
TEST_F(Frei0rInPrograms, ZokaBetweenTwoFfmpegPipesGivesItsFramesAtAnyWidth) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    std::string error;
    ASSERT_TRUE(zoka_images::WritePng(Path("wide.png"), zoka_site::SampleLayer(854, 480), 1, {}, error));
    const std::string zoka = ZOKA_CLI_PATH;
    Run("ffmpeg -nostdin -v error -i " + Path("wide.png") + " -f image2pipe -c:v png - | " + zoka +
        " animate Fire - - --format png --frames 0-1 --fps 25 -j 1 -q | ffmpeg -v error -y -f image2pipe -i - "
        "-pix_fmt rgba " + Path("piped_%d.png"));
    Run(zoka + " render Fire " + Path("wide.png") + " " + Path("zoka.png") + " --time 0.04 --fps 25 -q");
    EXPECT_TRUE(Read("piped_2.png") == Read("zoka.png"));
}

// ---- melt ------------------------------------------------------------------------

// A frame beyond our host's layers: melt goes on without the filter, and
// the reason is said once, not for every frame.
TEST_F(Frei0rInPrograms, MeltOverTheLayerLimitSaysWhyOnce) {
    if (!Installed("melt")) GTEST_SKIP() << "melt is not installed";
    std::ofstream(Path("wide_profile")) << "description=too wide\nframe_rate_num=25\nframe_rate_den=1\n"
                                           "width=30016\nheight=16\nprogressive=1\nsample_aspect_num=1\n"
                                           "sample_aspect_den=1\ndisplay_aspect_num=1876\ndisplay_aspect_den=1\n";
    // A run of melt that renders no frame calls no filter, which says nothing.
    Outcome run;
    UntilMeltWrites("wide_", "wide_01.png", [&] {
        run = Try(Plugins() + "melt -silent -profile " + Path("wide_profile") +
                  " color:red out=3 -filter frei0r.zoka_glow -consumer avformat:" + Path("wide_%02d.png") +
                  " vcodec=png pix_fmt=rgba real_time=-1 >/dev/null");
    });
    EXPECT_EQ(run.status, 0) << run.said;
    EXPECT_EQ(LinesSaying(run.said, "zoka frei0r"), 1u) << run.said;
    EXPECT_NE(run.said.find("zoka frei0r: Glow: the frame would be 30016x16 pixels; layers go up to 30000 pixels"),
              std::string::npos)
        << run.said;
}

// ---- GStreamer ---------------------------------------------------------------

std::string Lines(const std::string& text, const std::string& start) {
    std::string found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find_first_not_of(' ');
        if (at != std::string::npos && line.compare(at, start.size(), start) == 0) found += line.substr(at) + "\n";
    }
    return found;
}

class Frei0rInGstreamer : public Frei0rInPrograms {
protected:
    // GStreamer with a registry of the test's own, so that no cache of
    // another run's plug-ins is read.
    std::string Gstreamer(const std::string& program) const {
        return Plugins() + "GST_REGISTRY=" + Path("registry.bin") + " " + program + " ";
    }
    // A PNG through one element, as RGBA both ways.
    Image Through(const std::string& element) {
        Run(Gstreamer("gst-launch-1.0") + "-q filesrc location=" + Path("in.png") +
            " ! pngdec ! videoconvert ! video/x-raw,format=RGBA ! " + element +
            " ! videoconvert ! video/x-raw,format=RGBA ! pngenc ! filesink location=" + Path("gst.png"));
        return Read("gst.png");
    }
};

TEST_F(Frei0rInGstreamer, EveryPluginIsAnElementNamedForZoka) {
    if (!Installed("gst-inspect-1.0")) GTEST_SKIP() << "GStreamer's tools are not installed";
    const Outcome run = Try(Gstreamer("gst-inspect-1.0") + "frei0r > " + Path("inspect.txt"));
    ASSERT_EQ(run.status, 0) << run.said;
    std::ifstream in(Path("inspect.txt"));
    const std::string listed = Lines(std::string(std::istreambuf_iterator<char>(in), {}), "frei0r-filter-");
    EXPECT_EQ(LinesSaying(listed, "frei0r-filter-zoka-"), 21u) << listed;
    EXPECT_EQ(LinesSaying(listed, "\n"), 21u) << listed;  // none of ours under another name
    EXPECT_NE(listed.find("frei0r-filter-zoka-hsb-noise: zoka HSB Noise\n"), std::string::npos) << listed;
    // As the documentation names them.
    Run(std::string(ZOKA_CLI_PATH) + " list --json > " + Path("list.json"));
    for (const auto& effect : nlohmann::json::parse(std::ifstream(Path("list.json")))) {
        const std::string name = effect["name"];
        EXPECT_NE(listed.find(ourhost::GstreamerElementName(name) + ": " + ourhost::Frei0rTitle(name) + "\n"),
                  std::string::npos)
            << name;
    }
}

// Values set by property, and a point left at its default: Star's Position
// is 50,50 pixels whatever the frame size, though GStreamer reads the
// default from an instance of another size and sets it back.
TEST_F(Frei0rInGstreamer, APipelineGivesZokasFrames) {
    if (!Installed("gst-launch-1.0")) GTEST_SKIP() << "GStreamer's tools are not installed";
    EXPECT_TRUE(Through("frei0r-filter-zoka-glow width=0.4 dropofftype=Thin draweverywhere=true") ==
                ZokaFrame("Glow", 0, {"Width=40", "DropoffType=Thin", "DrawEverywhere=on"}));
    EXPECT_TRUE(Through("frei0r-filter-zoka-star sides=0.16") == ZokaFrame("Star", 0, {"Sides=8"}));
}

// ---- Kdenlive's descriptions ------------------------------------------------------

// One <parameter> of a description: its attributes, its name and its items.
struct KdenliveParameter {
    std::map<std::string, std::string> attributes;
    std::string name;
    std::string shownItems;  // paramlistdisplay
};

struct KdenliveEffect {
    std::map<std::string, std::string> attributes;
    std::string name;
    std::vector<KdenliveParameter> parameters;
};

std::string Unescaped(std::string text) {
    for (const auto& [escaped, plain] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        for (size_t at; (at = text.find(escaped)) != std::string::npos;) text.replace(at, std::strlen(escaped), plain);
    }
    return text;
}

// The NAME="VALUE" pairs of a start tag's text.
std::map<std::string, std::string> Attributes(const std::string& tag) {
    std::map<std::string, std::string> found;
    for (size_t equals = tag.find("=\""); equals != std::string::npos; equals = tag.find("=\"", equals + 1)) {
        const size_t start = tag.find_last_of(' ', equals) + 1;
        const size_t end = tag.find('"', equals + 2);
        found[tag.substr(start, equals - start)] = Unescaped(tag.substr(equals + 2, end - equals - 2));
        equals = end;
    }
    return found;
}

// The text of the first <name>...</name> in text.
std::string Element(const std::string& text, const std::string& name) {
    const size_t start = text.find("<" + name + ">");
    if (start == std::string::npos) return {};
    const size_t from = start + name.size() + 2;
    return Unescaped(text.substr(from, text.find("</" + name + ">", from) - from));
}

// The text between "<tag " and the next ">" from at, moving at past it.
std::string StartTag(const std::string& xml, const std::string& tag, size_t& at) {
    at = xml.find("<" + tag + " ", at);
    if (at == std::string::npos) return {};
    const size_t end = xml.find('>', at);
    const std::string attributes = xml.substr(at + tag.size() + 2, end - at - tag.size() - 2);
    at = end;
    return attributes;
}

KdenliveEffect ReadDescription(const fs::path& path) {
    std::ifstream in(path);
    const std::string xml(std::istreambuf_iterator<char>(in), {});
    KdenliveEffect effect;
    size_t at = 0;
    effect.attributes = Attributes(StartTag(xml, "effect", at));
    effect.name = Element(xml.substr(0, xml.find("<parameter")), "name");
    for (std::string tag; !(tag = StartTag(xml, "parameter", at)).empty();) {
        const std::string body = xml.substr(at, xml.find("</parameter>", at) - at);
        effect.parameters.push_back(
            KdenliveParameter{Attributes(tag), Element(body, "name"), Element(body, "paramlistdisplay")});
    }
    return effect;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::istringstream in(text);
    for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
    return parts;
}

double Attribute(const KdenliveParameter& p, const std::string& name) {
    const auto found = p.attributes.find(name);
    return found == p.attributes.end() ? std::nan("") : std::stod(found->second);
}

class KdenliveDescriptions : public Frei0rInPrograms {
protected:
    nlohmann::json Zoka(const std::string& arguments) {
        Run(std::string(ZOKA_CLI_PATH) + " " + arguments + " > " + Path("zoka.json"));
        return nlohmann::json::parse(std::ifstream(Path("zoka.json")));
    }
    std::vector<std::string> EffectKeys() {
        std::vector<std::string> keys;
        for (const auto& e : Zoka("list --json")) keys.push_back(e["key"]);
        return keys;
    }
    KdenliveEffect Description(const std::string& key) {
        return ReadDescription(fs::path(ZOKA_KDENLIVE_EFFECTS_DIR) / ("frei0r_zoka_" + Lower(key) + ".xml"));
    }
};

std::string KeyOf(const nlohmann::json& p) { return p["key"].is_string() ? p["key"] : p["label"]; }

const KdenliveParameter* Named(const KdenliveEffect& effect, const std::string& name) {
    for (const KdenliveParameter& p : effect.parameters) {
        if (p.attributes.at("name") == name) return &p;
    }
    return nullptr;
}

// A number in the user's units: a slider's or angle's default and valid
// range, as Kdenlive shows them (the frei0r value times the factor).
void ExpectNumber(const KdenliveParameter& k, const nlohmann::json& p) {
    EXPECT_EQ(k.attributes.at("type"), "animated");  // keyframable
    const double factor = Attribute(k, "factor");
    EXPECT_NEAR(Attribute(k, "default") * factor, std::stod(p["default"].get<std::string>()), 1e-9);
    if (p["kind"] == "angle") {
        EXPECT_EQ(factor, 360);
    } else {
        EXPECT_EQ(Attribute(k, "min"), p["valid"][0].get<double>());
        EXPECT_EQ(Attribute(k, "max"), p["valid"][1].get<double>());
        EXPECT_EQ(Attribute(k, "decimals"), p["kind"] == "slider" ? 0 : 2);
    }
}

TEST_F(KdenliveDescriptions, EveryParameterIsTheOneZokaDeclares) {
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(ZOKA_KDENLIVE_EFFECTS_DIR)) {
        files += entry.path().filename().string().rfind("frei0r_zoka_", 0) == 0;
    }
    const std::vector<std::string> keys = EffectKeys();
    EXPECT_EQ(files, keys.size());
    for (const nlohmann::json& listed : Zoka("list --json")) {
        const std::string key = listed["key"];
        SCOPED_TRACE(key);
        const KdenliveEffect effect = Description(key);
        EXPECT_EQ(effect.attributes.at("tag"), "frei0r.zoka_" + Lower(key));
        EXPECT_EQ(effect.attributes.at("id"), effect.attributes.at("tag"));
        EXPECT_EQ(effect.name, "zoka " + listed["name"].get<std::string>());
        size_t described = 0;
        for (const nlohmann::json& p : Zoka("params " + key + " --json")) {
            if (p["number"].is_null()) continue;  // the selection layer
            SCOPED_TRACE(KeyOf(p));
            const KdenliveParameter* k = Named(effect, KeyOf(p));
            const std::string kind = p["kind"];
            if (kind == "point") {  // MLT passes frei0r filters no position
                EXPECT_EQ(k, nullptr);
                continue;
            }
            ASSERT_NE(k, nullptr);
            ++described;
            EXPECT_EQ(k->name, p["label"]);
            if (kind == "slider" || kind == "fixed slider" || kind == "angle") {
                ExpectNumber(*k, p);
            } else if (kind == "checkbox") {
                EXPECT_EQ(k->attributes.at("type"), "bool");
                EXPECT_EQ(k->attributes.at("default"), p["default"] == "on" ? "1" : "0");
            } else if (kind == "colour") {
                EXPECT_EQ(k->attributes.at("type"), "color");
                EXPECT_EQ(k->attributes.at("default"), p["default"]);
            } else if (kind == "popup") {
                const auto items = p["items"].get<std::vector<std::string>>();
                EXPECT_EQ(k->attributes.at("type"), "list");
                EXPECT_EQ(Split(k->attributes.at("paramlist"), ';'), items);
                EXPECT_EQ(Split(k->shownItems, ','), items);
                EXPECT_EQ(k->attributes.at("default"), p["default"]);
            } else {
                ADD_FAILURE() << "a parameter of kind " << kind;
            }
        }
        EXPECT_EQ(effect.parameters.size(), described);
    }
}

// melt renders a frame through the service each description names: with
// every parameter at the description's default, the frame of zoka's
// defaults; with every number a third of the way along its range as
// Kdenlive shows it (passed divided by its factor), zoka's frame of those
// numbers in the user's units.
TEST_F(KdenliveDescriptions, MeltRendersEachServiceWithItsValuesInTheUsersUnits) {
    if (!Installed("melt")) GTEST_SKIP() << "melt is not installed";
    for (const std::string& key : EffectKeys()) {
        SCOPED_TRACE(key);
        const KdenliveEffect effect = Description(key);
        std::string defaults, numbers;
        std::vector<std::string> sets;
        for (const KdenliveParameter& k : effect.parameters) {
            const std::string& name = k.attributes.at("name");
            defaults += " '" + name + "=" + k.attributes.at("default") + "'";
            if (k.attributes.at("type") != "animated") continue;
            const double low = Attribute(k, "min"), high = Attribute(k, "max");
            const double shown = Attribute(k, "decimals") == 0 ? std::round(low + (high - low) / 3)
                                                                : std::round((low + (high - low) / 3) * 2) / 2;
            char value[64], user[64];
            std::snprintf(value, sizeof value, "%.17g", shown / Attribute(k, "factor"));
            std::snprintf(user, sizeof user, "%.10g", shown);
            numbers += " '" + name + "=" + value + "'";
            sets.push_back(name + "=" + user);
        }
        const std::string service = effect.attributes.at("tag");
        EXPECT_TRUE(MeltFrame(service, defaults, 0) == ZokaFrame(key, 0, {}));
        EXPECT_TRUE(MeltFrame(service, numbers, 0) == ZokaFrame(key, 0, sets)) << numbers;
    }
}

}  // namespace
