#include "platform/server_rules.h"

#include <thread>
#include <utility>

namespace kestrine {

namespace {

std::string seconds(std::chrono::seconds time) {
  return std::to_string(time.count()) + " s";
}

}  // namespace

std::string noAnswerReason(const ConnectionSettings& settings, const char* server) {
  return std::string(server) + " did not answer within " + seconds(settings.timeout);
}

std::string heldReason(const ConnectionSettings& settings, const char* server) {
  return noAnswerReason(settings, server) + "; not asked again for " + seconds(settings.retryAfter);
}

ServerRules::ServerRules(ConnectionSettings settings, NetworkWait* wait, Clock clock)
    : settings_(settings), wait_(wait), clock_(std::move(clock)) {}

bool ServerRules::held() const {
  return heldUntil_ && clock_() < *heldUntil_ && givenUp_;
}

void ServerRules::hold() {
  const auto now = clock_();
  if (!unansweredSince_) unansweredSince_ = callStarted_.value_or(now);
  heldUntil_ = now + settings_.retryAfter;
  // Counted when a request has gone unanswered, not by the end of the hold:
  // with the program's times the third one, 2.5 minutes in, gives it up.
  givenUp_ = now - *unansweredSince_ >= settings_.giveUpAfter;
}

Reply ServerRules::call(bool repeatable, const std::function<Reply()>& attempt) {
  if (heldUntil_ && !givenUp_) {
    const auto left = *heldUntil_ - clock_();
    if (left > decltype(left)::zero()) {
      const std::string server = name_.empty() ? "the server" : name_;
      if (wait_) {
        wait_->waitFor(server, left);
      } else {
        std::this_thread::sleep_for(left);
      }
    }
  }
  callStarted_ = clock_();
  struct Started {
    std::optional<std::chrono::steady_clock::time_point>& at;
    ~Started() { at.reset(); }
  } started{callStarted_};
  Reply reply = Reply::kAnswered;
  const auto tries = [&] {
    reply = attempt();
    if (reply == Reply::kLost && repeatable) reply = attempt();
  };
  runOn(wait_, tries);
  if (reply == Reply::kNoAnswer) {
    hold();
  } else if (reply == Reply::kAnswered) {
    heldUntil_.reset();
    unansweredSince_.reset();
    givenUp_ = false;
  }
  return reply;
}

}  // namespace kestrine
