#pragma once

namespace kestrine {

// Lets Qt handle what it has pending while the import run holds the thread:
// paints of exposed windows, the window manager's pings (_NET_WM_PING) and
// state changes. Input to the program's windows and requests to close them
// are dropped, not put off: nothing of the run can start twice, run in the
// middle of a record, or close a window under it.
void answerDesktop();

}  // namespace kestrine
