#include "ourhost/poll_count.h"

namespace ourhost {

size_t PollCount::LineOfThisThread() {
    static std::atomic<size_t> threadsSeen{0};
    thread_local const size_t line = threadsSeen.fetch_add(1) % kLines;
    return line;
}

void PollCount::Add() { lines_[LineOfThisThread()].polls.fetch_add(1); }

uint64_t PollCount::Total() const {
    uint64_t total = 0;
    for (const Line& line : lines_) total += line.polls.load();
    return total;
}

}  // namespace ourhost
