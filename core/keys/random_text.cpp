#include "keys/random_text.h"

#include <openssl/crypto.h>
#include <ulmox.h>

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

#include "base/utils.h"

namespace qovra {
namespace {

RandomByteSource& ByteSource() {
  static RandomByteSource source;
  return source;
}

void DrawFromUlmox(uint8_t* out, size_t n) {
  while (n > 0) {
    const size_t piece = std::min<size_t>(n, INT32_MAX);
    (void)random_bytes(out, static_cast<int32_t>(piece));
    out += piece;
    n -= piece;
  }
}

// count random bytes; the caller wipes them after use.
std::vector<uint8_t> Draw(size_t count) {
  std::vector<uint8_t> bytes(count, 0);
  if (count == 0) return bytes;
  if (const RandomByteSource& source = ByteSource()) {
    source(bytes.data(), count);
  } else {
    DrawFromUlmox(bytes.data(), count);
  }
  return bytes;
}

void Wipe(std::vector<uint8_t>& bytes) {
  OPENSSL_cleanse(bytes.data(), bytes.size());
}

struct CharGroup {
  char base;
  uint8_t modulus;
};

struct KindMap {
  uint8_t t1;
  uint8_t t2;
  CharGroup groups[3];
};

constexpr KindMap kKindMaps[] = {
    {55, 155, {{'0', 10}, {'A', 26}, {'a', 26}}},  // 0
    {85, 170, {{'0', 4}, {'3', 4}, {'6', 4}}},     // 1
    {85, 170, {{'0', 5}, {'5', 5}, {'A', 6}}},     // 2
    {85, 170, {{'A', 13}, {'a', 26}, {'N', 13}}},  // 3
    {85, 170, {{'A', 13}, {'0', 10}, {'N', 13}}},  // 4
    {85, 170, {{'A', 8}, {'I', 8}, {'Q', 10}}},    // 5 and any other
};

char MapByte(const KindMap& map, uint8_t v) {
  const CharGroup& g = v < map.t1 ? map.groups[0] : v < map.t2 ? map.groups[1] : map.groups[2];
  return static_cast<char>(g.base + v % g.modulus);
}

}  // namespace

void SetRandomByteSource(RandomByteSource source) {
  ByteSource() = std::move(source);
}

void RandomStartup() {
  random_poll_system();
}

void RandomShutdown() {
  (void)random_cleanup();
}

void RandomBytes(uint8_t* out, size_t n) {
  if (n == 0) return;
  if (const RandomByteSource& source = ByteSource()) {
    source(out, n);
  } else {
    DrawFromUlmox(out, n);
  }
}

std::string RandomString(size_t count, int kind) {
  const KindMap& map = kind >= 0 && kind <= 4 ? kKindMaps[kind] : kKindMaps[5];
  std::vector<uint8_t> bytes = Draw(count);
  std::string out(count, '\0');
  for (size_t k = 0; k < count; ++k) out[k] = MapByte(map, bytes[k]);
  Wipe(bytes);
  return out;
}

std::string RandomHexString(size_t count) {
  std::vector<uint8_t> bytes = Draw(count);
  std::string out = BinToHexStr(bytes.data(), count);
  Wipe(bytes);
  return out;
}

void RandomHexToBuffer(size_t count, char* buffer) {
  const std::string hex = RandomHexString(count);
  std::copy(hex.begin(), hex.end(), buffer);
}

uint32_t ModCirclePower(uint32_t a, uint8_t b, uint8_t c, uint32_t modulus) {
  if (b == 0) return 1;
  if (b == 1) return a;
  if (modulus == 0) return 0;
  const uint64_t m = modulus;
  const uint64_t cm = c % m;
  uint64_t e = a % m;
  uint64_t r = (b & 1) ? e : 0;
  for (unsigned bits = b >> 1; bits != 0; bits >>= 1) {
    e = e * ((e * cm + 2) % m) % m;                    // e (+) e
    if (bits & 1) r = (r + (r * e % m) * cm + e) % m;  // r (+) e
  }
  return static_cast<uint32_t>(r);
}

uint8_t CheckByte(uint8_t a, uint8_t b, uint8_t c) {
  unsigned bb = std::max<unsigned>(b, 3);
  switch (bb % 4) {
    case 0:
      bb -= 1;
      break;
    case 1:
      bb -= 2;
      break;
    case 2:
      bb += 1;
      break;
    default:
      break;
  }
  const uint8_t aa = std::max<uint8_t>(a, 3);
  const uint8_t cc = std::max<uint8_t>(c, 3);
  return static_cast<uint8_t>(ModCirclePower(aa, static_cast<uint8_t>(bb), cc, 257) & 0xFF);
}

}  // namespace qovra
