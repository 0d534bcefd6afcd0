#include "run/run_report.h"

#include "platform/text/printable.h"

namespace kestrine {

namespace {

constexpr const char* kExistingFolderReplaced =
    "home folder existed already; its access list was replaced";

}  // namespace

void RunReport::directoryNotBound(const Failure& failure, bool unreachable) {
  // A domain that was never asked (no server found, no SASL module, no
  // ticket) is not one that could not be reached: name what failed.
  if (!unreachable) notAttempted_ = failure.reason;
}

void RunReport::lineTooLong(long lineNumber) {
  ++failed_;
  addLine("line " + std::to_string(lineNumber) + ": longer than 1 MiB");
}

void RunReport::refuseRecord(const std::string& accountName, const std::string& why) {
  ++failed_;
  addLine(printable(accountName) + ": " + why);
}

void RunReport::countRecord() {
  const RecordOutcome& outcome = state_.record;
  if (outcome.provisioned()) {
    ++state_.recordCount;
    if (outcome.tookExistingFolder()) addLine(state_.accountName + ": " + kExistingFolderReplaced);
  } else if (outcome.alreadyExisted()) {
    ++existed_;
    if (outcome.accountDisabled) addLine(state_.accountName + ": already existed, disabled");
  } else {
    ++failed_;
    addLine(state_.accountName + ": " + whyNotProvisioned(outcome));
  }
}

std::string RunReport::whyNotProvisioned(const RecordOutcome& outcome) const {
  if (!state_.rootDse) return "not attempted: " + notAttempted_;
  std::string firstFailure = "not provisioned";
  if (!outcome.failures.empty()) {
    const Failure& first = outcome.failures.front();
    // A failure without a step is its own sentence.
    firstFailure = first.step.empty() ? first.reason : first.step + ": " + first.reason;
  }
  switch (outcome.account) {
    case AccountOrigin::kForeign:
      return "home folder left alone: the logon name belongs to " + outcome.accountHolder;
    case AccountOrigin::kNotCreated:
      return "home folder left alone: the account was not created (" + firstFailure + ")";
    default:
      return firstFailure;
  }
}

void RunReport::addLine(std::string line) {
  ++lineCount_;
  if (lines_.size() < kFailuresListed) lines_.push_back(std::move(line));
}

std::string RunReport::summary() const {
  if (lineCount_ == 0) return {};
  std::string text;
  for (const Failure& failure : runFailures_) text += failure.step + ": " + failure.reason + "\n";
  for (const std::string& line : lines_) text += line + "\n";
  const auto unlisted = static_cast<std::size_t>(lineCount_) - lines_.size();
  if (unlisted > 0) text += "... and " + std::to_string(unlisted) + " more\n";
  text.pop_back();
  return text;
}

std::string RunReport::completionText() const {
  std::string text = std::to_string(state_.recordCount) + kCompletionSuffix;
  if (existed_ > 0) text += " " + std::to_string(existed_) + " already existed.";
  if (failed_ > 0) text += " " + std::to_string(failed_) + " failed.";
  return text;
}

}  // namespace kestrine
