// The compose windows' window-free rules (compose_rules.h).
#include "qovra/workspace/compose_rules.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/msg_format.h"
#include "base/text_utils.h"
#include "base/utf.h"
#include "store/mail_container_reader.h"
#include "store/mail_container_writer.h"
#include "store/sqlite_db.h"

namespace qovra::compose {

namespace {

bool IsSeparator(char16_t c) {
  return c == u',' || c == u';';
}

// Upper case of the letters names are written in: Latin, Latin-1 and
// Cyrillic with its Uzbek letters; everything else as it is.
char16_t UpperChar(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0430 && c <= 0x044F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x0450 && c <= 0x045F) return static_cast<char16_t>(c - 0x50);
  if ((c >= 0x0460 && c <= 0x0481) || (c >= 0x048A && c <= 0x04BF) || (c >= 0x04D0 && c <= 0x04FF))
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  if (c >= 0x04C1 && c <= 0x04CE) return (c & 1) ? c : static_cast<char16_t>(c - 1);
  return c;
}

std::u16string Upper(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out) c = UpperChar(c);
  return out;
}

// A stream that takes at most cap bytes in all; the first refused write
// marks it exceeded.
class TCappedStream : public TStream {
 public:
  TCappedStream(TStream& inner, int64_t cap) : inner_(inner), cap_(cap) {}
  size_t Read(void* buffer, size_t count) override { return inner_.Read(buffer, count); }
  size_t Write(const void* buffer, size_t count) override {
    const int64_t end = inner_.Position() + static_cast<int64_t>(count);
    if (end > cap_) {
      exceeded_ = true;
      return 0;
    }
    return inner_.Write(buffer, count);
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override { return inner_.Seek(offset, origin); }
  int64_t Size() override { return inner_.Size(); }
  bool SetSize(int64_t size) override { return size <= cap_ && inner_.SetSize(size); }
  bool Exceeded() const { return exceeded_; }

 private:
  TStream& inner_;
  int64_t cap_;
  bool exceeded_ = false;
};

}  // namespace

std::u16string CompletionFragment(std::u16string_view text, size_t caret) {
  caret = std::min(caret, text.size());
  const bool has_separator =
      std::any_of(text.begin(), text.end(), [](char16_t c) { return IsSeparator(c); });
  if (!has_separator) return std::u16string(text);
  size_t found = std::u16string_view::npos;
  for (size_t i = caret; i > 0; --i) {
    if (IsSeparator(text[i - 1])) {
      found = i - 1;
      break;
    }
  }
  // No separator before the caret, or only as the very first character.
  if (found == std::u16string_view::npos || found == 0) return std::u16string(text);
  size_t start = found;
  while (start < text.size() && (IsSeparator(text[start]) || text[start] == u' ')) ++start;
  return std::u16string(text.substr(start));
}

std::u16string AcceptSuggestion(std::u16string_view text, size_t caret, std::u16string_view item) {
  std::u16string_view head = text.substr(0, std::min(caret, text.size()));
  while (!head.empty() && head.front() == u' ') head.remove_prefix(1);
  const size_t comma = head.rfind(u',');
  const size_t semicolon = head.rfind(u';');
  size_t cut = std::u16string_view::npos;
  if (comma != std::u16string_view::npos) cut = comma;
  if (semicolon != std::u16string_view::npos &&
      (cut == std::u16string_view::npos || semicolon > cut))
    cut = semicolon;
  if (cut == std::u16string_view::npos) return std::u16string(item);
  std::u16string result(head.substr(0, cut + 1));
  result += u' ';
  result += item;
  return result;
}

std::u16string SuggestionText(const TContact& contact) {
  const std::u16string name =
      JoinNameParts(contact.FirstName, contact.MiddleName, contact.LastName);
  const std::u16string email = Utf8ToUtf16(contact.Email);
  if (name.empty()) return email;
  return name + u" <" + email + u">";
}

bool SuggestionMatches(std::u16string_view fragment, std::u16string_view display) {
  if (fragment.empty()) return false;
  const std::u16string f = Upper(fragment);
  const std::u16string d = Upper(display);
  return d.find(f) != std::u16string::npos && f != d;
}

bool FillContactSuggestions(SqliteDb& db, std::u16string_view fragment,
                            std::vector<std::u16string>& suggestions) {
  suggestions.clear();
  if (!db.IsOpen()) return false;
  SqliteStatement st =
      db.Prepare("SELECT first_name,middle_name,last_name,email FROM eca_contacts");
  if (!st.Valid()) return false;
  for (;;) {
    const SqliteStatement::StepResult r = st.Step();
    if (r == SqliteStatement::StepResult::Done) break;
    if (r == SqliteStatement::StepResult::Error) return false;
    TContact c;
    c.FirstName = Utf8ToUtf16(st.ColumnText(0));
    c.MiddleName = Utf8ToUtf16(st.ColumnText(1));
    c.LastName = Utf8ToUtf16(st.ColumnText(2));
    c.Email = st.ColumnText(3);
    std::u16string display = SuggestionText(c);
    if (SuggestionMatches(fragment, display)) suggestions.push_back(std::move(display));
  }
  std::sort(suggestions.begin(), suggestions.end(),
            [](const std::u16string& a, const std::u16string& b) {
              const std::u16string ua = Upper(a);
              const std::u16string ub = Upper(b);
              return ua != ub ? ua < ub : a < b;
            });
  // A contact entered in several groups has a row in each: offered once.
  suggestions.erase(std::unique(suggestions.begin(), suggestions.end()), suggestions.end());
  return true;
}

