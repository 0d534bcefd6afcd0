#include "run/import_run.h"

#include <algorithm>
#include <optional>

#include "platform/directory/dn.h"
#include "platform/directory_link.h"
#include "platform/text/wipe.h"
#include "run/csv_record.h"

namespace kestrine {

namespace {

constexpr const char* kBindRootDse = "bind the directory (rootDSE)";
constexpr const char* kExistingFolderReplaced =
    "home folder existed already; its access list was replaced";

}  // namespace

void ImportRun::run() {
  GuardedSteps step(&state_.runFailures);

  step("hide the main window", [&] { view_.hideForm1(); });
  step("show the progress window", [&] { view_.showLoading(); });
  bool ended = false;
  step("check the CSV path", [&] { ended = !GetFolder(); });
  if (ended) return;
  step(kBindRootDse, [&] {
    try {
      state_.rootDse = directory_.Bind("LDAP://rootDSE");
    } catch (const ConnectionLost&) {
      domainUnreachable_ = true;
      throw;
    }
  });
  step("create the shell object", [&] { state_.shell = services_.createShell(); });
  step("create the file system object", [&] { state_.fileSystem = services_.createFileSystem(); });
  if (!step("open the CSV file", [&] {
        state_.inputStream = bound(state_.fileSystem, "fileSystem").OpenTextFile(state_.csvPath);
      })) {
    return endForUnreadableFile(step.lastFailure());
  }
  state_.recordCount = 0;
  readRecords(step);
  wipe(state_.password);  // kept for short records until now
  step("close the CSV file", [&] { state_.inputStream->Close(); });
  step("show the failed records", [&] { showFailureSummary(); });
  step("set the completion text", [&] { view_.setCompleteText(completionText()); });
  step("hide the progress window", [&] { view_.hideLoading(); });
  step("show the completion window", [&] { view_.showComplete(); });
}

bool ImportRun::GetFolder() {
  state_.csvPath = view_.filePathText();
  if (!state_.csvPath.empty()) return true;
  view_.messageBox("The path to the CSV file is required!\r\n", 0, kCannotContinueTitle);
  view_.endProgram();
  return false;
}

void ImportRun::readRecords(GuardedSteps& step) {
  // A read that fails ends the reading: never a loop that reads nothing.
  for (long lineNumber = 1;; ++lineNumber) {
    bool atEnd = false;
    bool tooLong = false;
    std::string line;
    WipeOnExit wipeLine(line);
    std::optional<NotTextInLine> notText;
    if (!step("read the CSV file", [&] {
          atEnd = state_.inputStream->AtEndOfStream();
          if (atEnd) return;
          try {
            line = state_.inputStream->ReadLine();
          } catch (const LineTooLong&) {
            tooLong = true;  // the stream went on past its end: one failed record
          } catch (NotText& e) {
            // The line as shown, for the skip rule and the message only.
            line = std::move(e.shown());
            notText = NotTextInLine{e.offset(), e.what()};
          }
        })) {
      return tellReadFailure(lineNumber, step.lastFailure());
    }
    if (atEnd) return;
    if (tooLong) {
      ++state_.failedCount;
      addSummaryLine("line " + std::to_string(lineNumber) + ": longer than 1 MiB");
      continue;
    }
    handleLine(step, line, notText);
  }
}

void ImportRun::tellReadFailure(long lineNumber, const Failure& failure) {
  view_.messageBox(
      "Reading the CSV file failed at line " + std::to_string(lineNumber) + ": " + failure.reason,
      0, kCannotContinueTitle);
}

void ImportRun::handleLine(GuardedSteps& step, std::string& line,
                           const std::optional<NotTextInLine>& notText) {
  auto& fields = state_.fields;
  WipeOnExit wipeFields(fields);  // they hold the password
  fields = splitRecord(line);
  wipe(line);
  if (!isRecord(fields)) return;
  state_.record = {};
  // Refused as a whole, before anything is written or carried over: a later
  // short record takes its values from the last record that was accepted.
  if (notText) {
    return failRecord("check the record: column " +
                      std::to_string(columnAt(fields, notText->offset)) + " is " + notText->reason);
  }
  if (const auto control = findControlCharacter(fields)) {
    return failRecord("check the record: column " + std::to_string(control->column) +
                      " holds a control character (" + codePoint(control->character) + ")");
  }

  // A record without a unit keeps the previous record's unit and progress text.
  std::string unit;
  std::string escapedUnit;
  const bool hasUnit = takeColumn(fields, kOrganizationalUnit, unit);
  if (hasUnit) {
    GuardedSteps recordStep(&state_.record.failures);
    // The record would go to the unit of an earlier one.
    if (!recordStep("name the unit", [&] { escapedUnit = escapeDnValue(unit); })) {
      const Failure& failure = recordStep.lastFailure();
      return failRecord(failure.step + ": " + failure.reason);
    }
    state_.ouRdn = "OU=" + escapedUnit;
    showProgress(step, "Adding OU: " + unit);
  }
  provisioning_.CreateOU();

  takeColumn(fields, kAccountName, state_.accountName);
  takeColumn(fields, kCommonName, state_.commonName);
  takeColumn(fields, kFirstName, state_.firstName);
  takeColumn(fields, kLastName, state_.lastName);
  // The earlier record's password, kept for short records until now.
  if (kPassword < fields.size()) wipe(state_.password);
  takeColumn(fields, kPassword, state_.password);
  // The blank before the comma is insignificant to the directory.
  if (hasUnit) state_.ouPath = "OU=" + escapedUnit + " ,";
  takeColumn(fields, kUpnSuffix, state_.upnSuffix);
  takeColumn(fields, kFileServer, state_.fileServer);
  takeColumn(fields, kShareBase, state_.shareBase);
  takeColumn(fields, kLogonScript, state_.logonScript);
  wipe(fields);  // the password stays only in the run state
  state_.principalName = state_.accountName + "@" + state_.upnSuffix;
  provisioning_.CreateUsers();
  showProgress(step, "Adding User: " + state_.commonName);
  provisioning_.CreateFolders();
  showProgress(step, "Creating Share: \\\\" + state_.fileServer + "\\" + state_.shareBase + "$\\" +
                         state_.accountName);
  countRecord();
}

// Counts a record that is not provisioned and says why.
void ImportRun::failRecord(const std::string& why) {
  ++state_.failedCount;
  addSummaryLine(printable(state_.fields[kAccountName]) + ": " + why);
}

void ImportRun::showProgress(GuardedSteps& step, const std::string& text) {
  step("show the progress text", [&] { view_.setLoadingText(text); });
  step("repaint the progress text", [&] { view_.repaintLoading(); });
}

void ImportRun::countRecord() {
  const RecordOutcome& outcome = state_.record;
  if (outcome.provisioned()) {
    ++state_.recordCount;
    if (outcome.tookExistingFolder()) {
      addSummaryLine(state_.accountName + ": " + kExistingFolderReplaced);
    }
  } else if (outcome.alreadyExisted()) {
    ++state_.existedCount;
    if (outcome.accountDisabled) addSummaryLine(state_.accountName + ": already existed, disabled");
  } else {
    ++state_.failedCount;
    addSummaryLine(state_.accountName + ": " + whyNotProvisioned(outcome));
  }
}

std::string ImportRun::whyNotProvisioned(const RecordOutcome& outcome) const {
  if (!state_.rootDse) {
    // A domain that was never asked (no server found, no SASL module, no
    // ticket) is not one that could not be reached: name what failed.
    const auto& failures = state_.runFailures;
    const auto bind = std::find_if(failures.begin(), failures.end(), [](const Failure& failure) {
      return failure.step == kBindRootDse;
    });
    if (domainUnreachable_ || bind == failures.end()) {
      return "not attempted: the domain could not be reached";
    }
    return "not attempted: " + bind->reason;
  }
  const std::string firstFailure = outcome.failures.empty() ? std::string("not provisioned")
                                                            : outcome.failures.front().step + ": " +
                                                                  outcome.failures.front().reason;
  switch (outcome.account) {
    case AccountOrigin::kForeign:
      return "home folder left alone: the logon name belongs to " + outcome.accountHolder;
    case AccountOrigin::kNotCreated:
      return "home folder left alone: the account was not created (" + firstFailure + ")";
    default:
      return firstFailure;
  }
}

void ImportRun::addSummaryLine(std::string line) {
  ++state_.summaryLineCount;
  if (state_.summaryLines.size() < kFailuresListed) state_.summaryLines.push_back(std::move(line));
}

void ImportRun::showFailureSummary() {
  if (state_.summaryLineCount == 0) return;
  std::string text;
  for (const Failure& failure : state_.runFailures) {
    text += failure.step + ": " + failure.reason + "\n";
  }
  for (const std::string& line : state_.summaryLines) text += line + "\n";
  const auto unlisted =
      static_cast<std::size_t>(state_.summaryLineCount) - state_.summaryLines.size();
  if (unlisted > 0) text += "... and " + std::to_string(unlisted) + " more\n";
  text.pop_back();
  view_.messageBox(text, 0, kApplicationTitle);
}

std::string ImportRun::completionText() const {
  std::string text = std::to_string(state_.recordCount) + kCompletionSuffix;
  if (state_.existedCount > 0)
    text += " " + std::to_string(state_.existedCount) + " already existed.";
  if (state_.failedCount > 0) text += " " + std::to_string(state_.failedCount) + " failed.";
  return text;
}

void ImportRun::endForUnreadableFile(const Failure& failure) {
  view_.messageBox("Cannot open the CSV file: " + state_.csvPath + "\r\n" + failure.reason, 0,
                   kCannotContinueTitle);
  view_.endProgram();
}

}  // namespace kestrine
