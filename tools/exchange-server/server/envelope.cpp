#include "envelope.h"

#include <cstring>

namespace exchange {

namespace {

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void StoreLe32(uint32_t v, uint8_t* p) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t Mask(uint32_t h0) {
  return __builtin_bswap32(~(h0 * 2u));
}

}  // namespace

uint8_t CheckByte(uint8_t a_in, uint8_t b_in, uint8_t c_in) {
  const uint32_t a = a_in < 3 ? 3 : a_in;
  uint32_t b = b_in < 3 ? 3 : b_in;
  const uint32_t c = c_in < 3 ? 3 : c_in;
  switch (b % 4) {
    case 0:
      b -= 1;
      break;
    case 1:
      b -= 2;
      break;
    case 2:
      b += 1;
      break;
    default:
      break;
  }
  // The b-fold power of a under x o y = x + y + c*x*y (mod 257), b odd.
  uint32_t r = a;
  uint32_t e = a;
  for (uint32_t bits = b >> 1; bits != 0; bits >>= 1) {
    e = e * ((e * c + 2) % 257) % 257;
    if (bits & 1) r = (r + r * e % 257 * c + e) % 257;
  }
  return static_cast<uint8_t>(r & 0xFF);
}

uint32_t EncodeLengthWord(uint32_t h0, uint32_t length) {
  return length ^ Mask(h0);
}

uint32_t DecodeLength(const uint8_t* header8) {
  return LoadLe32(header8 + 4) ^ Mask(LoadLe32(header8));
}

void WriteReplyHeader(const uint8_t* random3, uint32_t length, uint8_t* header8) {
  std::memcpy(header8, random3, 3);
  header8[3] = CheckByte(random3[0], random3[1], random3[2]);
  StoreLe32(EncodeLengthWord(LoadLe32(header8), length), header8 + 4);
}

HeaderStatus ParseRequestHeader(std::string_view part, RequestHeader& out) {
  out = RequestHeader();
  const auto* p = reinterpret_cast<const uint8_t*>(part.data());
  const size_t n = part.size();
  if (n < kEnvelopeHeaderSize) return HeaderStatus::BadLength;
  const uint8_t flags = p[2];
  const bool session = (flags & kFlagSession) != 0;
  if (session) {
    if (n < kMinSessionRequestSize || (n - kSessionRequestOverhead) % 32 != 0)
      return HeaderStatus::BadLength;
  } else {
    const bool dh = (flags & kFlagDhAppended) != 0;
    if (n != (dh ? kHandshakeWithDhSize : kHandshakeSize)) return HeaderStatus::BadLength;
  }
  if (p[3] != CheckByte(p[0], p[1], p[2])) return HeaderStatus::BadCheckByte;
  if (flags & kFlagReserved) return HeaderStatus::ReservedBit;

  out.signed_bytes = part.substr(0, n - kEnvelopeSignatureSize);
  out.signature = part.substr(n - kEnvelopeSignatureSize);
  if (session) {
    out.form = RequestForm::Session;
    out.sid = part.substr(kEnvelopeHeaderSize, kSidSize);
    out.sealed_xml = part.substr(kEnvelopeHeaderSize + kSidSize,
                                 n - kEnvelopeHeaderSize - kSidSize - kEnvelopeSignatureSize);
    return HeaderStatus::Ok;
  }
  out.form = RequestForm::Handshake;
  out.dh_appended = (flags & kFlagDhAppended) != 0;
  const size_t material = out.dh_appended ? kSidSize + kDhValueSize : kSidSize;
  const uint8_t* masked = p + kEnvelopeHeaderSize;
  const uint8_t* mask = masked + material;
  for (size_t i = 0; i < material; ++i) out.material[i] = masked[i] ^ mask[i % kMaskSize];
  return HeaderStatus::Ok;
}

}  // namespace exchange
