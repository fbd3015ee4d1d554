// Processes seen through /proc by the tests that watch zoka's workers. Any
// process may end at any moment, between listing /proc and reading its entry
// or halfway through the read (a read then fails with ESRCH, which an
// ifstream turns into an exception): every failure here means "gone", never
// an error.
#pragma once

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace zoka_test_proc {

// /proc/PID/NAME read whole with open and read; nothing when it cannot be
// read to its end (the process is gone, or never was).
inline std::optional<std::string> ReadEntry(pid_t pid, const char* name) {
    const std::string path = "/proc/" + std::to_string(pid) + "/" + name;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return text;
}

struct Stat {
    char state = 0;  // R, S, D, T, Z, …
    pid_t parent = 0;
};

// The process's state and parent from /proc/PID/stat, or nothing when it is
// gone.
inline std::optional<Stat> ReadStat(pid_t pid) {
    const std::optional<std::string> line = ReadEntry(pid, "stat");
    if (!line) return std::nullopt;
    const size_t name = line->rfind(')');  // the command's name may hold anything
    Stat stat;
    int parent = 0;
    if (name == std::string::npos || std::sscanf(line->c_str() + name + 1, " %c %d", &stat.state, &parent) != 2) {
        return std::nullopt;
    }
    stat.parent = parent;
    return stat;
}

// The ids of the processes listed in /proc now. Entries that vanish while
// listed are skipped, and the listing never throws: should reading /proc
// itself fail, it is listed again (a listing cut short would miss processes
// that are there).
inline std::vector<pid_t> ProcessIds() {
    std::vector<pid_t> ids;
    for (int attempt = 0; attempt < 100; ++attempt) {
        ids.clear();
        std::error_code error;
        std::filesystem::directory_iterator entry("/proc", error);
        for (const std::filesystem::directory_iterator end; !error && entry != end; entry.increment(error)) {
            const std::string name = entry->path().filename().string();
            if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
            ids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        if (!error) break;
    }
    return ids;
}

// The processes whose parent is pid, zombies included when asked.
inline std::vector<pid_t> ChildrenOf(pid_t pid, bool withZombies) {
    std::vector<pid_t> children;
    for (const pid_t id : ProcessIds()) {
        const std::optional<Stat> stat = ReadStat(id);
        if (stat && stat->parent == pid && (withZombies || stat->state != 'Z')) children.push_back(id);
    }
    return children;
}

// Whether /proc still lists pid (a zombie included); false on any failure.
inline bool Listed(pid_t pid) {
    std::error_code error;
    return std::filesystem::exists("/proc/" + std::to_string(pid), error) && !error;
}

}  // namespace zoka_test_proc