bool IsForbiddenAttachment(std::u16string_view path) {
  const size_t folder = path.find_last_of(u"/\\:");
  const size_t dot = path.rfind(u'.');
  if (dot == std::u16string_view::npos) return false;
  if (folder != std::u16string_view::npos && dot < folder) return false;
  const std::u16string ext = Upper(path.substr(dot));
  return ext == u".EXE" || ext == u".CMD" || ext == u".BAT" || ext == u".COM";
}

TAttachCheck CheckAttachment(std::u16string_view path, int64_t size, bool already_attached) {
  if (path.size() > kMaxAttachmentPathChars) return TAttachCheck::TooLong;
  if (already_attached) return TAttachCheck::Exists;
  if (size <= 0) return TAttachCheck::Empty;
  if (IsForbiddenAttachment(path)) return TAttachCheck::Forbidden;
  return TAttachCheck::Accepted;
}

void TAttachRefusals::Add(TAttachCheck check, std::u16string_view path) {
  std::string* list = nullptr;
  switch (check) {
    case TAttachCheck::Accepted:
      return;
    case TAttachCheck::TooLong:
      list = &TooLong;
      break;
    case TAttachCheck::Exists:
      list = &Exists;
      break;
    case TAttachCheck::Empty:
      list = &Empty;
      break;
    case TAttachCheck::Forbidden:
      list = &Forbidden;
      break;
  }
  *list += "   " + Utf16ToUtf8(path) + "\r";
}

std::string TAttachRefusals::MessageKey() const {
  const bool x = !Exists.empty(), e = !Empty.empty(), f = !Forbidden.empty();
  if (x && e && f) return "msgAttachedFileIsExistsAndEmptyAndForbidden";
  if (x && e) return "msgAttachedFileIsExistsAndEmpty";
  if (x && f) return "msgAttachedFileIsExistsAndForbidden";
  if (e && f) return "msgAttachedFileIsEmptyAndForbidden";
  if (x) return "msgAttachedFileIsExists";
  if (f) return "msgAttachedFileIsForbidden";
  if (e) return "msgAttachedFileEmpty";
  return {};
}

std::string TAttachRefusals::MessageText() const {
  std::vector<const std::string*> lists;
  for (const std::string* l : {&Exists, &Empty, &Forbidden})
    if (!l->empty()) lists.push_back(l);
  std::string text;
  const std::string key = MessageKey();
  if (!key.empty()) {
    const std::string pattern = GetMsg(key);
    if (lists.size() == 3)
      text = FormatMsgArgs(pattern, *lists[0], *lists[1], *lists[2]);
    else if (lists.size() == 2)
      text = FormatMsgArgs(pattern, *lists[0], *lists[1]);
    else
      text = FormatMsgArgs(pattern, *lists[0]);
  }
  if (!TooLong.empty()) {
    if (!text.empty()) text += "\r";
    text += FormatMsgArgs(GetMsg("msgAttachedFilePathTooLong"), TooLong);
  }
  return text;
}

std::u16string AttachmentCaption(std::u16string_view path, int64_t size) {
  const size_t slash = path.find_last_of(u'/');
  const std::u16string_view name =
      slash == std::u16string_view::npos ? path : path.substr(slash + 1);
  return std::u16string(name) + u" (" + Utf8ToUtf16(FormatByteSize(size)) + u")";
}

TContainerWrite WriteContainerFile(const std::string& path,
                                   const std::function<bool(TStream&)>& write,
                                   std::unique_ptr<TEFileStream>& stream, int64_t cap) {
  stream.reset();
  const std::string temp = path + ".part";
  auto file =
      std::make_unique<TEFileStream>(temp, /*silent=*/false, /*delete_on_free=*/true, fmCreate);
  if (!file->Opened()) return TContainerWrite::NotCreated;
  TCappedStream capped(*file, cap);
  const bool written = write(capped);
  if (capped.Exceeded()) return TContainerWrite::TooBig;
  if (!written || file->Size() > cap) return TContainerWrite::Failed;
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::fprintf(stderr, "qovra: cannot rename %s: %s\n", temp.c_str(), ec.message().c_str());
    return TContainerWrite::Failed;
  }
  file->SetDeleteOnFree(false);
  stream = std::move(file);
  return TContainerWrite::Written;
}

bool CopyReaderAttachment(TMailReader& reader, int64_t data_offset, TMailWriter& writer,
                          void* progress_data, TProgressProc progress) {
  const int index = reader.IndexOfAttachment(data_offset);
  if (index < 0) return false;
  const TMailAttachmentInfo& info = reader.Attachments()[static_cast<size_t>(index)];
  const int64_t size = info.DataSize;
  writer.AddAttachmentHeader(std::u16string(info.FileName.view()), size);
  if (!reader.SeekData(info.DataOffset)) return false;
  ReportProgress(progress, progress_data, size, 0);
  char buffer[8192];
  int64_t remaining = size;
  while (remaining > 0) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, sizeof buffer));
    const size_t got = reader.ReadData(buffer, want);
    if (got == 0) return false;
    writer.WriteBuffer(buffer, got);
    remaining -= static_cast<int64_t>(got);
    ReportProgress(progress, progress_data, size, size - remaining);
    if (got < want) break;
  }
  return remaining == 0 && writer.Ok();
}

}  // namespace qovra::compose
