// The mail list model: display roles, sorting and searching over the rows
// that mail_list_query.cpp reads.
#include "qovra/workspace/mail_list_model.h"

#include <QBrush>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>
#include <utility>

#include "base/messages.h"
#include "base/time_stamp.h"
#include "mail_list_query.h"
#include "mail_list_store.h"
#include "qovra/ui/png_resources.h"

namespace qovra::ui {

namespace {

// Icon indexes of imgListMain16.
constexpr int kImageRead = 0;
constexpr int kImageReceived = 1;
constexpr int kImageSent = 2;
constexpr int kImageDefault = 3;
constexpr int kImageVoice = 4;
constexpr int kImageAttachments = 5;

const QColor kHighPriorityColor(202, 0, 0);

// List positions a search step tries one by one before scanning all keys.
constexpr int kNearRows = 256;

QString TimeText(TDateTime time) {
  TDateTimeParts p{};
  if (time == 0 || !DecodeDateTime(time, p)) return {};
  return QString::asprintf("%04d.%02d.%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                           p.minute, p.second);
}

int StateImage(uint16_t flags) {
  int image = kImageDefault;
  if (flags & mfReceived) image = kImageReceived;
  if (flags & mfSent) image = kImageSent;
  if (flags & mfRead) image = kImageRead;
  return image;
}

int KindImage(uint16_t flags) {
  if (flags & mfVoice) return kImageVoice;
  if (flags & mfAttachments) return kImageAttachments;
  return -1;
}

}  // namespace

TMailMessage TMailListRow::ToMailMessage() const {
  TMailMessage mail;
  mail.Id = Id;
  mail.Uuid = Uuid;
  mail.Suid = Suid;
  mail.Ymbox = Ymbox;
  mail.FromAddress = FromAddress;
  for (const std::string& address : Recipients) mail.Recipients.Add(address);
  mail.Subject = Subject.toStdU16String();
  mail.FolderId = FolderId;
  mail.SentTime = SentTime;
  mail.ReceivedTime = ReceivedTime;
  mail.ReadTime = ReadTime;
  mail.MailSize = MailSize;
  mail.SendMode = SendMode;
  mail.Priority = Priority;
  mail.Flags = Flags;
  mail.FauKey = FauKey;
  return mail;
}

TMailListModel::TMailListModel(QObject* parent)
    : QAbstractTableModel(parent), rows_(std::make_unique<TMailListStore>()) {}

TMailListModel::~TMailListModel() = default;

void TMailListModel::SetImages(const TImageList* images) {
  images_ = images;
  if (rows_->Size() > 0) emit dataChanged(index(0, kColState), index(Count() - 1, kColKind));
}

bool TMailListModel::Fill(SqliteDb& db, int32_t folder, std::string_view own_address,
                          const std::function<void(int64_t, int64_t)>& progress) {
  // The rows are read before the reset, so the list stays whole (and can
  // be painted) while the progress is shown.
  auto rows = std::make_unique<TMailListStore>();
  std::string error;
  const bool ok = LoadMailListRows(db, folder, own_address, progress, *rows, error);
  beginResetModel();
  rows_ = std::move(rows);
  order_ = std::vector<int>();
  position_ = std::vector<int>();
  folder_ = folder;
  error_.clear();
  if (ok) {
    order_.resize(rows_->Size());
    std::iota(order_.begin(), order_.end(), 0);
    SortRows(sort_column_, sort_order_);
    IndexPositions();
  } else {
    rows_->Clear();
    error_ = QString::fromStdString(GetMsg("msgDatabaseError"));
    std::fprintf(stderr, "qovra: mail list of folder %d: %s\n", folder,
                 error.empty() ? "the mail database is not open" : error.c_str());
  }
  endResetModel();
  emit headerDataChanged(Qt::Horizontal, kColAddress, kColAddress);
  return ok;
}

void TMailListModel::Clear() {
  beginResetModel();
  rows_->Clear();  // hands the memory back
  order_ = std::vector<int>();
  position_ = std::vector<int>();
  endResetModel();
}

TMailListRow TMailListModel::Row(int row) const {
  return rows_->Row(static_cast<size_t>(order_[row]), folder_);
}

int TMailListModel::RowOfId(int32_t id) const {
  for (size_t i = 0; i < rows_->Size(); ++i) {
    if (rows_->Id(i) == id) return position_[i];
  }
  return -1;
}

bool TMailListModel::UpdateRow(const TMailListRow& row) {
  const int pos = RowOfId(row.Id);
  if (pos < 0) return false;
  rows_->Replace(static_cast<size_t>(order_[pos]), row, folder_);  // FolderId stays folder_
  emit dataChanged(index(pos, 0), index(pos, kColumnCount - 1));
  return true;
}

bool TMailListModel::ReloadRow(SqliteDb& db, int32_t id) {
  const int pos = RowOfId(id);
  if (pos < 0) return false;
  TMailListRow row = Row(pos);
  std::string error;
  if (!LoadMailListRow(db, folder_, id, row, error)) {
    std::fprintf(stderr, "qovra: mail list row %d: %s\n", id,
                 error.empty() ? "no longer stored" : error.c_str());
    return false;
  }
  const size_t i = static_cast<size_t>(order_[pos]);
  // The row's key under the current sort: a text key or a time.
  const auto key = [&]() -> std::pair<std::string, TDateTime> {
    switch (sort_column_) {
      case kColAddress:
        return {std::string(rows_->KeyOf(TMailListStore::Key::kAddress, i)), 0};
      case kColSubject:
        return {std::string(rows_->KeyOf(TMailListStore::Key::kSubject, i)), 0};
      case kColSent:
        return {{}, rows_->SentTime(i)};
      case kColReceived:
        return {{}, rows_->ReceivedTime(i)};
      case kColRead:
        return {{}, rows_->ReadTime(i)};
      default:
        return {};
    }
  };
  const std::pair<std::string, TDateTime> before = key();
  rows_->Replace(i, row, folder_);
  emit dataChanged(index(pos, 0), index(pos, kColumnCount - 1));
  // Where a refill would place it: the sort over the rows in id order.
  if (key() != before) Relayout(/*from_fill_order=*/true);
  return true;
}

QString TMailListModel::AddressText(int row) const {
  return rows_->AddressText(static_cast<size_t>(order_[row]), folder_);
}

namespace {

// Stable sort of order by less, or by its reverse (equal keys keep their
// order either way).
template <class Less>
void StableSortOrder(std::vector<int>& order, Qt::SortOrder direction, Less less) {
  if (direction == Qt::AscendingOrder) {
    std::stable_sort(order.begin(), order.end(), less);
  } else {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return less(b, a); });
  }
}

}  // namespace

