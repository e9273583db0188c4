#include "quorvel/utils/blocking.h"

namespace quorvel {

asio::thread_pool& worker_pool() {
  // Blocking calls mostly wait on disks and the network; a few threads let independent ones overlap.
  static asio::thread_pool pool(4);
  return pool;
}

}  // namespace quorvel
