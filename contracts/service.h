#pragma once
// Process-wide current implementation of an outside service.
//
// Every outside service is an abstract class with a static `kServiceName`. The program's `main`
// installs the real implementation; a test installs a double with `Service<I>::Guard`, which restores
// the previous implementation when it goes out of scope. An interface may offer a static
// `default_instance()` (the system clock does); otherwise calling a service that nobody installed
// fails with a RuntimeError naming the service.
//
// Thread-safety: `current()` may be called from any thread; install and guards belong to start-up
// and to tests, not to concurrent work.
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "contracts/errors.h"

namespace quorvel {

template <class Interface>
class Service {
 public:
  static Interface& current() {
    if (Interface* p = state().raw.load(std::memory_order_acquire)) return *p;
    if constexpr (requires { Interface::default_instance(); }) {
      return Interface::default_instance();
    } else {
      throw RuntimeError(std::string("服务未就绪: ") + Interface::kServiceName +
                         " 没有已安装的实现 (no implementation installed)");
    }
  }

  static bool installed() { return state().raw.load(std::memory_order_acquire) != nullptr; }

  // Makes `impl` the current implementation; returns the one it replaces (possibly null).
  static std::shared_ptr<Interface> install(std::shared_ptr<Interface> impl) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    std::shared_ptr<Interface> previous = std::move(s.owner);
    s.owner = std::move(impl);
    s.raw.store(s.owner.get(), std::memory_order_release);
    return previous;
  }

  // Installs an implementation for the life of the guard (tests, scoped tools).
  class Guard {
   public:
    explicit Guard(std::shared_ptr<Interface> impl) : previous_(install(std::move(impl))) {}
    ~Guard() { install(std::move(previous_)); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    std::shared_ptr<Interface> previous_;
  };

 private:
  struct State {
    std::mutex mutex;
    std::shared_ptr<Interface> owner;
    std::atomic<Interface*> raw{nullptr};
  };
  static State& state() {
    static State s;
    return s;
  }
};

}  // namespace quorvel
