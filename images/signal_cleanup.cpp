#include "images/signal_cleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace zoka_images {

namespace {

// Each command writes one file at a time; a few slots leave room to spare.
constexpr int kSlots = 8;
constexpr int kCleanedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A slot's path is complete before its flag is set, and the flag is cleared
// before the path is reused: the handler reads only flagged, whole paths,
// whichever thread it runs on.
char gPaths[kSlots][PATH_MAX];
std::atomic<bool> gInUse[kSlots];
static_assert(std::atomic<bool>::is_always_lock_free, "read from a signal handler");

extern "C" void RemoveTemporariesAndResignal(int signal) {
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i].load(std::memory_order_acquire)) unlink(gPaths[i]);
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(signal, &standard, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
}

}  // namespace

void InstallSignalCleanup() {
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction cleanup {};
    cleanup.sa_handler = RemoveTemporariesAndResignal;
    sigemptyset(&cleanup.sa_mask);
    for (const int s : kCleanedSignals) sigaddset(&cleanup.sa_mask, s);
    for (const int s : kCleanedSignals) {
        struct sigaction current {};
        if (sigaction(s, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaction(s, &cleanup, nullptr);
    }
}

bool RegisterTemporary(const char* path) {
    const size_t length = std::strlen(path);
    if (length >= PATH_MAX) return false;
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i].load(std::memory_order_relaxed)) continue;
        std::memcpy(gPaths[i], path, length + 1);
        gInUse[i].store(true, std::memory_order_release);
        return true;
    }
    return false;
}

void ForgetTemporary(const char* path) {
    for (int i = 0; i < kSlots; ++i) {
        if (gInUse[i].load(std::memory_order_relaxed) && std::strcmp(gPaths[i], path) == 0) {
            gInUse[i].store(false, std::memory_order_release);
            return;
        }
    }
}

}  // namespace zoka_images
