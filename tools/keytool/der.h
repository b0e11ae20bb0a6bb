// A minimal DER writer and reader for the parts of certificates that OpenSSL
// cannot make for our algorithms (the signed TBSCertificate and the outer
// certificate). Definite lengths only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keytool::der {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kBoolean = 0x01;
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kSequence = 0x30;
// Context-specific, constructed: [n] EXPLICIT.
constexpr uint8_t Explicit(int n) {
  return static_cast<uint8_t>(0xA0 | n);
}

// tag, length, content.
Bytes Tlv(uint8_t tag, const Bytes& content);
// A SEQUENCE of the concatenated parts.
Bytes Sequence(std::initializer_list<const Bytes*> parts);
// A BIT STRING with no unused bits.
Bytes BitString(const uint8_t* data, size_t n);

// One element read from a buffer.
struct Element {
  uint8_t tag = 0;
  size_t header = 0;               // bytes of tag and length
  size_t length = 0;               // bytes of content
  const uint8_t* start = nullptr;  // the tag byte
  const uint8_t* content() const { return start + header; }
  size_t total() const { return header + length; }
};

// Reads the element at p (at most n bytes). False when it is malformed, has
// a multi-byte tag or an indefinite length, or runs past n.
bool Read(const uint8_t* p, size_t n, Element* out);

}  // namespace keytool::der
