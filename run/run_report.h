#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "run/guarded_steps.h"
#include "run/run_state.h"

namespace kestrine {

// Texts the run shows at its end.
inline constexpr const char* kCompletionSuffix = " Users and Folders were added successfully!";
inline constexpr std::size_t kFailuresListed = 20;  // lines of the summary box

// What the run tells at its end: how many records were added, were there
// already or failed, and why each failed one was not provisioned.
class RunReport {
 public:
  explicit RunReport(RunState& state) : state_(state) {}

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
  // already, or failed with its reason.
  void countRecord();

  // The failures of the run's steps, then the summary lines; "" when no
  // record is to be told about.
  std::string summary() const;
  std::string completionText() const;
  int failedCount() const { return failed_; }

 private:
  std::string whyNotProvisioned(const RecordOutcome& outcome) const;
  void addLine(std::string line);

  RunState& state_;
  std::vector<Failure> runFailures_;
  // Why no record was attempted when the rootDSE could not be bound.
  std::string notAttempted_ = "the domain could not be reached";
  int existed_ = 0;  // records whose own account was there already
  int failed_ = 0;
  int lineCount_ = 0;               // failed records and existing disabled accounts
  std::vector<std::string> lines_;  // ... the first few of them
};

}  // namespace kestrine
