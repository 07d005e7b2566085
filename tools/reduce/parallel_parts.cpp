#include "reduce/parallel_parts.h"

#include <exception>
#include <system_error>
#include <thread>
#include <vector>

unsigned parts_for(std::size_t n) {
  return n >= kPartedItems && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

PartRange part_range(std::size_t n, unsigned p, unsigned parts) {
  return {n / parts * p + n % parts * p / parts, n / parts * (p + 1) + n % parts * (p + 1) / parts};
}

void run_parts(unsigned parts, const std::function<void(unsigned)>& work) {
  std::vector<std::exception_ptr> errors(parts);
  auto run = [&](unsigned p) {
    try {
      work(p);
    } catch (...) {
      errors[p] = std::current_exception();
    }
  };
  std::vector<std::thread> threads;
  std::vector<unsigned> left_over;
  for (unsigned p = 1; p < parts; ++p) {
    try {
      threads.emplace_back(run, p);
    } catch (const std::system_error&) {
      left_over.push_back(p);
    }
  }
  if (parts > 0) run(0);
  for (unsigned p : left_over) run(p);
  for (std::thread& t : threads) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}
