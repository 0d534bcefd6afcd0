#pragma once

#include <functional>
#include <string>

#include "ui/win32/picture_window.h"

namespace kestrine::win32 {

// The directory the lists open at load.
inline constexpr const wchar_t* kStartDirectory = L"c:\\";

// The main window: the CSV file is picked with the drive, directory and file
// lists or typed into FilePath; Command1 starts the import, Command2 ends the
// program. The lists are the system's own: DlgDirListComboBoxW lists the
// drives, DlgDirListW the sub-directories ("[..]", "[name]") and the files.
class Form1 : public PictureWindow {
 public:
  // `importRun` is the click handling of Command1. The load handling runs here,
  // while the window is still invisible.
  explicit Form1(std::function<void()> importRun,
                 const std::wstring& startDirectory = kStartDirectory);

  HWND drvTest() const { return control("drvTest"); }
  HWND dirTest() const { return control("dirTest"); }
  HWND filTest() const { return control("filTest"); }
  HWND FilePath() const { return control("FilePath"); }
  HWND Command1() const { return control("Command1"); }
  HWND Command2() const { return control("Command2"); }

  // The selected drive's root ("d:\"), as the directory and file lists take it.
  std::wstring drvTestDrive() const;
  // The directory the directory list shows, and the one the file list lists.
  const std::wstring& dirTestPath() const { return dirPath_; }
  const std::wstring& filTestPath() const { return filPath_; }
  // The selected file's name without its directory; empty without one.
  std::wstring filTestFileName() const;

  // Points the lists at a directory (absolute, or relative to the one shown).
  // One that cannot be read (a drive without a medium, a directory without
  // rights or one that vanished) leaves the list where it was: false.
  bool setDirTestPath(const std::wstring& path);
  bool setFilTestPath(const std::wstring& path);

 protected:
  void command(const ControlDescription& control, HWND hwnd, int notification) override;
  bool returnPressed(HWND focus) override;

 private:
  void formLoad(const std::wstring& startDirectory);
  void dirTestChange();
  void drvTestChange();
  void filTestClick();
  void dirTestOpenSelected();

  std::function<void()> importRun_;
  std::wstring dirPath_;
  std::wstring filPath_;
  int drive_ = -1;  // the drive list's selection before the last change
};

}  // namespace kestrine::win32
