#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace kestrine {

// Ends a call to a file server at its deadline. libsmbclient waits its
// timeout for each request that one call makes (a check of the cached
// connection, a tree disconnect, a new connection's negotiation, a fallback
// request), so a call to a server that has stopped answering would take
// several timeouts. Past the deadline, this process's connections to that
// server are shut down, again and again until the call returns: each request
// then fails at once.
class CallDeadline {
 public:
  CallDeadline();
  ~CallDeadline();
  CallDeadline(const CallDeadline&) = delete;
  CallDeadline& operator=(const CallDeadline&) = delete;

  // A call to `server` has started and may run until `deadline`.
  void arm(const std::string& server, std::chrono::steady_clock::time_point deadline);
  // Whether the call has run past its deadline.
  bool overdue();
  // The call has returned.
  void disarm();

 private:
  void watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  bool armed_ = false;
  bool overdue_ = false;
  bool stopping_ = false;
  std::string server_;
  std::chrono::steady_clock::time_point deadline_;
  std::thread thread_;  // last: it starts once the rest is set up
};

}  // namespace kestrine
