#pragma once

namespace kestrine::win32 {

// Ends the process at once with status 0 (ExitProcess): no handler runs, no
// window is closed or told. Buffered output is written first.
[[noreturn]] void endProgram();

}  // namespace kestrine::win32
