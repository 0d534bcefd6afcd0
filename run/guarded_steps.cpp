#include "run/guarded_steps.h"

namespace kestrine {

void GuardedSteps::fail(std::string_view what, int code, std::string reason, FailureKind kind) {
  // A platform code of 0 would read as "no error"; keep the failure visible.
  errorNumber_ = code != 0 ? code : -1;
  last_ = Failure{std::string(what), code, std::move(reason), kind};
  if (sink_) sink_->push_back(last_);
}

}  // namespace kestrine
