#include "cli/demo.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "cli/frame_request.h"
#include "cli/image_files.h"
#include "cli/sample_layer.h"
#include "ourhost/text.h"

namespace zoka_cli {

namespace {

// One more image of an effect, at settings other than its defaults.
struct ShownVariant {
    std::string caption;
    std::string file;  // in the gallery folder
};

struct Shown {
    std::string name;
    std::string description;
    std::string file;  // in the gallery folder
    ourhost::Image image;
    std::string motionFile = {};  // an animation, for the effects that move by themselves
    std::string motionCaption = {};
    std::vector<ShownVariant> variants = {};
};

// A selection layer ("Alpha Layer") made from the demo's layer, and where
// its top-left corner lies on the layer.
struct DemoSelection {
    ourhost::Image image;
    double originX = 0;
    double originY = 0;
};
using SelectionFromLayer = DemoSelection (*)(const ourhost::Image& layer);

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
struct StillDemo {
    const char* effectKey;
    const char* suffix;
    const char* caption;
    std::vector<std::string> sets;  // KEY=VALUE
    SelectionFromLayer selection = nullptr;
};

const std::vector<StillDemo> kStillDemos = {
    {"Chrome", "gold", "Gold", {"BaseColor=#4A2A00", "HighlightColor=#FFE08A"}},
    {"Chrome", "bands", "Eight bands, softer", {"Bands=8", "Softness=20"}},
    {"Star", "sides", "Twelve sides, centred", {"Sides=12", "Position=200,150"}},
    {"Star", "polygon", "Indentation 0: the regular hexagon", {"Sides=6", "Indentation=0", "Position=200,150"}},
    {"Star", "erase", "Erase Original Image", {"EraseImage=on", "Position=200,150", "Scale=150"}},
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
     {"Bevel=Button"}, HalfSizeLayer},
    {"OuterBevel", "rounded", "Rounded, the same selection", {"Bevel=Rounded"}, HalfSizeLayer},
    {"OuterBevel", "flat", "Flat, the same selection", {"Bevel=Flat"}, HalfSizeLayer},
    {"OuterBevel", "mesa", "Mesa, the same selection", {"Bevel=Mesa"}, HalfSizeLayer},
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

// Effects that move over time by themselves, with settings that show it; each
// gets a short looping animation in the gallery.
struct MotionDemo {
    const char* effectKey;
    std::vector<std::string> sets;  // KEY=VALUE
};

const MotionDemo kMotionDemos[] = {
    {"HSBNoise", {"FlowVelocity=60", "PhaseVelocity=120", "Hue=30", "LumpWidth=12", "LumpHeight=12"}},
    {"Fire", {"FlowVelocity=120", "WispHeight=60"}},
    {"Smoke", {"FlowVelocity=80"}},
    // 96 pixels in the two seconds: three repeats of the checkerboard, so the loop is seamless.
    {"Weave", {"RibbonWidth=14", "FlowVelocity=48", "FlowDirection=90"}},
    {"Fur", {"FlowVelocity=20", "PhaseVelocity=180", "WaveSize=40"}},
    {"Jiggle", {"FlowVelocity=20", "PhaseVelocity=180"}},
    {"Swirl", {"FlowVelocity=15", "PhaseVelocity=180"}},
    {"Glass", {"FlowVelocity=40", "PhaseVelocity=180", "FlawThickness=50"}},
};

constexpr int kMotionFps = 12;
constexpr int kMotionFrames = 24;

// The description is what follows the about box's blank line.
std::string Description(const std::string& about) {
    const size_t gap = about.find("\r\r");
    return ourhost::Utf8FromAnsi(gap == std::string::npos ? about : about.substr(gap + 2));
}

std::string Html(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

bool WriteGallery(const std::string& folder, const Shown& original, const std::vector<Shown>& shown) {
    std::ofstream html(folder + "/index.html");
    html << "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
            "<title>Lumetta AE Demo: the effects of ZOKA-ENG</title>\n<style>\n"
            "body{font-family:sans-serif;background:#202226;color:#e8e8e8;margin:2em}\n"
            "figure{display:inline-block;margin:0 1em 0 0;vertical-align:top}\n"
            "img{background:repeating-conic-gradient(#888 0 25%,#bbb 0 50%) 0 0/16px 16px}\n"
            "section{margin:0 0 2.5em}\nh2{margin:.2em 0}\np{color:#b8bcc4;margin:.2em 0 .8em}\n"
            "</style></head><body>\n<h1>Lumetta AE Demo</h1>\n"
            "<p>Every effect of the module at its default settings, on the built-in sample layer "
            "(transparency shows as a checkerboard).</p>\n";
    for (const Shown& s : shown) {
        html << "<section><h2>" << Html(s.name) << "</h2><p>" << Html(s.description)
             << "</p>\n<figure><img src=\"" << original.file << "\" alt=\"before\"><figcaption>"
             << "Before</figcaption></figure>\n<figure><img src=\"" << s.file << "\" alt=\""
             << Html(s.name) << "\"><figcaption>After</figcaption></figure>\n";
        for (const ShownVariant& v : s.variants) {
            html << "<figure><img src=\"" << v.file << "\" alt=\"" << Html(s.name) << ", "
                 << Html(v.caption) << "\"><figcaption>" << Html(v.caption)
                 << "</figcaption></figure>\n";
        }
        if (!s.motionFile.empty()) {
            html << "<figure><img src=\"" << s.motionFile << "\" alt=\"" << Html(s.name)
                 << " in motion\"><figcaption>In motion: " << Html(s.motionCaption)
                 << "</figcaption></figure>\n";
        }
        html << "</section>\n";
    }
    html << "</body></html>\n";
    return static_cast<bool>(html);
}

// A grid of thumbnails over a checkerboard, each labelled with its name when
// the font (Debian's fonts-dejavu-core) can be found.
bool WriteContactSheet(const std::string& path, const std::vector<Shown>& cells) {
    std::vector<SheetCell> sheetCells;
    for (const Shown& cell : cells) sheetCells.push_back({cell.name, &cell.image});
    ourhost::Image sheet;
    std::string error;
    if (!MakeContactSheet(sheetCells, sheet, error) || !WriteImage(path, sheet, error)) {
        std::cerr << "zoka: " << error << "\n";
        return false;
    }
    return true;
}

const MotionDemo* MotionDemoOf(const EffectEntry& effect) {
    for (const MotionDemo& demo : kMotionDemos) {
        if (demo.effectKey == std::string(effect.keys.effectKey)) return &demo;
    }
    return nullptr;
}

// Renders the effect's motion demo into <key>-motion.gif, frame n at n / fps
// seconds, each flattened over the checkerboard (GIF has no soft alpha).
int RenderMotion(ourhost::EffectInstance& instance, const EffectEntry& effect,
                 const ourhost::Image& layer, const std::string& folder, Shown& shown) {
    const MotionDemo* demo = MotionDemoOf(effect);
    if (demo == nullptr) return 0;
    if (!ApplySettings(effect, instance, demo->sets)) return kUsageError;
    std::vector<ourhost::Image> frames;
    for (int n = 0; n < kMotionFrames; ++n) {
        const ourhost::FrameOptions options{static_cast<double>(n) / kMotionFps, kMotionFps};
        const ourhost::FrameResult frame = instance.RenderFrame(layer, options);
        if (frame.code != kHostNoError) {
            std::cerr << "zoka: " << effect.name << " failed with code " << frame.code
                      << " at frame " << n << "\n";
            return kModuleError;
        }
        ourhost::Image flat;
        std::string error;
        if (!FlattenOverCheckerboard(frame.image, flat, error)) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        frames.push_back(std::move(flat));
    }
    shown.motionFile = std::string(effect.keys.effectKey) + "-motion.gif";
    for (const std::string& set : demo->sets) {
        shown.motionCaption += (shown.motionCaption.empty() ? "" : ", ") + set;
    }
    std::string error;
    if (!WriteAnimation(folder + "/" + shown.motionFile, frames, kMotionFps, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    return 0;
}

// Renders each of the effect's still demos with a fresh instance of it.
int RenderStills(Session& session, const EffectEntry& effect, const ourhost::Image& layer,
                 const std::string& folder, Shown& shown) {
    for (const StillDemo& demo : kStillDemos) {
        if (demo.effectKey != std::string(effect.keys.effectKey)) continue;
        auto instance = SetUpEffect(session, effect);
        if (!instance) return kModuleError;
        if (!ApplySettings(effect, *instance, demo.sets)) return kUsageError;
        if (demo.selection != nullptr) {
            const DemoSelection selection = demo.selection(layer);
            instance->SetSelection(selection.image, selection.originX, selection.originY);
        }
        const ourhost::FrameResult frame = instance->RenderFrame(layer, {});
        instance->GlobalSetdown();
        if (frame.code != kHostNoError) {
            std::cerr << "zoka: " << effect.name << " (" << demo.caption << ") failed with code "
                      << frame.code << "\n";
            return kModuleError;
        }
        ShownVariant variant{demo.caption, std::string(effect.keys.effectKey) + "-" + demo.suffix + ".png"};
        std::string error;
        if (!WriteImage(folder + "/" + variant.file, frame.image, error)) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        shown.variants.push_back(std::move(variant));
    }
    return 0;
}

}  // namespace

int DemoCommand(Session& session, const std::string& folder) {
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) {
        std::cerr << "zoka: cannot make the folder " << folder << ": " << made.message() << "\n";
        return kFileError;
    }
    std::string error;
    const Shown original{"Original", "The built-in sample layer", "sample.png", SampleLayer()};
    if (!WriteImage(folder + "/" + original.file, original.image, error)) {
        std::cerr << "zoka: " << error << "\n";
        return kFileError;
    }
    std::vector<Shown> shown;
    int status = 0;
    for (const EffectEntry& effect : session.Effects()) {
        auto instance = SetUpEffect(session, effect);
        if (!instance) return kModuleError;
        std::string about;
        instance->About(about);
        const ourhost::FrameResult frame = instance->RenderFrame(original.image, {});
        if (frame.code != kHostNoError) {
            instance->GlobalSetdown();
            std::cerr << "zoka: " << effect.name << " failed with code " << frame.code << "\n";
            status = kModuleError;
            continue;
        }
        Shown s{effect.name, Description(about), std::string(effect.keys.effectKey) + ".png", frame.image};
        // It runs through its entry point, but without a PiPL no host lists it.
        if (!effect.Registered()) s.name += " (not registered)";
        if (!WriteImage(folder + "/" + s.file, s.image, error)) {
            std::cerr << "zoka: " << error << "\n";
            return kFileError;
        }
        const int motion = RenderMotion(*instance, effect, original.image, folder, s);
        if (motion == kFileError) return kFileError;
        if (motion != 0) status = motion;
        const int stills = RenderStills(session, effect, original.image, folder, s);
        if (stills == kFileError) return kFileError;
        if (stills != 0) status = stills;
        instance->GlobalSetdown();
        std::printf("%-20s %s%s%s\n", s.name.c_str(), s.file.c_str(), s.motionFile.empty() ? "" : " ",
                    s.motionFile.c_str());
        shown.push_back(std::move(s));
    }
    std::vector<Shown> cells{original};
    cells.insert(cells.end(), shown.begin(), shown.end());
    if (!WriteGallery(folder, original, shown) ||
        !WriteContactSheet(folder + "/contact-sheet.png", cells)) {
        std::cerr << "zoka: cannot write the gallery in " << folder << "\n";
        return kFileError;
    }
    std::printf("%zu effects rendered into %s/ (index.html, contact-sheet.png)\n", shown.size(),
                folder.c_str());
    return status;
}

}  // namespace zoka_cli
