// Threads our host lends a module's renders for their workers and keeps from
// one render to the next: a render's start of a worker wakes a waiting thread
// (starting one only when none waits) where the system would otherwise
// start, and end, a thread for every render.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace ourhost {

class WorkerThreads {
public:
    WorkerThreads();
    // Waits for every thread to finish its run, then ends them all.
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Runs run(argument) on a waiting thread, or on a new one; the handle for
    // Join, or null when no thread can be had.
    void* Start(void (*run)(void* argument), void* argument);
    // Returns once the run Start handed to thread has returned; the thread
    // then waits for the next.
    void Join(void* thread);

private:
    struct Lent;
    Lent* TakeWaiting();
    Lent* StartAnother(void (*run)(void*), void* argument);
    static void Serve(Lent& lent);

    std::mutex lock_;
    std::vector<std::unique_ptr<Lent>> threads_;
    std::vector<Lent*> waiting_;
};

}  // namespace ourhost
