// emz-dump and emz-extract.
#include <sys/stat.h>

#include <filesystem>
#include <set>
#include <string>

#include "base/file_stream.h"
#include "base/utf.h"
#include "commands.h"
#include "store/mail_container_date.h"
#include "store/mail_container_names.h"
#include "store/mail_container_reader.h"
#include "tool_io.h"

namespace qovra_tool {
namespace {

using qovra::Utf16ToUtf8;

// A name not yet used in this run and not present in folder: name, then
// "stem (2).ext", "stem (3).ext", ...
std::u16string UniqueName(const std::string& folder, const std::u16string& name,
                          std::set<std::u16string>& used) {
  const size_t dot = name.find_last_of(u'.');
  const bool has_ext = dot != std::u16string::npos && dot > 0;
  const std::u16string stem = has_ext ? name.substr(0, dot) : name;
  const std::u16string ext = has_ext ? name.substr(dot) : u"";
  std::u16string candidate = name;
  for (int n = 2;; ++n) {
    if (!used.count(candidate) &&
        !std::filesystem::exists(std::filesystem::path(folder) / Utf16ToUtf8(candidate))) {
      used.insert(candidate);
      return candidate;
    }
    candidate = stem + u" (" + qovra::Utf8ToUtf16(std::to_string(n)) + u")" + ext;
  }
}

}  // namespace

int EmzDump(const Args& args, std::ostream& out, std::ostream& err) {
  auto file = OpenInput(args[0], err);
  if (!file) return 1;
  const bool compressed = LooksCompressed(*file);
  qovra::TMailReader reader(*file);
  const bool ok = reader.Parse(nullptr, nullptr);
  out << "File: " << args[0] << " (" << file->Size() << " bytes"
      << (compressed ? ", zlib-compressed" : "") << ")\n";
  out << "From: " << reader.From() << "\n";
  out << "Subject: " << Utf16ToUtf8(reader.Subject()) << "\n";
  out << "To: " << reader.To() << "\n";
  out << "Date: " << qovra::MailDateText(reader.Date()) << "\n";
  out << "Boundary: " << reader.Boundary() << "\n";
  if (!ok) {
    err << args[0] << ": not a valid mail container: " << reader.Error() << "\n";
    return 1;
  }
  const std::string body = Utf16ToUtf8(reader.Body());
  out << "Section body: " << body.size() << " bytes of text\n";
  out << "Attachments: " << reader.Attachments().size() << "\n";
  int n = 0;
  for (const qovra::TMailAttachmentInfo& a : reader.Attachments()) {
    out << "  attachment" << ++n << ": \"" << Utf16ToUtf8(a.FileName.view())
        << "\" size=" << a.DataSize << " offset=" << a.DataOffset << "\n";
  }
  return 0;
}

int EmzExtract(const Args& args, std::ostream& out, std::ostream& err) {
  auto file = OpenInput(args[0], err);
  if (!file) return 1;
  qovra::TMailReader reader(*file);
  if (!reader.Parse(nullptr, nullptr)) {
    err << args[0] << ": not a valid mail container: " << reader.Error() << "\n";
    return 1;
  }
  const std::string folder = args[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!std::filesystem::is_directory(folder)) {
    err << folder << ": cannot create the folder\n";
    return 1;
  }
  std::set<std::u16string> used;
  const std::u16string body_name = UniqueName(folder, u"body.txt", used);
  const std::string body_path = (std::filesystem::path(folder) / Utf16ToUtf8(body_name)).string();
  {
    qovra::TEFileStream body(body_path, true, false, qovra::fmCreate);
    if (!body.Opened() || !body.WriteString(Utf16ToUtf8(reader.Body()))) {
      err << body_path << ": cannot write\n";
      return 1;
    }
  }
  out << body_path << "\n";
  int failed = 0;
  for (size_t i = 0; i < reader.Attachments().size(); ++i) {
    const qovra::TMailAttachmentInfo& a = reader.Attachments()[i];
    const std::u16string bare =
        UniqueName(folder, qovra::BareFileNameOr(a.FileName.view(), u"attachment"), used);
    const std::string path = (std::filesystem::path(folder) / Utf16ToUtf8(bare)).string();
    if (reader.SaveAttachment(static_cast<int64_t>(i), true, nullptr, nullptr, false,
                              qovra::Utf8ToUtf16(path))) {
      out << path << " (" << a.DataSize << " bytes)\n";
    } else {
      err << path << ": cannot write\n";
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}

}  // namespace qovra_tool
