#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/network_wait.h"

namespace kestrine {

// Runs every call on one helper thread, the same for the whole program so that
// the libraries always see one thread, while the calling thread runs `pump`
// every `interval` until the call has ended: the windows answer the desktop
// however long a server keeps a step waiting, and the run goes on only after
// the call.
class CallThread : public NetworkWait {
 public:
  // Shows a text in place of the progress text; "" shows the progress text
  // again.
  using Notice = std::function<void(const std::string& text)>;

  explicit CallThread(std::function<void()> pump,
                      std::chrono::milliseconds interval = std::chrono::milliseconds(50));
  ~CallThread() override;
  CallThread(const CallThread&) = delete;
  CallThread& operator=(const CallThread&) = delete;

  // Where a wait for a server is told, once the windows exist.
  void tellWaitsTo(Notice notice) { notice_ = std::move(notice); }

  void run(const std::function<void()>& call) override;
  // Pumps on the calling thread, the notice showing waitingText(server).
  void waitFor(const std::string& server, std::chrono::steady_clock::duration time) override;
  // From the helper thread: the calling thread's pump shows the notice when
  // the time comes, and takes it back when the call ends.
  void tellIfStillWaiting(const std::string& server,
                          std::chrono::steady_clock::duration after) override;

 private:
  void serve();

  std::function<void()> pump_;
  std::chrono::milliseconds interval_;
  Notice notice_;
  std::mutex mutex_;
  std::condition_variable changed_;
  const std::function<void()>* call_ = nullptr;  // the call handed over, until it has ended
  bool ended_ = false;
  std::exception_ptr failure_;
  // Whom the call in hand waits for, and from when the notice shows it.
  std::string lateServer_;
  std::optional<std::chrono::steady_clock::time_point> lateFrom_;
  bool stopping_ = false;
  std::thread thread_;  // last: it starts once the rest is set up
};

}  // namespace kestrine
