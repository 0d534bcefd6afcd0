#include "platform/directory/directory_connection.h"

#include <utility>

namespace kestrine {

DirectoryConnection::DirectoryConnection(DirectoryLink& link, ConnectionSettings settings,
                                         NetworkWait* wait, Clock clock)
    : link_(link), rules_(settings, wait, clock), clock_(std::move(clock)) {
  rules_.name(kDomainControllerRole);
}

void DirectoryConnection::read(const std::function<void()>& request) {
  call(false, request);
}

void DirectoryConnection::write(const std::function<void()>& request) {
  call(true, request);
}

void DirectoryConnection::writeAndRead(const std::function<void()>& sendChange,
                                       const std::function<void()>& sendRead,
                                       const std::function<void()>& awaitChange,
                                       const std::function<void()>& awaitRead) {
  write([&] {
    sendChange();
    bool reading = true;
    bool lost = false;
    // A read that goes wrong costs only its entry; the change's answer says
    // what became of the change.
    const auto forRead = [&](const std::function<void()>& step) {
      if (!reading) return;
      try {
        step();
      } catch (const ConnectionLost&) {
        reading = false;
        lost = true;
      } catch (const DirectoryError&) {
        reading = false;
      }
    };
    forRead(sendRead);
    std::exception_ptr refused;
    try {
      awaitChange();
    } catch (const ConnectionLost&) {
      throw;
    } catch (const DirectoryError&) {
      refused = std::current_exception();  // the read's answer is on its way all the same
    }
    forRead(awaitRead);
    if (lost) drop();
    if (refused) std::rethrow_exception(refused);
  });
}

void DirectoryConnection::call(bool change, const std::function<void()>& request) {
  if (rules_.held()) std::rethrow_exception(heldFailure_);
  std::exception_ptr failure;
  rules_.call(!change, [&] {
    failure = nullptr;
    if (open_ && link_.closedByPeer()) drop();
    // A connection dropped on the way without a word shows only when asked;
    // better a read that can fail than a write that might have been applied.
    if (open_ && change && clock_() - lastAnswer_ > settings().idleCheckAfter) {
      const auto probe = [&] {
        try {
          link_.probe();
        } catch (const ConnectionLost&) {
          throw;
        } catch (const DirectoryError&) {
          // The server answered, which is all the probe asks.
        }
      };
      if (send(probe, failure) == Reply::kNoAnswer) return Reply::kNoAnswer;
      failure = nullptr;  // lost: a new connection follows
    }
    if (!open_) openNew();
    return send(request, failure);
  });
  if (failure) std::rethrow_exception(failure);
}

void DirectoryConnection::openNew() {
  try {
    link_.open();
  } catch (const ConnectionLost&) {
    heldFailure_ = std::current_exception();
    rules_.hold();
    throw;
  }
  // A bind refused, or one that could not start (no ticket), is no reason to
  // wait for the server: the next call tries again.
  open_ = true;
  lastAnswer_ = clock_();
  if (std::string name = link_.serverName(); !name.empty()) rules_.name(std::move(name));
}

Reply DirectoryConnection::send(const std::function<void()>& request, std::exception_ptr& failure) {
  try {
    request();
  } catch (const NoAnswer& e) {
    failure = std::current_exception();
    heldFailure_ = std::make_exception_ptr(NoAnswer(e.code(), heldReason(settings())));
    drop();
    return Reply::kNoAnswer;
  } catch (const ConnectionLost&) {
    failure = std::current_exception();
    drop();
    return Reply::kLost;
  } catch (const DirectoryError&) {
    lastAnswer_ = clock_();
    throw;
  }
  lastAnswer_ = clock_();
  return Reply::kAnswered;
}

void DirectoryConnection::drop() {
  open_ = false;
  link_.close();
}

}  // namespace kestrine
