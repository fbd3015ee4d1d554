#include "ourhost/host.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "ourhost/image.h"

namespace ourhost {

namespace {

// Blocks worth keeping for reuse are the frame-sized ones; the system's own
// allocator serves small blocks well.
constexpr size_t kSmallestKeptBlock = 64 << 10;
// Enough for every block of a few renders at once of a large frame.
constexpr uint64_t kServedKeptBytes = uint64_t{256} << 20;

thread_local Host* gCurrent = nullptr;
// One call at a time on each thread, whichever host it is made for.
thread_local HostOutputRecord* tCallingOutput = nullptr;

HostHandle HOST_CALL NewHandleCallback(uint32_t size) {
    return gCurrent ? gCurrent->NewHandle(size) : nullptr;
}
void* HOST_CALL LockHandleCallback(HostHandle h) { return gCurrent ? gCurrent->LockHandle(h) : nullptr; }
void HOST_CALL UnlockHandleCallback(HostHandle h) {
    if (gCurrent) gCurrent->UnlockHandle(h);
}
void HOST_CALL DisposeHandleCallback(HostHandle h) {
    if (gCurrent) gCurrent->DisposeHandle(h);
}

HostError HOST_CALL CopyImageCallback(HostEffectRef, HostLayer* source, HostLayer* destination,
                                      const HostRect* sourceRect, const HostRect* destinationRect) {
    if (sourceRect != nullptr || destinationRect != nullptr) {
        if (gCurrent) gCurrent->Fault("image copy with rectangles is not supported");
        return kHostErrorBase + 1;
    }
    CopyWhole(*source, *destination);
    return kHostNoError;
}

// The module prints only into the message buffer of the call in progress, so
// the print is bounded by it. The format is the module's, checked where it
// calls.
__attribute__((format(printf, 2, 3))) int FormatPrintCallback(char* buffer, const char* format, ...) {
    HostOutputRecord* out = gCurrent ? gCurrent->CallingOutput() : nullptr;
    if (out == nullptr || buffer != out->message) {
        if (gCurrent) gCurrent->Fault("formatted print outside the message buffer");
        return 0;
    }
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, kMessageBytes, format, args);
    va_end(args);
    return n;
}

// The module copies parameter names only, into 32-byte name fields.
char* HOST_CALL StringCopyCallback(char* destination, const char* source) {
    if (std::strlen(source) >= kParamNameBytes && gCurrent) {
        gCurrent->Fault(std::string("name longer than its field: ") + source);
    }
    std::strncpy(destination, source, kParamNameBytes - 1);
    destination[kParamNameBytes - 1] = '\0';
    return destination;
}

// A worker thread of the module answers as the host that offered it.
void WorkerBegins(void* host) { gCurrent = static_cast<Host*>(host); }
void WorkerEnds(void*) { gCurrent = nullptr; }
void* LendWorkerThread(void* host, void (*run)(void*), void* argument) {
    return static_cast<Host*>(host)->StartWorkerThread(run, argument);
}
void TakeBackWorkerThread(void* host, void* thread) { static_cast<Host*>(host)->JoinWorkerThread(thread); }

}  // namespace

Host::Host() : previous_(gCurrent) {
    utilities_.copyImage = CopyImageCallback;
    utilities_.newHandle = NewHandleCallback;
    utilities_.lockHandle = LockHandleCallback;
    utilities_.unlockHandle = UnlockHandleCallback;
    utilities_.disposeHandle = DisposeHandleCallback;
    utilities_.formatPrint = FormatPrintCallback;
    utilities_.stringCopy = StringCopyCallback;
    gCurrent = this;
}

Host::~Host() { gCurrent = previous_; }

Host* Host::Current() { return gCurrent; }

HostOnThisThread::HostOnThisThread(Host* host) : previous_(gCurrent) { gCurrent = host; }

HostOnThisThread::~HostOnThisThread() { gCurrent = previous_; }

size_t Host::LiveHandles() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return handles_.size();
}

uint64_t Host::HandlesMade() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return handlesMade_;
}

uint64_t Host::Polls() const { return polls_.Total(); }

void Host::SetCallingOutput(HostOutputRecord* out) { tCallingOutput = out; }

HostOutputRecord* Host::CallingOutput() const { return tCallingOutput; }

void Host::Fault(std::string what) {
    const std::lock_guard<std::mutex> hold(lock_);
    faults_.push_back(std::move(what));
}

void Host::UseWorkers(ZokaOfferWorkersFn offer, int32_t workers) {
    offerFunction_ = offer;
    workers_ = offer != nullptr ? std::clamp<int32_t>(workers, 1, kZokaMaxWorkers) : 1;
    offer_ = ZokaWorkerOffer{workers_, this, WorkerBegins, WorkerEnds, LendWorkerThread,
                             TakeBackWorkerThread};
}

void Host::FailAllocation(uint64_t n, uint64_t count) {
    const std::lock_guard<std::mutex> hold(lock_);
    failAllocationAt_ = n == 0 ? 0 : handlesMade_ + n;
    failAllocationEnd_ = failAllocationAt_ + count;
}

void Host::CancelFromPoll(uint64_t n) { cancelFromPoll_.store(n == 0 ? 0 : polls_.Total() + n); }

void Host::CancelAfter(double seconds) {
    const std::lock_guard<std::mutex> hold(lock_);
    cancelAt_.reset();
    if (seconds > 0) {
        cancelAt_ = std::chrono::steady_clock::now() +
                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(seconds));
    }
    cancelArmed_.store(cancelAt_.has_value() || static_cast<bool>(cancelCheck_));
}

