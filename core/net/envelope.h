// The bytes of the server envelope: the check byte, the reply's length word
// and the request header part.
//
// A request header part is 8 header bytes, then the material (the session
// id of a session request; the masked certificate-key hash, with or without
// the key-agreement value, of a handshake), then the enciphered request XML
// (session) or the 32-byte mask (handshake), then a 160-byte signature over
// the hash of everything before it.
//
// A reply of kPlainReplyLimit bytes or more is an envelope: 8 header bytes
// whose length word gives the payload length L, L payload bytes, a 160-byte
// server signature, then the files the reply XML announces.
//
// Everything here is pure byte work; nothing reads Session or talks to the
// user.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qovra {

constexpr size_t kEnvelopeHeaderSize = 8;
constexpr size_t kEnvelopeSignatureSize = 160;
// Replies shorter than this are plain, unsigned XML.
constexpr int64_t kPlainReplyLimit = 168;
// Smallest payload of a handshake reply: the session id and a certificate of
// at least 320 bytes.
constexpr uint32_t kHandshakeMinPayload = 352;
// Largest server certificate accepted in a handshake reply.
constexpr uint32_t kMaxServerCertificateSize = 1u << 20;

// Flag bits of header byte 2.
constexpr uint8_t kHeaderFlagDhAppended = 0x08;  // handshake: key-agreement value appended
constexpr uint8_t kHeaderFlagSession = 0x10;     // session request (else handshake)
constexpr uint8_t kHeaderFlagReserved = 0x20;    // always clear

// The check byte over header bytes 0, 1 and 2.
uint8_t EnvelopeCheckByte(uint8_t a, uint8_t b, uint8_t c);

// The payload length L of a reply header: with D0 = bytes 0-3 and D1 =
// bytes 4-7 read as little-endian words, L = D1 XOR bswap32(NOT(2 * D0)),
// modulo 2^32.
uint32_t EnvelopeLength(std::span<const uint8_t, kEnvelopeHeaderSize> header);

// Writes bytes 4-7 of header so that EnvelopeLength gives length; bytes 0-3
// are left as they are.
void SetEnvelopeLength(std::span<uint8_t, kEnvelopeHeaderSize> header, uint32_t length);

// The header of a session request, without its signature: random8 with bit
// 4 of byte 2 set, bit 5 cleared and byte 3 the check byte, then the session
// id, then the enciphered XML (string form) as given.
std::string BuildSessionRequestHeader(std::span<const uint8_t, 8> random8,
                                      std::span<const uint8_t, 32> session_id,
                                      std::string_view enciphered_xml);

// The header of a handshake, without its signature: random8 with bits 4 and
// 5 of byte 2 cleared, bit 3 set exactly when dh_value is given (128 bytes)
// and byte 3 the check byte; then the material (cert_key_hash, followed by
// dh_value when given) with byte i XORed with mask[i mod 32]; then the mask.
// REQUIRES: dh_value is empty or 128 bytes.
std::string BuildHandshakeRequestHeader(std::span<const uint8_t, 8> random8,
                                        std::span<const uint8_t, 32> cert_key_hash,
                                        std::span<const uint8_t> dh_value,
                                        std::span<const uint8_t, 32> mask);

}  // namespace qovra