void TMailListModel::SortRows(int column, Qt::SortOrder order) {
  switch (column) {
    case kColAddress:
      rows_->SortByKey(TMailListStore::Key::kAddress, order == Qt::DescendingOrder, order_);
      return;
    case kColSubject:
      rows_->SortByKey(TMailListStore::Key::kSubject, order == Qt::DescendingOrder, order_);
      return;
    case kColSent:
    case kColReceived:
    case kColRead: {
      // The times side by side: the sort then stays in the cache.
      std::vector<TDateTime> times(rows_->Size());
      for (size_t i = 0; i < times.size(); ++i) {
        times[i] = column == kColSent       ? rows_->SentTime(i)
                   : column == kColReceived ? rows_->ReceivedTime(i)
                                            : rows_->ReadTime(i);
      }
      StableSortOrder(order_, order, [&](int a, int b) { return times[a] < times[b]; });
      return;
    }
    default:
      return;
  }
}

void TMailListModel::IndexPositions() {
  position_.assign(order_.size(), 0);
  for (size_t pos = 0; pos < order_.size(); ++pos) position_[order_[pos]] = static_cast<int>(pos);
}

void TMailListModel::sort(int column, Qt::SortOrder order) {
  if (column < kColAddress || column > kColRead) return;
  sort_column_ = column;
  sort_order_ = order;
  Relayout(/*from_fill_order=*/false);
}

