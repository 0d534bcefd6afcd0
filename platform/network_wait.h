#pragma once

#include <functional>

namespace kestrine {

// How the run's thread waits for a blocking library call that talks to a
// server. The platform objects get one through their constructors; without
// one, a call runs on the caller's thread and nothing else happens meanwhile.
class NetworkWait {
 public:
  virtual ~NetworkWait() = default;
  // Runs `call` to its end and rethrows what it threw.
  virtual void run(const std::function<void()>& call) = 0;
};

// Runs `call` through `wait`, or on this thread without one.
inline void runOn(NetworkWait* wait, const std::function<void()>& call) {
  if (wait) {
    wait->run(call);
  } else {
    call();
  }
}

}  // namespace kestrine
