#include "ui/window_description.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestrine {

namespace {

constexpr TextColour kHighlightText{SystemColour::HighlightText, 0, 0, 0};
constexpr TextColour kButtonFace{SystemColour::ButtonFace, 0, 0, 0};
constexpr TextColour kListText{SystemColour::None, 64, 64, 64};
constexpr TextColour kLoadingText{SystemColour::None, 224, 224, 224};
constexpr TextColour kNoText{SystemColour::None, 0, 0, 0};
constexpr FontDescription kNoFont{0, false};

using K = ControlKind;
using A = TextAlign;

// Tab indexes as designed; the labels (5 and 7) take no focus, so Tab goes
// FilePath, Command2, drvTest, dirTest, filTest, Command1.
constexpr ControlDescription kForm1Controls[] = {
    {"lblCreateUsers",
     K::Label,
     "Create Users",
     {120, 30, 3375, 255},
     {9, true},
     7,
     kHighlightText,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
    {"lblSelectCSV",
     K::Label,
     "Please select the CSV that contains the required info.",
     {120, 480, 6375, 255},
     {8.25, false},
     5,
     kHighlightText,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
    {"drvTest",
     K::DriveList,
     "",
     {120, 840, 3015, 315},
     {8.25, false},
     2,
     kListText,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
    {"dirTest",
     K::DirList,
     "",
     {120, 1320, 3015, 2340},
     {8.25, false},
     3,
     kListText,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
    {"filTest",
     K::FileList,
     "",
     {3240, 1320, 3135, 2235},
     {8.25, false},
     4,
     kListText,
     A::Left,
     nullptr,
     nullptr,
     "*.csv"},
    {"FilePath",
     K::TextBox,
     "",
     {120, 3900, 6255, 315},
     {9, false},
     0,
     kListText,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
    {"Command1",
     K::PictureButton,
     "",
     {120, 4320, 875, 315},
     kNoFont,
     6,
     kNoText,
     A::Left,
     "import",
     "Import",
     nullptr},
    {"Command2",
     K::PictureButton,
     "",
     {5640, 4320, 875, 315},
     kNoFont,
     1,
     kNoText,
     A::Left,
     "cancel",
     "Cancel",
     nullptr},
};

constexpr ControlDescription kLoadingControls[] = {
    {"lblLoading",
     K::Label,
     "Loading Please Wait...",
     {120, 360, 5655, 255},
     {9.75, true},
     0,
     kLoadingText,
     A::Centre,
     nullptr,
     nullptr,
     nullptr},
    {"lblStep",
     K::Label,
     "",
     {120, 0, 2055, 255},
     {6.75, true},
     1,
     kButtonFace,
     A::Left,
     nullptr,
     nullptr,
     nullptr},
};

// lblComplete is wider than the window: its text is centred on the label,
// 60 twips right of the window's middle.
constexpr ControlDescription kCompleteControls[] = {
    {"lblComplete",
     K::Label,
     "",
     {0, 360, 6015, 375},
     {8.25, false},
     0,
     kHighlightText,
     A::Centre,
     nullptr,
     nullptr,
     nullptr},
    {"Finish",
     K::PictureButton,
     "",
     {2520, 720, 875, 350},
     kNoFont,
     1,
     kNoText,
     A::Left,
     "done",
     "Done",
     nullptr},
};

}  // namespace

const WindowDescription kForm1{"Form1", "Kestrine", 6645, 4800,
                               "form1", false,      true, kForm1Controls};
const WindowDescription kLoading{"Loading", "Working...", 5910,  1005,
                                 "loading", true,         false, kLoadingControls};
// Its 400 x 200 picture is cut off at the right and bottom edges.
const WindowDescription kComplete{"Complete", "Dialog Caption", 5895, 1230, "complete", false,
                                  false,      kCompleteControls};

const SummaryBoxDescription kSummaryBox{
    "Show details",
    "Hide details",
    "Save failed records...",
    "OK",
    "Save failed records",
    "CSV files",
    "*.csv",
    100,
    100,
    16,
    11,
};

int twipsToPixels(int twips) {
  return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixel));
}

PixelRect toPixels(const TwipsRect& twips) {
  const int x = twipsToPixels(twips.left);
  const int y = twipsToPixels(twips.top);
  return {x, y, twipsToPixels(twips.left + twips.width) - x,
          twipsToPixels(twips.top + twips.height) - y};
}

const ControlDescription& controlOf(const WindowDescription& window, std::string_view name) {
  for (const ControlDescription& control : window.controls) {
    if (name == control.name) return control;
  }
  std::fprintf(stderr, "kestrine: %s has no control %.*s\n", window.name,
               static_cast<int>(name.size()), name.data());
  std::abort();
}

std::vector<const ControlDescription*> tabOrder(const WindowDescription& window) {
  std::vector<const ControlDescription*> order;
  for (const ControlDescription& control : window.controls) {
    if (control.takesFocus()) order.push_back(&control);
  }
  std::sort(order.begin(), order.end(),
            [](const auto* a, const auto* b) { return a->tabIndex < b->tabIndex; });
  return order;
}

}  // namespace kestrine
