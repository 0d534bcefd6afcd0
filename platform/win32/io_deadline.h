#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestrine {

// Ends a file call that a file server keeps waiting. Windows' own SMB client
// waits as long as it sees fit for each request of a call (an open, a
// listing's every reply, a close), so past the call's deadline the
// synchronous I/O of the thread making it is cancelled with
// CancelSynchronousIo, again every 100 ms until the call returns: one cancel
// reaches only the request pending at that moment ("CancelSynchronousIo
// function", which names SMB 3 among what it cancels).
class IoDeadline {
 public:
  IoDeadline();
  ~IoDeadline();
  IoDeadline(const IoDeadline&) = delete;
  IoDeadline& operator=(const IoDeadline&) = delete;

  // The calling thread starts a call that may run until `deadline`.
  void arm(std::chrono::steady_clock::time_point deadline);
  // Whether the call has run past its deadline (its I/O was cancelled).
  bool overdue();
  // The call has returned; no cancel reaches its thread from here on.
  void disarm();

 private:
  void watch();

  std::mutex mutex_;
  std::condition_variable changed_;
  void* thread_ = nullptr;  // the armed call's thread, opened for THREAD_TERMINATE
  bool overdue_ = false;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point deadline_;
  std::thread watcher_;  // last: it starts once the rest is set up
};

}  // namespace kestrine
