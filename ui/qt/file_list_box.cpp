#include "ui/qt/file_list_box.h"

#include <QDir>
#include <QMouseEvent>

#include "ui/qt/dir_list_box.h"

namespace kestrine {

FileListBox::FileListBox(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  // Selection, not the current item: focus moving into the list makes an item
  // current without the user choosing it.
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    if (!listing_ && !selectedItems().isEmpty()) emit Click();
  });
  path_ = QDir::currentPath();
  list(path_);
}

bool FileListBox::setPath(const QString& path) {
  if (path.isEmpty()) return false;
  return list(QDir::cleanPath(QDir(path_).absoluteFilePath(path)));
}

void FileListBox::setPattern(const QString& pattern) {
  pattern_ = pattern;
  list(path_);
}

QString FileListBox::FileName() const {
  const QList<QListWidgetItem*> selected = selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text();
}

void FileListBox::mousePressEvent(QMouseEvent* event) {
  QListWidgetItem* pressed = itemAt(event->position().toPoint());
  const bool wasSelected = pressed && pressed->isSelected();
  QListWidget::mousePressEvent(event);
  if (wasSelected && pressed->isSelected()) emit Click();
}

bool FileListBox::list(const QString& path) {
  if (!canList(path)) return false;

  const QStringList names = QDir(path).entryList(pattern_.split(u';', Qt::SkipEmptyParts),
                                                 QDir::Files, QDir::Name | QDir::IgnoreCase);
  listing_ = true;
  clear();
  addItems(names);
  listing_ = false;
  path_ = path;
  return true;
}

}  // namespace kestrine