void TMailListModel::Relayout(bool from_fill_order) {
  if (order_.empty()) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int> before = order_;
  if (from_fill_order) std::iota(order_.begin(), order_.end(), 0);
  SortRows(sort_column_, sort_order_);
  IndexPositions();
  const QModelIndexList from = persistentIndexList();
  if (!from.isEmpty()) {
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
      to.append(index(position_[before[old.row()]], old.column()));
    }
    changePersistentIndexList(from, to);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TMailListModel::FindNext(const QString& needle, int from) const {
  if (needle.isEmpty()) return -1;
  const std::string lower = MailListLowerKey(needle);
  const int count = Count();
  from = std::max(from, 0);
  for (TMailListStore::Key key : {TMailListStore::Key::kAddress, TMailListStore::Key::kSubject}) {
    // The next few rows first: a repeated step usually stops there.
    const int near_end = std::min(count, from + kNearRows);
    for (int pos = from; pos < near_end; ++pos) {
      if (rows_->KeyOf(key, static_cast<size_t>(order_[pos])).find(lower) != std::string::npos)
        return pos;
    }
    if (near_end == count) continue;
    // Else one pass over all keys, taking the first list position at or
    // after from.
    int best = count;
    rows_->ForEachMatch(key, lower, [&](size_t i) {
      const int pos = position_[i];
      if (pos >= near_end && pos < best) best = pos;
    });
    if (best < count) return best;
  }
  return -1;
}

int TMailListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : Count();
}

int TMailListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant TMailListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= Count() || index.column() >= kColumnCount) return {};
  const auto i = static_cast<size_t>(order_[index.row()]);
  const uint16_t flags = rows_->Flags(i);
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kColAddress:
          return rows_->AddressText(i, folder_);
        case kColSubject:
          return rows_->Subject(i);
        case kColSent:
          return TimeText(rows_->SentTime(i));
        case kColReceived:
          return TimeText(rows_->ReceivedTime(i));
        case kColRead:
          return TimeText(rows_->ReadTime(i));
        default:
          return {};
      }
    case kImageIndexRole:
    case Qt::DecorationRole: {
      int image = -1;
      if (column == kColState) image = StateImage(flags);
      if (column == kColKind) image = KindImage(flags);
      if (role == kImageIndexRole) return column <= kColKind ? QVariant(image) : QVariant();
      if (image < 0 || !images_) return {};
      return images_->Icon(image);
    }
    case Qt::ForegroundRole: {
      const QPalette palette = QGuiApplication::palette();
      const uint8_t priority = rows_->Priority(i);
      if (priority == kPriorityLow)
        return QBrush(palette.color(QPalette::Disabled, QPalette::Text));
      if (priority == kPriorityHigh) return QBrush(kHighPriorityColor);
      return QBrush(palette.color(QPalette::Active, QPalette::WindowText));
    }
    case Qt::FontRole: {
      if (folder_ != kFolderInbox || (flags & mfRead)) return {};
      QFont bold;
      bold.setBold(true);
      return bold;
    }
    default:
      return {};
  }
}

QVariant TMailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
    return QAbstractTableModel::headerData(section, orientation, role);
  const char* key = nullptr;
  switch (section) {
    case kColAddress:
      key = folder_ == kFolderInbox ? "msgFrom" : "msgTo";
      break;
    case kColSubject:
      key = "msgSubject";
      break;
    case kColSent:
      key = "msgSentTime";
      break;
    case kColReceived:
      key = "msgReceivedTime";
      break;
    case kColRead:
      key = "msgReadTime";
      break;
    case kColState:
    case kColKind:
      return QString();
    default:
      return {};
  }
  return QString::fromStdString(GetMsg(key));
}

void TMailListModel::RetranslateHeaders() {
  emit headerDataChanged(Qt::Horizontal, 0, kColumnCount - 1);
}

}  // namespace qovra::ui
