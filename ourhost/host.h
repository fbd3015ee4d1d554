// The stand-in for the compositing host: the utility callbacks a module
// uses, handle memory that is counted (a leak is a test failure), and
// injected failures (the Nth handle allocation fails; the abort query
// cancels from the Nth poll on; the Nth parameter checkout fails).
//
// Handle callbacks carry no effect reference, so they reach the host that is
// current on the calling thread: the most recently constructed one. A host
// that offers the module workers becomes current on each worker thread the
// module starts, and answers its callbacks from any thread: every callback
// body takes the host's lock.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "interface/host_records.h"
#include "interface/module_exports.h"
#include "ourhost/poll_count.h"
#include "ourhost/worker_threads.h"

namespace ourhost {

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    static Host* Current();

    HostUtilityTable* Utilities() { return &utilities_; }

    // Handle memory.
    size_t LiveHandles() const;
    uint64_t HandlesMade() const;
    uint64_t NullDisposals() const { return nullDisposals_; }
    uint64_t LiveBytes() const { return liveBytes_; }
    // Allocations that would take the live handles past bytes answer null,
    // as a host with that much memory would; unlimited by default.
    void SetMemoryLimit(uint64_t bytes) { memoryLimit_ = bytes; }
    // New handle memory is filled with this byte (0xA5 by default), so a
    // module that reads what it never wrote gets the same wrong result every
    // time, and a different one with another fill.
    void SetFreshFill(uint8_t fill) { freshFill_ = fill; }
    uint8_t FreshFill() const { return freshFill_; }
    // Whether new handle memory is filled at all (on by default). A
    // benchmark turns it off so that it times the module, not the test aid;
    // the memory is then left as the system gives it.
    // RenderFrame's output images get the same fill while this is on, and
    // are left unwritten while it is off.
    void SetFillsFreshHandles(bool fills) { fillsFresh_ = fills; }
    bool FillsFreshHandles() const { return fillsFresh_; }
    // Keeps freed blocks of at least 64 KiB, up to bytes in all, and hands
    // them out again for new handles of the same size, as a host's own frame
    // memory would: the blocks of each frame then come back without the
    // system's fresh pages to fault in. 0 (the default) frees every block.
    void KeepFreedBlocks(uint64_t bytes);
    uint64_t KeptBytes() const;
    // What a client that renders for people asks of its host: no test fill
    // of new blocks, and freed blocks kept for the next frame.
    void ServeRenders();
    // The n-th handle allocation from now fails (1: the next), and the
    // count - 1 after it as well; 0 disarms.
    void FailAllocation(uint64_t n, uint64_t count = 1);

    // Abort queries.
    uint64_t Polls() const;
    // The abort query answers cancel from the n-th poll from now on; 0 disarms.
    void CancelFromPoll(uint64_t n);
    // The abort query answers cancel once this many seconds have passed
    // from now, as a user who waits no longer would; 0 or less disarms.
    void CancelAfter(double seconds);
    // The abort query also answers cancel whenever this says so (a client
    // that drops a render once newer work is waiting); empty disarms.
    void SetCancelCheck(std::function<bool()> check);

    // Parameter checkouts.
    // The n-th checkout from now fails with code (1: the next); 0 disarms.
    void FailCheckout(uint64_t n, HostError code);
    HostError TakeCheckoutFailure();
    uint64_t Checkouts() const { return checkouts_; }
    // The n-th add-parameter from now fails with code (1: the next); 0 disarms.
    void FailAddParam(uint64_t n, HostError code);
    HostError TakeAddParamFailure();

    // Calls into a module that broke the host's rules (unknown handles,
    // unbalanced checkins, overlong names, prints outside the message
    // buffer). Tests expect none.
    const std::vector<std::string>& Faults() const { return faults_; }
    void Fault(std::string what);

    // Workers: with an offer function (the module's ZokaOfferWorkers) and
    // more than one worker, each render lets the module split its bands over
    // that many threads; 1 (the default) renders on the calling thread alone.
    void UseWorkers(ZokaOfferWorkersFn offer, int32_t workers);
    int32_t Workers() const { return workers_; }
    // The offer a render makes, or null for one worker. It lends the render
    // threads our host keeps for its workers from one render to the next.
    const ZokaWorkerOffer* WorkerOffer() const { return workers_ > 1 ? &offer_ : nullptr; }
    ZokaOfferWorkersFn OfferFunction() const { return offerFunction_; }

    // The output record of the call in progress on the calling thread:
    // formatted print writes only into its message buffer.
    void SetCallingOutput(HostOutputRecord* out);
    HostOutputRecord* CallingOutput() const;

    // Callback bodies.
    HostHandle NewHandle(uint32_t size);
    void* LockHandle(HostHandle handle);
    void UnlockHandle(HostHandle handle);
    void DisposeHandle(HostHandle handle);
    HostError AbortQuery();
    void* StartWorkerThread(void (*run)(void*), void* argument) { return workerThreads_.Start(run, argument); }
    void JoinWorkerThread(void* thread) { workerThreads_.Join(thread); }

private:
    struct Block {
        std::unique_ptr<uint8_t[]> bytes;
        size_t size = 0;
        int locks = 0;
    };

    std::unique_ptr<uint8_t[]> TakeKeptBlock(size_t size);
    void KeepBlock(Block& block);  // with the lock held

    HostUtilityTable utilities_{};
    mutable std::mutex lock_;  // held by every callback body and the counters' readers
    ZokaOfferWorkersFn offerFunction_ = nullptr;
    int32_t workers_ = 1;
    ZokaWorkerOffer offer_{};
    std::map<HostHandle, Block> handles_;
    std::multimap<size_t, std::unique_ptr<uint8_t[]>> kept_;  // freed blocks by size
    uint64_t keptBytes_ = 0;
    uint64_t keepBytes_ = 0;
    uint64_t handlesMade_ = 0;
    uint64_t nullDisposals_ = 0;
    uint64_t liveBytes_ = 0;
    uint64_t memoryLimit_ = UINT64_MAX;
    uint8_t freshFill_ = 0xA5;
    bool fillsFresh_ = true;
    uint64_t failAllocationAt_ = 0;
    uint64_t failAllocationEnd_ = 0;
    // A render's threads poll often and at once: the count and the poll
    // number to cancel from are read without the lock, which a poll takes
    // only when a deadline or a check is armed.
    PollCount polls_;
    std::atomic<uint64_t> cancelFromPoll_{0};
    std::atomic<bool> cancelArmed_{false};
    std::optional<std::chrono::steady_clock::time_point> cancelAt_;
    std::function<bool()> cancelCheck_;
    uint64_t checkouts_ = 0;
    uint64_t failCheckoutAt_ = 0;
    HostError failCheckoutCode_ = 0;
    uint64_t addParams_ = 0;
    uint64_t failAddParamAt_ = 0;
    HostError failAddParamCode_ = 0;
    uint64_t nextHandleId_ = 1;
    std::vector<std::string> faults_;
    Host* previous_ = nullptr;
    // Last, so that its threads end before anything a worker may reach.
    WorkerThreads workerThreads_;
};

// Lends a host to the calling thread for the scope's life and then restores
// the thread's own: a client that calls the module from several threads, one
// at a time, makes its one host current on whichever thread is calling.
class HostOnThisThread {
public:
    explicit HostOnThisThread(Host* host);
    ~HostOnThisThread();
    HostOnThisThread(const HostOnThisThread&) = delete;
    HostOnThisThread& operator=(const HostOnThisThread&) = delete;

private:
    Host* previous_;
};

}  // namespace ourhost
