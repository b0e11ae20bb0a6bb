// The text rendering of a mail, its save-as file and forward's copy
// (mail_commands.h).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/file_stream.h"
#include "base/messages.h"
#include "base/stream_copy.h"
#include "base/time_stamp.h"
#include "base/utf.h"
#include "qovra/workspace/mail_commands.h"
#include "store/mail_container_reader.h"

namespace qovra::mailcmd {

namespace {

constexpr char16_t kLineEnd[] = u"\r\n";

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

}  // namespace

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
  text += kLineEnd + rule + kLineEnd + kLineEnd + reader.Body() + kLineEnd + kLineEnd + rule;
  return text;
}

std::u16string QuoteForReply(std::u16string_view text) {
  std::u16string body = u"\r\n\r\n\r\n\r\n> ";
  size_t start = 0;
  while (true) {
    const size_t end = text.find(kLineEnd, start);
    if (end == std::u16string_view::npos) break;
    body.append(text.substr(start, end - start)).append(u"\r\n> ");
    start = end + 2;
  }
  body.append(text.substr(start));
  return body;
}

std::u16string SaveAsFileName(std::u16string_view subject, std::u16string_view ext) {
  const size_t kMaxStemBytes = 255 - std::min<size_t>(ext.size(), 255);  // room for ext
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
  if (stem.empty() || stem.front() == u'.') stem.insert(0, u"_");
  return stem + std::u16string(ext);
}

bool WriteMailTextFile(const std::string& path, std::u16string_view text, std::string& error) {
  const std::string temp = path + ".part";
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

}  // namespace qovra::mailcmd
