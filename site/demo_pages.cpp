#include "site/demo_pages.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "ourhost/client_names.h"
#include "site/assets.h"

namespace zoka_site {

namespace {

using nlohmann::json;

constexpr const char* kStyle =
    "body{font-family:sans-serif;background:#202226;color:#e8e8e8;margin:2em;max-width:80em}\n"
    "a{color:#8cc4ff}\n"
    "figure{display:inline-block;margin:0 1em 1em 0;vertical-align:top;max-width:26em}\n"
    "figcaption{font-size:.9em}\n"
    "img{background:repeating-conic-gradient(#888 0 25%,#bbb 0 50%) 0 0/16px 16px}\n"
    "code{font-family:monospace,monospace;font-size:1em;color:#c8e0a0}\n"
    ".command{display:block;font-size:.8em;overflow-wrap:anywhere;margin:.3em 0}\n"
    ".time{color:#9098a4}\n"
    "section{margin:0 0 2em}\nh2{margin:.4em 0}\np{color:#b8bcc4;margin:.2em 0 .8em}\n"
    "table{border-collapse:collapse;margin:.5em 0 1.5em}\n"
    "td,th{border-bottom:1px solid #444;padding:.2em .6em;text-align:left;vertical-align:top}\n"
    "pre{color:#c8e0a0;background:#16181b;padding:.5em .8em;margin:.2em 0 .8em;overflow-x:auto}\n"
    ".cell{display:flex;gap:.8em;align-items:flex-start}\n"
    ".prompt{color:#8cc4ff;font-family:monospace;min-width:5.5em;padding-top:.5em}\n";

// The Python page's examples beyond its notebook.
constexpr const char* kPythonExamples = R"py(import numpy as np
import zoka

layer = np.asarray(photo)          # H x W x 4 (RGBA) or x 3 (RGB); uint8, uint16 or float32
trail, origin = zoka.render("Motion Trail", layer, time=1.0, fps=24,
                            Length={0: 0, 2: 120}, Direction=120)   # keyframes {seconds: value}
draft, _ = zoka.render("Glass", layer, downsample=4, **{"Bevel Width (pixels)": 12})  # by label
mask = Image.open("selection-half.png")                           # a selection layer
masked, _ = zoka.render("Antimatter", layer, selection=mask, selection_origin=(20, 10))

for frame in zoka.animate("HSB Noise", layer, range(48), fps=24, FlowVelocity=40):
    Image.fromarray(frame.image).save(f"noise_{frame.number:04d}.png")   # one canvas for all

steps = zoka.chain(("Glow", {"Width": 40}), ("Gaussian Blur", {"Width": 5}), "Squint")
result, origin = zoka.render(steps, layer)                        # as --then

try:
    zoka.render("Glow", layer, Width=1000)
except zoka.RequestError as error:        # a ValueError; RenderError and OutOfMemory for the module's
    print(error)   # Glow: "Width (pixels)" takes a number from 0 to 999, not "1000"

zoka.effects()        # name, key, index, registered, moves (by itself)
zoka.params("Glow")   # what zoka params Glow --json prints
help(zoka.render)     # every argument, and every effect's settings with their ranges)py";

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

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string Milliseconds(double ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f ms", ms);
    return text;
}

std::string Header(const std::string& title) {
    return "<!doctype html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + Html(title) +
           "</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n</head><body>\n";
}

std::string Figure(const SitePicture& picture) {
    std::string html = "<figure><img src=\"" + Html(picture.file) + "\" alt=\"" + Html(picture.caption) +
                       "\"><figcaption>" + Html(picture.caption);
    if (picture.command.empty()) {
        html += "<br><span class=\"time\">drawn by <code>zoka demo</code> itself</span>";
    } else {
        html += " <span class=\"time\">(" + Milliseconds(picture.milliseconds) + ")</span><code class=\"command\">" +
                Html(picture.command) + "</code>";
    }
    return html + "</figcaption></figure>\n";
}

std::string Section(const SiteSection& section) {
    std::string html = "<section><h2>" + Html(section.title) + "</h2>\n";
    if (!section.text.empty()) html += "<p>" + section.text + "</p>\n";
    for (const SitePicture& picture : section.pictures) html += Figure(picture);
    return html + "</section>\n";
}

// The unit a value is given in, from the parameter's kind, display flags and
// the unit its label names in parentheses.
std::string Unit(const json& param) {
    const std::string kind = param["kind"].get<std::string>();
    const std::string label = param["label"].get<std::string>();
    if (param.contains("flags") && (param["flags"].get<int>() & 1)) return "%";
    if (kind == "angle") return "degrees, clockwise from straight up";
    if (kind == "point") return "layer pixels, X,Y";
    if (kind == "colour") return "#RRGGBB";
    if (kind == "checkbox") return "on / off";
    if (kind == "popup") return "an item";
    if (kind == "layer") return "a layer";
    const size_t open = label.rfind('('), close = label.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    std::string unit = label.substr(open + 1, close - open - 1);
    for (size_t at; (at = unit.find("\xC2\xB0")) != std::string::npos;) unit.replace(at, 2, "degrees");
    return unit;
}

std::string Range(const json& param, const char* which) {
    if (!param.contains(which)) return "";
    return Number(param[which][0].get<double>()) + " to " + Number(param[which][1].get<double>());
}

std::string Notes(const json& param) {
    if (param.contains("items")) {
        std::string items;
        for (const auto& item : param["items"]) items += (items.empty() ? "" : ", ") + item.get<std::string>();
        return items;
    }
    if (param.contains("checkboxText")) {
        std::string text = "\"";
        text += param["checkboxText"].get<std::string>();
        return text + "\"";
    }
    return "";
}

std::string ParamTable(const json& params) {
    std::string html =
        "<table><tr><th>#</th><th>key</th><th>label</th><th>kind</th><th>default</th>"
        "<th>slider</th><th>valid</th><th>unit</th><th>items</th></tr>\n";
    for (const json& p : params) {
        html += "<tr><td>" + (p["number"].is_null() ? std::string("&ndash;") : p["number"].dump()) +
                "</td><td>" + (p["key"].is_null() ? std::string("&ndash;") : Html(p["key"].get<std::string>())) + "</td><td>" +
                Html(p["label"].get<std::string>()) + "</td><td>" + Html(p["kind"].get<std::string>()) + "</td><td>" + Html(p["default"].get<std::string>()) +
                "</td><td>" + Range(p, "slider") + "</td><td>" + Range(p, "valid") + "</td><td>" +
                Html(Unit(p)) + "</td><td>" + Html(Notes(p)) + "</td></tr>\n";
    }
    return html + "</table>\n";
}

std::string EffectPageHtml(const EffectPage& page) {
    std::string html = Header(page.name + ": Lumetta AE Demo") +
                       "<p><a href=\"index.html\">All effects</a></p>\n<h1>" + Html(page.name) + "</h1>\n<p>" +
                       Html(page.description) + "</p>\n" + (page.note.empty() ? "" : "<p>" + page.note + "</p>\n") +
                       "<p>Key <b>" + Html(page.key) + "</b>";
    if (!page.registered) html += "; not registered: it has no PiPL resource, so no host lists it";
    html += ".</p>\n<h2>Parameters</h2>\n<p>As <code>zoka params " + Html(page.key) +
            " --json</code> gives them. Set them with <code>--set KEY=VALUE</code> (by key, label "
            "or number).</p>\n" +
            ParamTable(page.params);
    for (const SiteSection& section : page.sections) html += Section(section);
    for (const SiteMotion& motion : page.motion) {
        html += "<section><h2>In motion</h2>\n<p>" + Html(motion.loopNote) +
                " The frames are flattened over the checkerboard (GIF has no soft alpha); the time is "
                "the mean per frame.</p>\n" +
                Figure(motion.picture) + "</section>\n";
    }
    return html + "</body></html>\n";
}

std::string IndexHtml(const Site& site) {
    std::string html = Header("Lumetta AE Demo: the effects of ZOKA-ENG") +
                       "<h1>Lumetta AE Demo</h1>\n<p>The effects of the module, each on its own page: its "
                       "parameters, before and after on two sample layers, sweeps of its main parameters, "
                       "other settings and, for the effects that move by themselves, a looping animation. "
                       "Every picture shows the command that renders it (run it in this folder) and the "
                       "time its render took while this site was built (" +
                       Html(site.layerSize) +
                       " layers, one thread). Transparency shows as a checkerboard.</p>\n"
                       "<p><a href=\"" +
                       std::string(kFeaturesPage) +
                       "\">The selection layer (&ldquo;Alpha Layer&rdquo;) and keyframes</a> &middot; <a href=\"" +
                       kProgramsPage + "\">The effects in GIMP, Kdenlive, ffmpeg, melt and GStreamer</a> &middot; <a href=\"" +
                       kPythonPage + "\">zoka for Python</a> &middot; <a href=\"" +
                       kContactSheet + "\">Contact sheet</a></p>\n<section><h2>The sample layers</h2>\n";
    for (const SitePicture& sample : site.samples) html += Figure(sample);
    html += "</section>\n<table><tr><th>effect</th><th>key</th><th>what it does</th><th>default, synthetic"
            "</th><th>default, photo</th><th>moves by itself</th></tr>\n";
    for (const EffectPage& page : site.effects) {
        html += "<tr><td><a href=\"" + Html(EffectPageFile(page.key)) + "\">" + Html(page.name) + "</a>" +
                (page.registered ? "" : " (not registered)") + "</td><td>" + Html(page.key) + "</td><td>" +
                Html(page.description) + "</td><td>" + Milliseconds(page.sampleMilliseconds) + "</td><td>" +
                Milliseconds(page.photoMilliseconds) + "</td><td>" + (page.motion.empty() ? "" : "yes") +
                "</td></tr>\n";
    }
    return html + "</table>\n</body></html>\n";
}

std::string NotebookHtml(const std::vector<NotebookCell>& cells) {
    std::string html;
    for (size_t i = 0; i < cells.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        html += "<div class=\"cell\"><span class=\"prompt\">In [" + n + "]:</span><pre class=\"code\">" +
                Html(cells[i].code) + "</pre></div>\n<div class=\"cell\"><span class=\"prompt\">Out[" + n +
                "]:</span>" +
                (cells[i].picture.empty() ? "<pre class=\"text\">" + Html(cells[i].text) + "</pre>"
                                          : "<img src=\"" + Html(cells[i].picture) + "\" alt=\"Out[" + n + "]\">") +
                "</div>\n";
    }
    return html;
}

std::string PythonHtml(const Site& site) {
    return Header("zoka for Python: Lumetta AE Demo") +
           "<p><a href=\"index.html\">All effects</a></p>\n<h1>zoka for Python</h1>\n"
           "<p>The Python module <code>zoka</code> renders the effects on numpy arrays and Pillow images: "
           "every frame, origin and error is what <code>zoka render</code> and <code>zoka animate</code> "
           "give. The release build makes it in <code>build/release/python</code> for Debian's "
           "<code>python3</code> (<code>PYTHONPATH=build/release/python /usr/bin/python3</code>); the "
           "Debian package installs it where that <code>python3</code> finds it.</p>\n"
           "<h2>Before and after, in a notebook</h2>\n<p>In this folder (a Pillow image comes back as "
           "one):</p>\n" +
           NotebookHtml(site.notebook) +
           "<h2>Arrays, animations, chains, errors</h2>\n<pre>" + Html(kPythonExamples) +
           "</pre>\n<h2>How it behaves</h2>\n"
           "<p>Settings go by key, label or number, in the units <code>--set</code> takes. The effects "
           "work on 8-bit straight RGBA: uint16 samples are rounded to 8 bits and float32 ones clamped to "
           "0..1 and rounded, as 16-bit and float files are, and results come back in the input's type "
           "(RGB when the input was RGB and the result is opaque). Arrays that no layer can be made of "
           "(another dtype or shape, not C-contiguous, empty, beyond 30000 pixels a side or 2<sup>27</sup> "
           "in all) raise <code>TypeError</code> or <code>ValueError</code> saying what is wrong.</p>\n"
           "<p>Renders from several Python threads run at once, each frame's bands on the machine's cores. "
           "The GIL is released while a frame renders, so other Python threads run; to spread frames over "
           "machines, use processes: <code>python/examples/dask_frames.py</code> "
           "renders a sequence across a Dask cluster, one frame per task, on the canvas "
           "<code>zoka.range_canvas</code> gives, so that its frames are those of one <code>zoka "
           "animate</code> run.</p>\n</body></html>\n";
}

std::string FeaturesHtml(const Site& site) {
    std::string html = Header("The selection layer and keyframes: Lumetta AE Demo") +
                       "<p><a href=\"index.html\">All effects</a></p>\n"
                       "<h1>The selection layer and keyframes</h1>\n";
    for (const SiteSection& section : site.features) html += Section(section);
    return html + "</body></html>\n";
}

// ---- The effects in other programs ----------------------------------------

// The example effect of the programs page: Glow, or the first there is.
const EffectPage* ExampleEffect(const Site& site) {
    for (const EffectPage& page : site.effects) {
        if (page.key == "Glow") return &page;
    }
    return site.effects.empty() ? nullptr : &site.effects.front();
}

std::string KeyOf(const json& p) { return p["key"].is_string() ? p["key"].get<std::string>() : p["label"].get<std::string>(); }

double DefaultNumber(const json& p) { return std::stod(p["default"].get<std::string>()); }

// What a frei0r value of 1 stands for: the top of a slider, a turn.
double Frei0rScale(const json& p) {
    if (p["kind"] == "angle") return 360;
    const double top = p["slider"][1].get<double>();
    return top > 0 ? top : 1;
}

// The parameters a program is given, each at its default: (name, value).
using Arguments = std::vector<std::pair<std::string, std::string>>;

std::string Joined(const Arguments& arguments, const std::string& between, const std::string& separator) {
    std::string text;
    for (const auto& [name, value] : arguments) {
        text += (text.empty() ? "" : separator) + (name.empty() ? value : name + between + value);
    }
    return text;
}

Arguments GeglArguments(const json& params) {
    Arguments arguments;
    for (const json& p : params) {
        if (p["number"].is_null()) continue;
        std::string property = ourhost::GeglPropertyName(KeyOf(p));
        std::replace(property.begin(), property.end(), '_', '-');
        const std::string kind = p["kind"], value = p["default"];
        if (kind == "point") {
            arguments.push_back({property + "-x", value.substr(0, value.find(','))});
            arguments.push_back({property + "-y", value.substr(value.find(',') + 1)});
        } else if (kind == "checkbox") {
            arguments.push_back({property, value == "on" ? "true" : "false"});
        } else if (kind == "popup") {
            arguments.push_back({property, ourhost::GeglItemNick(value)});
        } else {
            arguments.push_back({property, value});
        }
    }
    return arguments;
}

// frei0r's values up to the first point (a fraction of a frame, which an
// example cannot know): by key for melt, in order for ffmpeg.
Arguments Frei0rArguments(const json& params, bool forFfmpeg) {
    Arguments arguments;
    for (const json& p : params) {
        if (p["number"].is_null()) continue;
        const std::string kind = p["kind"], value = p["default"];
        std::string frei0r;
        if (kind == "point") break;
        if (kind == "checkbox") {
            frei0r = value == "on" ? (forFfmpeg ? "y" : "1") : (forFfmpeg ? "n" : "0");
        } else if (kind == "colour") {
            unsigned rgb = 0;
            std::sscanf(value.c_str(), "#%6x", &rgb);
            frei0r = forFfmpeg ? Number((rgb >> 16 & 255) / 255.0) + "/" + Number((rgb >> 8 & 255) / 255.0) + "/" +
                                     Number((rgb & 255) / 255.0)
                               : value;
        } else if (kind == "popup") {
            frei0r = value;
        } else {
            frei0r = Number(DefaultNumber(p) / Frei0rScale(p));
        }
        arguments.push_back({forFfmpeg ? "" : KeyOf(p), frei0r});
    }
    return arguments;
}

std::string Code(const std::string& command) { return "<code class=\"command\">" + Html(command) + "</code>\n"; }

std::string ProgramsHtml(const Site& site) {
    std::string html = Header("The effects in GIMP, Kdenlive, ffmpeg, melt and GStreamer: Lumetta AE Demo") +
                       "<p><a href=\"index.html\">All effects</a></p>\n"
                       "<h1>The effects in GIMP, Kdenlive, ffmpeg, melt and GStreamer</h1>\n"
                       "<p>The build makes every effect a GEGL operation (GIMP, the gegl command line and "
                       "every GEGL program) and a frei0r plug-in (ffmpeg, melt and Kdenlive, GStreamer), "
                       "with a Kdenlive description of each; the Debian package and <code>cmake --install "
                       "--prefix ~/.local</code> put them where the programs look. Each program gives the "
                       "frame <code>zoka render</code> makes with the same values.</p>\n";
    const EffectPage* example = ExampleEffect(site);
    if (example != nullptr) {
        const std::string& key = example->key;
        const std::string operation = ourhost::GeglOperationName(key);
        const std::string plugin = ourhost::Frei0rPluginName(key);
        const std::string element = ourhost::GstreamerElementName(example->name);
        html += "<section><h2>GIMP</h2>\n<p>Tools &rarr; GEGL Operation&hellip;, then pick <b>" + Html(operation) +
                "</b> (or any <b>zoka:</b> operation): its controls are the effect's parameters, with their "
                "labels, ranges and defaults, popups as menus, points picked on the canvas; the canvas "
                "previews the effect, and effects that grow the layer grow it. Effects that move by "
                "themselves take a time in seconds and a frame rate.</p>\n"
                "<figure><img src=\"" + std::string(kGimpScreenshot) + "\" alt=\"GIMP's GEGL Operation tool with "
                "zoka:glow\" style=\"max-width:48em\"><figcaption>GIMP 2.10's GEGL Operation tool with Glow "
                "(zoka:glow) previewed on the canvas <span class=\"time\">(taken by "
                "<code>scripts/gimp-screenshot</code>)</span></figcaption></figure>\n</section>\n"
                "<section><h2>The gegl command line</h2>\n<p>" + Html(example->name) +
                " at its defaults, every property named (<code>gegl --info " + Html(operation) +
                "</code> lists them):</p>\n" +
                Code("gegl -i layer.png -o out.png -- " + operation + " " + Joined(GeglArguments(example->params), "=", " ")) +
                "</section>\n<section><h2>Kdenlive</h2>\n<p>Search the effects for &ldquo;zoka&rdquo;: <b>" +
                Html(ourhost::Frei0rTitle(example->name)) +
                "</b> &hellip;, with controls in the host's units (numbers keyframable), from the "
                "description <code>share/kdenlive/effects/frei0r_" + Html(plugin) +
                ".xml</code>. Points keep their defaults: MLT passes none to frei0r filters.</p>\n</section>\n"
                "<section><h2>ffmpeg</h2>\n<p>The parameters in their order; numbers as a fraction of the "
                "slider's top (or of a turn), colours as R/G/B fractions, popups as an item. ffmpeg hands "
                "over rows padded to 16 pixels: a frame of another width is refused, so pad it and crop "
                "back, or let zoka render the frames between two ffmpeg pipes.</p>\n" +
                Code("ffmpeg -i in.png -vf \"frei0r=" + plugin + ":" + Joined(Frei0rArguments(example->params, true), "", "|") +
                     "\" -pix_fmt rgba out.png") +
                Code("ffmpeg -i in854.png -vf \"pad=ceil(iw/16)*16:ih:color=black@0,frei0r=" + plugin +
                     ",crop=854:ih:0:0\" -pix_fmt rgba out.png") +
                Code("ffmpeg -i in.png -f image2pipe -c:v png - | zoka animate " + key +
                     " - - --format png --frames 0-47 --fps 24 | ffmpeg -f image2pipe -framerate 24 -i - out.mp4") +
                "</section>\n<section><h2>melt</h2>\n<p>The same values, by key:</p>\n" +
                Code("melt clip.mp4 -filter frei0r." + plugin + " " + Joined(Frei0rArguments(example->params, false), "=", " ") +
                     " -consumer avformat:out.mp4") +
                "</section>\n<section><h2>GStreamer</h2>\n<p>Elements named <b>" + Html(element) +
                "</b> &hellip; (<code>gst-inspect-1.0 frei0r</code> lists them); properties by key in lower "
                "case, numbers from 0 to 1 over the slider:</p>\n" +
                Code("gst-launch-1.0 filesrc location=in.png ! pngdec ! videoconvert ! " + element +
                     " ! videoconvert ! pngenc ! filesink location=out.png") +
                "</section>\n";
    }
    html += "<section><h2>Every effect</h2>\n<table><tr><th>effect</th><th>GEGL operation</th><th>ffmpeg filter, "
            "MLT service</th><th>GStreamer element</th><th>time and frame rate</th></tr>\n";
    for (const EffectPage& page : site.effects) {
        const std::string plugin = ourhost::Frei0rPluginName(page.key);
        html += "<tr><td><a href=\"" + Html(EffectPageFile(page.key)) + "\">" + Html(page.name) + "</a></td><td>" +
                Html(ourhost::GeglOperationName(page.key)) + "</td><td>" + Html(plugin) + ", frei0r." + Html(plugin) +
                "</td><td>" + Html(ourhost::GstreamerElementName(page.name)) + "</td><td>" +
                (page.motion.empty() ? "" : "time, fps") + "</td></tr>\n";
    }
    return html + "</table>\n</section>\n</body></html>\n";
}

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) error = "cannot write " + path;
    return static_cast<bool>(file);
}

}  // namespace

