#include "site/demo.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <utility>
#include <vector>

#include "cli/frame_request.h"
#include "cli/inspect.h"
#include "images/image_files.h"
#include "ourhost/text.h"
#include "site/demo_pages.h"
#include "site/sample_layer.h"

namespace zoka_site {

using namespace zoka_cli;
using namespace zoka_images;

namespace {

// A selection layer ("Alpha Layer") made from the demo's layer, and where
// its top-left corner lies on the layer.
struct DemoSelection {
    ourhost::Image image;
    double originX = 0;
    double originY = 0;
};

// The layer at half its size, centred on it: shapes that lie on the layer's
// opaque parts, for effects that draw around a selection.
DemoSelection HalfSizeLayer(const ourhost::Image& layer) {
    ourhost::Image half = layer.Shrunk(2);
    const double x = (layer.Width() - half.Width()) / 2, y = (layer.Height() - half.Height()) / 2;
    return DemoSelection{std::move(half), x, y};
}

// Settings beyond the defaults that show what else an effect does (its other
// shapes, modes and curves); each gets one more image in the gallery,
// <key>-<suffix>.png, rendered from the defaults with these settings (and
// the selection, when one is made).
// Stands for the point at the layer's centre, whatever its size.
const std::string kCentred = "Position=centre";

struct StillDemo {
    const char* effectKey;
    const char* suffix;
    const char* caption;
    std::vector<std::string> sets;  // KEY=VALUE
    bool halfSizeSelection = false;  // the layer at half size, centred, as the selection
};

const std::vector<StillDemo> kStillDemos = {
    {"Chrome", "gold", "Gold", {"BaseColor=#4A2A00", "HighlightColor=#FFE08A"}},
    {"Chrome", "bands", "Eight bands, softer", {"Bands=8", "Softness=20"}},
    {"Star", "sides", "Twelve sides, centred", {"Sides=12", kCentred}},
    {"Star", "polygon", "Indentation 0: the regular hexagon", {"Sides=6", "Indentation=0", kCentred}},
    {"Star", "erase", "Erase Original Image", {"EraseImage=on", kCentred, "Scale=150"}},
    {"Weave", "smear", "Smear Threads, Fill Gaps off", {"Smear=on", "GapFill=off"}},
    {"Fur", "straight", "Waviness 0, Length 12: straight hairs", {"WaveSize=0", "HairLength=12"}},
    {"Jiggle", "brownian", "Brownian Motion", {"Field=2"}},
    {"Jiggle", "turbulence", "Turbulence", {"Field=3"}},
    {"Swirl", "symmetric", "Warp off: smeared both ways", {"Warp=off"}},
    {"InnerBevel", "rounded", "Bevel Shape Rounded", {"Bevel=Rounded"}},
    {"InnerBevel", "flat", "Bevel Shape Flat", {"Bevel=Flat"}},
    {"InnerBevel", "mesa", "Bevel Shape Mesa", {"Bevel=Mesa"}},
    {"Carve", "rounded", "Bevel Shape Rounded", {"Bevel=Rounded"}},
    {"Carve", "flat", "Bevel Shape Flat", {"Bevel=Flat"}},
    {"Carve", "mesa", "Bevel Shape Mesa", {"Bevel=Mesa"}},
    // Outer Bevel slopes down outside its mask, which shows only where the
    // layer is opaque: around a selection smaller than the layer.
    {"OuterBevel", "button", "Button, around the layer at half size as the selection",
     {"Bevel=Button"}, true},
    {"OuterBevel", "rounded", "Rounded, the same selection", {"Bevel=Rounded"}, true},
    {"OuterBevel", "flat", "Flat, the same selection", {"Bevel=Flat"}, true},
    {"OuterBevel", "mesa", "Mesa, the same selection", {"Bevel=Mesa"}, true},
    {"Cutout", "transparent", "Solid Fill off, Distance 20, Blur 12",
     {"SolidFill=off", "ShadowDistance=20", "Blur=12"}},
    {"DropShadow", "soft", "Direction 135 degrees, Distance 25, Blur 40, Color #302060",
     {"ShadowDirection=135", "ShadowDistance=25", "Blur=40", "ShadowColor=#302060"}},
    {"PerspectiveShadow", "left", "Vanishing Point at 330 degrees, Distance 60, Length 100, Blur 4",
     {"VanishingPointDirection=330", "VanishingPointDistance=60", "Length=100", "Blur=4"}},
    {"Glow", "medium", "Medium dropoff, wider, orange", {"DropoffType=Medium", "Width=35", "Color=#FFA030"}},
    {"Glow", "thin", "Thin dropoff, wider, orange", {"DropoffType=Thin", "Width=35", "Color=#FFA030"}},
    {"Glow", "diffuse", "Diffuse dropoff, wider, orange", {"DropoffType=Diffuse", "Width=35", "Color=#FFA030"}},
    {"Glow", "everywhere", "Drawn everywhere, blue at 60 %", {"DrawEverywhere=on", "Opacity=60", "Color=#40A0FF"}},
    {"Glass", "button", "Button bevel, wider", {"BevelType=Button", "Width=30"}},
    {"Glass", "refraction", "More refraction, blue glass", {"ReflectionParam=60", "Color=#80B0FF"}},
};

// Effects that move over time by themselves, with settings that show it, and
// why the loop closes or cannot; each gets a looping animation.
struct MotionDemo {
    const char* effectKey;
    std::vector<std::string> sets;  // KEY=VALUE
    const char* why;
};

const MotionDemo kMotionDemos[] = {
    {"HSBNoise", {"PhaseVelocity=180", "Hue=30", "LumpWidth=12", "LumpHeight=12"},
     "The noise undulates in place at 180 degrees a second: one whole cycle in two seconds."},
    {"Fire", {"FlowVelocity=120", "WispHeight=60"},
     "The flames rise through noise that never repeats, so the loop cannot close."},
    {"Smoke", {"FlowVelocity=80"}, "The smoke rises through noise that never repeats, so the loop cannot close."},
    {"Weave", {"RibbonWidth=14", "FlowVelocity=48", "FlowDirection=90"},
     "The threads drift 96 pixels in two seconds; the weave's pattern and its threads' detail do not "
     "repeat exactly over that drift."},
    {"Fur", {"PhaseVelocity=180", "WaveSize=40"},
     "The hair undulates at 180 degrees a second: one whole cycle in two seconds."},
    {"Jiggle", {"FlowVelocity=20", "PhaseVelocity=180"},
     "The bubbles drift 40 pixels in two seconds through a field that never repeats."},
    {"Swirl", {"PhaseVelocity=180"},
     "The whirlpools undulate at 180 degrees a second: one whole cycle in two seconds."},
    {"Glass", {"PhaseVelocity=180", "FlawThickness=50"},
     "The flaws undulate at 180 degrees a second: one whole cycle in two seconds."},
};

constexpr int kMotionFps = 12;

// The sweeps' points along a slider's range.
constexpr int kSweepPercents[] = {25, 50, 100};
// Speeds and seeds change the picture without showing what the effect does.
const char* const kNotSwept[] = {"RandomSeed", "FlowVelocity", "PhaseVelocity"};
constexpr size_t kSweptSliders = 2;

constexpr const char* kSampleFile = "sample.png";
constexpr const char* kPhotoFile = "photo.png";
constexpr const char* kHalfSelectionFile = "selection-half.png";

// The description is what follows the about box's blank line.
std::string Description(const std::string& about) {
    const size_t gap = about.find("\r\r");
    return ourhost::Utf8FromAnsi(gap == std::string::npos ? about : about.substr(gap + 2));
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// One render as `zoka render` makes it from files in the site's folder.
struct RenderRequest {
    std::string layerFile;
    std::vector<std::string> sets = {};  // KEY=VALUE
    std::string selectionFile = {};      // empty: no selection layer
    double originX = 0;
    double originY = 0;
    double time = 0;
};

std::string RenderCommandLine(const std::string& key, const RenderRequest& request, const std::string& output) {
    std::string command = "zoka render " + ShellWord(key) + " " + ShellWord(request.layerFile) + " " +
                          ShellWord(output);
    for (const std::string& set : request.sets) command += " --set " + ShellWord(set);
    if (!request.selectionFile.empty()) {
        command += " --selection " + ShellWord(request.selectionFile) + " --selection-origin " +
                   Number(request.originX) + "," + Number(request.originY);
    }
    if (request.time != 0) command += " --time " + Number(request.time);
    return command;
}

// The share of pixels in which two frames differ, 1 when their sizes do.
double DifferingShare(const ourhost::Image& a, const ourhost::Image& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return 1;
    size_t differing = 0;
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) differing += !(a.At(x, y) == b.At(x, y));
    }
    return static_cast<double>(differing) / (static_cast<double>(a.Width()) * a.Height());
}

class SiteBuilder {
public:
    SiteBuilder(Session& session, const DemoOptions& options, int32_t width, int32_t height)
        : session_(session), options_(options), width_(width), height_(height) {}

