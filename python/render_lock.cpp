#include "python/render_lock.h"

#include <atomic>

namespace zoka_python {

namespace {

std::mutex gModule;
std::atomic<int> gWaiting{0};
std::atomic<int> gInside{0};
std::atomic<int> gMostInside{0};

std::unique_lock<std::mutex> Wait() {
    ++gWaiting;
    std::unique_lock<std::mutex> lock(gModule);
    --gWaiting;
    return lock;
}

}  // namespace

ModuleTurn::ModuleTurn() : lock_(Wait()) {
    const int now = ++gInside;
    int most = gMostInside.load();
    while (now > most && !gMostInside.compare_exchange_weak(most, now)) {
    }
}

ModuleTurn::~ModuleTurn() { --gInside; }

TurnCounts Turns() { return TurnCounts{gWaiting.load(), gInside.load(), gMostInside.load()}; }

}  // namespace zoka_python
