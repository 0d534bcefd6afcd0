#pragma once

#include <optional>
#include <string>

#include "platform/directory.h"
#include "platform/service_objects.h"
#include "provision/provisioning.h"
#include "run/csv_record.h"
#include "run/run_report.h"
#include "run/run_state.h"
#include "run/run_view.h"

namespace kestrine {

// Titles of the run's message boxes.
inline constexpr const char* kCannotContinueTitle = "Error - Cannot Continue";
inline constexpr const char* kApplicationTitle = "Kestrine";

// The import run: the click handling of Command1. It walks the CSV file one
// line at a time and provisions every record, showing its progress in the
// windows; it owns the run state.
class ImportRun {
 public:
  ImportRun(RunView& view, Directory& directory, ServiceObjects& services)
      : view_(view),
        directory_(directory),
        services_(services),
        provisioning_(state_, directory, view),
        report_(state_) {}

  void run();

  const RunState& state() const { return state_; }
  const RunReport& report() const { return report_; }

 private:
  // Copies FilePath into csvPath; an empty path ends the program (false).
  bool GetFolder();
  void bindRootDse(GuardedSteps& step);
  void readRecords(GuardedSteps& step);
  void tellReadFailure(long lineNumber, const Failure& failure);
  // One line, from its split to its count; wipes the line once it is split.
  void handleLine(GuardedSteps& step, std::string& line,
                  const std::optional<NotTextInLine>& notText);
  void takeColumns(const std::optional<std::string>& unit);
  void showProgress(GuardedSteps& step, const std::string& text);
  void showFailureSummary();
  // Writes the failed records where the administrator chose; what to tell
  // when that failed.
  std::string saveFailedRecords(const std::string& path);
  void endForUnreadableFile(const Failure& failure);

  RunView& view_;
  Directory& directory_;
  ServiceObjects& services_;
  RunState state_;
  Provisioning provisioning_;
  RunReport report_;
};

}  // namespace kestrine
