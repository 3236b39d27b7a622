// Work items for the work-item thread tests: each item records its execution and its deletion
// in a shared recorder, and may block, throw or stop its own thread while executing.
#pragma once
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Waitable.h"

namespace quillon::test {

enum class ItemKind { Plain, Block, Throw, StopSelf };

struct WorkRecorder {
    Journal executed;   // "N" for each executed item, in order
    Journal destroyed;  // "N" for each deleted item, in order
    Gate blockStarted;  // opened when a blocking item starts executing
    Gate unblock;       // blocking items wait for it
    Gate runReturned;   // opened when the worker's Run has returned

    std::vector<std::string> Executed() { return executed.Entries(); }
    std::vector<std::string> Destroyed() { return destroyed.Entries(); }
};

// Executes one item on the worker thread; `stop` is the owning thread's Stop.
template <typename StopFn>
void ExecuteRecorded(WorkRecorder& recorder, int id, ItemKind kind, StopFn stop) {
    recorder.executed.Add(std::to_string(id));
    switch (kind) {
        case ItemKind::Plain:
            break;
        case ItemKind::Block:
            recorder.blockStarted.Open();
            recorder.unblock.Wait();
            break;
        case ItemKind::Throw:
            throw std::runtime_error("item failed");
        case ItemKind::StopSelf:
            stop();
            break;
    }
}

inline std::vector<std::string> Ids(std::initializer_list<int> ids) {
    std::vector<std::string> out;
    for (int id : ids) out.push_back(std::to_string(id));
    return out;
}

}  // namespace quillon::test
