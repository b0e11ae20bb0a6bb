// Compact storage of the mail list's rows: the fixed fields of a row in one
// vector, its texts in one arena, and the lower-cased sort and search keys
// of columns 2 and 3 in one arena each, rows side by side in row order.
// About a third of the memory of a vector of TMailListRow, and a search
// scans two contiguous buffers instead of a string per row.
//
// Row indexes are stable: Replace changes a row in place. Not thread-safe.
#pragma once

#include <QString>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "qovra/workspace/mail_list_model.h"

namespace qovra::ui {

class TMailListStore {
 public:
  enum class Key { kAddress, kSubject };

  void Clear();
  void Reserve(size_t rows);
  // Hands back the spare capacity of the buffers (after the last Append).
  void Shrink();
  size_t Size() const { return fixed_.size(); }

  // Appends row; folder decides the column-2 text (the sender in the
  // inbox, else the recipients joined by "; ").
  void Append(const TMailListRow& row, int32_t folder);
  // REQUIRES: i < Size(). Replaces row i, keeping its index.
  void Replace(size_t i, const TMailListRow& row, int32_t folder);

  // REQUIRES: i < Size() for every accessor below.
  // The whole row, FolderId = folder.
  TMailListRow Row(size_t i, int32_t folder) const;
  int32_t Id(size_t i) const { return fixed_[i].Id; }
  uint16_t Flags(size_t i) const { return fixed_[i].Flags; }
  uint8_t Priority(size_t i) const { return fixed_[i].Priority; }
  TDateTime SentTime(size_t i) const { return fixed_[i].SentTime; }
  TDateTime ReceivedTime(size_t i) const { return fixed_[i].ReceivedTime; }
  TDateTime ReadTime(size_t i) const { return fixed_[i].ReadTime; }
  QString Subject(size_t i) const;
  // The column-2 text as the list shows it.
  QString AddressText(size_t i, int32_t folder) const;

  // Lower-cased UTF-8 key of column 2 or 3; valid until the next change.
  std::string_view KeyOf(Key key, size_t i) const {
    const KeyArena& a = KeyArenaOf(key);
    return std::string_view(a.bytes).substr(a.starts[i], a.starts[i + 1] - a.starts[i]);
  }
  // Stable sort of order (row indexes) by the key, ascending or
  // descending; equal keys keep their order. The address key compares as
  // an upper-casing ASCII comparison does ("_" after the letters), the
  // subject key byte by byte.
  void SortByKey(Key key, bool descending, std::vector<int>& order) const;

  // Calls hit(i) for every row i whose key contains needle (not empty), in
  // row order.
  template <class Hit>
  void ForEachMatch(Key key, std::string_view needle, Hit hit) const;

 private:
  struct Fixed {
    TDateTime SentTime = 0;
    TDateTime ReceivedTime = 0;
    TDateTime ReadTime = 0;
    int64_t MailSize = 0;
    uint64_t texts = 0;  // offset of the row's texts in texts_
    int32_t Id = 0;
    int32_t Ymbox = 0;
    uint32_t fau = 0;  // 1 + index into fau_keys_; 0: all zero
    uint16_t Flags = 0;
    uint8_t SendMode = 0;
    uint8_t Priority = 0;
  };
  struct KeyArena {
    std::string bytes;
    std::vector<uint64_t> starts{0};  // Size() + 1 offsets into bytes
  };
  struct Texts;  // the decoded texts of one row

  const KeyArena& KeyArenaOf(Key key) const { return key == Key::kAddress ? address_ : subject_; }
  Fixed MakeFixed(const TMailListRow& row);
  Texts TextsOf(size_t i) const;
  void RebuildKeys(size_t replaced, const std::string& address, const std::string& subject);

  std::vector<Fixed> fixed_;
  std::string texts_;  // per row: uuid, suid, sender, subject, recipients
  std::vector<std::array<uint8_t, 65>> fau_keys_;
  KeyArena address_;
  KeyArena subject_;
};

// The lower-cased UTF-8 form of text used by the keys; ASCII text without a
// detour through QString.
std::string MailListLowerKey(std::string_view text);
std::string MailListLowerKey(const QString& text);

template <class Hit>
void TMailListStore::ForEachMatch(Key key, std::string_view needle, Hit hit) const {
  const KeyArena& a = KeyArenaOf(key);
  if (needle.empty() || a.bytes.size() < needle.size()) return;
  const char* base = a.bytes.data();
  const size_t total = a.bytes.size();
  size_t row = 0;
  size_t at = 0;
  while (at + needle.size() <= total) {
    const void* found = memmem(base + at, total - at, needle.data(), needle.size());
    if (!found) return;
    const size_t pos = static_cast<size_t>(static_cast<const char*>(found) - base);
    while (a.starts[row + 1] <= pos) ++row;  // the row the match starts in
    const size_t end = a.starts[row + 1];
    if (pos + needle.size() <= end) hit(row);  // else it runs into the next row
    at = end;
  }
}

}  // namespace qovra::ui
