// Fuzz target: the signature container reader on arbitrary bytes, plain or
// zlib-compressed.
#include <cstdint>
#include <string>

#include "base/stream.h"
#include "store/sign_container_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qovra::TMemoryStream source(std::string(reinterpret_cast<const char*>(data), size));
  qovra::TSignReader reader(source);
  if (reader.Parse()) {
    volatile size_t sink = reader.Certificate().size() + reader.DhKey().size();
    (void)sink;
  }
  return 0;
}
