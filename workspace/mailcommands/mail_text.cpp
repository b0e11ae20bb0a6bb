// The text rendering of a mail, its save-as file and forward's copy
// (mail_commands.h).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/stream_copy.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "qovra/workspace/mail_commands.h"
#include "store/mail_container_reader.h"
#include "store/sqlite_db.h"

namespace qovra::mailcmd {

namespace {

constexpr char16_t kLineEnd[] = u"\r\n";
// The longest file name, in bytes, the file systems take.
constexpr size_t kMaxFileNameBytes = 255;
constexpr std::string_view kPartSuffix = ".part";

std::u16string Label(const char* key) {
  return Utf8ToUtf16(GetMsg(key)) + u": ";
}

std::u16string DateText(TDateTime time) {
  TDateTimeParts p{};
  if (!DecodeDateTime(time, p)) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d.%02d.%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                p.minute, p.second);
  return Utf8ToUtf16(text);
}

bool IsFileNameUnsafe(char16_t c) {
  return c < 0x20 || c == 0x7F ||
         std::u16string_view(u"<>:\\/*?|\"").find(c) != std::u16string_view::npos;
}

// Bytes of c (a UTF-16 unit, high surrogates counting for the pair) in UTF-8.
size_t Utf8Bytes(char16_t c) {
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c >= 0xD800 && c <= 0xDBFF) return 4;
  if (c >= 0xDC00 && c <= 0xDFFF) return 0;
  return 3;
}

// The temporary name of a file written to path: path + ".part", its file
// name cut (never inside a character) so that it still fits.
std::string PartFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  std::string name = path.substr(start);
  if (name.size() + kPartSuffix.size() > kMaxFileNameBytes) {
    size_t keep = kMaxFileNameBytes - kPartSuffix.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    name.resize(keep);
  }
  return path.substr(0, start) + name + std::string(kPartSuffix);
}

}  // namespace

std::u16string WithCrLf(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r' || c == u'\n') {
      out += kLineEnd;
      if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      out += c;
    }
  }
  return out;
}

std::u16string FormatMailAsText(const TMailReader& reader) {
  const std::u16string rule(61, u'-');
  std::u16string text = rule + kLineEnd;
  text += Label("msgFrom") + Utf8ToUtf16(reader.From()) + kLineEnd;
  text += Label("msgTo") + Utf8ToUtf16(reader.To()) + kLineEnd;
  text += Label("msgSubject") + reader.Subject() + kLineEnd;
  text += Label("msgDate") + DateText(reader.Date());
  if (!reader.Attachments().empty()) {
    text += kLineEnd + Label("msgAttachments");
    bool first = true;
    for (const TMailAttachmentInfo& a : reader.Attachments()) {
      if (!first) text += u", ";
      first = false;
      text += a.FileName.view();
    }
  }
  text +=
      kLineEnd + rule + kLineEnd + kLineEnd + WithCrLf(reader.Body()) + kLineEnd + kLineEnd + rule;
  return text;
}

std::u16string QuoteForReply(std::u16string_view text) {
  const std::u16string lines = WithCrLf(text);
  const std::u16string_view rest(lines);
  std::u16string body = u"\r\n\r\n\r\n\r\n> ";
  size_t start = 0;
  while (true) {
    const size_t end = rest.find(kLineEnd, start);
    if (end == std::u16string_view::npos) break;
    body.append(rest.substr(start, end - start)).append(u"\r\n> ");
    start = end + 2;
  }
  body.append(rest.substr(start));
  return body;
}

std::u16string SaveAsFileName(std::u16string_view subject, std::u16string_view ext) {
  const size_t kMaxStemBytes =
      kMaxFileNameBytes - std::min(ext.size(), kMaxFileNameBytes);  // room for ext
  std::u16string stem;
  size_t bytes = 0;
  for (size_t i = 0; i < subject.size(); ++i) {
    char16_t c = subject[i];
    if (IsFileNameUnsafe(c)) c = u'.';
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < subject.size() &&
                      subject[i + 1] >= 0xDC00 && subject[i + 1] <= 0xDFFF;
    if (c >= 0xD800 && c <= 0xDFFF && !pair) c = u'.';  // a lone surrogate
    const size_t n = Utf8Bytes(c);
    if (bytes + n > kMaxStemBytes) break;
    bytes += n;
    stem += c;
    if (pair) stem += subject[++i];
  }
  if (stem.empty() || stem.front() == u'.') stem = u"_" + stem;
  return stem + std::u16string(ext);
}

bool WriteMailTextFile(const std::string& path, std::u16string_view text, std::string& error) {
  const std::string temp = PartFileName(path);
  std::string bytes = "\xEF\xBB\xBF" + Utf16ToUtf8(text);
  {
    TEFileStream file(temp, /*silent=*/true, /*delete_on_free=*/true, fmCreate);
    if (!file.Opened()) {
      error = "cannot create " + temp;
      return false;
    }
    if (file.Write(bytes.data(), bytes.size()) != bytes.size()) {
      error = "cannot write " + temp;
      return false;
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
      error = "cannot rename " + temp + ": " + ec.message();
      return false;
    }
    file.SetDeleteOnFree(false);
  }
  return true;
}

bool CopyMailInto(TStream& source, TStream& dest, TProgressProc progress, void* progress_data) {
  const int64_t size = source.Size();
  if (size < 0 || dest.Seek(0, SeekOrigin::Beginning) != 0) return false;
  const int64_t written = CopyStreamWithProgress(source, dest, progress, progress_data);
  return written == size && dest.SetSize(written);
}

bool MailRowRefersTo(SqliteDb& db, std::string_view uuid) {
  if (!db.IsOpen()) return false;
  SqliteStatement q = db.Prepare("SELECT 1 FROM ecm_mails WHERE uuid=? LIMIT 1");
  if (!q.Valid()) return true;
  q.Bind(1, uuid);
  return q.Step() != SqliteStatement::StepResult::Done;
}

}  // namespace qovra::mailcmd
