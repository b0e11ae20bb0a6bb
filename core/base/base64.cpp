#include "base/base64.h"

#include <array>
#include <cstdint>

namespace qovra {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> MakeTable() {
  std::array<uint8_t, 256> t{};
  for (auto& v : t) v = kInvalid;
  for (uint8_t i = 0; i < 64; ++i) t[static_cast<uint8_t>(kAlphabet[i])] = i;
  t['='] = kPad;
  return t;
}
constexpr std::array<uint8_t, 256> kTable = MakeTable();

// Decodes text, whose length must be a multiple of 4. Empty on any
// malformed character or misplaced padding.
std::string DecodeGroups(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (size_t g = 0; g < text.size(); g += 4) {
    uint8_t v[4];
    for (size_t k = 0; k < 4; ++k) v[k] = kTable[static_cast<uint8_t>(text[g + k])];
    const bool last = g + 4 == text.size();
    for (size_t k = 0; k < 4; ++k) {
      if (v[k] == kInvalid) return {};
    }
    // "=" may stand only in the last group, at position 3, or at 2 and 3.
    if (v[0] == kPad || v[1] == kPad) return {};
    if ((v[2] == kPad || v[3] == kPad) && !last) return {};
    if (v[2] == kPad && v[3] != kPad) return {};
    const uint32_t bits = (uint32_t{v[0]} << 18) | (uint32_t{v[1]} << 12) |
                          (uint32_t{v[2] == kPad ? uint8_t{0} : v[2]} << 6) |
                          uint32_t{v[3] == kPad ? uint8_t{0} : v[3]};
    out.push_back(static_cast<char>(bits >> 16));
    if (v[2] != kPad) out.push_back(static_cast<char>((bits >> 8) & 0xFF));
    if (v[3] != kPad) out.push_back(static_cast<char>(bits & 0xFF));
  }
  return out;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t bits = (uint32_t{static_cast<uint8_t>(bytes[i])} << 16) |
                          (uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8) |
                          uint32_t{static_cast<uint8_t>(bytes[i + 2])};
    out.push_back(kAlphabet[bits >> 18]);
    out.push_back(kAlphabet[(bits >> 12) & 63]);
    out.push_back(kAlphabet[(bits >> 6) & 63]);
    out.push_back(kAlphabet[bits & 63]);
  }
  const size_t rest = bytes.size() - i;
  if (rest > 0) {
    uint32_t bits = uint32_t{static_cast<uint8_t>(bytes[i])} << 16;
    if (rest == 2) bits |= uint32_t{static_cast<uint8_t>(bytes[i + 1])} << 8;
    out.push_back(kAlphabet[bits >> 18]);
    out.push_back(kAlphabet[(bits >> 12) & 63]);
    out.push_back(rest == 2 ? kAlphabet[(bits >> 6) & 63] : '=');
    out.push_back('=');
  }
  return out;
}

std::string Base64Decode(std::string_view text) {
  if (text.empty() || text.size() % 4 != 0) return {};
  return DecodeGroups(text);
}

std::string Base64EncodeStr(std::string_view bytes) {
  return Base64Encode(bytes);
}

std::string Base64DecodeStr(std::string_view text) {
  return DecodeGroups(text.substr(0, text.size() / 4 * 4));
}

}  // namespace qovra
