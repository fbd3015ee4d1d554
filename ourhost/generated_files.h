// Files the build writes from the module's tables (plug-ins, effect
// descriptions, operations): a file that would not change is left alone,
// so nothing that depends on it is redone.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace ourhost {

inline std::string FileContents(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool WriteUnlessSame(const std::string& text, const std::filesystem::path& target) {
    if (std::filesystem::exists(target) && FileContents(target) == text) return true;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    return static_cast<bool>(out.write(text.data(), static_cast<std::streamsize>(text.size())).flush());
}

}  // namespace ourhost