std::string EffectPageFile(const std::string& key) { return key + ".html"; }

std::string ShellWord(const std::string& word) {
    constexpr const char* kSafe =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-.,/=:%@+";
    if (!word.empty() && word.find_first_not_of(kSafe) == std::string::npos) return word;
    std::string quoted = "'";
    for (const char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

bool WriteSitePages(const std::string& folder, const Site& site, std::string& error) {
    if (!WriteText(folder + "/style.css", kStyle, error)) return false;
    for (size_t i = 0; i < kSiteAssetCount; ++i) {
        const SiteAsset& asset = kSiteAssets[i];
        if (!WriteText(folder + "/" + asset.name, std::string(reinterpret_cast<const char*>(asset.bytes), asset.size),
                       error)) {
            return false;
        }
    }
    for (const EffectPage& page : site.effects) {
        if (!WriteText(folder + "/" + EffectPageFile(page.key), EffectPageHtml(page), error)) return false;
    }
    return WriteText(folder + "/" + kFeaturesPage, FeaturesHtml(site), error) &&
           WriteText(folder + "/" + kPythonPage, PythonHtml(site), error) &&
           WriteText(folder + "/" + kProgramsPage, ProgramsHtml(site), error) &&
           WriteText(folder + "/index.html", IndexHtml(site), error);
}

}  // namespace zoka_site
