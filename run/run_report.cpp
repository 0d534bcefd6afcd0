#include "run/run_report.h"

#include <string_view>
#include <utility>

#include "platform/text/printable.h"
#include "platform/text/wipe.h"
#include "run/csv_record.h"

namespace kestrine {

namespace {

constexpr const char* kExistingFolderReplaced =
    "home folder existed already; its access list was replaced";

// What importing a failed record again does, where it is not simply the
// record done as it should have been.
constexpr const char* kNotSaved =
    "; not among the failed records to save: mend it in the original file";
constexpr const char* kIncompleteAccount =
    "; the account was made but stays disabled: delete it and its home folder before importing "
    "the record again (an import never changes an account that exists, nor takes over a folder "
    "that grants another)";
constexpr const char* kNoFolderForName =
    "; no home folder can be made for this logon name: delete the account before importing the "
    "record with another one (an import never changes an account that exists)";
constexpr const char* kFolderOnly =
    "; the account is there: importing the record again does its home folder only, and counts "
    "it as already existing";

// What a line of the box's first lines tells before what a second import
// does, cut short; the details hold it whole.
constexpr std::size_t kLongestListedLine = 240;

std::string shortened(const std::string& text) {
  if (text.size() <= kLongestListedLine) return text;
  std::size_t cut = kLongestListedLine;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // UTF-8
  return text.substr(0, cut) + "...";
}

const char* secondImport(const RecordOutcome& outcome) {
  if (outcome.account == AccountOrigin::kCreated && !outcome.accountUsable()) {
    return kIncompleteAccount;
  }
  if (outcome.folderNameRefused) return kNoFolderForName;
  if (outcome.ownsAccount()) return kFolderOnly;
  return "";
}

}  // namespace

RunReport::~RunReport() {
  wipe(failedRecords_);
}

void RunReport::directoryNotBound(const Failure& failure, bool unreachable) {
  // A domain that was never asked (no server found, no SASL module, no
  // ticket) is not one that could not be reached: name what failed, and
  // a sign-in that failed once only, in the run's own line.
  if (failure.kind == FailureKind::kSignIn) {
    notAttempted_ = kCannotSignIn;
    signInTold_ = true;
  } else if (!unreachable) {
    notAttempted_ = failure.reason;
  }
}

void RunReport::lineTooLong(long lineNumber) {
  ++failed_;
  lines_.push_back({"line " + std::to_string(lineNumber) + ": longer than 1 MiB", kNotSaved});
}

void RunReport::refuseRecord(const std::string& accountName, const std::string& why) {
  ++failed_;
  lines_.push_back({printable(accountName) + ": " + why, kNotSaved});
}

void RunReport::countRecord() {
  const RecordOutcome& outcome = state_.record;
  if (outcome.provisioned()) {
    ++state_.recordCount;
    if (outcome.tookExistingFolder()) {
      lines_.push_back({state_.accountName + ": " + kExistingFolderReplaced, ""});
    }
  } else if (outcome.alreadyExisted()) {
    ++existed_;
    if (outcome.accountDisabled) {
      lines_.push_back({state_.accountName + ": already existed, disabled", ""});
    }
  } else {
    ++failed_;
    lines_.push_back(
        {state_.accountName + ": " + whyNotProvisioned(outcome), secondImport(outcome)});
    keepFailedRecord();
  }
}

std::string RunReport::told(const Failure& failure) {
  // A failure without a step is its own sentence.
  std::string said = failure.step.empty() ? failure.reason : failure.step + ": " + failure.reason;
  if (failure.kind != FailureKind::kSignIn) return said;
  if (!std::exchange(signInTold_, true)) signInFailure_ = std::move(said);
  return failure.step + ": " + kCannotSignIn;
}

std::string RunReport::whyNotProvisioned(const RecordOutcome& outcome) {
  if (!state_.rootDse) return "not attempted: " + notAttempted_;
  const std::string firstFailure =
      outcome.failures.empty() ? std::string("not provisioned") : told(outcome.failures.front());
  switch (outcome.account) {
    case AccountOrigin::kForeign:
      return "home folder left alone: the logon name belongs to " + outcome.accountHolder;
    case AccountOrigin::kNotCreated:
      return "home folder left alone: the account was not created (" + firstFailure + ")";
    default:
      return firstFailure;
  }
}

// The record as the run used it: the run state's values of its columns, the
// password among them, appended so that no copy is left in freed memory.
void RunReport::keepFailedRecord() {
  const std::string* const columns[kColumnsUsed] = {
      &state_.accountName, &state_.commonName, &state_.firstName, &state_.lastName,
      &state_.password,    &state_.unitName,   &state_.upnSuffix, &state_.fileServer,
      &state_.shareBase,   &state_.logonScript};
  for (std::size_t column = 0; column < state_.columnsTaken; ++column) {
    if (column > 0) appendWiping(failedRecords_, std::string_view(","));
    appendWiping(failedRecords_, std::string_view(*columns[column]));
  }
  appendWiping(failedRecords_, std::string_view("\n"));
  ++savable_;
}

std::vector<RunReport::Line> RunReport::allLines() const {
  std::vector<Line> lines;
  lines.reserve(runFailures_.size() + 1 + lines_.size());
  for (const Failure& failure : runFailures_)
    lines.push_back({failure.step + ": " + failure.reason, ""});
  if (!signInFailure_.empty()) lines.push_back({signInFailure_, ""});
  lines.insert(lines.end(), lines_.begin(), lines_.end());
  return lines;
}

std::string RunReport::summary() const {
  if (lines_.empty()) return {};
  const std::vector<Line> lines = allLines();
  std::string text;
  for (std::size_t i = 0; i < lines.size() && i < kFailuresListed; ++i) {
    text += shortened(lines[i].what) + lines[i].then + "\n";
  }
  if (lines.size() > kFailuresListed) {
    text += "... and " + std::to_string(lines.size() - kFailuresListed) + " more\n";
  }
  text.pop_back();
  return text;
}

std::string RunReport::details() const {
  std::string text;
  for (const Line& line : allLines()) text += line.what + line.then + "\n";
  if (!text.empty()) text.pop_back();
  return text;
}

std::string RunReport::completionText() const {
  std::string text = std::to_string(state_.recordCount) + kCompletionSuffix;
  if (existed_ > 0) text += " " + std::to_string(existed_) + " already existed.";
  if (failed_ > 0) text += " " + std::to_string(failed_) + " failed.";
  return text;
}

std::string failedRecordsPath(const std::string& csvPath) {
  const std::size_t nameStart = csvPath.find_last_of("/\\") + 1;  // 0 without a folder
  std::size_t nameEnd = csvPath.rfind('.');
  if (nameEnd == std::string::npos || nameEnd <= nameStart) nameEnd = csvPath.size();
  return csvPath.substr(0, nameEnd) + "-failed.csv";
}

}  // namespace kestrine
