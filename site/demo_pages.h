// The documentation site's pages: what `zoka demo` rendered, laid out as an
// index, a page per effect, a page on the selection layer and keyframes and
// one on using the effects in other programs. Every picture is shown with the
// command that renders it and its time; the commands in the text stay inline,
// at the text's size.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace zoka_site {

// A picture in the site's folder. command is empty for the sample layers,
// which `zoka demo` itself writes.
struct SitePicture {
    std::string file;
    std::string caption;
    std::string command;
    double milliseconds = 0;  // the render's time while the site was built
};

struct SiteSection {
    std::string title;
    std::string text;  // HTML
    std::vector<SitePicture> pictures;
};

// A looping animation: its GIF, the command that renders its frames, and
// whether the loop closes.
struct SiteMotion {
    SitePicture picture;  // milliseconds: the mean per frame
    std::string loopNote;
};

struct EffectPage {
    std::string name;
    std::string key;
    std::string description;  // the module's own text, as a host shows it
    std::string note;         // HTML on the description, or empty
    bool registered = true;
    nlohmann::json params;  // as `zoka params KEY --json` prints them
    std::vector<SiteSection> sections;
    std::vector<SiteMotion> motion;  // none for effects that do not move by themselves
    double sampleMilliseconds = 0;   // the default render on each sample layer
    double photoMilliseconds = 0;
};

// A cell of the Python page, as a notebook shows one: its code, and what
// its last line gives: a picture of the site's folder, or text.
struct NotebookCell {
    std::string code;
    std::string picture;
    std::string text;
};

struct Site {
    std::string layerSize;  // "400x300"
    std::vector<SitePicture> samples;
    std::vector<EffectPage> effects;
    std::vector<SiteSection> features;  // the selection layer and keyframes
    std::vector<NotebookCell> notebook;  // the Python page's before and after
};

inline constexpr const char* kFeaturesPage = "features.html";
inline constexpr const char* kPythonPage = "python.html";
// Using the effects in GIMP, Kdenlive, ffmpeg, melt and GStreamer.
inline constexpr const char* kProgramsPage = "programs.html";
// Its screenshot of GIMP, built into the program.
inline constexpr const char* kGimpScreenshot = "gimp-gegl.png";
inline constexpr const char* kContactSheet = "contact-sheet.png";

// index.html, <KEY>.html for every effect, features.html, python.html,
// programs.html and
// style.css.
bool WriteSitePages(const std::string& folder, const Site& site, std::string& error);

// The page file of an effect.
std::string EffectPageFile(const std::string& key);

// A command-line word as a POSIX shell reads it back: quoted when it holds
// anything but letters, digits and a few safe marks.
std::string ShellWord(const std::string& word);

}  // namespace zoka_site
