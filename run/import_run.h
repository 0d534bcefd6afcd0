#pragma once

#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/service_objects.h"
#include "provision/provisioning.h"
#include "run/csv_record.h"
#include "run/run_state.h"
#include "run/run_view.h"

namespace kestrine {

// Texts the run shows.
inline constexpr const char* kCompletionSuffix = " Users and Folders were added successfully!";
inline constexpr const char* kCannotContinueTitle = "Error - Cannot Continue";
inline constexpr const char* kApplicationTitle = "Kestrine";
inline constexpr std::size_t kFailuresListed = 20;  // lines of the summary box

// The import run: the click handling of Command1. It walks the CSV file one
// line at a time and provisions every record, showing its progress in the
// windows; it owns the run state.
class ImportRun {
 public:
  ImportRun(RunView& view, Directory& directory, ServiceObjects& services)
      : view_(view),
        directory_(directory),
        services_(services),
        provisioning_(state_, directory, view) {}

  void run();

  const RunState& state() const { return state_; }

 private:
  // Copies FilePath into csvPath; an empty path ends the program (false).
  bool GetFolder();
  void readRecords(GuardedSteps& step);
  void tellReadFailure(long lineNumber, const Failure& failure);
  // Wipes the line once it is split.
  void handleLine(GuardedSteps& step, std::string& line,
                  const std::optional<NotTextInLine>& notText);
  void failRecord(const std::string& why);
  void showProgress(GuardedSteps& step, const std::string& text);
  void countRecord();
  std::string whyNotProvisioned(const RecordOutcome& outcome) const;
  void addSummaryLine(std::string line);
  void showFailureSummary();
  std::string completionText() const;
  void endForUnreadableFile(const Failure& failure);

  RunView& view_;
  Directory& directory_;
  ServiceObjects& services_;
  RunState state_;
  Provisioning provisioning_;
  bool domainUnreachable_ = false;  // the rootDSE bind found no server that answered
};

}  // namespace kestrine
