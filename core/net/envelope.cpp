#include "net/envelope.h"

#include "keys/random_text.h"

namespace qovra {
namespace {

uint32_t ReadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

uint32_t ByteSwap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

// The word the length is XORed with, from bytes 0-3.
uint32_t LengthMask(const uint8_t* header) {
  const uint32_t d0 = ReadLe32(header);
  return ByteSwap32(~(d0 * 2u));
}

std::string HeaderBytes(std::span<const uint8_t, 8> random8, bool session, bool dh) {
  std::string out(reinterpret_cast<const char*>(random8.data()), random8.size());
  auto flags = static_cast<uint8_t>(out[2]);
  if (session) {
    flags |= kHeaderFlagSession;
  } else {
    flags &= static_cast<uint8_t>(~kHeaderFlagSession);
    if (dh) {
      flags |= kHeaderFlagDhAppended;
    } else {
      flags &= static_cast<uint8_t>(~kHeaderFlagDhAppended);
    }
  }
  flags &= static_cast<uint8_t>(~kHeaderFlagReserved);
  out[2] = static_cast<char>(flags);
  out[3] = static_cast<char>(EnvelopeCheckByte(random8[0], random8[1], flags));
  return out;
}

}  // namespace

uint8_t EnvelopeCheckByte(uint8_t a, uint8_t b, uint8_t c) {
  return CheckByte(a, b, c);
}

uint32_t EnvelopeLength(std::span<const uint8_t, kEnvelopeHeaderSize> header) {
  return ReadLe32(header.data() + 4) ^ LengthMask(header.data());
}

void SetEnvelopeLength(std::span<uint8_t, kEnvelopeHeaderSize> header, uint32_t length) {
  const uint32_t d1 = length ^ LengthMask(header.data());
  for (int i = 0; i < 4; ++i) header[4 + i] = static_cast<uint8_t>(d1 >> (8 * i));
}

std::string BuildSessionRequestHeader(std::span<const uint8_t, 8> random8,
                                      std::span<const uint8_t, 32> session_id,
                                      std::string_view enciphered_xml) {
  std::string out = HeaderBytes(random8, true, false);
  out.append(reinterpret_cast<const char*>(session_id.data()), session_id.size());
  out.append(enciphered_xml);
  return out;
}

std::string BuildHandshakeRequestHeader(std::span<const uint8_t, 8> random8,
                                        std::span<const uint8_t, 32> cert_key_hash,
                                        std::span<const uint8_t> dh_value,
                                        std::span<const uint8_t, 32> mask) {
  std::string out = HeaderBytes(random8, false, !dh_value.empty());
  std::string material(reinterpret_cast<const char*>(cert_key_hash.data()), cert_key_hash.size());
  material.append(reinterpret_cast<const char*>(dh_value.data()), dh_value.size());
  for (size_t i = 0; i < material.size(); ++i) {
    material[i] = static_cast<char>(static_cast<uint8_t>(material[i]) ^ mask[i % mask.size()]);
  }
  out += material;
  out.append(reinterpret_cast<const char*>(mask.data()), mask.size());
  return out;
}

}  // namespace qovra
