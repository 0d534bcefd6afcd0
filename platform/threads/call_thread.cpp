#include "platform/threads/call_thread.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace kestrine {

CallThread::CallThread(std::function<void()> pump, std::chrono::milliseconds interval)
    : pump_(std::move(pump)), interval_(interval), thread_([this] { serve(); }) {}

CallThread::~CallThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void CallThread::run(const std::function<void()>& call) {
  // A call made from within a call is already where it belongs.
  if (std::this_thread::get_id() == thread_.get_id()) return call();
  std::unique_lock<std::mutex> lock(mutex_);
  // Only the pump could start another call meanwhile, and it handles no input.
  if (call_) throw std::logic_error("a server call was started while another one waits");
  call_ = &call;
  ended_ = false;
  failure_ = nullptr;
  lateFrom_.reset();
  changed_.notify_all();
  bool told = false;
  while (!changed_.wait_for(lock, interval_, [this] { return ended_; })) {
    std::string late;
    if (!told && lateFrom_ && std::chrono::steady_clock::now() >= *lateFrom_) late = lateServer_;
    lock.unlock();
    if (!late.empty() && notice_) {
      notice_(waitingText(late));
      told = true;
    }
    pump_();
    lock.lock();
  }
  call_ = nullptr;
  lateFrom_.reset();
  if (told) {
    lock.unlock();
    notice_("");
    lock.lock();
  }
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void CallThread::tellIfStillWaiting(const std::string& server,
                                    std::chrono::steady_clock::duration after) {
  std::lock_guard<std::mutex> lock(mutex_);
  lateServer_ = server;
  lateFrom_ = std::chrono::steady_clock::now() + after;
}

void CallThread::waitFor(const std::string& server, std::chrono::steady_clock::duration time) {
  // Only the run's thread may touch the windows.
  if (std::this_thread::get_id() == thread_.get_id()) return std::this_thread::sleep_for(time);
  struct Told {
    const Notice& notice;
    ~Told() {
      if (notice) notice("");
    }
  } told{notice_};
  if (notice_) notice_(waitingText(server));
  const auto until = std::chrono::steady_clock::now() + time;
  for (auto now = std::chrono::steady_clock::now(); now < until;
       now = std::chrono::steady_clock::now()) {
    pump_();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(interval_, until - now));
  }
}

void CallThread::serve() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || (call_ && !ended_); });
    if (stopping_) return;
    const std::function<void()>& call = *call_;
    lock.unlock();
    std::exception_ptr failure;
    try {
      call();
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    failure_ = failure;
    ended_ = true;
    changed_.notify_all();
  }
}

}  // namespace kestrine
