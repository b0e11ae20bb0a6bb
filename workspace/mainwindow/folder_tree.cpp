#include "qovra/workspace/folder_tree.h"

#include <QFont>
#include <QHeaderView>
#include <QScrollBar>

#include "base/messages.h"
#include "base/records.h"
#include "qovra/ui/png_resources.h"
#include "store/mail_db.h"

namespace qovra::ui {
namespace {

constexpr int kFolderIdRole = Qt::UserRole + 1;
constexpr int kMaxCaption = 127;

QString FolderCaption(int32_t folder_id) {
  return QString::fromStdString(GetMsg("folder" + std::to_string(folder_id))).left(kMaxCaption);
}

}  // namespace

QString FolderCountText(const TFolderNodeData& data) {
  if (data.FolderId == kFolderInbox)
    return QString::number(data.UnreadCount) + QLatin1Char('/') + QString::number(data.TotalCount);
  return QString::number(data.TotalCount);
}

TFolderTree::TFolderTree(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("tvMain"));
  setColumnCount(2);
  setHeaderHidden(true);
  setRootIsDecorated(false);
  setIconSize(QSize(24, 24));
  setSelectionMode(QAbstractItemView::SingleSelection);
  header()->setStretchLastSection(false);
  header()->setSectionResizeMode(0, QHeaderView::Stretch);
  header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  setStyleSheet(QStringLiteral("QTreeView::item { height: 30px; }"));
}

void TFolderTree::BuildFolderTree(SqliteDb& db, const std::string& own_address) {
  clear();
  data_.assign(kFolderCount, {});
  for (int32_t i = 0; i < kFolderCount; ++i) {
    TFolderNodeData& d = data_[i];
    d.FolderId = i;
    d.Caption = FolderCaption(i);
    d.ImageIndex = d.SelectedIndex = i;
    d.TotalCount = CountFolderMails(db, i, own_address);
    d.UnreadCount = i == kFolderInbox ? CountUnreadMails(db) : 0;
    auto* item = new QTreeWidgetItem(this);
    item->setData(0, kFolderIdRole, i);
    ShowNode(i);
  }
}

int TFolderTree::RefreshFolderCounters(SqliteDb& db, const std::string& own_address) {
  int changed = 0;
  for (TFolderNodeData& d : data_) {
    const int32_t total = CountFolderMails(db, d.FolderId, own_address);
    const int32_t unread = d.FolderId == kFolderInbox ? CountUnreadMails(db) : 0;
    if (total == d.TotalCount && unread == d.UnreadCount) continue;
    d.TotalCount = total;
    d.UnreadCount = unread;
    ShowNode(d.FolderId);
    ++changed;
  }
  return changed;
}

void TFolderTree::ApplyFolderCaptions() {
  for (TFolderNodeData& d : data_) {
    d.Caption = FolderCaption(d.FolderId);
    ShowNode(d.FolderId);
  }
}

int TFolderTree::ContentWidth() const {
  const QAbstractItemView& cells = *this;  // where the cell size hints are public
  int width = cells.sizeHintForColumn(0) + cells.sizeHintForColumn(1) + 2 * frameWidth();
  if (verticalScrollBar()->isVisible()) width += verticalScrollBar()->sizeHint().width();
  return width;
}

QTreeWidgetItem* TFolderTree::FindFolderNode(int32_t folder_id) const {
  for (int i = 0; i < topLevelItemCount(); ++i) {
    QTreeWidgetItem* item = topLevelItem(i);
    if (FolderOf(item) == folder_id) return item;
  }
  return nullptr;
}

int32_t TFolderTree::FolderOf(const QTreeWidgetItem* node) {
  return node->data(0, kFolderIdRole).toInt();
}

TFolderNodeData TFolderTree::CurrentFolder() const {
  const QList<QTreeWidgetItem*> selected = selectedItems();
  const QTreeWidgetItem* item = selected.isEmpty() ? currentItem() : selected.front();
  if (!item) return {};
  const int id = FolderOf(item);
  if (id < 0 || id >= static_cast<int>(data_.size())) return {};
  return data_[id];
}

void TFolderTree::ShowNode(int32_t folder_id) {
  QTreeWidgetItem* item = FindFolderNode(folder_id);
  if (!item) return;
  const TFolderNodeData& d = data_[folder_id];
  item->setText(0, d.Caption);
  item->setText(1, FolderCountText(d));
  if (images_) {
    QIcon icon;
    icon.addPixmap(images_->Pixmap(d.ImageIndex), QIcon::Normal);
    icon.addPixmap(images_->Pixmap(d.SelectedIndex), QIcon::Selected);
    item->setIcon(0, icon);
  }
  QFont font = item->font(0);
  font.setBold(d.FolderId == kFolderInbox && d.UnreadCount != 0);
  item->setFont(0, font);
  item->setFont(1, font);
}

}  // namespace qovra::ui
