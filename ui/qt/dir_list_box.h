#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>
#include <optional>

namespace kestrine {

// The directory list: the open directory with its ancestors, each as an open
// folder indented below its parent, then its sub-directories. Double-click or
// Enter on an entry opens it. `Path` starts as the process's current directory.
class DirListBox : public QListWidget {
  Q_OBJECT

 public:
  explicit DirListBox(QWidget* parent);

  QString Path() const { return path_; }
  // Opens `path` (relative to the open directory if not absolute) and raises
  // Change within the call when it differs from the one open before. A
  // directory that cannot be read leaves the list as it was: false.
  bool setPath(const QString& path);

 signals:
  void Change();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void openEntry(QListWidgetItem* item);
  void fill(const QString& path, const QStringList& subdirectories);

  QString path_;
};

// Whether the lists can show `path`: a directory that can be read and entered.
// A drive without a medium, a directory without rights or one that vanished
// cannot, and the lists then stay on the last directory that could be read.
bool canList(const QString& path);

// The directory names below `path` (no hidden ones), sorted without regard to
// case; nothing when the lists cannot show `path`.
std::optional<QStringList> readSubdirectories(const QString& path);

}  // namespace kestrine
