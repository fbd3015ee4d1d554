// The count of abort polls, taken by a render's threads at once.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace ourhost {

// Each thread adds to a count on a cache line of its own, so that threads
// polling every row do not pass one line between their cores at each poll;
// the total, the sum of the lines, is read only when asked for. A thread
// that adds and then reads the total sees its own poll and every poll
// before it.
class PollCount {
public:
    void Add();
    uint64_t Total() const;

private:
    static constexpr size_t kLines = 16;
    struct alignas(64) Line {
        std::atomic<uint64_t> polls{0};
    };
    static size_t LineOfThisThread();
    std::array<Line, kLines> lines_{};
};

}  // namespace ourhost
