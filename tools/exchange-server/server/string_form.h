// The string form used for request and reply XML and the login value: one
// byte (length mod 32), then the text zero-padded to whole 32-byte blocks
// and CBC-enciphered under a 64-byte key from a 32-byte vector.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace exchange {

// 32 * ceil(n / 32).
inline size_t PaddedSize(size_t n) {
  return (n + 31) / 32 * 32;
}

// The string form of text; empty when text is empty or the key is refused.
std::string SealString(const uint8_t* key64, const uint8_t* iv32, std::string_view text);

enum class UnsealStatus {
  Ok,
  BadLength,      // not 1 + a positive multiple of 32 bytes
  BadLengthByte,  // the first byte is above 31
  KeyRefused,
};

// The text back from its string form. The first byte gives the length of
// the last block (0 = a whole block). On any status but Ok, text is empty.
[[nodiscard]] UnsealStatus UnsealString(const uint8_t* key64, const uint8_t* iv32,
                                        std::string_view sealed, std::string& text);

}  // namespace exchange