    int Build();

private:
    std::string PathOf(const std::string& file) const { return options_.folder + "/" + file; }
    int WriteLayer(const std::string& file, ourhost::Image image, const std::string& caption);
    int Render(const EffectEntry& effect, const RenderRequest& request, const std::string& file,
               const std::string& caption, SitePicture& picture, ourhost::Image* kept = nullptr,
               std::pair<int32_t, int32_t>* origin = nullptr);
    int Add(const EffectEntry& effect, const RenderRequest& request, const std::string& file,
            const std::string& caption, SiteSection& section);
    int BuildPage(const EffectEntry& effect, EffectPage& page);
    int AddSweeps(const EffectEntry& effect, EffectPage& page);
    int AddStills(const EffectEntry& effect, EffectPage& page);
    int AddMotion(const EffectEntry& effect, EffectPage& page);
    int AddFeatures();
    int AddNotebook();
    int Report(int status);

    Session& session_;
    const DemoOptions& options_;
    int32_t width_, height_;
    std::map<std::string, ourhost::Image> layers_;  // the inputs, by file name
    Site site_;
    std::vector<std::pair<std::string, ourhost::Image>> sheet_;  // the contact sheet's cells
    int status_ = 0;  // the first module or usage error; file errors end the build
};

int SiteBuilder::WriteLayer(const std::string& file, ourhost::Image image, const std::string& caption) {
    std::string error;
    if (!WriteImage(PathOf(file), image, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    layers_[file] = std::move(image);
    if (!caption.empty()) site_.samples.push_back({file, caption, "", 0});
    return 0;
}

// A fresh instance for every picture, as each `zoka render` is a fresh run.
int SiteBuilder::Render(const EffectEntry& effect, const RenderRequest& request, const std::string& file,
                        const std::string& caption, SitePicture& picture, ourhost::Image* kept,
                        std::pair<int32_t, int32_t>* origin) {
    auto instance = SetUpEffect(session_, effect);
    if (!instance) return kModuleError;
    if (!ApplySettings(effect, *instance, request.sets)) {
        instance->GlobalSetdown();
        return kUsageError;
    }
    if (!request.selectionFile.empty()) {
        instance->SetSelection(layers_.at(request.selectionFile), request.originX, request.originY);
    }
    ourhost::FrameOptions options;
    options.time = request.time;
    const auto start = std::chrono::steady_clock::now();
    ourhost::FrameResult frame = instance->RenderFrame(layers_.at(request.layerFile), options);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    instance->GlobalSetdown();
    if (frame.code != kHostNoError) {
        std::cerr << "zoka: " << effect.name << " (" << caption << ") failed with code " << frame.code << "\n";
        return kModuleError;
    }
    std::string error;
    // Written as `zoka render` writes it: the grown layer, placed by its
    // offset from the input's top-left.
    WriteExtras placed;
    placed.x = -frame.originX;
    placed.y = -frame.originY;
    if (!WriteImage(PathOf(file), frame.image, error, kDefaultPngCompression, placed)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    picture = {file, caption, RenderCommandLine(effect.keys.effectKey, request, file), took.count()};
    if (origin != nullptr) *origin = {frame.originX, frame.originY};
    if (kept != nullptr) *kept = std::move(frame.image);
    return 0;
}

int SiteBuilder::Add(const EffectEntry& effect, const RenderRequest& request, const std::string& file,
                     const std::string& caption, SiteSection& section) {
    SitePicture picture;
    const int status = Render(effect, request, file, caption, picture);
    if (status == 0) section.pictures.push_back(std::move(picture));
    return status;
}

// Keeps the first module or usage error; a file error ends the build.
int SiteBuilder::Report(int status) {
    if (status != 0 && status_ == 0) status_ = status;
    return status == kFileError ? kFileError : 0;
}

// The first sliders that show what the effect does, each at a quarter, half
// and the whole of its slider range, on the synthetic sample.
int SiteBuilder::AddSweeps(const EffectEntry& effect, EffectPage& page) {
    size_t swept = 0;
    for (const nlohmann::json& param : page.params) {
        const std::string kind = param["kind"].get<std::string>();
        if ((kind != "slider" && kind != "fixed slider") || swept == kSweptSliders) continue;
        const std::string key = param["key"].is_null() ? "" : param["key"].get<std::string>();
        if (std::find(std::begin(kNotSwept), std::end(kNotSwept), key) != std::end(kNotSwept)) continue;
        ++swept;
        // Parameters without a key are set by their number.
        const std::string name = key.empty() ? param["number"].dump() : key;
        const std::string label = param["label"].get<std::string>();
        const double low = param["slider"][0].get<double>(), high = param["slider"][1].get<double>();
        SiteSection section{"Sweep: " + label, "At a quarter, half and the whole of the slider's range (" +
                                                   Number(low) + " to " + Number(high) + ").", {}};
        for (const int percent : kSweepPercents) {
            const double value = std::round(low + (high - low) * percent / 100);
            const RenderRequest request{kSampleFile, {name + "=" + Number(value)}};
            const std::string file = page.key + "-sweep" + std::to_string(swept) + "-" +
                                     std::to_string(percent) + ".png";
            if (Report(Add(effect, request, file, label + " " + Number(value), section)) == kFileError) {
                return kFileError;
            }
        }
        page.sections.push_back(std::move(section));
    }
    return 0;
}

int SiteBuilder::AddStills(const EffectEntry& effect, EffectPage& page) {
    SiteSection section{"More settings", "On the synthetic sample, from the defaults.", {}};
    for (const StillDemo& demo : kStillDemos) {
        if (demo.effectKey != page.key) continue;
        RenderRequest request{kSampleFile, demo.sets};
        for (std::string& set : request.sets) {
            if (set == kCentred) set = "Position=" + Number(width_ / 2) + "," + Number(height_ / 2);
        }
        if (demo.halfSizeSelection) {
            const DemoSelection half = HalfSizeLayer(layers_.at(kSampleFile));
            request.selectionFile = kHalfSelectionFile;
            request.originX = half.originX;
            request.originY = half.originY;
        }
        const std::string file = page.key + "-" + demo.suffix + ".png";
        if (Report(Add(effect, request, file, demo.caption, section)) == kFileError) return kFileError;
    }
    if (!section.pictures.empty()) page.sections.push_back(std::move(section));
    return 0;
}

const MotionDemo* MotionDemoOf(const std::string& key) {
    for (const MotionDemo& demo : kMotionDemos) {
        if (demo.effectKey == key) return &demo;
    }
    return nullptr;
}

// Effects that declare a speed move by themselves.
bool MovesByItself(const nlohmann::json& params) {
    for (const nlohmann::json& param : params) {
        if (param["key"] == "FlowVelocity" || param["key"] == "PhaseVelocity") return true;
    }
    return false;
}

// <key>-motion.gif: frame n at n / fps seconds, each flattened over the
// checkerboard (GIF has no soft alpha). The frame after the last is
// rendered too: the loop is seamless when it equals the first.
int SiteBuilder::AddMotion(const EffectEntry& effect, EffectPage& page) {
    if (!MovesByItself(page.params)) return 0;
    const MotionDemo* demo = MotionDemoOf(page.key);
    const std::vector<std::string> sets = demo != nullptr ? demo->sets : std::vector<std::string>{};
    auto instance = SetUpEffect(session_, effect);
    if (!instance) return kModuleError;
    if (!ApplySettings(effect, *instance, sets)) {
        instance->GlobalSetdown();
        return kUsageError;
    }
    const int32_t count = options_.motionFrames;
    std::vector<ourhost::Image> frames;
    ourhost::Image first;
    double milliseconds = 0;
    for (int32_t n = 0; n <= count; ++n) {
        const ourhost::FrameOptions options{static_cast<double>(n) / kMotionFps, kMotionFps};
        const auto start = std::chrono::steady_clock::now();
        ourhost::FrameResult frame = instance->RenderFrame(layers_.at(kSampleFile), options);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        if (frame.code != kHostNoError) {
            instance->GlobalSetdown();
            std::cerr << "zoka: " << effect.name << " failed with code " << frame.code << " at frame " << n << "\n";
            return kModuleError;
        }
        if (n == count) {
            const double share = DifferingShare(first, frame.image);
            char note[160];
            std::snprintf(note, sizeof note, "%s the frame after the last %s.",
                          share == 0 ? "A seamless loop:" : "Not a seamless loop:",
                          share == 0 ? "equals the first"
                                     : ("differs from the first in " + Number(std::round(share * 1000) / 10) +
                                        " % of its pixels").c_str());
            page.motion.push_back({{}, std::string(demo != nullptr ? demo->why : "") + " " + note});
            break;
        }
        milliseconds += took.count();
        if (n == 0) first = frame.image;
        ourhost::Image flat;
        std::string error;
        if (!FlattenOverCheckerboard(frame.image, flat, error)) {
            instance->GlobalSetdown();
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        frames.push_back(std::move(flat));
    }
    instance->GlobalSetdown();
    SitePicture& picture = page.motion.back().picture;
    picture.file = page.key + "-motion.gif";
    picture.command = "zoka animate " + page.key + " " + kSampleFile + " " + page.key + "-motion-%04d.png --frames 0-" +
                      std::to_string(count - 1) + " --fps " + std::to_string(kMotionFps);
    for (const std::string& set : sets) {
        picture.command += " --set " + ShellWord(set);
        picture.caption += (picture.caption.empty() ? "" : ", ") + set;
    }
    picture.caption = std::to_string(count) + " frames at " + std::to_string(kMotionFps) + " fps" +
                      (picture.caption.empty() ? "" : ": " + picture.caption);
    picture.milliseconds = milliseconds / count;
    std::string error;
    if (!WriteAnimation(PathOf(picture.file), frames, kMotionFps, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    return 0;
}

int SiteBuilder::BuildPage(const EffectEntry& effect, EffectPage& page) {
    auto instance = SetUpEffect(session_, effect);
    if (!instance) return kModuleError;
    std::string about;
    instance->About(about);
    page.name = effect.name;
    page.key = effect.keys.effectKey;
    page.description = Description(about);
    // Hosts show the module's text as it is, misspelling and all.
    if (page.description.find("semi-tranparent") != std::string::npos) {
        page.note = "&ldquo;Semi-tranparent&rdquo; is spelt so in the module's own text, which hosts show as it "
                    "is; the page does not correct it.";
    }
    page.registered = effect.Registered();
    page.params = ParamsJson(*instance, effect);
    instance->GlobalSetdown();

    SitePicture picture;
    ourhost::Image after;
    SiteSection synthetic{"Before and after: the synthetic sample", "At the default settings.",
                          {{kSampleFile, "Before", "", 0}}};
    int status = Render(effect, {kSampleFile}, page.key + ".png", "After", picture, &after);
    if (Report(status) == kFileError) return kFileError;
    if (status == 0) {
        page.sampleMilliseconds = picture.milliseconds;
        synthetic.pictures.push_back(picture);
        sheet_.emplace_back(effect.Registered() ? effect.name : effect.name + " (not registered)", std::move(after));
    }
    page.sections.push_back(std::move(synthetic));
    SiteSection photo{"Before and after: the photo-like sample", "At the default settings.",
                      {{kPhotoFile, "Before", "", 0}}};
    status = Render(effect, {kPhotoFile}, page.key + "-photo.png", "After", picture);
    if (Report(status) == kFileError) return kFileError;
    if (status == 0) {
        page.photoMilliseconds = picture.milliseconds;
        photo.pictures.push_back(picture);
    }
    page.sections.push_back(std::move(photo));
    if (AddSweeps(effect, page) == kFileError || AddStills(effect, page) == kFileError) return kFileError;
    return Report(AddMotion(effect, page));
}

// The selection layer and keyframes, each shown once.
int SiteBuilder::AddFeatures() {
    const EffectEntry* antimatter = session_.Find("Antimatter");
    const EffectEntry* blur = session_.Find("GaussianBlur");
    const EffectEntry* trail = session_.Find("MotionTrail");
    if (antimatter == nullptr || blur == nullptr || trail == nullptr) return kModuleError;
    std::string withSelection;
    for (const EffectPage& page : site_.effects) {
        for (const nlohmann::json& param : page.params) {
            if (param["kind"] == "layer") withSelection += (withSelection.empty() ? "" : ", ") + page.name;
        }
    }
    const DemoSelection half = HalfSizeLayer(layers_.at(kSampleFile));
    SiteSection selection{
        "The selection layer (\"Alpha Layer\")",
        "An effect with a selection layer applies only where that layer is opaque, in proportion to its "
        "alpha; the layer is placed by its top-left corner (<code>--selection-origin</code>). Here the "
        "synthetic sample at half size, centred, selects part of the photo-like sample. Effects that take "
        "one: " + withSelection + ".",
        {{kHalfSelectionFile, "The selection layer", "", 0}}};
    const RenderRequest selected{kPhotoFile, {}, kHalfSelectionFile, half.originX, half.originY};
    if (Report(Add(*antimatter, selected, "selection-antimatter.png", "Antimatter through the selection",
                   selection)) == kFileError) {
        return kFileError;
    }
    RenderRequest blurred = selected;
    blurred.sets = {"Width=12"};
    if (Report(Add(*blur, blurred, "selection-blur.png", "Gaussian Blur, Width 12, through the selection",
                   selection)) == kFileError) {
        return kFileError;
    }
    site_.features.push_back(std::move(selection));

    SiteSection keyframes{"Keyframes",
                          "A parameter takes keyframes as <code>VALUE@SECONDS;...</code>: linear between "
                          "keys, held before the first and after the last. Motion Trail's Length here goes "
                          "from 10 at 0 s to 120 at 2 s.",
                          {}};
    for (const double time : {0.0, 0.5, 1.0, 2.0}) {
        const RenderRequest request{kSampleFile, {"Length=10@0;120@2"}, "", 0, 0, time};
        const std::string file = "keyframes-" + Number(time * 1000) + "ms.png";
        if (Report(Add(*trail, request, file, "At " + Number(time) + " s", keyframes)) == kFileError) {
            return kFileError;
        }
    }
    site_.features.push_back(std::move(keyframes));
    return 0;
}

// A KEY=VALUE setting as a Python keyword argument: numbers as they are,
// anything else as a string, both in the units --set takes.
std::string PythonArgument(const std::string& set) {
    const size_t equals = set.find('=');
    const std::string value = set.substr(equals + 1);
    char* end = nullptr;
    std::strtod(value.c_str(), &end);
    const bool number = !value.empty() && *end == '\0';
    return set.substr(0, equals) + "=" + (number ? value : "\"" + value + "\"");
}

// The Python page's notebook: the photo-like sample before and after an
// effect, rendered as zoka render renders it (and so as zoka.render does),
// the call written from the very settings rendered.
int SiteBuilder::AddNotebook() {
    const EffectEntry* glow = session_.Find("Glow");
    if (glow == nullptr) return kModuleError;
    const RenderRequest request{kPhotoFile, {"Width=40", "Color=orange"}};
    constexpr const char* kFile = "python-glow.png";
    SitePicture picture;
    ourhost::Image after;
    std::pair<int32_t, int32_t> origin;
    if (const int status = Render(*glow, request, kFile, "", picture, &after, &origin)) return status;
    std::string call = "zoka.render(\"" + glow->name + "\", photo";
    for (const std::string& set : request.sets) call += ", " + PythonArgument(set);
    const auto pair = [](int32_t a, int32_t b) { return "(" + std::to_string(a) + ", " + std::to_string(b) + ")"; };
    site_.notebook = {
        {"import zoka\nfrom PIL import Image\n\nphoto = Image.open(\"" + std::string(kPhotoFile) + "\")\nphoto",
         kPhotoFile, ""},
        {"glowing, origin = " + call + ")\nglowing", kFile, ""},
        {"origin  # where the photo's top-left lies in it", "", pair(origin.first, origin.second)},
        {"glowing.size", "", pair(after.Width(), after.Height())},
    };
    return 0;
}

int SiteBuilder::Build() {
    site_.layerSize = std::to_string(width_) + "x" + std::to_string(height_);
    const ourhost::Image sample = SampleLayer(width_, height_);
    if (WriteLayer(kSampleFile, sample, "The synthetic sample: hard and soft edges, a hole") != 0 ||
        WriteLayer(kPhotoFile, PhotoSample(width_, height_),
                   "The photo-like sample: shaded shapes, soft gradients, an irregular soft edge") != 0 ||
        WriteLayer(kHalfSelectionFile, HalfSizeLayer(sample).image, "") != 0) {
        return kFileError;
    }
    sheet_.emplace_back("Original", sample);
    for (const EffectEntry& effect : session_.Effects()) {
        EffectPage page;
        const int status = BuildPage(effect, page);
        if (status == kFileError) return kFileError;
        if (Report(status) != 0 || page.key.empty()) continue;
        std::printf("%-20s %s\n", page.name.c_str(), EffectPageFile(page.key).c_str());
        site_.effects.push_back(std::move(page));
    }
    if (Report(AddFeatures()) == kFileError || Report(AddNotebook()) == kFileError) return kFileError;
    std::vector<SheetCell> cells;
    for (const auto& [name, image] : sheet_) cells.push_back({name, &image});
    ourhost::Image sheet;
    std::string error;
    if (!MakeContactSheet(cells, sheet, error) || !WriteImage(PathOf(kContactSheet), sheet, error) ||
        !WriteSitePages(options_.folder, site_, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    std::printf("%zu effects documented in %s/ (index.html, %s)\n", site_.effects.size(),
                options_.folder.c_str(), kContactSheet);
    return status_;
}

}  // namespace

int DemoCommand(Session& session, const DemoOptions& options) {
    const auto size = ParseSize(options.size);
    if (!size) {
        std::cerr << "zoka: --size takes WxH, not \"" << options.size << "\"\n";
        return kUsageError;
    }
    std::error_code made;
    std::filesystem::create_directories(options.folder, made);
    if (made) {
        std::cerr << "zoka: cannot make the folder " << options.folder << ": " << made.message() << "\n";
        return kFileError;
    }
    return SiteBuilder(session, options, size->first, size->second).Build();
}

}  // namespace zoka_site
