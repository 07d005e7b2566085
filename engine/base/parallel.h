// Work shared by threads: each takes the next task not yet taken, so that
// tasks of unequal cost even out.
#pragma once

#include <cstddef>
#include <functional>

namespace vokip {

// Runs task(k, thread) for every k below tasks on up to `threads` threads
// (the calling one among them), thread naming which of them runs it, from 0.
// After all have stopped, rethrows the first exception a task threw; a task
// that throws stops the others from taking more.
void share_tasks(std::size_t tasks, std::size_t threads,
                 const std::function<void(std::size_t task, std::size_t thread)>& task);

}  // namespace vokip
