// Key-file parsing with a fixed password: no crash, and a refused file
// leaves both outputs untouched. (Fuzzing builds of zarvo accept tiny
// iteration counts so that inputs reach the decryption quickly.)
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "zarvo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 16)) return 0;
  uint8_t priv[256], dh[768];
  for (const char* password : {"fuzz password", ""}) {
    std::memset(priv, 0xEE, sizeof priv);
    std::memset(dh, 0xEE, sizeof dh);
    if (initBPr(data, static_cast<int32_t>(size), password, priv, dh) == 0) {
      for (uint8_t b : priv)
        if (b != 0xEE) __builtin_trap();
      for (uint8_t b : dh)
        if (b != 0xEE) __builtin_trap();
      if (getErr() == 0) __builtin_trap();
    }
  }
  return 0;
}
