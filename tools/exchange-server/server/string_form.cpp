#include "string_form.h"

#include "server_crypto.h"

namespace exchange {

std::string SealString(const uint8_t* key64, const uint8_t* iv32, std::string_view text) {
  if (text.empty()) return {};
  std::string padded(text);
  padded.resize(PaddedSize(text.size()), '\0');
  std::string sealed;
  const bool ok = crypto::Cbc(key64, iv32, padded, true, sealed);
  crypto::Wipe(padded.data(), padded.size());
  if (!ok) return {};
  sealed.insert(sealed.begin(), static_cast<char>(text.size() % 32));
  return sealed;
}

UnsealStatus UnsealString(const uint8_t* key64, const uint8_t* iv32, std::string_view sealed,
                          std::string& text) {
  text.clear();
  if (sealed.size() < 33 || (sealed.size() - 1) % 32 != 0) return UnsealStatus::BadLength;
  const uint8_t tail = static_cast<uint8_t>(sealed[0]);
  if (tail > 31) return UnsealStatus::BadLengthByte;
  const size_t last = tail == 0 ? 32 : tail;
  if (!crypto::Cbc(key64, iv32, sealed.substr(1), false, text)) return UnsealStatus::KeyRefused;
  text.resize(sealed.size() - 1 - 32 + last);
  return UnsealStatus::Ok;
}

}  // namespace exchange
