// Work cut into parts that may run at the same time, and the runner a caller
// hands an engine so that the engine can share its independent lines among
// the caller's threads without knowing where they come from.
#pragma once

namespace zoka {

// run(data, part) for every part from 0 to parts - 1, in any order.
struct PartTask {
    void (*run)(void* data, int part);
    void* data;
};

// Runs every part of a task and returns once all have run: on the calling
// thread alone, each in turn, when threads is 1 or runParts is null;
// otherwise perhaps on up to threads threads at once.
struct PartRunner {
    int threads = 1;
    void (*runParts)(void* owner, int parts, const PartTask& task) = nullptr;
    void* owner = nullptr;

    void Run(int parts, const PartTask& task) const {
        if (threads > 1 && parts > 1 && runParts != nullptr) {
            runParts(owner, parts, task);
            return;
        }
        for (int part = 0; part < parts; ++part) task.run(task.data, part);
    }
};

}  // namespace zoka
