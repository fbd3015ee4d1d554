// What the studio's page asks for, checked, and the zoka command lines that
// render the same values: the preview, "Render to file" and the command
// shown to copy all start from one StudioValues.
#pragma once

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zoka_studio {

// Where a name the page gives points, once confined to the working folder;
// or why it may not be used (the status the server answers with, 403 for a
// path outside the folder, and a message).
struct PathVerdict {
    std::filesystem::path path;  // absolute, symbolic links resolved
    int status = 0;              // 0 when the path may be used
    std::string error;
};

// The working folder itself, absolute with links resolved.
std::filesystem::path WorkingFolder(const std::string& folder);

// An existing regular file under root (an input or selection image).
PathVerdict FileUnder(const std::filesystem::path& root, const std::string& name);
// A file to write under root: its folder exists there, and the name is
// neither a folder nor a link. Patterns (out_%04d.png) are checked by their
// folder and name alike.
PathVerdict OutputUnder(const std::filesystem::path& root, const std::string& name);
// path relative to root, as a command line run in root names it.
std::string RelativeName(const std::filesystem::path& root, const std::filesystem::path& path);

// The values of one frame as the page sends them.
struct StudioValues {
    std::string effect;           // key
    std::string input;            // names under the working folder
    std::string selection;        // empty: no selection layer
    std::string selectionOrigin = "0,0";
    std::vector<std::string> sets;  // KEY=VALUE, keyframes included
    double time = 0;
    double fps = 30;
    int downsample = 1;           // the preview's draft: 1, 2 or 4
};

// The page's JSON; nothing, with a message, when it is malformed.
std::optional<StudioValues> ValuesFromJson(const nlohmann::json& body, std::string& error);
nlohmann::json ValuesToJson(const StudioValues& values);

// The arguments (after "zoka") of the render of one frame, and of a range of
// frames, at full resolution.
std::vector<std::string> RenderArguments(const StudioValues& values, const std::string& output);
std::vector<std::string> AnimateArguments(const StudioValues& values, const std::string& pattern,
                                          const std::string& frames);
// The words as a POSIX shell line that runs them unchanged.
std::string ShellLine(const std::vector<std::string>& words);
// The shortest text that reads back as the same double.
std::string NumberText(double value);

}  // namespace zoka_studio
