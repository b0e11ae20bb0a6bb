// ems-dump.
#include <string>

#include "base/time_stamp.h"
#include "commands.h"
#include "store/sign_container_reader.h"
#include "tool_io.h"

namespace qovra_tool {

int EmsDump(const Args& args, std::ostream& out, std::ostream& err) {
  auto file = OpenInput(args[0], err);
  if (!file) return 1;
  const bool compressed = LooksCompressed(*file);
  qovra::TSignReader reader(*file);
  const bool ok = reader.Parse();
  out << "File: " << args[0] << " (" << file->Size() << " bytes"
      << (compressed ? ", zlib-compressed" : "") << ")\n";
  out << "MailUID: " << reader.MailUID() << "\n";
  out << "SignedDate: " << qovra::DateTimeToStamp(true, reader.SignedDate()) << " UTC\n";
  if (!ok) {
    err << args[0] << ": not a valid signature container: " << reader.Error() << "\n";
    return 1;
  }
  out << "Section sign: " << reader.Signature().size() << " bytes\n  "
      << Hex(reader.Signature().data(), reader.Signature().size()) << "\n";
  for (const qovra::TSignReader::Section& s : reader.Parts()) {
    out << "Section " << s.name << ": " << s.data.size() << " bytes\n";
    if (s.data.size() <= 256) out << "  " << Hex(s.data.data(), s.data.size()) << "\n";
  }
  if (reader.Certificate().empty()) out << "No certificate (cer0): unreadable certificate\n";
  if (reader.DhKey().empty()) out << "No key-agreement value (dhk)\n";
  return 0;
}

}  // namespace qovra_tool
