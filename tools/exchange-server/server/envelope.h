// The envelope's fixed pieces: the check byte, the length word of a reply
// header, and the request header part taken apart into its two forms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace exchange {

inline constexpr size_t kEnvelopeHeaderSize = 8;
inline constexpr size_t kSidSize = 32;
inline constexpr size_t kMaskSize = 32;
inline constexpr size_t kDhValueSize = 128;
inline constexpr size_t kEnvelopeSignatureSize = 160;
inline constexpr size_t kHandshakeSize = 232;           // without the key-agreement value
inline constexpr size_t kHandshakeWithDhSize = 360;     // with it
inline constexpr size_t kMinSessionRequestSize = 233;   // 8 + 32 + 1 + 32 + 160
inline constexpr size_t kSessionRequestOverhead = 201;  // 8 + 32 + 1 + 160
inline constexpr size_t kEnvelopeMinReplySize = 168;    // shorter bodies are plain XML

inline constexpr uint8_t kFlagDhAppended = 0x08;
inline constexpr uint8_t kFlagSession = 0x10;
inline constexpr uint8_t kFlagReserved = 0x20;

// The check byte over header bytes 0-2.
uint8_t CheckByte(uint8_t a, uint8_t b, uint8_t c);

// Header bytes 4-7 (as a little-endian word) that carry length for header
// bytes 0-3 (h0 = those four bytes as a little-endian word).
uint32_t EncodeLengthWord(uint32_t h0, uint32_t length);
// The length carried by an 8-byte header.
uint32_t DecodeLength(const uint8_t* header8);

// Writes an 8-byte reply header: bytes 0-2 from random3, byte 3 the check
// byte, bytes 4-7 the length word for length.
void WriteReplyHeader(const uint8_t* random3, uint32_t length, uint8_t* header8);

enum class RequestForm { Handshake, Session };

enum class HeaderStatus {
  Ok,
  BadLength,     // too short, or a length its form does not allow
  BadCheckByte,  // byte 3 is not the check byte of bytes 0-2
  ReservedBit,   // flag bit 5 is set
};

// A request header part taken apart. The views point into the part given
// to ParseRequestHeader, which must outlive them.
struct RequestHeader {
  RequestForm form = RequestForm::Handshake;
  std::string_view signed_bytes;  // every byte before the signature
  std::string_view signature;     // the last 160 bytes
  // Handshake: the unmasked material (32 or 160 bytes).
  bool dh_appended = false;
  uint8_t material[kSidSize + kDhValueSize] = {};
  // Session: the session id and the sealed request XML (string form).
  std::string_view sid;
  std::string_view sealed_xml;
};

// Checks the part's length for its form (232 or 360 bytes for a handshake,
// as flag bit 3 says; 201 + a positive multiple of 32 for a session
// request), then the check byte, then the reserved bit, and fills out.
[[nodiscard]] HeaderStatus ParseRequestHeader(std::string_view part, RequestHeader& out);

}  // namespace exchange
