#include "platform/server_rules.h"

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
  return heldUntil_ && clock_() < *heldUntil_;
}

void ServerRules::hold() {
  heldUntil_ = clock_() + settings_.retryAfter;
}

Reply ServerRules::call(bool repeatable, const std::function<Reply()>& attempt) {
  Reply reply = Reply::kAnswered;
  const auto tries = [&] {
    reply = attempt();
    if (reply == Reply::kLost && repeatable) reply = attempt();
  };
  runOn(wait_, tries);
  if (reply == Reply::kNoAnswer) hold();
  return reply;
}

}  // namespace kestrine
