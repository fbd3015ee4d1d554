#include "ourhost/worker_threads.h"

#include <functional>
#include <system_error>

namespace ourhost {

// One thread and the run it is given; its lock guards the run and the flags.
struct WorkerThreads::Lent {
    std::mutex lock;
    std::condition_variable changed;
    void (*run)(void*) = nullptr;
    void* argument = nullptr;
    bool running = false;
    bool ending = false;
    std::thread thread;
};

WorkerThreads::WorkerThreads() = default;

WorkerThreads::~WorkerThreads() {
    for (const std::unique_ptr<Lent>& lent : threads_) {
        {
            std::unique_lock<std::mutex> hold(lent->lock);
            lent->changed.wait(hold, [&] { return !lent->running; });
            lent->ending = true;
        }
        lent->changed.notify_all();
        lent->thread.join();
    }
}

void* WorkerThreads::Start(void (*run)(void*), void* argument) try {
    Lent* lent = TakeWaiting();
    if (lent == nullptr) return StartAnother(run, argument);
    {
        const std::lock_guard<std::mutex> hold(lent->lock);
        lent->run = run;
        lent->argument = argument;
        lent->running = true;
    }
    lent->changed.notify_all();
    return lent;
} catch (...) {
    return nullptr;
}

WorkerThreads::Lent* WorkerThreads::TakeWaiting() {
    const std::lock_guard<std::mutex> hold(lock_);
    if (waiting_.empty()) return nullptr;
    Lent* lent = waiting_.back();
    waiting_.pop_back();
    return lent;
}

// A new thread, listed (with room for it among the waiting, so that Join
// never needs memory) before it starts: a thread that cannot be listed is
// not started, and one that cannot be started is taken off the list.
WorkerThreads::Lent* WorkerThreads::StartAnother(void (*run)(void*), void* argument) {
    auto fresh = std::make_unique<Lent>();
    fresh->run = run;
    fresh->argument = argument;
    fresh->running = true;
    Lent* lent = fresh.get();
    const std::lock_guard<std::mutex> hold(lock_);
    waiting_.reserve(threads_.size() + 1);
    threads_.push_back(std::move(fresh));
    try {
        lent->thread = std::thread(Serve, std::ref(*lent));
    } catch (const std::system_error&) {
        threads_.pop_back();
        return nullptr;
    }
    return lent;
}

void WorkerThreads::Join(void* thread) {
    Lent& lent = *static_cast<Lent*>(thread);
    {
        std::unique_lock<std::mutex> hold(lent.lock);
        lent.changed.wait(hold, [&] { return !lent.running; });
    }
    const std::lock_guard<std::mutex> hold(lock_);
    waiting_.push_back(&lent);
}

void WorkerThreads::Serve(Lent& lent) {
    std::unique_lock<std::mutex> hold(lent.lock);
    for (;;) {
        lent.changed.wait(hold, [&] { return lent.running || lent.ending; });
        if (!lent.running) return;
        hold.unlock();
        lent.run(lent.argument);
        hold.lock();
        lent.running = false;
        lent.changed.notify_all();
    }
}

}  // namespace ourhost
