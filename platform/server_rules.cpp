#include "platform/server_rules.h"

#include <thread>
#include <utility>

namespace kestrine {

namespace {

std::string seconds(std::chrono::seconds time) {
  return std::to_string(time.count()) + " s";
}

}  // namespace

std::string noAnswerReason(std::chrono::seconds waited, const char* server) {
  return std::string(server) + " did not answer within " + seconds(waited);
}

std::string noAnswerReason(const ConnectionSettings& settings, const char* server) {
  return noAnswerReason(settings.timeout, server);
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

std::chrono::seconds ServerRules::writeWait() {
  if (givenUp_) return settings_.timeout;
  const auto now = clock_();
  const auto since = unansweredSince_.value_or(callStarted_.value_or(now));
  const auto left = std::chrono::ceil<std::chrono::seconds>(since + settings_.giveUpAfter - now);
  if (left <= settings_.timeout) return settings_.timeout;
  if (wait_) wait_->tellIfStillWaiting(serverName(), settings_.timeout);
  return left;
}

std::string ServerRules::serverName() const {
  return name_.empty() ? "the server" : name_;
}

Reply ServerRules::call(bool repeatable, const std::function<Reply()>& attempt) {
  if (heldUntil_ && !givenUp_) {
    const auto left = *heldUntil_ - clock_();
    if (left > decltype(left)::zero()) {
      if (wait_) {
        wait_->waitFor(serverName(), left);
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
