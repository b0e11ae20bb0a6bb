// The main window's folder tree (tvMain): the five mail folders with their
// mail counts.
//
// Column 0 shows the folder's caption (message key "folder0" .. "folder4"),
// column 1 the total count, for the inbox the unread count, "/" and the
// total. The inbox is bold while it holds unread mails.
//
// GUI thread only.
#pragma once

#include <QString>
#include <QTreeWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "store/sqlite_db.h"

namespace qovra::ui {

class TImageList;

// The data of one folder node.
struct TFolderNodeData {
  int32_t FolderId = 0;
  QString Caption;          // at most 127 characters
  int32_t UnreadCount = 0;  // inbox only; 0 for the others
  int32_t TotalCount = 0;
  int32_t ImageIndex = 0;
  int32_t SelectedIndex = 0;
};

constexpr int kFolderCount = 5;

// The count column's text of a node.
QString FolderCountText(const TFolderNodeData& data);

class TFolderTree : public QTreeWidget {
  Q_OBJECT

 public:
  explicit TFolderTree(QWidget* parent = nullptr);

  // The 24-pixel folder pictures (not owned; may be null).
  void SetImages(const TImageList* images) { images_ = images; }

  // Clears the tree and adds the five folder nodes, counted in db for
  // own_address (nothing counted when db is not open).
  void BuildFolderTree(SqliteDb& db, const std::string& own_address);
  // Recounts every node; only nodes whose counts changed are redrawn.
  // Returns how many changed.
  int RefreshFolderCounters(SqliteDb& db, const std::string& own_address);
  // Re-reads the captions from the message table.
  void ApplyFolderCaptions();
  // The width that shows every caption and counter whole: both columns'
  // widest cells, the frame, and room for the scroll bar when it shows.
  int ContentWidth() const;

  // The node of a folder id; null when there is none.
  QTreeWidgetItem* FindFolderNode(int32_t folder_id) const;
  // The folder id of a node of this tree.
  static int32_t FolderOf(const QTreeWidgetItem* node);
  // The data of the first selected node, else of the current node; folder
  // 0 with zero counts when there is neither.
  TFolderNodeData CurrentFolder() const;
  // REQUIRES: 0 <= folder_id < kFolderCount.
  const TFolderNodeData& Data(int32_t folder_id) const { return data_[folder_id]; }

 private:
  void ShowNode(int32_t folder_id);

  const TImageList* images_ = nullptr;
  std::vector<TFolderNodeData> data_;
};

}  // namespace qovra::ui
