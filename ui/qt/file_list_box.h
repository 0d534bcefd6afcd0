#pragma once

#include <QListWidget>
#include <QString>

namespace kestrine {

// The file list: the files of one directory whose names match `Pattern`,
// without directories and hidden files. `Path` starts as the process's
// current directory.
class FileListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit FileListBox(QWidget* parent);

  QString Path() const { return path_; }
  // Lists the files of `path` (relative to the listed directory if not
  // absolute). A directory that cannot be read leaves the list as it was: false.
  bool setPath(const QString& path);

  QString Pattern() const { return pattern_; }
  // One or more wildcard patterns separated by ";". Case is ignored: on Linux
  // as on the systems the list comes from, "USERS.CSV" is a CSV file.
  void setPattern(const QString& pattern);

  // The selected file's name without its directory; empty without a selection.
  QString FileName() const;

 signals:
  // The user selected a file, or pressed the selected one again.
  void Click();

 protected:
  void mousePressEvent(QMouseEvent* event) override;

 private:
  bool list(const QString& path);

  QString path_;
  QString pattern_ = QStringLiteral("*");
  bool listing_ = false;
};

}  // namespace kestrine
