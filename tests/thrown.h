#pragma once

#include <gtest/gtest.h>

namespace kestrine::testing {

// The `Error` that `call` ends with; a default one, and a test failure, when
// it ends without.
template <class Error, class Call>
Error thrown(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "no failure";
  return Error({}, "none");
}

}  // namespace kestrine::testing
