// The main window's mail list (lvMain) as a Qt table model over compact
// rows of the mail database.
//
// Fill reads one folder's mails with their recipient rows (one query row
// per recipient, joined into one list row per mail). For the sent folder
// the inbox mails sent by the own address are listed too; every row carries
// the folder that was asked for. Each row keeps precomputed sort and search
// keys, so sorting and searching never touch the database.
//
// Columns: 0 state icon, 1 kind icon, 2 sender (inbox) or recipients (other
// folders), 3 subject, 4 sent, 5 received, 6 read time. Sorting is stable
// and only on columns 2 to 6; equal keys keep the order they had.
//
// The rows are the list's own; a mail window takes a copy (ToMailMessage),
// so a refill never leaves a window with a freed record.
//
// GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/records.h"
#include "store/sqlite_db.h"

namespace qovra::ui {

class TImageList;
class TMailListStore;

// One mail of the list.
struct TMailListRow {
  int32_t Id = 0;
  std::string Uuid;
  std::string Suid;
  std::string FromAddress;
  std::vector<std::string> Recipients;  // in query order, empty addresses left out
  QString Subject;                      // entity-decoded, at most 1023 characters
  TDateTime SentTime = 0;
  TDateTime ReceivedTime = 0;
  TDateTime ReadTime = 0;
  uint16_t Flags = 0;
  uint8_t SendMode = 0;
  uint8_t Priority = 0;
  int32_t Ymbox = 0;
  int64_t MailSize = 0;
  int32_t FolderId = 0;              // the folder the list was filled for
  std::array<uint8_t, 65> FauKey{};  // zero unless fau_data holds more than 64 characters

  // A copy of the row as the shared mail record, for a mail window.
  TMailMessage ToMailMessage() const;
};

class TMailListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column {
    kColState = 0,
    kColKind,
    kColAddress,
    kColSubject,
    kColSent,
    kColReceived,
    kColRead,
    kColumnCount
  };
  // Data role giving the index into the 16-pixel list icons (imgListMain16)
  // for columns 0 and 1; -1 when the cell has no image.
  static constexpr int kImageIndexRole = Qt::UserRole + 1;

  explicit TMailListModel(QObject* parent = nullptr);
  ~TMailListModel() override;

  // The icons for Qt::DecorationRole of columns 0 and 1 (not owned; may be
  // null: no decoration).
  void SetImages(const TImageList* images);

  // Replaces the rows by the mails of folder (0 inbox .. 4 drafts) from db;
  // own_address decides the sent-folder rule. progress, when set, is called
  // with (done, total) query rows while reading; the model keeps its old
  // rows until the reading is done, so views may paint meanwhile. The
  // current sort column and order are applied to the new rows. False when
  // the database is not open or the query failed: the list is then empty,
  // error() holds the message to show (the caller shows it) and SQLite's
  // reason goes to stderr; nothing is thrown.
  [[nodiscard]] bool Fill(SqliteDb& db, int32_t folder, std::string_view own_address,
                          const std::function<void(int64_t, int64_t)>& progress = {});
  void Clear();
  const QString& error() const { return error_; }

  int32_t Folder() const { return folder_; }
  int Count() const { return static_cast<int>(order_.size()); }
  // A copy of the row at list position row. REQUIRES: 0 <= row < Count().
  TMailListRow Row(int row) const;
  // The list row of a mail id; -1 when it is not listed.
  int RowOfId(int32_t id) const;
  // Replaces the stored row of the same Id (flags or times changed) and
  // repaints it; false when the id is not listed.
  bool UpdateRow(const TMailListRow& row);
  // Reads the listed mail id again from db, as a refill of the folder would
  // show it, and replaces its row in place; when the change moves it under
  // the current sort, the list is sorted again (views and their selection
  // follow the row). False, with the row unchanged, when the id is not
  // listed or cannot be read (the reason on stderr).
  bool ReloadRow(SqliteDb& db, int32_t id);

  // The text of column 2 for a row: recipients joined with "; " outside
  // the inbox, else the sender.
  QString AddressText(int row) const;

  // Sorting: columns 2..6 (others are ignored); stable.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  int SortColumn() const { return sort_column_; }
  Qt::SortOrder SortOrder() const { return sort_order_; }

  // One search step: the first row at or after from whose column-2 text
  // contains needle (case ignored); when none, the first such row by
  // subject; -1 when neither. An empty needle finds nothing.
  int FindNext(const QString& needle, int from) const;

  // QAbstractTableModel
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  // Horizontal captions from the language table: column 2 msgFrom for the
  // inbox, else msgTo; 3 msgSubject, 4 msgSentTime, 5 msgReceivedTime,
  // 6 msgReadTime; 0 and 1 empty.
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  // Re-reads the captions after a language change.
  void RetranslateHeaders();

 private:
  // Stable sort of order_ without telling views.
  void SortRows(int column, Qt::SortOrder order);
  // Sorts the rows again by the current column and order, from the list
  // order or, with from_fill_order, from the id order a fill starts from;
  // persistent indexes follow their rows.
  void Relayout(bool from_fill_order);
  // Rebuilds position_ from order_.
  void IndexPositions();

  std::unique_ptr<TMailListStore> rows_;  // never null
  std::vector<int> order_;                // list position -> row index in rows_
  std::vector<int> position_;             // row index -> list position
  const TImageList* images_ = nullptr;
  int32_t folder_ = 0;
  int sort_column_ = kColSent;
  Qt::SortOrder sort_order_ = Qt::DescendingOrder;
  QString error_;
};

}  // namespace qovra::ui
