#pragma once

#include <QComboBox>
#include <QStringList>

namespace kestrine {

// The drive list: the root paths of the mounted volumes, one of them selected.
// Its `Drive` is a path that the directory and file lists accept as theirs.
class DriveListBox : public QComboBox {
  Q_OBJECT

 public:
  explicit DriveListBox(QWidget* parent);

  QString Drive() const { return currentText(); }

  // Replaces the list; the selected drive stays selected (and listed) and no
  // Change is raised. Without a selection the default drive is taken.
  void setDrives(const QStringList& drives);

  // The mounted volumes that can be read, by root path, sorted, once each.
  static QStringList mountedDrives();
  // The system volume's root.
  static QString defaultDrive();

 signals:
  // The selection moved to another drive.
  void Change();

 protected:
  // Volumes come and go; the list is read again whenever it drops down.
  void showPopup() override;

 private:
  void selectionMoved();

  QString drive_;
};

}  // namespace kestrine
