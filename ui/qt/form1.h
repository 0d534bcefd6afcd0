#pragma once

#include <functional>

#include "ui/qt/picture_window.h"

class QLabel;
class QLineEdit;

namespace kestrine {

class DirListBox;
class DriveListBox;
class FileListBox;
class PictureButton;

// The main window: the CSV file is picked with the drive, directory and file
// lists or typed into FilePath; Command1 starts the import, Command2 ends the
// program.
// The directory the lists open at load: the system volume's root.
inline constexpr const char* kStartDirectory = "/";

class Form1 : public PictureWindow {
 public:
  // `importRun` is the click handling of Command1. The load handling runs here,
  // while the window is still invisible.
  explicit Form1(std::function<void()> importRun, const QString& startDirectory = kStartDirectory);

  QLabel* lblCreateUsers() const { return lblCreateUsers_; }
  QLabel* lblSelectCSV() const { return lblSelectCSV_; }
  DriveListBox* drvTest() const { return drvTest_; }
  DirListBox* dirTest() const { return dirTest_; }
  FileListBox* filTest() const { return filTest_; }
  QLineEdit* FilePath() const { return FilePath_; }
  PictureButton* Command1() const { return Command1_; }
  PictureButton* Command2() const { return Command2_; }

 private:
  void formLoad(const QString& startDirectory);
  void dirTestChange();
  void drvTestChange();
  void filTestClick();
  void command1Click();
  void command2Click();

  std::function<void()> importRun_;
  QLabel* lblCreateUsers_;
  QLabel* lblSelectCSV_;
  DriveListBox* drvTest_;
  DirListBox* dirTest_;
  FileListBox* filTest_;
  QLineEdit* FilePath_;
  PictureButton* Command1_;
  PictureButton* Command2_;
};

}  // namespace kestrine
