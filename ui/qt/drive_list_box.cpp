#include "ui/qt/drive_list_box.h"

#include <QFileInfo>
#include <QSignalBlocker>
#include <QStorageInfo>

namespace kestrine {

DriveListBox::DriveListBox(QWidget* parent) : QComboBox(parent) {
  setDrives(mountedDrives());
  connect(this, &QComboBox::currentIndexChanged, this, &DriveListBox::selectionMoved,
          Qt::DirectConnection);
}

void DriveListBox::setDrives(const QStringList& drives) {
  QStringList listed = drives;
  const QString selected = drive_.isEmpty() ? defaultDrive() : drive_;
  if (!listed.contains(selected)) listed.append(selected);
  listed.sort();
  listed.removeDuplicates();

  const QSignalBlocker quiet(this);
  clear();
  addItems(listed);
  setCurrentIndex(findText(selected));
  drive_ = selected;
}

QStringList DriveListBox::mountedDrives() {
  QStringList roots;
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    // A volume may be mounted on a file (a bind mount); that is no drive.
    if (volume.isValid() && volume.isReady() && QFileInfo(volume.rootPath()).isDir()) {
      roots.append(volume.rootPath());
    }
  }
  roots.sort();
  roots.removeDuplicates();
  return roots;
}

QString DriveListBox::defaultDrive() {
  return QStorageInfo::root().rootPath();
}

void DriveListBox::showPopup() {
  setDrives(mountedDrives());
  QComboBox::showPopup();
}

void DriveListBox::selectionMoved() {
  if (currentText() == drive_) return;
  drive_ = currentText();
  emit Change();
}

}  // namespace kestrine
