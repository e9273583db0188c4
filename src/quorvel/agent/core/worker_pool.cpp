#include "quorvel/agent/core/worker_pool.h"

namespace quorvel::agent::core {

asio::thread_pool& llm_worker_pool() {
  // HTTP calls mostly wait on the network; a few threads serve the concurrent analyses of one run.
  static asio::thread_pool pool(4);
  return pool;
}

}  // namespace quorvel::agent::core
