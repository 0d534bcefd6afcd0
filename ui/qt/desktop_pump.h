#pragma once

namespace kestrine {

// Lets Qt handle what it has pending while the import run holds the thread:
// paints of exposed windows, the window manager's pings (_NET_WM_PING) and
// state changes. Input to the program's windows is dropped, not put off:
// nothing of the run can start twice or run in the middle of a record. (The
// windows ignore requests to close them at any time.)
void answerDesktop();

}  // namespace kestrine
