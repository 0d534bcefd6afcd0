#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform_error.h"

namespace kestrine {

// One failed step: what was being done and what the platform answered.
struct Failure {
  std::string step;
  int code = 0;
  std::string reason;
  FailureKind kind = FailureKind::kOther;
};

// Failure handling by guarded steps: a step that fails is abandoned, whatever it
// would have assigned keeps its earlier value, and the caller goes on with its
// next step. Constructing one is switching the handling on, which starts with a
// clear error state. Each failure is also appended to an optional sink so that
// the run can report it at the end.
class GuardedSteps {
 public:
  explicit GuardedSteps(std::vector<Failure>* sink = nullptr) : sink_(sink) {}

  // Runs one step; true when it completed.
  template <class Step>
  bool operator()(std::string_view what, Step&& step) {
    try {
      step();
      return true;
    } catch (const PlatformError& e) {
      fail(what, e.code(), e.what(), e.kind());
    } catch (const std::exception& e) {
      fail(what, -1, e.what());
    }
    return false;
  }

  // The number of the most recent failure, 0 when there was none since clear().
  int errorNumber() const { return errorNumber_; }
  const Failure& lastFailure() const { return last_; }
  void clear() {
    errorNumber_ = 0;
    last_ = {};
  }

 private:
  void fail(std::string_view what, int code, std::string reason,
            FailureKind kind = FailureKind::kOther);

  std::vector<Failure>* sink_;
  int errorNumber_ = 0;
  Failure last_;
};

}  // namespace kestrine
