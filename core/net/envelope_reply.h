// Checking and opening a reply envelope (a reply of kPlainReplyLimit bytes
// or more).
//
// Both readers take the reply from position 0 and check, in this order: the
// check byte (else "msgCheckSumError"), a length L that is not 0 (else
// "msgConnectionError") and that fits the body together with the signature
// (else "msgInvalidData"), then the server's signature over the hash of the
// header and the payload as it travels (else "msgUnauthenticSignature").
// They return the message key of the first failure, or an empty key on
// success. Nothing is shown to the user and nothing in Session is written:
// the caller takes the results over once they are good.
//
// The hash tables of tevqa are process-wide: nothing else may hash while a
// reader runs. GUI thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "base/stream.h"

namespace qovra {

// The keys a session reply is read with.
struct TEnvelopeKeys {
  const std::array<uint8_t, 64>& SessionKey;
  const std::array<uint8_t, 32>& SessionId;
  const std::array<uint8_t, 768>& ServerKey;
};

// Reads a session reply: the payload is the reply XML in the string form
// under SessionKey with SessionId as IV. On success xml holds the deciphered
// XML and reply stands just after the payload's signature (where the files
// begin). A payload that does not decipher (a bad length or length byte)
// gives "msgInvalidData".
[[nodiscard]] std::string_view ReadSessionEnvelope(TStream& reply, const TEnvelopeKeys& keys,
                                                   std::string& xml);

// What a verified handshake reply carries.
struct THandshakeReply {
  std::array<uint8_t, 32> SessionId{};
  std::array<uint8_t, 768> ServerKey{};  // parsed from the server's certificate
};

// Reads a handshake reply: L of at least kHandshakeMinPayload (else
// "msgConnectionError"), 32 bytes of session id, then the server's
// certificate, which must parse (else "msgServerCertificateInvalid") and
// whose key must verify the signature. out is written only on success.
[[nodiscard]] std::string_view ReadHandshakeEnvelope(TStream& reply, THandshakeReply& out);

}  // namespace qovra
