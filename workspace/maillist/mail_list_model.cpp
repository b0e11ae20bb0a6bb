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

#include "base/messages.h"
#include "base/time_stamp.h"
#include "mail_list_query.h"
#include "qovra/ui/png_resources.h"

namespace qovra::ui {

// Lower-cased UTF-8 texts of columns 2 and 3: the search looks in them and
// the sort compares them.
struct TMailListModel::Keys {
  std::string address;
  std::string subject;
};

namespace {

// Icon indexes of imgListMain16.
constexpr int kImageRead = 0;
constexpr int kImageReceived = 1;
constexpr int kImageSent = 2;
constexpr int kImageDefault = 3;
constexpr int kImageVoice = 4;
constexpr int kImageAttachments = 5;

const QColor kHighPriorityColor(202, 0, 0);

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

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

// text lower-cased as UTF-8; ASCII text (the usual address) without a
// detour through QString.
std::string LowerKey(std::string_view text) {
  std::string key(text);
  for (char& c : key) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))
          .toLower()
          .toStdString();
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return key;
}

std::string LowerKey(const QString& text) {
  return text.toLower().toStdString();
}

// Case-insensitive comparison of two lower-cased keys in the order of an
// upper-casing ANSI comparison: ASCII letters sort as capitals, so "_"
// comes after the letters.
int CompareTextKeys(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (x == y) continue;
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The column-2 text of a row as UTF-8: the recipients joined by "; "
// outside the inbox, else the sender.
std::string AddressUtf8(const TMailListRow& row, int32_t folder) {
  if (folder == kFolderInbox) return row.FromAddress;
  std::string text;
  for (const std::string& address : row.Recipients) {
    if (!text.empty()) text += "; ";
    text += address;
  }
  return text;
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

TMailListModel::TMailListModel(QObject* parent) : QAbstractTableModel(parent) {}

TMailListModel::~TMailListModel() = default;

void TMailListModel::SetImages(const TImageList* images) {
  images_ = images;
  if (!rows_.empty()) emit dataChanged(index(0, kColState), index(Count() - 1, kColKind));
}

bool TMailListModel::Fill(SqliteDb& db, int32_t folder, std::string_view own_address,
                          const std::function<void(int64_t, int64_t)>& progress) {
  // The rows are read before the reset, so the list stays whole (and can
  // be painted) while the progress is shown.
  std::vector<TMailListRow> rows;
  std::string error;
  const bool ok = LoadMailListRows(db, folder, own_address, progress, rows, error);
  beginResetModel();
  rows_ = std::move(rows);
  keys_.clear();
  order_.clear();
  folder_ = folder;
  error_.clear();
  if (ok) {
    keys_.resize(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) {
      keys_[i].address = LowerKey(AddressUtf8(rows_[i], folder_));
      keys_[i].subject = LowerKey(rows_[i].Subject);
    }
    order_.resize(rows_.size());
    std::iota(order_.begin(), order_.end(), 0);
    SortRows(sort_column_, sort_order_);
  } else {
    rows_.clear();
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
  rows_ = std::vector<TMailListRow>();  // hands the memory back
  keys_ = std::vector<Keys>();
  order_ = std::vector<int>();
  endResetModel();
}

int TMailListModel::RowOfId(int32_t id) const {
  for (size_t pos = 0; pos < order_.size(); ++pos) {
    if (rows_[order_[pos]].Id == id) return static_cast<int>(pos);
  }
  return -1;
}

bool TMailListModel::UpdateRow(const TMailListRow& row) {
  const int pos = RowOfId(row.Id);
  if (pos < 0) return false;
  const int i = order_[pos];
  rows_[i] = row;
  rows_[i].FolderId = folder_;  // every row carries the listed folder
  keys_[i].address = LowerKey(AddressUtf8(rows_[i], folder_));
  keys_[i].subject = LowerKey(rows_[i].Subject);
  emit dataChanged(index(pos, 0), index(pos, kColumnCount - 1));
  return true;
}

QString TMailListModel::AddressTextOf(const TMailListRow& row) const {
  return Utf8(AddressUtf8(row, folder_));
}

QString TMailListModel::AddressText(int row) const {
  return AddressTextOf(Row(row));
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
      StableSortOrder(order_, order, [&](int a, int b) {
        return CompareTextKeys(keys_[a].address, keys_[b].address) < 0;
      });
      return;
    case kColSubject:
      StableSortOrder(order_, order,
                      [&](int a, int b) { return keys_[a].subject < keys_[b].subject; });
      return;
    case kColSent:
    case kColReceived:
    case kColRead: {
      // The times side by side: the sort then stays in the cache.
      TDateTime TMailListRow::*field = column == kColSent       ? &TMailListRow::SentTime
                                       : column == kColReceived ? &TMailListRow::ReceivedTime
                                                                : &TMailListRow::ReadTime;
      std::vector<TDateTime> times(rows_.size());
      for (size_t i = 0; i < rows_.size(); ++i) times[i] = rows_[i].*field;
      StableSortOrder(order_, order, [&](int a, int b) { return times[a] < times[b]; });
      return;
    }
    default:
      return;
  }
}

void TMailListModel::sort(int column, Qt::SortOrder order) {
  if (column < kColAddress || column > kColRead) return;
  sort_column_ = column;
  sort_order_ = order;
  if (order_.empty()) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int> before = order_;
  SortRows(column, order);
  const QModelIndexList from = persistentIndexList();
  if (!from.isEmpty()) {
    std::vector<int> position(order_.size());
    for (size_t pos = 0; pos < order_.size(); ++pos) position[order_[pos]] = static_cast<int>(pos);
    QModelIndexList to;
    to.reserve(from.size());
    for (const QModelIndex& old : from) {
      to.append(index(position[before[old.row()]], old.column()));
    }
    changePersistentIndexList(from, to);
  }
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TMailListModel::FindNext(const QString& needle, int from) const {
  if (needle.isEmpty()) return -1;
  const std::string lower = LowerKey(needle);
  const int count = Count();
  from = std::max(from, 0);
  for (int pos = from; pos < count; ++pos) {
    if (keys_[order_[pos]].address.find(lower) != std::string::npos) return pos;
  }
  for (int pos = from; pos < count; ++pos) {
    if (keys_[order_[pos]].subject.find(lower) != std::string::npos) return pos;
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
  const TMailListRow& row = Row(index.row());
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      switch (column) {
        case kColAddress:
          return AddressTextOf(row);
        case kColSubject:
          return row.Subject;
        case kColSent:
          return TimeText(row.SentTime);
        case kColReceived:
          return TimeText(row.ReceivedTime);
        case kColRead:
          return TimeText(row.ReadTime);
        default:
          return {};
      }
    case kImageIndexRole:
    case Qt::DecorationRole: {
      int image = -1;
      if (column == kColState) image = StateImage(row.Flags);
      if (column == kColKind) image = KindImage(row.Flags);
      if (role == kImageIndexRole) return column <= kColKind ? QVariant(image) : QVariant();
      if (image < 0 || !images_) return {};
      return images_->Icon(image);
    }
    case Qt::ForegroundRole: {
      const QPalette palette = QGuiApplication::palette();
      if (row.Priority == kPriorityLow)
        return QBrush(palette.color(QPalette::Disabled, QPalette::Text));
      if (row.Priority == kPriorityHigh) return QBrush(kHighPriorityColor);
      return QBrush(palette.color(QPalette::Active, QPalette::WindowText));
    }
    case Qt::FontRole: {
      if (folder_ != kFolderInbox || (row.Flags & mfRead)) return {};
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
