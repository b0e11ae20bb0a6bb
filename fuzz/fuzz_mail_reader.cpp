// Fuzz target: the mail container reader on arbitrary bytes, plain or
// zlib-compressed. Every attachment it accepts must lie inside the plain
// container and be readable in full.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/stream.h"
#include "platform/temp_files.h"
#include "store/mail_container_reader.h"

// The reader makes a scratch file per input: keep them in memory when the
// system offers a memory-backed folder.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (access("/dev/shm", W_OK) == 0) qovra::SetTempFolder("/dev/shm/");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qovra::TMemoryStream source(std::string(reinterpret_cast<const char*>(data), size));
  qovra::TMailReader reader(source, [] { return 0.0; });
  reader.SetInflateCap(int64_t{4} << 20);
  if (!reader.Parse(nullptr, nullptr)) return 0;
  char buffer[4096];
  for (const qovra::TMailAttachmentInfo& a : reader.Attachments()) {
    if (a.DataOffset < 0 || a.DataSize < 0) std::abort();
    if (!reader.SeekData(a.DataOffset)) std::abort();
    int64_t left = a.DataSize;
    while (left > 0) {
      const size_t want = left < 4096 ? static_cast<size_t>(left) : sizeof buffer;
      const size_t got = reader.ReadData(buffer, want);
      if (got == 0) std::abort();  // an accepted attachment runs past the file
      left -= static_cast<int64_t>(got);
    }
  }
  return 0;
}
