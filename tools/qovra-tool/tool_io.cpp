#include "tool_io.h"

#include <cerrno>

namespace qovra_tool {

std::unique_ptr<qovra::TEFileStream> OpenInput(const std::string& path, std::ostream& err) {
  auto stream = std::make_unique<qovra::TEFileStream>(path, true, false, qovra::fmOpenRead);
  if (!stream->Opened()) {
    err << path << ": " << qovra::SystemErrorText(errno) << "\n";
    return nullptr;
  }
  return stream;
}

std::string Hex(const void* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  const auto* p = static_cast<const unsigned char*>(data);
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += kDigits[p[i] >> 4];
    out += kDigits[p[i] & 15];
  }
  return out;
}

bool LooksCompressed(qovra::TStream& stream) {
  unsigned char magic[2] = {0, 0};
  const bool compressed =
      stream.SetPosition(0) && stream.ReadBuffer(magic, 2) && magic[0] == 0x78 && magic[1] == 0xDA;
  stream.SetPosition(0);
  return compressed;
}

}  // namespace qovra_tool
