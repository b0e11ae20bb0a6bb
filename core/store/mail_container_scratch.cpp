#include "store/mail_container_scratch.h"

#include <unistd.h>

#include <string>

#include "platform/temp_files.h"

namespace qovra::container {

std::unique_ptr<TEFileStream> OpenScratchFile() {
  std::string path;
  const int fd = CreateUniqueFile(GetTempFolder(), "tmp", "", path);
  if (fd < 0) return nullptr;
  auto stream = std::make_unique<TEFileStream>(path, true, false, fmOpenReadWrite);
  close(fd);
  unlink(path.c_str());
  if (!stream->Opened()) return nullptr;
  return stream;
}

}  // namespace qovra::container
