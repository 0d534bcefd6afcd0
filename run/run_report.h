#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "run/guarded_steps.h"
#include "run/run_state.h"

namespace kestrine {

// Texts the run shows at its end.
inline constexpr const char* kCompletionSuffix = " Users and Folders were added successfully!";
inline constexpr std::size_t kFailuresListed = 20;  // first lines of the summary box
// A record's reason when the run could not sign in, told in full once.
inline constexpr const char* kCannotSignIn = "cannot sign in (see above)";

// What the run tells at its end: how many records were added, were there
// already or failed, why each failed one was not provisioned, and the failed
// records themselves as the run used them, for a second run.
class RunReport {
 public:
  explicit RunReport(RunState& state) : state_(state) {}
  // The failed records hold their passwords.
  ~RunReport();
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // Where the run's own steps keep their failures, which head the summary.
  std::vector<Failure>* runFailures() { return &runFailures_; }
  // The rootDSE bind failed: every record is not attempted, for want of a
  // server that answered, or for the bind's own reason.
  void directoryNotBound(const Failure& failure, bool unreachable);
  // A line longer than the reader hands out: one failed record.
  void lineTooLong(long lineNumber);
  // A record refused as a whole, before anything was written.
  void refuseRecord(const std::string& accountName, const std::string& why);
  // Counts the record in hand by its outcome: added (recordCount), there
  // already, or failed with its reason; a failed one is kept for saving.
  void countRecord();

  // The failures of the run's steps, then the summary lines, the first
  // kFailuresListed of them; "" when no record is to be told about.
  std::string summary() const;
  // All of them.
  std::string details() const;
  // One line per failed record that was read as text, in file order, each
  // ended by "\n": its ten columns as the record used them, with what a short
  // record carried over (only the columns that some record of the run had).
  const std::string& failedRecords() const { return failedRecords_; }
  std::size_t savableCount() const { return savable_; }

  std::string completionText() const;
  int failedCount() const { return failed_; }

 private:
  std::string whyNotProvisioned(const RecordOutcome& outcome);
  // "<step>: <reason>", but for a sign-in failure, whose reason is told once.
  std::string told(const Failure& failure);
  void keepFailedRecord();
  // A line of the summary: what happened, then what a second import of the
  // record does, which the box's first lines show even when they cut the
  // first part short.
  struct Line {
    std::string what;
    const char* then;
  };
  std::vector<Line> allLines() const;

  RunState& state_;
  std::vector<Failure> runFailures_;
  // Why no record was attempted when the rootDSE could not be bound.
  std::string notAttempted_ = "the domain could not be reached";
  // The first sign-in failure of a record, when no step of the run's told one.
  std::string signInFailure_;
  bool signInTold_ = false;
  int existed_ = 0;  // records whose own account was there already
  int failed_ = 0;
  std::vector<Line> lines_;  // failed records and the records to look at
  std::string failedRecords_;
  std::size_t savable_ = 0;
};

// Where the failed records of the CSV file at `csvPath` are offered to go:
// beside it, its name without the extension followed by "-failed.csv".
std::string failedRecordsPath(const std::string& csvPath);

}  // namespace kestrine
