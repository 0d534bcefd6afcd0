#include "platform/directory_connection.h"

#include <utility>

namespace kestrine {

std::string noAnswerReason(const ConnectionSettings& settings) {
  return "the domain controller did not answer within " + std::to_string(settings.timeout.count()) +
         " s";
}

DirectoryConnection::DirectoryConnection(DirectoryLink& link, ConnectionSettings settings,
                                         Clock clock)
    : link_(link), settings_(settings), clock_(std::move(clock)) {}

void DirectoryConnection::read(const std::function<void()>& request) {
  prepare(false);
  try {
    run(request);
  } catch (const ConnectionLost&) {
    prepare(false);
    run(request);
  }
}

void DirectoryConnection::write(const std::function<void()>& request) {
  prepare(true);
  run(request);
}

void DirectoryConnection::prepare(bool forWrite) {
  if (open_ && link_.closedByPeer()) drop();
  // A connection dropped on the way without a word shows only when asked;
  // better a read that can fail than a write that might have been applied.
  if (open_ && forWrite && clock_() - lastAnswer_ > settings_.idleCheckAfter) {
    try {
      run([&] { link_.probe(); });
    } catch (const ConnectionLost&) {
      // run() dropped it: a new one follows.
    } catch (const DirectoryError&) {
      // The server answered, which is all the probe asks.
    }
  }
  if (!open_) openNew();
}

void DirectoryConnection::openNew() {
  if (openFailure_ && clock_() < retryAt_) std::rethrow_exception(openFailure_);
  try {
    link_.open();
  } catch (const DirectoryError&) {
    openFailure_ = std::current_exception();
    retryAt_ = clock_() + settings_.retryAfter;
    throw;
  }
  open_ = true;
  openFailure_ = nullptr;
  lastAnswer_ = clock_();
}

void DirectoryConnection::run(const std::function<void()>& request) {
  try {
    request();
  } catch (const ConnectionLost&) {
    drop();
    throw;
  } catch (const DirectoryError&) {
    lastAnswer_ = clock_();
    throw;
  }
  lastAnswer_ = clock_();
}

void DirectoryConnection::drop() {
  open_ = false;
  link_.close();
}

}  // namespace kestrine
