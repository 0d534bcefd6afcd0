#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace kestrine {

// How the run's thread waits for a blocking library call that talks to a
// server. The platform objects get one through their constructors; without
// one, a call runs on the caller's thread and nothing else happens meanwhile.
class NetworkWait {
 public:
  virtual ~NetworkWait() = default;
  // Runs `call` to its end and rethrows what it threw.
  virtual void run(const std::function<void()>& call) = 0;
  // Lets `time` pass before `server` ("dc1.example.com") is asked again,
  // as run() waits for a call; one that can tells the administrator so
  // meanwhile (waitingText()).
  virtual void waitFor(const std::string& server, std::chrono::steady_clock::duration time) {
    static_cast<void>(server);
    run([time] { std::this_thread::sleep_for(time); });
  }
  // Called from within a call that is about to wait for `server` longer than
  // usual: once `after` has passed, one that can tells the administrator
  // (waitingText()) until the call ends.
  virtual void tellIfStillWaiting(const std::string& server,
                                  std::chrono::steady_clock::duration after) {
    static_cast<void>(server);
    static_cast<void>(after);
  }
};

// What the progress window says while the run waits for a server.
inline std::string waitingText(const std::string& server) {
  return "Waiting for " + server + " to answer...";
}

// Runs `call` through `wait`, or on this thread without one.
inline void runOn(NetworkWait* wait, const std::function<void()>& call) {
  if (wait) {
    wait->run(call);
  } else {
    call();
  }
}

}  // namespace kestrine
