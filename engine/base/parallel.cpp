#include "engine/base/parallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <vector>

namespace vokip {

void share_tasks(std::size_t tasks, std::size_t threads,
                 const std::function<void(std::size_t, std::size_t)>& task) {
  threads = std::max<std::size_t>(1, std::min(threads, tasks));
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> failures(threads);
  auto run = [&](std::size_t thread) {
    try {
      for (std::size_t k = next++; k < tasks; k = next++) task(k, thread);
    } catch (...) {
      failures[thread] = std::current_exception();
      next = tasks;
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < threads; ++t) helpers.emplace_back(run, t);
  run(0);
  for (std::thread& h : helpers) h.join();
  for (const std::exception_ptr& f : failures) {
    if (f) std::rethrow_exception(f);
  }
}

}  // namespace vokip
