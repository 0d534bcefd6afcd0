#pragma once

#include <windows.h>

#include "run/run_view.h"

namespace kestrine::win32 {

// Control IDs of the summary box, beside IDOK.
inline constexpr int kSummaryText = 100;
inline constexpr int kDetailsButton = 101;
inline constexpr int kSaveButton = 102;
inline constexpr int kDetails = 103;

// The run's summary box as the description has it (kSummaryBox): a dialog
// made in memory, modal, owned by `owner` (without one, modal to the task).
// Returns when the administrator has closed it.
void showSummaryBox(HWND owner, const RunSummary& summary);

}  // namespace kestrine::win32
