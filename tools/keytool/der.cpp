#include "der.h"

namespace keytool::der {

Bytes Tlv(uint8_t tag, const Bytes& content) {
  Bytes out{tag};
  const size_t n = content.size();
  if (n < 0x80) {
    out.push_back(static_cast<uint8_t>(n));
  } else {
    uint8_t len[sizeof(size_t)];
    int k = 0;
    for (size_t v = n; v; v >>= 8) len[k++] = static_cast<uint8_t>(v);
    out.push_back(static_cast<uint8_t>(0x80 | k));
    while (k) out.push_back(len[--k]);
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Sequence(std::initializer_list<const Bytes*> parts) {
  Bytes content;
  for (const Bytes* p : parts) content.insert(content.end(), p->begin(), p->end());
  return Tlv(kSequence, content);
}

Bytes BitString(const uint8_t* data, size_t n) {
  Bytes content{0};
  content.insert(content.end(), data, data + n);
  return Tlv(kBitString, content);
}

bool Read(const uint8_t* p, size_t n, Element* out) {
  if (n < 2 || (p[0] & 0x1F) == 0x1F) return false;
  size_t header = 2;
  size_t length = p[1];
  if (length & 0x80) {
    const size_t k = length & 0x7F;
    if (k == 0 || k > 4 || n < 2 + k) return false;
    length = 0;
    for (size_t i = 0; i < k; ++i) length = (length << 8) | p[2 + i];
    header += k;
  }
  if (length > n - header) return false;
  out->tag = p[0];
  out->header = header;
  out->length = length;
  out->start = p;
  return true;
}

}  // namespace keytool::der
