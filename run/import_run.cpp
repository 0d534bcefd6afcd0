#include "run/import_run.h"

#include <algorithm>
#include <exception>
#include <optional>

#include "platform/directory_link.h"
#include "platform/text/wipe.h"
#include "run/csv_record.h"

namespace kestrine {

void ImportRun::run() {
  GuardedSteps step(report_.runFailures());

  step("hide the main window", [&] { view_.hideForm1(); });
  step("show the progress window", [&] { view_.showLoading(); });
  bool ended = false;
  step("check the CSV path", [&] { ended = !GetFolder(); });
  if (ended) return;
  bindRootDse(step);
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
  step("set the completion text", [&] { view_.setCompleteText(report_.completionText()); });
  step("hide the progress window", [&] { view_.hideLoading(); });
  step("show the completion window", [&] { view_.showComplete(); });
}

// A run whose bind failed still walks its records; the report says why none
// was attempted.
void ImportRun::bindRootDse(GuardedSteps& step) {
  bool unreachable = false;
  const bool rootBound = step("bind the directory (rootDSE)", [&] {
    try {
      state_.rootDse = directory_.Bind("LDAP://rootDSE");
    } catch (const ConnectionLost&) {
      unreachable = true;
      throw;
    }
  });
  if (!rootBound) report_.directoryNotBound(step.lastFailure(), unreachable);
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
      report_.lineTooLong(lineNumber);
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
  std::vector<std::string>& fields = state_.fields;
  WipeOnExit wipeFields(fields);  // they hold the password
  fields = splitRecord(line);
  wipe(line);
  if (!isRecord(fields)) return;
  state_.record = {};
  // A later short record takes its values from the last record that was taken.
  const RecordCheck check = checkRecord(fields, notText);
  if (!check.refusal.empty()) return report_.refuseRecord(fields[kAccountName], check.refusal);

  // A record without a unit keeps the previous record's unit and progress text.
  if (check.unit) {
    state_.ouRdn = "OU=" + *check.unit;
    showProgress(step, "Adding OU: " + fields[kOrganizationalUnit]);
  }
  provisioning_.CreateOU();
  takeColumns(check.unit);
  state_.principalName = state_.accountName + "@" + state_.upnSuffix;
  provisioning_.CreateUsers();
  showProgress(step, "Adding User: " + state_.commonName);
  provisioning_.CreateFolders();
  showProgress(step, "Creating Share: " +
                         homeFolderPath(state_.fileServer, state_.shareBase, state_.accountName));
  report_.countRecord();
}

// Each column the record has replaces its variable's value; then the columns
// are wiped, and the password stays only in the run state.
void ImportRun::takeColumns(const std::optional<std::string>& unit) {
  const std::vector<std::string>& fields = state_.fields;
  takeColumn(fields, kAccountName, state_.accountName);
  takeColumn(fields, kCommonName, state_.commonName);
  takeColumn(fields, kFirstName, state_.firstName);
  takeColumn(fields, kLastName, state_.lastName);
  // The earlier record's password, kept for short records until now.
  if (kPassword < fields.size()) wipe(state_.password);
  takeColumn(fields, kPassword, state_.password);
  // The blank before the comma is insignificant to the directory.
  if (unit) state_.ouPath = "OU=" + *unit + " ,";
  takeColumn(fields, kUpnSuffix, state_.upnSuffix);
  takeColumn(fields, kFileServer, state_.fileServer);
  takeColumn(fields, kShareBase, state_.shareBase);
  takeColumn(fields, kLogonScript, state_.logonScript);
  takeColumn(fields, kOrganizationalUnit, state_.unitName);
  state_.columnsTaken = std::max(state_.columnsTaken, std::min(fields.size(), kColumnsUsed));
  wipe(state_.fields);
}

void ImportRun::showProgress(GuardedSteps& step, const std::string& text) {
  step("show the progress text", [&] { view_.setLoadingText(text); });
  step("repaint the progress text", [&] { view_.repaintLoading(); });
}

void ImportRun::showFailureSummary() {
  RunSummary summary;
  summary.text = report_.summary();
  if (summary.text.empty()) return;
  summary.details = report_.details();
  summary.savable = report_.savableCount();
  summary.savePath = failedRecordsPath(state_.csvPath);
  summary.save = [this](const std::string& path) { return saveFailedRecords(path); };
  view_.summaryBox(summary);
}

std::string ImportRun::saveFailedRecords(const std::string& path) {
  try {
    bound(state_.fileSystem, "fileSystem").WriteTextFile(path, report_.failedRecords());
    return {};
  } catch (const std::exception& e) {
    return "Cannot save the failed records: " + path + "\r\n" + e.what();
  }
}

void ImportRun::endForUnreadableFile(const Failure& failure) {
  view_.messageBox("Cannot open the CSV file: " + state_.csvPath + "\r\n" + failure.reason, 0,
                   kCannotContinueTitle);
  view_.endProgram();
}

}  // namespace kestrine
