#pragma once

namespace kestrine {

// Ends the process at once with status 0: no handler runs, no window is
// closed or told, nothing is torn down. Buffered output is written first.
[[noreturn]] void endProgram();

}  // namespace kestrine
