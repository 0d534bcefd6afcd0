#pragma once

namespace kestrine::win32 {

// One pass over the thread's message queue while the import run holds it:
// paint, timer and system messages are dispatched, and messages sent from
// other threads (the system's hung-window check among them) are answered, so
// that Windows never shows the windows as "(Not Responding)". Keyboard and
// mouse input to the program's windows is dropped: nothing of the run can
// start twice or run in the middle of a record.
void answerDesktop();

}  // namespace kestrine::win32
