// The worker threads of one render, started at its first split and kept
// through every pass and band of it, so that a render starts its threads once
// rather than once per pass, and a worker between two passes is already
// awake when the next one comes. The threads are the host's when its offer
// lends some, else the system's.
#pragma once

#include <atomic>
#include <cfenv>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/parts.h"
#include "interface/host_records.h"
#include "interface/module_exports.h"
#include "platform/platform.h"

namespace zoka {

class WorkerCrew {
public:
    // Threads that answer to the host as the calling thread does: its input
    // record, its floating-point environment and the offer's hooks, called
    // once on each worker when it begins and when it ends.
    WorkerCrew(HostInputRecord* in, const ZokaWorkerOffer& offer);
    ~WorkerCrew();
    WorkerCrew(const WorkerCrew&) = delete;
    WorkerCrew& operator=(const WorkerCrew&) = delete;

    // Runs every part of task on the calling thread and on up to threads - 1
    // workers (started at the first call that needs them), each taking the
    // next part not yet taken, and returns once every part has run. A worker
    // the system does not start leaves its parts to the others.
    void Run(int threads, int parts, const PartTask& task);

private:
    struct Member {
        WorkerCrew* crew;
        uint64_t seen;  // the last job it looked at
        platform::Thread thread;
        void* hostThread;  // the host's, when the offer lends threads
    };
    static void Serve(void* member);
    void StartMembers(int count);
    bool StartMember(Member& member);
    void JoinMember(Member& member);
    bool HostLendsThreads() const { return offer_.startThread != nullptr && offer_.joinThread != nullptr; }
    void Post(int parts, const PartTask& task);
    void TakeParts();
    bool AwaitJob(uint64_t& seen);
    void JoinJob();
    void CloseJob();

    HostInputRecord* in_;
    ZokaWorkerOffer offer_;
    std::fenv_t environment_{};
    Member members_[kZokaMaxWorkers] = {};
    int started_ = 0;

    std::mutex lock_;
    std::condition_variable jobPosted_;
    std::condition_variable jobDone_;
    std::atomic<uint64_t> generation_{0};  // one more for each job posted, and for the end
    std::atomic<bool> ending_{false};
    // The job posted, read by a member only while it counts itself in and
    // the job is open: the caller closes it and waits for every member to be
    // out before the task (its own) goes.
    const PartTask* task_ = nullptr;
    int parts_ = 0;
    std::atomic<int> nextPart_{0};
    std::atomic<bool> open_{false};
    std::atomic<int> membersIn_{0};
};

}  // namespace zoka
