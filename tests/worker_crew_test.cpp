// The render's worker crew: threads started once and kept through every job,
// every part of every job run exactly once, the caller's floating-point
// environment on every thread, and the host's hooks once per thread; the
// threads a host lends, and our host's pool of them.
#include "host/worker_crew.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cfenv>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "ourhost/worker_threads.h"

namespace zoka {
namespace {

struct Hooks {
    std::atomic<int> begun{0};
    std::atomic<int> ended{0};
};

ZokaWorkerOffer OfferCounting(Hooks& hooks, int32_t workers) {
    return ZokaWorkerOffer{workers, &hooks, [](void* h) { static_cast<Hooks*>(h)->begun.fetch_add(1); },
                           [](void* h) { static_cast<Hooks*>(h)->ended.fetch_add(1); }, nullptr, nullptr};
}

struct Job {
    std::atomic<int> runs[16] = {};
    std::mutex lock;
    std::set<std::thread::id> threads;
    std::atomic<int> roundings[4] = {};

    static void Run(void* data, int part) {
        auto& job = *static_cast<Job*>(data);
        job.runs[part].fetch_add(1);
        {
            const std::lock_guard<std::mutex> hold(job.lock);
            job.threads.insert(std::this_thread::get_id());
        }
        job.roundings[fegetround() == FE_DOWNWARD ? 1 : 0].fetch_add(1);
    }
};

// Jobs of every size, some posted at once and some after the members have
// gone to sleep: each part once, on at most the crew's threads, and each
// member begun and ended once for the crew's whole life.
TEST(Crew, EveryPartOfEveryJobRunsOnceOnThreadsStartedOnce) {
    Hooks hooks;
    HostInputRecord in{};
    std::set<std::thread::id> threads;
    {
        WorkerCrew crew(&in, OfferCounting(hooks, 4));
        for (int round = 0; round < 60; ++round) {
            const int parts = 1 + round % 16;
            Job job;
            crew.Run(4, parts, PartTask{Job::Run, &job});
            for (int part = 0; part < 16; ++part) {
                ASSERT_EQ(job.runs[part].load(), part < parts ? 1 : 0) << "round " << round << " part " << part;
            }
            threads.insert(job.threads.begin(), job.threads.end());
            if (round % 10 == 9) std::this_thread::sleep_for(std::chrono::milliseconds(3));
        }
        EXPECT_LE(threads.size(), 4u);
        EXPECT_LE(hooks.begun.load(), 3);
    }
    EXPECT_EQ(hooks.begun.load(), hooks.ended.load());
}

// A crew that never splits starts no thread and calls no hook.
TEST(Crew, OneThreadOrOnePartRunsOnTheCallerAlone) {
    Hooks hooks;
    HostInputRecord in{};
    {
        WorkerCrew crew(&in, OfferCounting(hooks, 4));
        Job single;
        crew.Run(4, 1, PartTask{Job::Run, &single});
        Job alone;
        crew.Run(1, 5, PartTask{Job::Run, &alone});
        for (int part = 0; part < 5; ++part) EXPECT_EQ(alone.runs[part].load(), 1);
        EXPECT_EQ(single.threads, (std::set<std::thread::id>{std::this_thread::get_id()}));
        EXPECT_EQ(alone.threads, (std::set<std::thread::id>{std::this_thread::get_id()}));
    }
    EXPECT_EQ(hooks.begun.load(), 0);
}

// Every thread computes in the floating-point environment of the thread
// that made the crew.
TEST(Crew, PartsRunInTheCallersRounding) {
    HostInputRecord in{};
    const int saved = fegetround();
    ASSERT_EQ(fesetround(FE_DOWNWARD), 0);
    Job job;
    {
        WorkerCrew crew(&in, ZokaWorkerOffer{3, nullptr, nullptr, nullptr, nullptr, nullptr});
        for (int round = 0; round < 5; ++round) crew.Run(3, 3, PartTask{Job::Run, &job});
    }
    fesetround(saved);
    EXPECT_EQ(job.roundings[0].load(), 0);
    EXPECT_EQ(job.roundings[1].load(), 15);
}

// A host's threads, lent through the offer, kept from crew to crew: every
// part runs, on the caller and the lent threads only, and the pool grows
// only to the most threads lent at once.
struct LendingHost {
    ourhost::WorkerThreads threads;
    std::atomic<int> lent{0};
    std::atomic<int> refusals{0};  // starts to refuse before lending again
};

ZokaWorkerOffer OfferLending(LendingHost& host, int32_t workers) {
    return ZokaWorkerOffer{workers, &host, nullptr, nullptr,
                           [](void* h, void (*run)(void*), void* argument) -> void* {
                               auto& lending = *static_cast<LendingHost*>(h);
                               if (lending.refusals.load() > 0) {
                                   lending.refusals.fetch_sub(1);
                                   return nullptr;
                               }
                               lending.lent.fetch_add(1);
                               return lending.threads.Start(run, argument);
                           },
                           [](void* h, void* thread) { static_cast<LendingHost*>(h)->threads.Join(thread); }};
}

TEST(Crew, LentThreadsServeOneCrewAfterAnother) {
    LendingHost host;
    HostInputRecord in{};
    std::set<std::thread::id> threads;
    for (int render = 0; render < 20; ++render) {
        WorkerCrew crew(&in, OfferLending(host, 3));
        for (int round = 0; round < 3; ++round) {
            Job job;
            crew.Run(3, 9, PartTask{Job::Run, &job});
            for (int part = 0; part < 9; ++part) ASSERT_EQ(job.runs[part].load(), 1) << "render " << render;
            threads.insert(job.threads.begin(), job.threads.end());
        }
    }
    EXPECT_EQ(host.lent.load(), 40) << "two threads lent to each crew";
    EXPECT_LE(threads.size(), 3u) << "the caller and the same two lent threads";
}

// A host with no thread to lend: the crew asks no further and the caller
// runs every part.
TEST(Crew, AHostWithNoThreadToLendLeavesThePartsToTheCaller) {
    LendingHost host;
    host.refusals.store(1);
    HostInputRecord in{};
    Job job;
    {
        WorkerCrew crew(&in, OfferLending(host, 3));
        crew.Run(3, 12, PartTask{Job::Run, &job});
    }
    for (int part = 0; part < 12; ++part) EXPECT_EQ(job.runs[part].load(), 1);
    EXPECT_EQ(job.threads, (std::set<std::thread::id>{std::this_thread::get_id()}));
    EXPECT_EQ(host.lent.load(), 0);
}

// Our host's pool: runs lent at once each get a thread of their own, and a
// thread given back serves the next run.
TEST(LentThreads, RunsAtOnceGetThreadsOfTheirOwnAndThreadsComeBack) {
    ourhost::WorkerThreads pool;
    struct Gate {
        std::mutex lock;
        std::condition_variable opened;
        int arrived = 0;
        std::set<std::thread::id> threads;
    };
    Gate gate;
    const auto meet = [](void* g) {
        auto& met = *static_cast<Gate*>(g);
        std::unique_lock<std::mutex> hold(met.lock);
        met.threads.insert(std::this_thread::get_id());
        ++met.arrived;
        met.opened.notify_all();
        // Each run waits for the other, which only a thread of its own lets
        // it meet.
        met.opened.wait(hold, [&] { return met.arrived % 2 == 0; });
    };
    for (int round = 0; round < 5; ++round) {
        void* first = pool.Start(meet, &gate);
        void* second = pool.Start(meet, &gate);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        pool.Join(first);
        pool.Join(second);
    }
    EXPECT_EQ(gate.arrived, 10);
    EXPECT_EQ(gate.threads.size(), 2u) << "the same two threads every round";
}

}  // namespace
}  // namespace zoka
