// The one lock of the Python module: every call into the effects module
// holds it, so renders from several Python threads take turns.
//
// The effects module is not reentrant (its current input record, its abort
// poll and some of its tables are module-wide). Each request has a host of
// its own (request.cpp), so once the module renders reentrantly, lifting
// this lock is all that renders at once need. The GIL is released before
// the lock is taken and never taken while it is held: other Python threads
// run while a frame renders or waits its turn.
#pragma once

#include <mutex>

namespace zoka_python {

// A call's turn in the module: waits for it, then holds it for its life.
class ModuleTurn {
public:
    ModuleTurn();
    ~ModuleTurn();
    ModuleTurn(const ModuleTurn&) = delete;
    ModuleTurn& operator=(const ModuleTurn&) = delete;

private:
    std::unique_lock<std::mutex> lock_;
};

// The calls waiting for their turn and inside the module now, and the most
// ever inside at once (1 while the lock holds): for tests, which see
// through them that waiting and rendering leave the GIL free.
struct TurnCounts {
    int waiting;
    int inside;
    int mostInside;
};
TurnCounts Turns();

}  // namespace zoka_python
