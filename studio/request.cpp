#include "studio/request.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace zoka_studio {

namespace fs = std::filesystem;

namespace {

// Bounds on what one request may carry: far beyond any effect's needs.
constexpr size_t kMaxNameBytes = 1024;
constexpr size_t kMaxSets = 64;
constexpr size_t kMaxSetBytes = 4096;

PathVerdict Refuse(int status, std::string error) { return PathVerdict{{}, status, std::move(error)}; }

// Whether path lies in root or below, component by component.
bool Inside(const fs::path& root, const fs::path& path) {
    auto r = root.begin();
    auto p = path.begin();
    for (; r != root.end(); ++r, ++p) {
        if (p == path.end() || *r != *p) return false;
    }
    return true;
}

// The name resolved under root, links followed as far as they exist; or a
// refusal for names that climb out, hold a NUL byte or are absurdly long.
PathVerdict Resolve(const fs::path& root, const std::string& name) {
    if (name.empty()) return Refuse(400, "no file named");
    if (name.size() > kMaxNameBytes || name.find('\0') != std::string::npos) {
        return Refuse(400, "the file name is not usable");
    }
    const fs::path given(name);
    for (const fs::path& part : given) {
        if (part == "..") return Refuse(403, "\"" + name + "\" climbs out with ..: only files in the working folder are used");
    }
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(given.is_absolute() ? given : root / given, error);
    if (error) return Refuse(400, "\"" + name + "\": " + error.message());
    if (!Inside(root, resolved)) {
        return Refuse(403, "\"" + name + "\" is outside the working folder " + root.string());
    }
    return PathVerdict{resolved, 0, {}};
}

}  // namespace

fs::path WorkingFolder(const std::string& folder) {
    std::error_code error;
    const fs::path canonical = fs::canonical(folder, error);
    return error ? fs::path() : canonical;
}

PathVerdict FileUnder(const fs::path& root, const std::string& name) {
    PathVerdict verdict = Resolve(root, name);
    if (verdict.status != 0) return verdict;
    std::error_code error;
    const fs::file_status status = fs::status(verdict.path, error);
    if (!fs::exists(status)) return Refuse(404, "there is no file \"" + name + "\" in the working folder");
    if (!fs::is_regular_file(status)) return Refuse(400, "\"" + name + "\" is not a file");
    return verdict;
}

PathVerdict OutputUnder(const fs::path& root, const std::string& name) {
    PathVerdict verdict = Resolve(root, name);
    if (verdict.status != 0) return verdict;
    std::error_code error;
    const fs::file_status folder = fs::status(verdict.path.parent_path(), error);
    if (!fs::is_directory(folder)) {
        return Refuse(404, "the folder of \"" + name + "\" does not exist in the working folder");
    }
    // Resolving followed a link that exists; one that dangles, or a folder,
    // is no file to write.
    const fs::file_status self = fs::symlink_status(verdict.path, error);
    if (fs::is_symlink(self) || fs::is_directory(self)) {
        return Refuse(400, "\"" + name + "\" is not a file to write");
    }
    return verdict;
}

std::string RelativeName(const fs::path& root, const fs::path& path) {
    return path.lexically_relative(root).string();
}

std::optional<StudioValues> ValuesFromJson(const nlohmann::json& body, std::string& error) {
    const auto fail = [&](std::string why) {
        error = std::move(why);
        return std::nullopt;
    };
    if (!body.is_object()) return fail("the request is not a JSON object");
    StudioValues values;
    const auto text = [&](const char* key, std::string& into) {
        const auto at = body.find(key);
        if (at == body.end() || at->is_null()) return true;
        if (!at->is_string() || at->get_ref<const std::string&>().size() > kMaxNameBytes) return false;
        into = at->get<std::string>();
        return true;
    };
    const auto number = [&](const char* key, double& into) {
        const auto at = body.find(key);
        if (at == body.end()) return true;
        if (!at->is_number()) return false;
        into = at->get<double>();
        return std::isfinite(into);
    };
    if (!text("effect", values.effect) || values.effect.empty()) return fail("no effect chosen");
    if (!text("input", values.input)) return fail("\"input\" names no file");
    if (!text("selection", values.selection)) return fail("\"selection\" names no file");
    if (!text("selectionOrigin", values.selectionOrigin)) return fail("\"selectionOrigin\" takes \"X,Y\"");
    if (!number("time", values.time)) return fail("\"time\" takes a number of seconds");
    if (!number("fps", values.fps)) return fail("\"fps\" takes a number");
    double downsample = 1;
    if (!number("downsample", downsample) || (downsample != 1 && downsample != 2 && downsample != 4)) {
        return fail("\"downsample\" takes 1, 2 or 4");
    }
    values.downsample = static_cast<int>(downsample);
    if (const auto sets = body.find("sets"); sets != body.end()) {
        if (!sets->is_array() || sets->size() > kMaxSets) return fail("\"sets\" takes a list of KEY=VALUE");
        for (const auto& set : *sets) {
            if (!set.is_string() || set.get_ref<const std::string&>().size() > kMaxSetBytes) {
                return fail("\"sets\" takes a list of KEY=VALUE");
            }
            values.sets.push_back(set.get<std::string>());
        }
    }
    return values;
}

nlohmann::json ValuesToJson(const StudioValues& values) {
    return {{"effect", values.effect},         {"input", values.input},
            {"selection", values.selection},   {"selectionOrigin", values.selectionOrigin},
            {"sets", values.sets},             {"time", values.time},
            {"fps", values.fps},               {"downsample", values.downsample}};
}

namespace {

// The options every frame command shares, in one order.
void AddFrameWords(const StudioValues& values, std::vector<std::string>& words) {
    for (const std::string& set : values.sets) {
        words.push_back("--set");
        words.push_back(set);
    }
    if (values.fps != 30) {
        words.push_back("--fps");
        words.push_back(NumberText(values.fps));
    }
    if (!values.selection.empty()) {
        words.push_back("--selection");
        words.push_back(values.selection);
        if (values.selectionOrigin != "0,0") {
            words.push_back("--selection-origin");
            words.push_back(values.selectionOrigin);
        }
    }
}

}  // namespace

std::vector<std::string> RenderArguments(const StudioValues& values, const std::string& output) {
    std::vector<std::string> words{"render", values.effect, values.input, output};
    AddFrameWords(values, words);
    if (values.time != 0) {
        words.push_back("--time");
        words.push_back(NumberText(values.time));
    }
    return words;
}

std::vector<std::string> AnimateArguments(const StudioValues& values, const std::string& pattern,
                                          const std::string& frames) {
    std::vector<std::string> words{"animate", values.effect, values.input, pattern, "--frames", frames};
    AddFrameWords(values, words);
    return words;
}

std::string ShellLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) {
        if (!line.empty()) line += ' ';
        const bool plain = !word.empty() && word.find_first_not_of(
                                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                                "0123456789_@%+=:,./-") == std::string::npos;
        if (plain) {
            line += word;
            continue;
        }
        line += '\'';
        for (const char c : word) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
        line += '\'';
    }
    return line;
}

std::string NumberText(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

}  // namespace zoka_studio
