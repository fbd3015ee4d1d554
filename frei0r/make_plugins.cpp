// Names one copy of the plug-in after every effect the module has:
// zoka-frei0r-plugins TEMPLATE FOLDER writes FOLDER/zoka_<key>.so (the key in
// lower case) for each, and removes plug-ins of effects the module no longer
// has. The keys come from the module through the bridge, never from a list
// of our own. Copies, not links: the system loads one file once, so links to
// one file would all be the same plug-in.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <system_error>

#include "frei0r/bridge.h"
#include "ourhost/generated_files.h"

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Replaces target whole, so a program that has the old file loaded keeps
// its copy intact; leaves an identical file alone.
bool Place(const std::string& plugin, const fs::path& target) {
    if (fs::exists(target) && ourhost::FileContents(target) == plugin) return true;
    const fs::path temporary = target.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.write(plugin.data(), static_cast<std::streamsize>(plugin.size())) || !out.flush()) return false;
    }
    std::error_code error;
    fs::permissions(temporary, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec, error);
    fs::rename(temporary, target, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zoka-frei0r-plugins TEMPLATE FOLDER\n");
        return 2;
    }
    const std::string plugin = ourhost::FileContents(argv[1]);
    const fs::path folder = argv[2];
    std::error_code error;
    fs::create_directories(folder, error);
    if (plugin.empty() || error) {
        std::fprintf(stderr, "zoka-frei0r-plugins: cannot read %s or make %s\n", argv[1], argv[2]);
        return 1;
    }
    std::set<std::string> written;
    for (int i = 0; const char* key = ZokaFrei0rEffectKey(i); ++i) {
        const std::string name = "zoka_" + Lower(key) + ".so";
        if (!Place(plugin, folder / name)) {
            std::fprintf(stderr, "zoka-frei0r-plugins: cannot write %s\n", (folder / name).c_str());
            return 1;
        }
        written.insert(name);
    }
    if (written.empty()) return 1;  // the bridge said why
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("zoka_", 0) == 0 && !written.count(name)) fs::remove(entry.path(), error);
    }
    return 0;
}
