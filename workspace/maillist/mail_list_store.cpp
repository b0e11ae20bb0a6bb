#include "mail_list_store.h"

#include <algorithm>

namespace qovra::ui {

// The texts of one row as stored: uuid, suid, sender, subject (UTF-8), the
// recipient count, then each recipient; every text behind its length.
struct TMailListStore::Texts {
  std::string_view uuid, suid, from, subject;
  std::vector<std::string_view> recipients;
};

namespace {

void PutLength(std::string& out, size_t n) {
  while (n >= 0x80) {
    out.push_back(static_cast<char>(0x80 | (n & 0x7F)));
    n >>= 7;
  }
  out.push_back(static_cast<char>(n));
}

void PutText(std::string& out, std::string_view text) {
  PutLength(out, text.size());
  out.append(text);
}

size_t GetLength(const char*& p) {
  size_t n = 0;
  for (int shift = 0;; shift += 7) {
    const auto b = static_cast<unsigned char>(*p++);
    n |= static_cast<size_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return n;
  }
}

std::string_view GetText(const char*& p) {
  const size_t n = GetLength(p);
  std::string_view text(p, n);
  p += n;
  return text;
}

std::string JoinedAddress(const TMailListRow& row, int32_t folder) {
  if (folder == kFolderInbox) return row.FromAddress;
  std::string text;
  for (const std::string& address : row.Recipients) {
    if (!text.empty()) text += "; ";
    text += address;
  }
  return text;
}

}  // namespace

std::string MailListLowerKey(std::string_view text) {
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

std::string MailListLowerKey(const QString& text) {
  return text.toLower().toStdString();
}

void TMailListStore::Clear() {
  *this = TMailListStore();
}

void TMailListStore::Reserve(size_t rows) {
  fixed_.reserve(rows);
  address_.starts.reserve(rows + 1);
  subject_.starts.reserve(rows + 1);
}

void TMailListStore::Shrink() {
  fixed_.shrink_to_fit();
  texts_.shrink_to_fit();
  fau_keys_.shrink_to_fit();
  for (KeyArena* a : {&address_, &subject_}) {
    a->bytes.shrink_to_fit();
    a->starts.shrink_to_fit();
  }
}

TMailListStore::Fixed TMailListStore::MakeFixed(const TMailListRow& row) {
  Fixed f;
  f.SentTime = row.SentTime;
  f.ReceivedTime = row.ReceivedTime;
  f.ReadTime = row.ReadTime;
  f.MailSize = row.MailSize;
  f.Id = row.Id;
  f.Ymbox = row.Ymbox;
  f.Flags = row.Flags;
  f.SendMode = row.SendMode;
  f.Priority = row.Priority;
  if (std::any_of(row.FauKey.begin(), row.FauKey.end(), [](uint8_t b) { return b != 0; })) {
    fau_keys_.push_back(row.FauKey);
    f.fau = static_cast<uint32_t>(fau_keys_.size());
  }
  f.texts = texts_.size();
  PutText(texts_, row.Uuid);
  PutText(texts_, row.Suid);
  PutText(texts_, row.FromAddress);
  PutText(texts_, row.Subject.toStdString());
  PutLength(texts_, row.Recipients.size());
  for (const std::string& address : row.Recipients) PutText(texts_, address);
  return f;
}

void TMailListStore::Append(const TMailListRow& row, int32_t folder) {
  fixed_.push_back(MakeFixed(row));
  address_.bytes += MailListLowerKey(JoinedAddress(row, folder));
  address_.starts.push_back(address_.bytes.size());
  subject_.bytes += MailListLowerKey(row.Subject);
  subject_.starts.push_back(subject_.bytes.size());
}

void TMailListStore::Replace(size_t i, const TMailListRow& row, int32_t folder) {
  const uint32_t old_fau = fixed_[i].fau;
  Fixed f = MakeFixed(row);          // the old texts stay behind, unused
  if (old_fau != 0 && f.fau != 0) {  // reuse the old slot
    fau_keys_[old_fau - 1] = fau_keys_.back();
    fau_keys_.pop_back();
    f.fau = old_fau;
  }
  fixed_[i] = f;
  const std::string address = MailListLowerKey(JoinedAddress(row, folder));
  const std::string subject = MailListLowerKey(row.Subject);
  if (address != KeyOf(Key::kAddress, i) || subject != KeyOf(Key::kSubject, i))
    RebuildKeys(i, address, subject);
}

void TMailListStore::RebuildKeys(size_t replaced, const std::string& address,
                                 const std::string& subject) {
  for (KeyArena* a : {&address_, &subject_}) {
    const std::string& text = a == &address_ ? address : subject;
    KeyArena next;
    next.bytes.reserve(a->bytes.size() + text.size());
    next.starts.reserve(a->starts.size());
    for (size_t r = 0; r < Size(); ++r) {
      if (r == replaced) {
        next.bytes += text;
      } else {
        next.bytes.append(a->bytes, a->starts[r], a->starts[r + 1] - a->starts[r]);
      }
      next.starts.push_back(next.bytes.size());
    }
    *a = std::move(next);
  }
}

TMailListStore::Texts TMailListStore::TextsOf(size_t i) const {
  Texts t;
  const char* p = texts_.data() + fixed_[i].texts;
  t.uuid = GetText(p);
  t.suid = GetText(p);
  t.from = GetText(p);
  t.subject = GetText(p);
  const size_t count = GetLength(p);
  t.recipients.reserve(count);
  for (size_t r = 0; r < count; ++r) t.recipients.push_back(GetText(p));
  return t;
}

TMailListRow TMailListStore::Row(size_t i, int32_t folder) const {
  const Fixed& f = fixed_[i];
  const Texts t = TextsOf(i);
  TMailListRow row;
  row.Id = f.Id;
  row.Uuid = t.uuid;
  row.Suid = t.suid;
  row.FromAddress = t.from;
  row.Recipients.assign(t.recipients.begin(), t.recipients.end());
  row.Subject = QString::fromUtf8(t.subject.data(), static_cast<qsizetype>(t.subject.size()));
  row.SentTime = f.SentTime;
  row.ReceivedTime = f.ReceivedTime;
  row.ReadTime = f.ReadTime;
  row.Flags = f.Flags;
  row.SendMode = f.SendMode;
  row.Priority = f.Priority;
  row.Ymbox = f.Ymbox;
  row.MailSize = f.MailSize;
  row.FolderId = folder;
  if (f.fau != 0) row.FauKey = fau_keys_[f.fau - 1];
  return row;
}

QString TMailListStore::Subject(size_t i) const {
  const Texts t = TextsOf(i);
  return QString::fromUtf8(t.subject.data(), static_cast<qsizetype>(t.subject.size()));
}

QString TMailListStore::AddressText(size_t i, int32_t folder) const {
  const Texts t = TextsOf(i);
  if (folder == kFolderInbox)
    return QString::fromUtf8(t.from.data(), static_cast<qsizetype>(t.from.size()));
  std::string text;
  for (std::string_view address : t.recipients) {
    if (!text.empty()) text += "; ";
    text += address;
  }
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace qovra::ui