void Host::SetCancelCheck(std::function<bool()> check) {
    const std::lock_guard<std::mutex> hold(lock_);
    cancelCheck_ = std::move(check);
    cancelArmed_.store(cancelAt_.has_value() || static_cast<bool>(cancelCheck_));
}

void Host::FailCheckout(uint64_t n, HostError code) {
    failCheckoutAt_ = n == 0 ? 0 : checkouts_ + n;
    failCheckoutCode_ = code;
}

HostError Host::TakeCheckoutFailure() {
    const std::lock_guard<std::mutex> hold(lock_);
    ++checkouts_;
    return checkouts_ == failCheckoutAt_ ? failCheckoutCode_ : kHostNoError;
}

void Host::FailAddParam(uint64_t n, HostError code) {
    failAddParamAt_ = n == 0 ? 0 : addParams_ + n;
    failAddParamCode_ = code;
}

HostError Host::TakeAddParamFailure() {
    ++addParams_;
    return addParams_ == failAddParamAt_ ? failAddParamCode_ : kHostNoError;
}

HostHandle Host::NewHandle(uint32_t size) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        ++handlesMade_;
        if (handlesMade_ >= failAllocationAt_ && handlesMade_ < failAllocationEnd_) return nullptr;
        if (size > memoryLimit_ - std::min(memoryLimit_, liveBytes_)) return nullptr;
        liveBytes_ += size;  // held for the block while it is made
    }
    // The block is made and filled outside the lock, so that the module's
    // workers allocate side by side. The module is built without exceptions:
    // running out of memory here must answer null, as any host does, never
    // throw through the module.
    Block block;
    block.bytes = TakeKeptBlock(size);
    try {
        if (size > 0 && !block.bytes) block.bytes.reset(new uint8_t[size]);
    } catch (const std::bad_alloc&) {
        const std::lock_guard<std::mutex> hold(lock_);
        liveBytes_ -= size;
        return nullptr;
    }
    block.size = size;
    if (fillsFresh_) std::memset(block.bytes.get(), freshFill_, size);
    const std::lock_guard<std::mutex> hold(lock_);
    try {
        auto handle = reinterpret_cast<HostHandle>(static_cast<uintptr_t>(nextHandleId_++ * 16));
        handles_.emplace(handle, std::move(block));
        return handle;
    } catch (const std::bad_alloc&) {
        liveBytes_ -= size;
        return nullptr;
    }
}

void* Host::LockHandle(HostHandle handle) {
    const std::lock_guard<std::mutex> hold(lock_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        faults_.push_back("lock of an unknown handle");
        return nullptr;
    }
    ++it->second.locks;
    return it->second.bytes.get();
}

void Host::UnlockHandle(HostHandle handle) {
    const std::lock_guard<std::mutex> hold(lock_);
    auto it = handles_.find(handle);
    if (it == handles_.end() || it->second.locks == 0) {
        faults_.push_back("unlock of an unknown or unlocked handle");
        return;
    }
    --it->second.locks;
}

void Host::DisposeHandle(HostHandle handle) {
    const std::lock_guard<std::mutex> hold(lock_);
    if (handle == nullptr) {
        ++nullDisposals_;
        return;
    }
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        faults_.push_back("dispose of an unknown handle");
        return;
    }
    liveBytes_ -= it->second.size;
    KeepBlock(it->second);
    handles_.erase(it);
}

void Host::KeepFreedBlocks(uint64_t bytes) {
    const std::lock_guard<std::mutex> hold(lock_);
    keepBytes_ = bytes;
    while (keptBytes_ > keepBytes_) {
        keptBytes_ -= kept_.begin()->first;
        kept_.erase(kept_.begin());
    }
}

uint64_t Host::KeptBytes() const {
    const std::lock_guard<std::mutex> hold(lock_);
    return keptBytes_;
}

void Host::ServeRenders() {
    SetFillsFreshHandles(false);
    KeepFreedBlocks(kServedKeptBytes);
}

std::unique_ptr<uint8_t[]> Host::TakeKeptBlock(size_t size) {
    const std::lock_guard<std::mutex> hold(lock_);
    const auto it = kept_.find(size);
    if (it == kept_.end()) return nullptr;
    std::unique_ptr<uint8_t[]> bytes = std::move(it->second);
    kept_.erase(it);
    keptBytes_ -= size;
    return bytes;
}

void Host::KeepBlock(Block& block) {
    if (block.size < kSmallestKeptBlock || keptBytes_ + block.size > keepBytes_) return;
    try {
        kept_.emplace(block.size, std::move(block.bytes));
        keptBytes_ += block.size;
    } catch (const std::bad_alloc&) {
    }
}

HostError Host::AbortQuery() {
    polls_.Add();
    const uint64_t cancelFrom = cancelFromPoll_.load();
    if (cancelFrom != 0 && polls_.Total() >= cancelFrom) return kHostErrorCancelled;
    if (!cancelArmed_.load()) return kHostNoError;
    const std::lock_guard<std::mutex> hold(lock_);
    if (cancelAt_ && std::chrono::steady_clock::now() >= *cancelAt_) return kHostErrorCancelled;
    if (cancelCheck_ && cancelCheck_()) return kHostErrorCancelled;
    return kHostNoError;
}

}  // namespace ourhost
