#pragma once

// The three windows as data: every control's place and size in twips, its
// font, colour, text and tab index, and each window's caption, size, picture
// and taskbar presence; and the run's summary box. The Qt and the Win32 windows are both built from
// this one description, so the two cannot drift apart. No toolkit in here.

#include <span>
#include <string_view>
#include <vector>

namespace kestrine {

// 15 twips are one pixel at 96 dpi.
inline constexpr int kTwipsPerPixel = 15;

// Rounds to the nearest pixel (875 twips -> 58 px). A twips figure is never
// exactly half a pixel, so the direction of ties does not matter.
int twipsToPixels(int twips);

struct TwipsRect {
  int left;
  int top;
  int width;
  int height;
};

struct PixelRect {
  int left;
  int top;
  int width;
  int height;
  bool operator==(const PixelRect&) const = default;
};

// The edges are rounded, not the width, so controls that meet in twips meet in
// pixels.
PixelRect toPixels(const TwipsRect& twips);

enum class ControlKind { Label, DriveList, DirList, FileList, TextBox, PictureButton };

// Every font is this family, character set 0, upright, neither underlined nor
// struck out.
inline constexpr const char* kFontFamily = "Verdana";
inline constexpr int kRegularWeight = 400;
inline constexpr int kBoldWeight = 700;

struct FontDescription {
  double points;  // 0: the control shows no text of its own
  bool bold;
  int weight() const { return bold ? kBoldWeight : kRegularWeight; }
};

// A text colour: fixed, or a system colour that follows the user's scheme.
// The indexes are those of the Windows colour table.
enum class SystemColour { None = -1, HighlightText = 14, ButtonFace = 15 };

struct TextColour {
  SystemColour system;
  unsigned char red, green, blue;  // when system is None
};

enum class TextAlign { Left, Centre };

struct ControlDescription {
  const char* name;
  ControlKind kind;
  const char* text;  // at start
  TwipsRect place;
  FontDescription font;
  int tabIndex;
  TextColour colour;
  TextAlign align;
  const char* picture;  // a button's face: an asset's base name, e.g. "import"
  const char* word;     // the word on the face, for accessibility
  const char* pattern;  // a file list's file name filter
  bool takesFocus() const { return kind != ControlKind::Label; }
};

struct WindowDescription {
  const char* name;
  const char* caption;
  int width;            // client area, twips
  int height;           //
  const char* picture;  // the background's asset base name, drawn unscaled at 0,0
  bool taskbar;         // a taskbar button of its own
  bool icon;            // the application icon; otherwise the platform's default
  std::span<const ControlDescription> controls;
};

extern const WindowDescription kForm1;
extern const WindowDescription kLoading;
extern const WindowDescription kComplete;

// The box that ends a run with records to tell about, under the application's
// title, in front of the progress window. Its first lines as a message box
// shows them (wrapped at `textColumns` average characters); below them a row
// of buttons: `showDetails` and `save` (offered only when there are failed
// records to save) on the left, `ok` on the right, the default, which closes
// the box, as Escape does. `showDetails` opens every line below the buttons
// in a read-only text that takes the focus, to select (Ctrl+A) and copy
// (Ctrl+C): `detailsColumns` average characters wide and `detailsLines` lines
// high, less where the screen is smaller, scrolled beyond; the button then
// reads `hideDetails` and closes them again. `save` asks where with the
// platform's save dialog (`saveTitle`; files of type `saveFilter`,
// `savePattern`), which asks before it replaces a file; a failure is told in
// a message box in front of the summary, which stays open.
struct SummaryBoxDescription {
  const char* showDetails;
  const char* hideDetails;
  const char* save;
  const char* ok;
  const char* saveTitle;
  const char* saveFilter;
  const char* savePattern;
  int textColumns;
  int detailsColumns;
  int detailsLines;
  int margin;  // pixels around and between its parts
};

extern const SummaryBoxDescription kSummaryBox;

// The control of that name; the description holds every name the windows use,
// so a missing one is a programming error and aborts.
const ControlDescription& controlOf(const WindowDescription& window, std::string_view name);

// The controls that take the focus, in the order Tab visits them.
std::vector<const ControlDescription*> tabOrder(const WindowDescription& window);

}  // namespace kestrine
