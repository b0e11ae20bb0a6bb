// Writes mail containers the way the compose windows do, for the tests of
// the mail commands.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/file_stream.h"
#include "base/utf.h"
#include "store/mail_container_writer.h"

namespace qovra_test {

struct MailFileSpec {
  std::string From = "bob@localhost";
  std::u16string Subject = u"Hello";
  std::string To = "alice@127.0.0.1";
  std::u16string Body = u"line one\r\nline two";
  std::vector<std::pair<std::u16string, std::string>> Attachments;  // name, bytes
  double Date = 46000.5;                                            // 2025-12-09 12:00:00
};

inline bool WriteMailFile(const std::string& path, const MailFileSpec& spec) {
  qovra::TEFileStream file(path, /*silent=*/true, /*delete_on_free=*/false, qovra::fmCreate);
  if (!file.Opened()) return false;
  qovra::TMailWriter writer(file, {}, [&spec] { return spec.Date; });
  writer.AddMailHeaders(spec.From, spec.Subject, spec.To);
  writer.AddField("body", qovra::Utf16ToUtf8(spec.Body));
  for (const auto& [name, bytes] : spec.Attachments) {
    writer.AddAttachmentHeader(name, static_cast<int64_t>(bytes.size()));
    writer.WriteString(bytes);
  }
  return writer.Finish();
}

}  // namespace qovra_test
