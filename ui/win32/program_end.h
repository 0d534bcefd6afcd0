#pragma once

namespace kestrine::win32 {

// First thing in the program: DLLs loaded from here on come from the system
// folder only, never from the program's own folder (a downloads folder may
// hold a DLL planted under a system DLL's name) or the current one.
void loadDllsFromSystemOnly();

// Ends the process at once with `status` (TerminateProcess): no handler runs,
// no window is closed or told, and no DLL is told either, so that a thread
// still waiting inside a library (a bind given up on) cannot hold the end
// up. Buffered output is written first.
[[noreturn]] void endProcess(int status);

// The program end: endProcess with status 0.
[[noreturn]] void endProgram();

// While a run goes on, a log-off or shutdown waits for it: Windows shows the
// window with the reason "Kestrine is creating accounts", and the
// administrator can wait or end the program all the same. The reason goes
// when the run ends.
class ShutdownBlock {
 public:
  explicit ShutdownBlock(void* window);
  ~ShutdownBlock();
  ShutdownBlock(const ShutdownBlock&) = delete;
  ShutdownBlock& operator=(const ShutdownBlock&) = delete;

  // Whether a run goes on: WM_QUERYENDSESSION is answered FALSE meanwhile.
  static bool active();

 private:
  void* window_;
};

}  // namespace kestrine::win32
