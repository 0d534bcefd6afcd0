#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

#include "ui/win32/gdi_handles.h"
#include "ui/window_description.h"

namespace kestrine::win32 {

// A borderless window (WS_POPUP) of fixed size whose look is a background
// picture drawn unscaled at the top-left corner, with the controls of its
// description: labels drawn without background over the picture, picture
// buttons, lists and a text box. It is created invisible, centred on the screen
// when first shown, and ignores requests to close it: the program leaves its
// windows only through the program end.
class PictureWindow {
 public:
  explicit PictureWindow(const WindowDescription& description);
  virtual ~PictureWindow();
  PictureWindow(const PictureWindow&) = delete;
  PictureWindow& operator=(const PictureWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  // The control of that name in the description.
  HWND control(std::string_view name) const;
  int controlId(std::string_view name) const;

  void show();
  void hide();

  // The keyboard of dialog boxes for whichever of the program's windows the
  // message is for: Tab and Shift+Tab in tab order, Space and Return press the
  // focused button. True when the message has been handled.
  static bool translateKey(MSG& message);

 protected:
  // WM_COMMAND from one of the controls.
  virtual void command(const ControlDescription&, HWND, int /*notification*/) {}
  // Return pressed on a control; a button is pressed by default.
  virtual bool returnPressed(HWND focus);

 private:
  struct Child {
    const ControlDescription* description;
    HWND hwnd;
    Font font;
    Bitmap face;
  };

  static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
  void createControl(const ControlDescription& control);
  const Child* childOf(HWND hwnd) const;
  void paint();
  void drawLabel(const DRAWITEMSTRUCT& item);
  void drawButton(const DRAWITEMSTRUCT& item);
  HBRUSH textColours(HWND control, HDC dc);

  const WindowDescription& description_;
  Bitmap picture_;
  std::vector<Child> children_;
  HWND hwnd_ = nullptr;
  HWND lastFocus_ = nullptr;
  bool placed_ = false;
};

}  // namespace kestrine::win32
