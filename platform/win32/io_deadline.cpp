#include "platform/win32/io_deadline.h"

#include <windows.h>

namespace kestrine {

namespace {

constexpr std::chrono::milliseconds kCancelAgainAfter{100};

}  // namespace

IoDeadline::IoDeadline() : watcher_([this] { watch(); }) {}

IoDeadline::~IoDeadline() {
  disarm();
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  watcher_.join();
}

void IoDeadline::arm(std::chrono::steady_clock::time_point deadline) {
  // CancelSynchronousIo needs THREAD_TERMINATE on the thread.
  HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
  const std::lock_guard lock(mutex_);
  if (thread_) CloseHandle(thread_);
  thread_ = thread;
  overdue_ = false;
  deadline_ = deadline;
  changed_.notify_all();
}

bool IoDeadline::overdue() {
  const std::lock_guard lock(mutex_);
  return overdue_;
}

void IoDeadline::disarm() {
  const std::lock_guard lock(mutex_);
  if (thread_) CloseHandle(thread_);
  thread_ = nullptr;
  changed_.notify_all();
}

// Cancels only while holding the lock, so that disarm() returns after the
// last cancel and none reaches the thread's next call.
void IoDeadline::watch() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    if (!thread_) {
      changed_.wait(lock);
      continue;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now < deadline_) {
      changed_.wait_until(lock, deadline_);
      continue;
    }
    overdue_ = true;
    CancelSynchronousIo(thread_);  // ERROR_NOT_FOUND between two requests: again soon
    changed_.wait_for(lock, kCancelAgainAfter);
  }
}

}  // namespace kestrine
