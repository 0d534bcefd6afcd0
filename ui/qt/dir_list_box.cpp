#include "ui/qt/dir_list_box.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStyle>
#include <QStyledItemDelegate>

namespace kestrine {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kDepthRole = Qt::UserRole + 1;
constexpr int kIndentPixels = 8;

// Draws each entry indented by its depth below the root.
class IndentDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    return QStyledItemDelegate::sizeHint(option, index) + QSize(indent(index), 0);
  }

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->rect.setLeft(option->rect.left() + indent(index));
  }

 private:
  static int indent(const QModelIndex& index) {
    return index.data(kDepthRole).toInt() * kIndentPixels;
  }
};

// "/", "/home", "/home/user" for "/home/user".
QStringList ancestorsAndSelf(const QString& path) {
  QStringList chain{path};
  for (QString parent = QFileInfo(path).path(); parent != chain.front();
       parent = QFileInfo(parent).path()) {
    chain.prepend(parent);
  }
  return chain;
}

QString entryName(const QString& path) {
  const QString name = QFileInfo(path).fileName();
  return name.isEmpty() ? path : name;
}

}  // namespace

bool canList(const QString& path) {
  const QFileInfo info(path);
  return !path.isEmpty() && info.isDir() && info.isReadable() && info.isExecutable();
}

std::optional<QStringList> readSubdirectories(const QString& path) {
  if (!canList(path)) return std::nullopt;
  return QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
}

DirListBox::DirListBox(QWidget* parent) : QListWidget(parent) {
  setItemDelegate(new IndentDelegate(this));
  setSelectionMode(QAbstractItemView::SingleSelection);
  connect(this, &QListWidget::itemDoubleClicked, this, &DirListBox::openEntry);

  path_ = QDir::currentPath();
  if (const auto subdirectories = readSubdirectories(path_)) fill(path_, *subdirectories);
}

bool DirListBox::setPath(const QString& path) {
  if (path.isEmpty()) return false;
  const QString opened = QDir::cleanPath(QDir(path_).absoluteFilePath(path));
  const auto subdirectories = readSubdirectories(opened);
  if (!subdirectories) return false;

  fill(opened, *subdirectories);
  if (opened == path_) return true;
  path_ = opened;
  emit Change();
  return true;
}

void DirListBox::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    openEntry(currentItem());
    return;
  }
  QListWidget::keyPressEvent(event);
}

void DirListBox::openEntry(QListWidgetItem* item) {
  if (item) setPath(item->data(kPathRole).toString());
}

void DirListBox::fill(const QString& path, const QStringList& subdirectories) {
  clear();
  const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
  const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
  const QStringList chain = ancestorsAndSelf(path);
  for (int depth = 0; depth < chain.size(); ++depth) {
    auto* item = new QListWidgetItem(open, entryName(chain[depth]), this);
    item->setData(kPathRole, chain[depth]);
    item->setData(kDepthRole, depth);
  }
  const QDir dir(path);
  for (const QString& name : subdirectories) {
    auto* item = new QListWidgetItem(closed, name, this);
    item->setData(kPathRole, dir.filePath(name));
    item->setData(kDepthRole, static_cast<int>(chain.size()));
  }
  // From the top, so that the chain shows up to the root where it fits.
  scrollToTop();
  setCurrentRow(static_cast<int>(chain.size()) - 1);
}

}  // namespace kestrine
