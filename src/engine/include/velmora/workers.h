// How a caller lends the engine its threads.
#ifndef VELMORA_WORKERS_H
#define VELMORA_WORKERS_H

#include <cstddef>
#include <functional>

namespace Velmora {

// `run(tasks, task)` calls task(0) ... task(tasks - 1), up to `count` at
// once, and returns when all have returned. The engine starts no threads of
// its own; empty `run` (or `count` 1) runs tasks one after another. Results
// never depend on it.
struct Workers {
    size_t count = 1;
    std::function<void(size_t tasks, const std::function<void(size_t)>& task)> run;
};

}  // namespace Velmora

#endif  // VELMORA_WORKERS_H
