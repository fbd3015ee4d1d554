#include "site/demo_pages.h"

#include <cstdio>
#include <fstream>
#include <sstream>

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
    "td,th{border-bottom:1px solid #444;padding:.2em .6em;text-align:left;vertical-align:top}\n";

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

std::string FeaturesHtml(const Site& site) {
    std::string html = Header("The selection layer and keyframes: Lumetta AE Demo") +
                       "<p><a href=\"index.html\">All effects</a></p>\n"
                       "<h1>The selection layer and keyframes</h1>\n";
    for (const SiteSection& section : site.features) html += Section(section);
    return html + "</body></html>\n";
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
    for (const EffectPage& page : site.effects) {
        if (!WriteText(folder + "/" + EffectPageFile(page.key), EffectPageHtml(page), error)) return false;
    }
    return WriteText(folder + "/" + kFeaturesPage, FeaturesHtml(site), error) &&
           WriteText(folder + "/index.html", IndexHtml(site), error);
}

}  // namespace zoka_site
