#include "host/worker_crew.h"

#include <algorithm>
#include <chrono>

#include "base/module_memory.h"

namespace zoka {

namespace {

// How long a waiting thread keeps looking before it sleeps: longer than the
// gap between two passes of a render, so that the next pass finds its
// workers awake, and short beside a frame, so that a worker of an effect
// rendering on one thread gives its core back almost at once.
constexpr auto kSpinFor = std::chrono::microseconds(200);

inline void PauseSpin() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
}

// Spins until done() or kSpinFor passes; true when done.
template <typename Done>
bool SpinUntil(const Done& done) {
    const auto until = std::chrono::steady_clock::now() + kSpinFor;
    do {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            PauseSpin();
        }
    } while (std::chrono::steady_clock::now() < until);
    return done();
}

}  // namespace

WorkerCrew::WorkerCrew(HostInputRecord* in, const ZokaWorkerOffer& offer) : in_(in), offer_(offer) {
    std::fegetenv(&environment_);
}

WorkerCrew::~WorkerCrew() {
    if (started_ == 0) return;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        ending_.store(true);
        generation_.fetch_add(1);
    }
    jobPosted_.notify_all();
    for (int i = 0; i < started_; ++i) JoinMember(members_[i]);
}

void WorkerCrew::StartMembers(int count) {
    count = std::min(count, kZokaMaxWorkers - 1);
    while (started_ < count) {
        Member& member = members_[started_];
        member = Member{this, generation_.load(), {Serve, &member, 0}, nullptr};
        if (!StartMember(member)) return;
        ++started_;
    }
}

bool WorkerCrew::StartMember(Member& member) {
    if (!HostLendsThreads()) return platform::StartThread(member.thread);
    member.hostThread = offer_.startThread(offer_.host, Serve, &member);
    return member.hostThread != nullptr;
}

void WorkerCrew::JoinMember(Member& member) {
    if (HostLendsThreads()) {
        offer_.joinThread(offer_.host, member.hostThread);
    } else {
        platform::JoinThread(member.thread);
    }
}

void WorkerCrew::Run(int threads, int parts, const PartTask& task) {
    if (threads > 1 && parts > 1) StartMembers(threads - 1);
    if (started_ == 0 || parts <= 1) {
        for (int part = 0; part < parts; ++part) task.run(task.data, part);
        return;
    }
    Post(parts, task);
    TakeParts();
    CloseJob();
}

void WorkerCrew::Post(int parts, const PartTask& task) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        task_ = &task;
        parts_ = parts;
        nextPart_.store(0);
        open_.store(true);
        generation_.fetch_add(1);
    }
    jobPosted_.notify_all();
}

void WorkerCrew::TakeParts() {
    for (int part = nextPart_.fetch_add(1); part < parts_; part = nextPart_.fetch_add(1)) {
        task_->run(task_->data, part);
    }
}

// The caller's parts are done once none is left to take; the members' once
// each that came in has gone out. A member that comes in after the close
// finds the job closed and touches nothing of it.
void WorkerCrew::CloseJob() {
    open_.store(false);
    if (SpinUntil([&] { return membersIn_.load() == 0; })) return;
    std::unique_lock<std::mutex> hold(lock_);
    jobDone_.wait(hold, [&] { return membersIn_.load() == 0; });
}

void WorkerCrew::JoinJob() {
    membersIn_.fetch_add(1);
    if (open_.load()) TakeParts();
    if (membersIn_.fetch_sub(1) == 1 && !open_.load()) {
        { const std::lock_guard<std::mutex> hold(lock_); }
        jobDone_.notify_one();
    }
}

bool WorkerCrew::AwaitJob(uint64_t& seen) {
    const auto posted = [&] { return generation_.load() != seen; };
    if (!SpinUntil(posted)) {
        std::unique_lock<std::mutex> hold(lock_);
        jobPosted_.wait(hold, posted);
    }
    seen = generation_.load();
    return !ending_.load();
}

// A member: the render thread's floating-point environment (a thread the
// system starts may compute otherwise, as 32-bit Windows' x87 precision
// does) and input record, and the host's hooks around its life.
void WorkerCrew::Serve(void* argument) {
    auto& member = *static_cast<Member*>(argument);
    WorkerCrew& crew = *member.crew;
    std::fesetenv(&crew.environment_);
    CurrentInputRecord = crew.in_;
    if (crew.offer_.workerBegins != nullptr) crew.offer_.workerBegins(crew.offer_.host);
    while (crew.AwaitJob(member.seen)) crew.JoinJob();
    if (crew.offer_.workerEnds != nullptr) crew.offer_.workerEnds(crew.offer_.host);
}

}  // namespace zoka
