#pragma once
// Runs `work(i)` for every i in [0, n) on `threads` threads (0: one per core), the calling thread
// being one of them. Indices are handed out one at a time, so a slow item never holds up a whole
// share of the others. `work` must be safe to call from several threads at once and must not throw
// (catch inside it: an exception escaping a worker ends the process).
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace quorvel {

// Threads actually used for n items: never more than the items, never fewer than one.
inline std::size_t worker_count(std::size_t n, int threads) {
  const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t wanted = threads > 0 ? std::size_t(threads) : cores;
  return std::max<std::size_t>(1, std::min(wanted, n));
}

template <class Work>
void parallel_for(std::size_t n, int threads, Work&& work) {
  std::atomic<std::size_t> next{0};
  auto loop = [&] {
    for (std::size_t i = next++; i < n; i = next++) work(i);
  };
  std::vector<std::jthread> workers;
  for (std::size_t t = 1; t < worker_count(n, threads); ++t) workers.emplace_back(loop);
  loop();
}

}  // namespace quorvel
